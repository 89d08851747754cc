// One directory's entries, one level deep, in the order the file system
// gives them: "." and ".." included, names as raw bytes (no decoding, no
// filtering). The enumeration behind the search and the chooser's lists.
// A folder whose path is longer than the system takes in one call (4,095
// bytes) is reached one folder at a time, so it lists like any other.
#pragma once

#include <dirent.h>

#include <string>
#include <vector>

namespace vantelo {

class TDirectoryListing {
public:
    TDirectoryListing() = default;
    ~TDirectoryListing();
    TDirectoryListing(const TDirectoryListing&) = delete;
    TDirectoryListing& operator=(const TDirectoryListing&) = delete;

    // Starts listing `path` (relative paths resolve against the current
    // directory; a trailing "/" is fine). Returns 0, or the errno of the
    // failure (ENOENT for a missing or empty path, ENOTDIR, EACCES...), in
    // which case nothing is open. Closes an earlier listing first.
    int Open(const std::string& path);
    // Gives the next entry's name and returns true; false when there are no
    // more entries, when a read fails (see LastError) or when nothing is open.
    bool Next(std::string& name);
    // The kind of the entry Next gave last, as the folder itself records it
    // (DT_DIR, DT_REG, DT_LNK...; DT_UNKNOWN when the file system does not
    // say). Knowing it asks nothing of the entry, which matters for a
    // mount point whose file system has stopped answering.
    unsigned char EntryType() const { return entryType_; }
    // The open folder's descriptor, for calls on its entries by name
    // (fstatat), which work whatever the length of the folder's path; -1
    // when nothing is open.
    int Descriptor() const;
    // 0 after the end of the listing, else the errno of a failed read.
    int LastError() const { return lastError_; }
    // Ends the listing; harmless when nothing is open.
    void Close();

    // Lists a whole directory into `names` (cleared first). Returns 0 or the
    // errno of the failure; on failure `names` is left empty.
    static int ReadAll(const std::string& path, std::vector<std::string>& names);

    // Opens a folder as a descriptor with `flags` (O_RDONLY, O_PATH...;
    // O_DIRECTORY and O_CLOEXEC are added). A path too long for one call is
    // walked one folder at a time from "/" (or the current directory), each
    // step by the descriptor of the one before. Returns the descriptor, or
    // -1 with errno set.
    static int OpenFolder(const std::string& path, int flags);

private:
    DIR* dir_ = nullptr;
    int lastError_ = 0;
    unsigned char entryType_ = DT_UNKNOWN;
};

}  // namespace vantelo
