// Birth times through statx, where the kernel and file system give them.
#include "platform/TFileIdentity.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace vantelo {

void TFileIdentity::AddBirth(int fd, const char* name) {
    struct statx stx;
    const int flags = (name[0] == '\0' ? AT_EMPTY_PATH : 0) | AT_SYMLINK_NOFOLLOW;
    if (::statx(fd, name, flags, STATX_BTIME, &stx) != 0 || !(stx.stx_mask & STATX_BTIME)) return;
    btime.tv_sec = stx.stx_btime.tv_sec;
    btime.tv_nsec = stx.stx_btime.tv_nsec;
}

int TFileIdentity::ReadOpen(int fd, struct stat* look) {
    struct statx stx;
    constexpr unsigned kWanted = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;
    constexpr unsigned kLook = STATX_MODE | STATX_UID | STATX_GID;
    const unsigned wanted = kWanted | (look ? kLook : 0u);
    if (::statx(fd, "", AT_EMPTY_PATH, wanted | STATX_BTIME, &stx) != 0 || (stx.stx_mask & wanted) != wanted) {
        // No statx here (an old kernel, a filter): the plain look, no birth time.
        struct stat st;
        if (::fstat(fd, &st) != 0) return errno;
        *this = Of(st);
        if (look) *look = st;
        return 0;
    }
    const auto time = [](const statx_timestamp& at) { return timespec{at.tv_sec, static_cast<long>(at.tv_nsec)}; };
    *this = {makedev(stx.stx_dev_major, stx.stx_dev_minor), stx.stx_ino, static_cast<off_t>(stx.stx_size),
             time(stx.stx_mtime), time(stx.stx_ctime)};
    if (stx.stx_mask & STATX_BTIME) btime = time(stx.stx_btime);
    if (look) {
        *look = {};
        look->st_dev = device;
        look->st_ino = inode;
        look->st_mode = stx.stx_mode;
        look->st_uid = stx.stx_uid;
        look->st_gid = stx.stx_gid;
        look->st_size = size;
        look->st_mtim = mtime;
        look->st_ctim = ctime;
    }
    return 0;
}

}  // namespace vantelo
