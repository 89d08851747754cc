// Every text the directory chooser and its lists show.
#pragma once

namespace vantelo::texts {

inline constexpr const char* kSelectDirectory = "Select Directory";
inline constexpr const char* kDirectoryNameCaption = "Directory &Name:";
inline constexpr const char* kDrivesCaption = "D&rives:";
inline constexpr const char* kDirectoriesCaption = "&Directories:";
inline constexpr const char* kFilesCaption = "&Files: (*.*)";
inline constexpr const char* kNetworkButton = "Ne&twork...";
inline constexpr const char* kOkButton = "OK";
inline constexpr const char* kCancelButton = "Cancel";
inline constexpr const char* kHelpButton = "&Help";
inline constexpr const char* kCreateMissingPrompt = "The specified directory does not exist. Create it?";

// Drive entries: mount point and label or remote name; a label in brackets.
inline constexpr const char* kDriveEntryFormat = "%s: %s";
inline constexpr const char* kVolumeLabelFormat = "[%s]";
// A folder entry of a file list.
inline constexpr const char* kFolderEntryFormat = "[%s]";

inline constexpr const char* kInvalidFileNameFormat = "Invalid file name - %s";

}  // namespace vantelo::texts
