// Every text the main window's handlers show or run.
#pragma once

namespace vantelo::texts {

inline constexpr const char* kChooseDirectoryFirst = "请先选择要修改的文件目录";
inline constexpr const char* kEnterTarget = "请输入要搜索的目标字符";
inline constexpr const char* kEnterReplacement = "请输入要改成的目标字符";
// Followed by the error number in decimal.
inline constexpr const char* kCopyFailed = "新文件生成失败，失败号为：";
inline constexpr const char* kRenameDone = "文件名称修改成功";
inline constexpr const char* kDatabaseOpenFailed = "数据库打开失败";

inline constexpr const char* kSelectLiveRows = "Select * From Tellarin Where FileEnable = True";
inline constexpr const char* kSelectAllRows = "Select * From Tellarin";

inline constexpr const char* kFileNameField = "FileName";
inline constexpr const char* kFileEnableField = "FileEnable";

}  // namespace vantelo::texts
