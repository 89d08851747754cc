// What identifies one file for the rename's safety checks: which file it is
// (device and inode) and which state it was in (size and modification time,
// and the inode's change time, which moves with every change of the file,
// even one that puts the modification time back).
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
    timespec ctime{};  // zero when not known
    timespec btime{};  // birth time, zero when not known: tells a file from a
                       // later one that was given the same inode number

    static TFileIdentity Of(const struct stat& st) {
        return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }

    // Same device and inode: the same file, whatever happened to it.
    bool SameFile(const TFileIdentity& other) const { return device == other.device && inode == other.inode; }
    // The same file, unchanged in size and modification time.
    bool SameState(const TFileIdentity& other) const {
        return SameFile(other) && SameContentMarks(other);
    }
    // Size and modification time agree (the file may be another one).
    bool SameContentMarks(const TFileIdentity& other) const {
        return size == other.size && mtime.tv_sec == other.mtime.tv_sec && mtime.tv_nsec == other.mtime.tv_nsec;
    }
    // SameState, and not touched since: the change time agrees too where
    // both sides know it. Renaming or linking a file moves its change time,
    // so compare with an identity taken after the file's last such step.
    bool Untouched(const TFileIdentity& other) const {
        if (!SameState(other)) return false;
        if ((ctime.tv_sec == 0 && ctime.tv_nsec == 0) || (other.ctime.tv_sec == 0 && other.ctime.tv_nsec == 0))
            return true;
        return ctime.tv_sec == other.ctime.tv_sec && ctime.tv_nsec == other.ctime.tv_nsec;
    }
    bool Known() const { return device != 0 || inode != 0; }
    // False only when both sides know their birth times and they differ.
    bool SameBirth(const TFileIdentity& other) const {
        if ((btime.tv_sec == 0 && btime.tv_nsec == 0) || (other.btime.tv_sec == 0 && other.btime.tv_nsec == 0))
            return true;
        return btime.tv_sec == other.btime.tv_sec && btime.tv_nsec == other.btime.tv_nsec;
    }
    // Adds the birth time of the file open as `fd`, or of `name` in the
    // directory `fd` (not following a last symbolic link), where the file
    // system keeps one.
    void AddBirth(int fd, const char* name = "");
    // The whole identity of the file open as `fd`, birth time included, in
    // one look where the kernel answers statx; `look`, when given, gets the
    // file's type, mode, owner, group, size and its modification and
    // change times from the same look (not its access time). Answers 0 or errno.
    int ReadOpen(int fd, struct stat* look = nullptr);
};

}  // namespace vantelo
