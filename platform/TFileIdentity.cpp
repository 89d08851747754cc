// Birth times through statx, where the kernel and file system give them.
#include "platform/TFileIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace vantelo {

void TFileIdentity::AddBirth(int fd, const char* name) {
    struct statx stx;
    const int flags = (name[0] == '\0' ? AT_EMPTY_PATH : 0) | AT_SYMLINK_NOFOLLOW;
    if (::statx(fd, name, flags, STATX_BTIME, &stx) != 0 || !(stx.stx_mask & STATX_BTIME)) return;
    btime.tv_sec = stx.stx_btime.tv_sec;
    btime.tv_nsec = stx.stx_btime.tv_nsec;
}

}  // namespace vantelo
