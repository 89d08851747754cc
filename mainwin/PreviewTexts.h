// The preview window's texts, the reasons a batch refuses a row, the grid's
// row tooltip, the keys of the main window's commands and the controls'
// accessible descriptions.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>

namespace vantelo::previewtexts {

inline constexpr const char* kTitle = "预览";
// The main window's link that opens the preview (its key in brackets).
inline constexpr const char* kOpenLink = "预览(Ctrl+P)";
inline constexpr const char* kOldName = "原文件名";
inline constexpr const char* kNewName = "新文件名";
inline constexpr const char* kReason = "无法修改的原因";
inline constexpr const char* kOnlyRefused = "只显示无法修改的文件";
inline constexpr const char* kRename = "修改文件";
inline constexpr const char* kClose = "关闭";
inline constexpr const char* kChecking = "正在检查…";

// The line above the list: how many files, and how many the batch refuses.
inline std::string Summary(size_t files, size_t refused)
{
    std::string text = "共 " + std::to_string(files) + " 个文件";
    if (refused > 0)
        text += "，其中 " + std::to_string(refused) + " 个无法修改";
    else if (files > 0)
        text += "，全部可以修改";
    return text;
}

// Why the batch refuses a row, in words; any other errno by its number.
inline std::string Reason(int error)
{
    switch (error) {
    case 0: return {};
    case EEXIST: return "新文件名已被占用";
    case ENAMETOOLONG: return "新文件名太长";
    case EILSEQ: return "文件名无法用当前编码表示";
    case EISDIR: return "这是文件夹";
    case EOPNOTSUPP: return "不是普通文件";
    case EBUSY: return "这是本工具的数据库文件";
    case EINVAL: return "文件名无效";
    case ENOENT: return "原文件已不存在";
    case ESTALE: return "目录已不是搜索时的目录";
    case EACCES: return "没有权限";
    default: return "失败号为：" + std::to_string(static_cast<unsigned>(error));
    }
}

// The grid's tooltip over a row: its new name, then its reason when the
// rename would refuse it.
inline constexpr const char* kTipNewName = "新文件名：";
inline constexpr const char* kTipRefused = "无法修改：";

// The keys of the main window's commands.
inline constexpr const char* kKeySearch = "Ctrl+F";
inline constexpr const char* kKeyRename = "Ctrl+R";
inline constexpr const char* kKeyPreview = "Ctrl+P";
inline constexpr const char* kKeyChooseDirectory = "Ctrl+O";

// Accessible descriptions: what a control does, for a screen reader.
inline constexpr const char* kChooseDirectoryDescription = "选择目录 (Ctrl+O)";
inline constexpr const char* kSearchDescription = "列出名称含目标字符的文件 (Ctrl+F)";
inline constexpr const char* kRenameDescription = "修改列表中的全部文件 (Ctrl+R)，Ctrl+Z 撤销";

}  // namespace vantelo::previewtexts
