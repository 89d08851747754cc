// The process's current directory, as the directory chooser moves it: every
// change is read back from the system, and a change that fails raises the
// I/O error of its errno and changes nothing.
#pragma once

#include <string>

namespace vantelo {

class TCurrentDirectory {
public:
    // The current directory, absolute. Raises EInOutError when the system
    // cannot give it (the folder was removed: "File not found").
    static std::string Get();
    // The current directory; when it has been removed, the nearest of its
    // parents that still exists is made current (and remembered for its
    // drive) and returned, so that the chooser opens there instead of
    // failing on every step.
    static std::string GetOrNearestParent();
    // Makes `path` current (relative paths resolve against the current
    // directory; paths longer than the system takes in one call too) and
    // reads it back, remembering it as its drive's current folder
    // (TDrives::RememberFolder). Returns the directory as read back.
    // Raises EInOutError on failure, e.g. "File not found" for a missing
    // folder or an empty path, "File access denied" for a folder that may
    // not be entered; the current directory then stays where it was.
    static std::string Set(const std::string& path);
    // As Set, but not remembered for the drive: for a check that moves the
    // current directory for a moment and sets it back.
    static std::string SetTemporarily(const std::string& path);
    // True when `path` names a folder (links followed); false for an empty path.
    static bool DirectoryExists(const std::string& path);
    // True when `path` names a regular file (links followed); a folder is not a file.
    static bool FileExists(const std::string& path);

private:
    static std::string Change(const std::string& path);
};

}  // namespace vantelo
