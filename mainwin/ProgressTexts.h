// Every text the progress window shows: what is being done, how far it has
// got, and its one button.
#pragma once

namespace vantelo::texts {

inline constexpr const char* kSearchingFiles = "正在搜索文件…";
inline constexpr const char* kRenamingFiles = "正在修改文件…";
// Files done and files in all, when the total is known: "n / N".
inline constexpr const char* kProgressCountFormat = "%1 / %2";
inline constexpr const char* kProgressCancel = "取消";
// Shown in place of what is being done once a stop was asked for and the
// work has yet to reach its next file.
inline constexpr const char* kProgressStopping = "正在取消…";
// Shown in place of what is being done once nothing can be taken back any
// more (old files are being deleted), with the button disabled.
inline constexpr const char* kProgressPastTurningBack = "正在删除原文件，已无法取消";
// Recovery of an interrupted batch and Ctrl+Z, while they run.
inline constexpr const char* kRecovering = "正在处理上次未完成的修改…";
inline constexpr const char* kUndoing = "正在撤销修改…";
// Bytes done and bytes in all, for large copies: "1.5 MB / 3.0 GB".
inline constexpr const char* kProgressBytesFormat = "%1 / %2";
inline constexpr const char* kByteUnits[] = {"B", "KB", "MB", "GB", "TB"};

}  // namespace vantelo::texts
