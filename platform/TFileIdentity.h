// What identifies one file for the rename's safety checks: which file it is
// (device and inode) and which state it was in (size and modification time).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

namespace vantelo {

struct TFileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec mtime{};

    static TFileIdentity Of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_size, st.st_mtim}; }

    // Same device and inode: the same file, whatever happened to it.
    bool SameFile(const TFileIdentity& other) const { return device == other.device && inode == other.inode; }
    // The same file, unchanged in size and modification time.
    bool SameState(const TFileIdentity& other) const {
        return SameFile(other) && size == other.size && mtime.tv_sec == other.mtime.tv_sec &&
               mtime.tv_nsec == other.mtime.tv_nsec;
    }
};

}  // namespace vantelo
