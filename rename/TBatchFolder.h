// The folder a batch worked in, as the journal knows it, and how to find it
// again later: by its path, checked against its own identity, or, where a
// re-plugged disk got a new device number, against its file system's
// identity (statfs f_fsid). Where inode numbers are made up at mount time
// (FUSE, FAT, exFAT), a mount made again cannot be told from the same one,
// so files there are told by name, size and modification time: the weaker
// check, which the caller says.
#pragma once

#include "platform/TFd.h"
#include "platform/TFileIdentity.h"
#include "rename/TRenameJournal.h"

#include <string>
#include <sys/stat.h>

namespace vantelo {

class TBatchFolder {
public:
    enum class Strength {
        Exact,      // the same folder: files are told by device and inode
        Replugged,  // the same file system under a new device number
        Weak,       // inode numbers made up at mount time: files told by name, size and time
    };

    // Whether syncfs() on the file system of `fd` reaches its disk: not on
    // FUSE, where the kernel never passes it to the file system.
    static bool SyncfsReaches(int fd);

    // The journal's description of the open folder `fd` at `path`.
    static TRenameJournal::Folder Describe(const std::string& path, int fd);

    // Opens the folder `folder` describes. Returns 0 with the folder open,
    // or errno: ENOENT, EACCES... when it cannot be opened (a stick not
    // plugged in), ESTALE when another folder stands at its path.
    int Open(const TRenameJournal::Folder& folder);
    int Fd() const { return fd_.Get(); }
    Strength GetStrength() const { return strength_; }

    // Comparisons of what is found now with what the journal recorded, as
    // strong as the folder allows.
    bool SameFile(const struct stat& now, const TFileIdentity& recorded) const;
    bool SameState(const struct stat& now, const TFileIdentity& recorded) const;
    // SameState, and for an exact folder not touched since (change time).
    bool Untouched(const struct stat& now, const TFileIdentity& recorded) const;

private:
    TFileIdentity Translate(const TFileIdentity& recorded) const;

    TFd fd_;
    Strength strength_ = Strength::Exact;
    dev_t recordedDevice_ = 0;
    dev_t device_ = 0;
};

}  // namespace vantelo
