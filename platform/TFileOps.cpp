// The rename's file-system steps over the *at() calls of Linux.
#include "platform/TFileOps.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace vantelo {
namespace {

// copy_file_range moves at most this much per call (kept under 2 GiB).
constexpr size_t kRangeChunk = size_t{1} << 30;
constexpr size_t kBufferSize = size_t{1} << 20;

// Closes a descriptor on every path out of a function.
class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    // Closes now and reports the result: a failed close can mean lost data.
    int Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

bool IsUnsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EXDEV || error == EBADF ||
           error == ETXTBSY || error == EPERM;
}

// A failure to keep a mode, a time or an extended attribute that only says
// the file system or our rights do not hold it (FAT keeps no modes, a
// security.* attribute needs privileges): the copy goes ahead without it.
// Anything else (EIO, ENOSPC...) is a real failure of the copy, which would
// otherwise become the only copy with its metadata silently lost.
bool IsNotKeptHere(int error) {
    return error == EPERM || error == EACCES || error == EOPNOTSUPP || error == EINVAL ||
           error == E2BIG || error == ERANGE || error == ENODATA || error == ENOSYS;
}

// 0, or the errno of a failed call unless IsNotKeptHere forgives it.
int KeepResult(int result) {
    if (result == 0) return 0;
    const int error = errno;
    return IsNotKeptHere(error) ? 0 : error;
}

// Extended attributes of the source, as far as the file system and our
// rights let us set them. Returns 0 or the errno of a real failure.
int CopyXattrs(int in, int out) {
    ssize_t size = flistxattr(in, nullptr, 0);
    if (size < 0) return KeepResult(-1);
    if (size == 0) return 0;
    std::vector<char> names(static_cast<size_t>(size));
    size = flistxattr(in, names.data(), names.size());
    if (size < 0) return KeepResult(-1);
    std::vector<char> value;
    for (size_t at = 0; at < static_cast<size_t>(size);) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        const ssize_t length = fgetxattr(in, name.c_str(), nullptr, 0);
        if (length < 0) {
            if (const int error = KeepResult(-1)) return error;
            continue;
        }
        value.resize(static_cast<size_t>(length));
        const ssize_t got = fgetxattr(in, name.c_str(), value.data(), value.size());
        if (got < 0) {
            if (const int error = KeepResult(-1)) return error;
            continue;
        }
        if (const int error = KeepResult(fsetxattr(out, name.c_str(), value.data(), static_cast<size_t>(got), 0)))
            return error;
    }
    return 0;
}

// Removes `name` only when it is still the file we made.
void RemoveIfOurs(int dirFd, const std::string& name, const TFileIdentity& made) {
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && TFileIdentity::Of(st).SameFile(made)) {
        unlinkat(dirFd, name.c_str(), 0);
    }
}

}  // namespace

TFileOps& TFileOps::System() {
    static TFileOps system;
    return system;
}

int TFileOps::Fault(Step, const std::string&) { return 0; }

int TFileOps::StatAt(int dirFd, const std::string& name, struct stat& st) const {
    return fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int TFileOps::LinkAt(int dirFd, const std::string& from, const std::string& to, TFileIdentity& made) {
    if (const int fault = Fault(Step::Link, to)) return fault;
    // Without AT_SYMLINK_FOLLOW a symbolic link is linked as itself.
    if (linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) != 0) return errno;
    struct stat st;
    if (const int error = StatAt(dirFd, to, st)) {
        // linkat made `to` just now and exclusively; left in place it would
        // be a new name the caller does not know it made.
        unlinkat(dirFd, to.c_str(), 0);
        return error;
    }
    made = TFileIdentity::Of(st);
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        // `from` was swapped for something we do not copy after it was checked.
        RemoveIfOurs(dirFd, to, made);
        return S_ISDIR(st.st_mode) ? EISDIR : EOPNOTSUPP;
    }
    return 0;
}

int TFileOps::CopyAt(int dirFd, const std::string& from, const std::string& to, TFileIdentity& source,
                     TFileIdentity& made, bool flush) {
    struct stat st;
    if (const int error = StatAt(dirFd, from, st)) return error;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISLNK(st.st_mode)) {
        source = TFileIdentity::Of(st);
        return CopySymlink(dirFd, from, to, st, made);
    }
    if (!S_ISREG(st.st_mode)) return EOPNOTSUPP;
    return CopyRegular(dirFd, from, to, source, made, flush);
}

int TFileOps::CopySymlink(int dirFd, const std::string& from, const std::string& to, const struct stat& st,
                          TFileIdentity& made) {
    std::string target(static_cast<size_t>(std::max<off_t>(st.st_size, 64)) + 1, '\0');
    for (;;) {
        const ssize_t length = readlinkat(dirFd, from.c_str(), target.data(), target.size());
        if (length < 0) return errno;
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            break;
        }
        target.resize(target.size() * 2);  // the link grew since it was looked at
    }
    if (const int fault = Fault(Step::CopyCommit, to)) return fault;
    if (symlinkat(target.c_str(), dirFd, to.c_str()) != 0) return errno;
    // symlinkat made `to` just now and exclusively: on any failure from here
    // on it is ours to take back, so no half-made link is left.
    const timespec times[2] = {st.st_atim, st.st_mtim};
    int error = KeepResult(utimensat(dirFd, to.c_str(), times, AT_SYMLINK_NOFOLLOW));
    struct stat madeSt;
    if (error == 0) error = StatAt(dirFd, to, madeSt);
    if (error != 0) {
        unlinkat(dirFd, to.c_str(), 0);
        return error;
    }
    made = TFileIdentity::Of(madeSt);
    return 0;
}

