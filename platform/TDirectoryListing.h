// One directory's entries, one level deep, in the order the file system
// gives them: "." and ".." included, names as raw bytes (no decoding, no
// filtering). The enumeration behind the search.
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
    // 0 after the end of the listing, else the errno of a failed read.
    int LastError() const { return lastError_; }
    // Ends the listing; harmless when nothing is open.
    void Close();

    // Lists a whole directory into `names` (cleared first). Returns 0 or the
    // errno of the failure; on failure `names` is left empty.
    static int ReadAll(const std::string& path, std::vector<std::string>& names);

private:
    DIR* dir_ = nullptr;
    int lastError_ = 0;
};

}  // namespace vantelo
