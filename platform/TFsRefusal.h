// The errno values by which a file system refuses a kind of step rather than
// failing it: the one table the copy, the batch, its take-back, recovery and
// undo all consult, so that each falls back the same way.
#pragma once

#include <cerrno>

namespace vantelo {

struct TFsRefusal {
    // linkat: this file system or this file takes no second name (FAT, many
    // FUSE mounts, protected hard links, the link count at its limit). A
    // permission error (EACCES) is not a refusal: a copy would meet it too.
    static bool CannotLink(int error) {
        return error == EPERM || error == EMLINK || error == EOPNOTSUPP || error == EXDEV || error == ENOSYS ||
               error == EINVAL;
    }
    // renameat2 with RENAME_NOREPLACE: the kernel or file system does not
    // know the flag. A rename that never replaces must be made another way.
    static bool NoReplaceFlag(int error) { return error == EINVAL || error == ENOSYS; }
    // An in-place rename of a listed file refused as an operation (the flag
    // unknown, or, EPERM, an append-only folder that will not let the old
    // name go): the row is linked or copied instead.
    static bool CannotRenameInPlace(int error) {
        return NoReplaceFlag(error) || error == EPERM || error == EOPNOTSUPP;
    }
};

}  // namespace vantelo