int TFileOps::CopyRegular(int dirFd, const std::string& from, const std::string& to, TFileIdentity& source,
                          TFileIdentity& made, bool flush) {
    // O_NONBLOCK: should the entry have become a FIFO since it was looked
    // at, opening it must not wait for a writer.
    TFd in(openat(dirFd, from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (in.Get() < 0) return errno == ELOOP ? EOPNOTSUPP : errno;
    struct stat st;
    if (fstat(in.Get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EOPNOTSUPP;
    source = TFileIdentity::Of(st);

    if (options_.tmpFile) {
        TFd out(openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (out.Get() < 0) {
            const int error = errno;
            // Older kernels and some file systems have no unnamed files.
            if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL && error != ENOENT) return error;
            return CopyIntoExclusive(dirFd, in.Get(), st, to, made, flush);
        }
        if (const int error = FillCopy(in.Get(), out.Get(), st, to, flush)) return error;
        // The identity is taken while the copy is still unnamed, so a failure
        // here leaves nothing behind; naming it changes none of it.
        struct stat madeSt;
        if (fstat(out.Get(), &madeSt) != 0) return errno;
        made = TFileIdentity::Of(madeSt);
        if (const int fault = Fault(Step::CopyCommit, to)) return fault;
        const std::string procPath = "/proc/self/fd/" + std::to_string(out.Get());
        if (linkat(AT_FDCWD, procPath.c_str(), dirFd, to.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            int error = errno;
            if (error == ENOENT) {
                // No /proc: linking by descriptor needs a capability we may lack.
                error = linkat(out.Get(), "", dirFd, to.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
            }
            if (error == EEXIST) return EEXIST;
            if (error != 0) return CopyIntoExclusive(dirFd, in.Get(), st, to, made, flush);
        }
        if (const int error = out.Close()) {
            RemoveIfOurs(dirFd, to, made);
            return error;
        }
        return 0;
    }
    return CopyIntoExclusive(dirFd, in.Get(), st, to, made, flush);
}

int TFileOps::CopyIntoExclusive(int dirFd, int in, const struct stat& st, const std::string& to,
                                TFileIdentity& made, bool flush) {
    TFd out(openat(dirFd, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.Get() < 0) return errno;
    struct stat madeSt;
    if (fstat(out.Get(), &madeSt) != 0) {
        const int error = errno;
        unlinkat(dirFd, to.c_str(), 0);  // created exclusively a moment ago: ours
        return error;
    }
    made = TFileIdentity::Of(madeSt);
    int error = FillCopy(in, out.Get(), st, to, flush);
    if (error == 0) error = Fault(Step::CopyCommit, to);
    if (error == 0 && fstat(out.Get(), &madeSt) != 0) error = errno;
    if (error == 0) made = TFileIdentity::Of(madeSt);
    const int closeError = out.Close();
    if (error == 0) error = closeError;
    if (error != 0) RemoveIfOurs(dirFd, to, made);
    return error;
}

int TFileOps::FillCopy(int in, int out, const struct stat& st, const std::string& to, bool flush) {
    if (const int error = CopyContent(in, out, st.st_size)) return error;
    if (const int fault = Fault(Step::CopyData, to)) return fault;
    if (const int error = CopyXattrs(in, out)) return error;
    if (const int error = KeepResult(fchmod(out, st.st_mode & 07777))) return error;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (const int error = KeepResult(futimens(out, times))) return error;
    if (!flush) return 0;
    return fsync(out) == 0 ? 0 : errno;
}

int TFileOps::CopyContent(int in, int out, off_t size) {
    if (options_.clone && ioctl(out, FICLONE, in) == 0) return 0;
    off_t offset = 0;
    while (offset < size) {
        off_t data = offset, hole = size;
        if (options_.sparse) {
            data = lseek(in, offset, SEEK_DATA);
            if (data < 0) {
                if (errno == ENXIO) break;  // only a hole is left
                data = offset;              // no hole support: copy everything
                hole = size;
            } else {
                hole = lseek(in, data, SEEK_HOLE);
                if (hole < 0) hole = size;
            }
            hole = std::min(hole, size);
            if (data >= size) break;
        }
        if (const int error = CopyRange(in, out, data, hole - data)) return error;
        offset = hole;
    }
    // Sets the size, including a hole at the end.
    return ftruncate(out, size) == 0 ? 0 : errno;
}

int TFileOps::CopyRange(int in, int out, off_t offset, off_t length) {
    off_t inOffset = offset, outOffset = offset;
    const off_t end = offset + length;
    bool useRange = options_.copyRange;
    while (inOffset < end) {
        const size_t want = static_cast<size_t>(std::min<off_t>(end - inOffset, kRangeChunk));
        if (useRange) {
            const ssize_t done = copy_file_range(in, &inOffset, out, &outOffset, want, 0);
            if (done > 0) continue;
            if (done == 0) return 0;  // the source got shorter: copy what there is
            if (errno == EINTR) continue;
            if (!IsUnsupported(errno)) return errno;
            useRange = false;
            continue;
        }
        static thread_local std::vector<char> buffer(kBufferSize);
        const ssize_t got = pread(in, buffer.data(), std::min(want, buffer.size()), inOffset);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return 0;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = pwrite(out, buffer.data() + written, static_cast<size_t>(got - written), outOffset);
            if (put < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            written += put;
            outOffset += put;
        }
        inOffset += got;
    }
    return 0;
}

int TFileOps::UnlinkAt(int dirFd, const std::string& name) {
    if (const int fault = Fault(Step::Unlink, name)) return fault;
    return unlinkat(dirFd, name.c_str(), 0) == 0 ? 0 : errno;
}

int TFileOps::SyncDir(int dirFd) {
    if (const int fault = Fault(Step::SyncDir, ".")) return fault;
    return fsync(dirFd) == 0 ? 0 : errno;
}

}  // namespace vantelo
