// Every text the main window's handlers show or run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vantelo::texts {

inline constexpr const char* kChooseDirectoryFirst = "请先选择要修改的文件目录";
inline constexpr const char* kEnterTarget = "请输入要搜索的目标字符";
inline constexpr const char* kEnterReplacement = "请输入要改成的目标字符";
// Followed by the error number in decimal.
inline constexpr const char* kCopyFailed = "新文件生成失败，失败号为：";
inline constexpr const char* kRenameDone = "文件名称修改成功";
// In place of kRenameDone when "取消" came after the batch could no longer
// be taken back: old files were already going, or every new name was made.
inline constexpr const char* kCancelTooLateDeleting = "已开始删除原文件，修改已全部完成";
inline constexpr const char* kCancelTooLateDone = "取消前修改已全部完成";
inline constexpr const char* kDatabaseOpenFailed = "数据库打开失败";
// A rename of a list that a failed search left half written.
inline constexpr const char* kSearchUnfinished = "上次搜索未完成，请重新搜索";

// The rename button's tooltip.
inline constexpr const char* kRenameHint = "修改文件（Ctrl+Z 撤销上次修改）";
inline constexpr const char* kNothingToUndo = "没有可撤销的修改";

inline std::string Files(size_t n) { return std::to_string(n) + " 个文件"; }
// At start-up, for a batch a crash interrupted: taken back, finished, or an
// undo of it finished.
inline std::string RecoveredUndone(size_t n) { return "上次修改未完成，已撤销 " + Files(n); }
inline std::string RecoveredFinished(size_t n) { return "上次修改未完成，已完成剩余的 " + Files(n); }
inline std::string RecoveredUndoFinished(size_t n) { return "上次撤销未完成，已撤销剩余的 " + Files(n); }
// Ctrl+Z: the question (a confirmation box) and the answer.
inline std::string UndoQuestion(size_t n) { return "撤销上次修改（共 " + Files(n) + "）？"; }
inline std::string Undone(size_t n, size_t changed)
{
    std::string text = "已撤销 " + Files(n);
    if (changed > 0)
        text += "；" + Files(changed) + "已被改动，未撤销";
    return text;
}
// After "文件名称修改成功", when old files could not be deleted: how many,
// and their error numbers.
inline std::string OldFilesKept(size_t n, const std::vector<int>& errors)
{
    std::string text = std::to_string(n) + " 个原文件未能删除，失败号为：";
    for (size_t i = 0; i < errors.size(); ++i)
        text += (i ? "、" : "") + std::to_string(static_cast<unsigned>(errors[i]));
    return text;
}

inline constexpr const char* kSelectLiveRows = "Select * From Tellarin Where FileEnable = True";
inline constexpr const char* kSelectAllRows = "Select * From Tellarin";

inline constexpr const char* kFileNameField = "FileName";
inline constexpr const char* kFileEnableField = "FileEnable";

}  // namespace vantelo::texts
