#include "platform/TFd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantelo {

int TFd::Close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0 ? 0 : errno;
}

void TFd::Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int TFd::OpenDirectory(const std::string& path, const TFileIdentity* expected, TFd& fd, TFileIdentity& identity) {
    TFd opened(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.Get() < 0) return errno != 0 ? errno : ENOENT;
    struct stat st;
    if (fstat(opened.Get(), &st) != 0) return errno;
    if (expected && !TFileIdentity::Of(st).SameFile(*expected)) return ESTALE;
    identity = TFileIdentity::Of(st);
    fd = std::move(opened);
    return 0;
}

}  // namespace vantelo
