// The rename's file-system steps over the *at() calls of Linux.
#include "platform/TFileOps.h"

#include "platform/TFd.h"
#include "platform/TFsRefusal.h"

#include <algorithm>
#include <atomic>
#include <sys/random.h>
#include <ctime>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace vantelo {
namespace {

// copy_file_range moves at most this much per call (kept under 2 GiB).
constexpr size_t kRangeChunk = size_t{1} << 30;
constexpr size_t kBufferSize = size_t{1} << 20;
// What a hole at the end of a copy is written with where the file system
// cannot extend a file by truncating it.
constexpr char kZeros[64 * 1024] = {};

// Gives the unnamed file open as `fd` the name `to`: by its descriptor
// alone, which kernels since 6.10 allow for a file the process opened
// itself (and any kernel with the capability), else through /proc/self/fd,
// a walk of four names and a link to follow on every copy. Once the
// descriptor alone has been refused and /proc has served instead, every
// later copy goes through /proc at once. Returns 0 or errno.
int LinkUnnamed(int fd, int dirFd, const std::string& to) {
    static std::atomic<bool> byDescriptorRefused{false};
    if (!byDescriptorRefused.load(std::memory_order_relaxed)) {
        if (linkat(fd, "", dirFd, to.c_str(), AT_EMPTY_PATH) == 0) return 0;
        // ENOENT is the refusal (the flag ignored, or the file opened under
        // other credentials); any other error is the link's own.
        if (errno != ENOENT) return errno;
    }
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, procPath.c_str(), dirFd, to.c_str(), AT_SYMLINK_FOLLOW) != 0) return errno;
    byDescriptorRefused.store(true, std::memory_order_relaxed);
    return 0;
}

// A copy call refused as an operation, which the next way of copying may
// still do.
bool IsUnsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EXDEV || error == EBADF ||
           error == ETXTBSY || error == EPERM;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool CannotLinkHere(int error) { return TFsRefusal::CannotLink(error); }
bool RenameFlagRefused(int error) { return TFsRefusal::NoReplaceFlag(error); }

// ftruncate refused as an operation rather than failed: FAT over FUSE will
// not extend a file this way. Writing the zeros instead gives the same file.
bool CannotExtendByTruncating(int error) {
    return error == EPERM || error == EACCES || error == EOPNOTSUPP || error == EINVAL || error == ENOSYS;
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

// 0, or `error` unless IsNotKeptHere forgives it.
int KeepError(int error) { return IsNotKeptHere(error) ? 0 : error; }

// 0, or the errno of a failed call unless IsNotKeptHere forgives it.
int KeepResult(int result) { return result == 0 ? 0 : KeepError(errno); }

// How often a list or a value of extended attributes that changed between
// sizing it and reading it is read again before the copy gives up.
constexpr int kXattrAttempts = 16;

// The attribute that gives a program privileges when it runs, kept only
// together with the owner it was given for.
constexpr char kCapabilityAttr[] = "security.capability";

// Whether `a` and `b` have the same owner and group.
bool SameOwner(const struct stat& a, const struct stat& b) { return a.st_uid == b.st_uid && a.st_gid == b.st_gid; }

// Gives the file open as `fd` (a regular file, or a symbolic link opened
// with O_PATH) the owner and group of `st` wherever the process may: as
// root, or the group alone when the user belongs to it. Tells which of the
// two the file has afterwards, as the file system reports it (some accept
// the call and keep nothing). `current`, when given, is the file as it
// stands now, so it need not be looked at again. Returns 0 or the errno of a
// real failure.
int KeepOwnership(int fd, const struct stat& st, bool& ownerKept, bool& groupKept,
                  const struct stat* current = nullptr) {
    struct stat now;
    if (current)
        now = *current;
    else if (fstat(fd, &now) != 0)
        return errno;
    if (SameOwner(now, st)) {
        ownerKept = groupKept = true;
        return 0;
    }
    constexpr int kSelf = AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW;
    if (fchownat(fd, "", st.st_uid, st.st_gid, kSelf) != 0) {
        if (const int error = KeepResult(-1)) return error;
        // Not ours to give away: the group alone may still be.
        if (now.st_gid != st.st_gid && fchownat(fd, "", static_cast<uid_t>(-1), st.st_gid, kSelf) != 0) {
            if (const int error = KeepResult(-1)) return error;
        }
    }
    if (fstat(fd, &now) != 0) return errno;
    ownerKept = now.st_uid == st.st_uid;
    groupKept = now.st_gid == st.st_gid;
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

uint32_t TFileOps::NameHash(std::string_view name) {
    // FNV-1a, its two halves folded: quick on short names.
    uint64_t hash = 14695981039346656037ull;
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return static_cast<uint32_t>(hash ^ (hash >> 32));
}

bool TFileOps::ListExactNames(int dirFd, std::vector<uint32_t>& hashes) const {
    hashes.clear();
    // File systems that compare names as bytes unless a directory asks for
    // case folding (ext4, tmpfs, f2fs) or the whole file system does (xfs
    // made ASCII-insensitive); the probe below finds either.
    constexpr unsigned long kExt4 = 0xEF53, kBtrfs = 0x9123683E, kXfs = 0x58465342, kTmpfs = 0x01021994,
                            kF2fs = 0xF2F52010;
    struct statfs fsInfo {};
    if (fstatfs(dirFd, &fsInfo) != 0) return false;
    const auto magic = static_cast<unsigned long>(fsInfo.f_type);
    if (magic != kExt4 && magic != kBtrfs && magic != kXfs && magic != kTmpfs && magic != kF2fs) return false;
    DIR* dir = nullptr;
    if (const int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        dir = fdopendir(fd);
        if (!dir) ::close(fd);
    }
    if (!dir) return false;
    std::string probe;
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        hashes.push_back(NameHash(name));
        if (probe.empty() && std::any_of(name.begin(), name.end(), IsAsciiLetter)) probe = name;
        errno = 0;
    }
    const bool complete = errno == 0;
    closedir(dir);
    // A name with letters looked up with their case turned round: found
    // (as the same file) means this directory folds case.
    bool exact = complete && !probe.empty();
    if (exact) {
        struct stat asListed, turned;
        std::string other = probe;
        for (char& c : other)
            if (IsAsciiLetter(c)) c = static_cast<char>(c ^ 0x20);
        const int turnedError = StatAt(dirFd, other, turned);
        if (turnedError == 0)
            exact = StatAt(dirFd, probe, asListed) == 0 && !TFileIdentity::Of(turned).SameFile(TFileIdentity::Of(asListed));
        else
            exact = turnedError == ENOENT;
    }
    if (!exact) {
        hashes.clear();
        return false;
    }
    std::sort(hashes.begin(), hashes.end());
    return true;
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

int TFileOps::RenameOnly(int dirFd, const std::string& from, const std::string& to) {
    if (const int fault = Fault(Step::Rename, to)) return fault;
    return RenameNoReplace(dirFd, from, to) != 0 ? errno : 0;
}

int TFileOps::ConfirmRenamed(int dirFd, const std::string& from, const std::string& to, TFileIdentity& made) {
    // `to` did not exist before the rename (no replacing): what is there now
    // is what was renamed, and renaming it back restores the directory.
    struct stat st;
    if (const int error = StatAt(dirFd, to, st)) {
        RenameNoReplace(dirFd, to, from);
        return error;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        // `from` was swapped for something we do not rename after it was checked.
        RenameNoReplace(dirFd, to, from);
        return S_ISDIR(st.st_mode) ? EISDIR : EOPNOTSUPP;
    }
    made = TFileIdentity::Of(st);
    return 0;
}

int TFileOps::CopyAt(int dirFd, const std::string& from, const std::string& to, TFileIdentity& source,
                     TFileIdentity& made, bool flush, const std::string& stagingName) {
    TBuiltCopy built;
    if (const int error = BuildCopy(dirFd, from, to, source, built, flush, stagingName)) return error;
    const bool wasUnnamed = built.state == TBuiltCopy::State::Unnamed;
    int error = NameCopy(dirFd, built, to, made);
    if (error != 0) DropCopy(dirFd, built);
    // An unnamed file this file system will not link in: built again under a name.
    if (error != 0 && wasUnnamed && TFsRefusal::CannotLink(error)) {
        if ((error = BuildCopy(dirFd, from, to, source, built, flush, stagingName, /*unnamed=*/false))) return error;
        error = NameCopy(dirFd, built, to, made);
        if (error != 0) DropCopy(dirFd, built);
    }
    return error;
}

int TFileOps::BuildCopy(int dirFd, const std::string& from, const std::string& to, TFileIdentity& source,
                        TBuiltCopy& built, bool flush, const std::string& stagingName, bool unnamed) {
    DropCopy(dirFd, built);
    struct stat st;
    if (const int error = StatAt(dirFd, from, st)) return error;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISLNK(st.st_mode)) {
        source = TFileIdentity::Of(st);
        return BuildSymlink(dirFd, from, to, st, built, stagingName);
    }
    if (!S_ISREG(st.st_mode)) return EOPNOTSUPP;
    return BuildRegular(dirFd, from, to, source, built, flush, stagingName, unnamed);
}

int TFileOps::BuildSymlink(int dirFd, const std::string& from, const std::string& to, const struct stat& st,
                           TBuiltCopy& built, const std::string& stagingName) {
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
    // A link appears whole at once and holds no data but its target: it is
    // made under its name straight away.
    (void)stagingName;
    const std::string& created = to;
    if (symlinkat(target.c_str(), dirFd, created.c_str()) != 0) return errno;
    // symlinkat made the name just now and exclusively: on any failure from
    // here on it is ours to take back, so no half-made link is left.
    const timespec times[2] = {st.st_atim, st.st_mtim};
    int error = KeepResult(utimensat(dirFd, created.c_str(), times, AT_SYMLINK_NOFOLLOW));
    if (error == 0) {
        // Through a descriptor of the link itself, so that whatever might
        // stand under `to` by now is never the file given away.
        TFd link(openat(dirFd, created.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat linkSt;
        bool ownerKept = false, groupKept = false;
        if (link.Get() < 0 || fstat(link.Get(), &linkSt) != 0)
            error = errno;
        else if (S_ISLNK(linkSt.st_mode))
            error = KeepOwnership(link.Get(), st, ownerKept, groupKept);
    }
    struct stat madeSt;
    if (error == 0) error = StatAt(dirFd, created, madeSt);
    if (error != 0) {
        unlinkat(dirFd, created.c_str(), 0);
        return error;
    }
    built.BuiltUnder(created, madeSt, dirFd);
    return 0;
}

int TFileOps::BuildRegular(int dirFd, const std::string& from, const std::string& to, TFileIdentity& source,
                           TBuiltCopy& built, bool flush, const std::string& stagingName, bool unnamed) {
    // O_NONBLOCK: should the entry have become a FIFO since it was looked
    // at, opening it must not wait for a writer.
    TFd in(openat(dirFd, from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (in.Get() < 0) return errno == ELOOP ? EOPNOTSUPP : errno;
    struct stat st;
    if (fstat(in.Get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EOPNOTSUPP;
    source = TFileIdentity::Of(st);

    if (unnamed && options_.tmpFile && UnnamedFilesLinkable()) {
        // Made with the original's permissions, which usually spares a
        // change of mode: no other process can reach a file without a name.
        TFd out(openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, st.st_mode & 0777));
        if (out.Get() >= 0) {
            // The identity is taken while the copy is still unnamed, so the
            // caller can record it before the copy gets a name.
            if (const int error = FillCopy(in.Get(), out.Get(), st, to, flush, &built.made)) return error;
            if (const int fault = Fault(Step::CopyCommit, to)) return fault;
            built.fd = std::move(out);
            built.state = TBuiltCopy::State::Unnamed;
            return 0;
        }
        const int error = errno;
        // Older kernels and some file systems have no unnamed files.
        if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL && error != ENOENT) return error;
    }
    // Without an unnamed file: under the caller's staging name when there is
    // one, else under `to` itself.
    const std::string& created = stagingName.empty() ? to : stagingName;
    TFd out(openat(dirFd, created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.Get() < 0) return errno;
    struct stat madeSt;
    int error = FillCopy(in.Get(), out.Get(), st, to, flush);
    if (error == 0) error = Fault(Step::CopyCommit, to);
    if (error == 0 && fstat(out.Get(), &madeSt) != 0) error = errno;
    // Closed before it is named: a failed close may mean lost data.
    const int closeError = out.Close();
    if (error == 0) error = closeError;
    if (error != 0) {
        unlinkat(dirFd, created.c_str(), 0);  // created exclusively a moment ago: ours
        return error;
    }
    built.BuiltUnder(created, madeSt, dirFd);
    return 0;
}

bool TFileOps::UnnamedFilesLinkable() {
    // An unnamed file is given its name by its descriptor alone or through
    // /proc/self/fd. Older kernels let only the capability name a file by
    // its descriptor: without /proc and without that capability it could
    // be built but never named.
    static const bool linkable = access("/proc/self/fd", F_OK) == 0 || geteuid() == 0;
    return linkable;
}

int TFileOps::NameCopy(int dirFd, TBuiltCopy& built, const std::string& to, TFileIdentity& made) {
    switch (built.state) {
    case TBuiltCopy::State::None:
        return ECANCELED;
    case TBuiltCopy::State::Unnamed: {
        if (const int error = LinkUnnamed(built.fd.Get(), dirFd, to)) return error;
        // Linking moved the change time: the identity kept is the named file's.
        struct stat st;
        if (fstat(built.fd.Get(), &st) == 0) built.Restated(st);
        const TFileIdentity named = built.made;
        if (const int closeError = built.fd.Close()) {
            built.state = TBuiltCopy::State::None;
            RemoveIfOurs(dirFd, to, named);
            return closeError;
        }
        built.state = TBuiltCopy::State::None;
        made = named;
        return 0;
    }
    case TBuiltCopy::State::Named:
        break;
    }
    if (built.named != to) {
        if (const int error = CommitStaging(dirFd, built.named, to, built.made)) return error;
    }
    struct stat st;
    if (StatAt(dirFd, to, st) == 0 && TFileIdentity::Of(st).SameFile(built.made)) built.Restated(st);
    made = built.made;
    built.state = TBuiltCopy::State::None;
    built.named.clear();
    return 0;
}

void TFileOps::DropCopy(int dirFd, TBuiltCopy& built) {
    if (built.state == TBuiltCopy::State::Named) RemoveIfOurs(dirFd, built.named, built.made);
    built.fd.Reset();
    built.named.clear();
    built.state = TBuiltCopy::State::None;
}

int TFileOps::CommitStaging(int dirFd, const std::string& staging, const std::string& to,
                            const TFileIdentity& made) {
    if (RenameNoReplace(dirFd, staging, to) == 0) return 0;
    int error = errno;
    if (!RenameFlagRefused(error)) return error;
    // No RENAME_NOREPLACE here: a hard link takes the name just as exclusively.
    if (linkat(dirFd, staging.c_str(), dirFd, to.c_str(), 0) == 0) {
        if (unlinkat(dirFd, staging.c_str(), 0) == 0) return 0;
        // Both names would stay: take back the new one, so that the caller's
        // clean-up of the staging name leaves the directory as it was.
        error = errno;
        RemoveIfOurs(dirFd, to, made);
        return error;
    }
    error = errno;
    if (!CannotLinkHere(error)) return error;
    // Neither (FAT over FUSE): a plain rename once `to` is seen to be free.
    // Only a file made under that very name in the moment between could be
    // replaced; the staging file is never left under a name it is not.
    struct stat st;
    if (const int statError = StatAt(dirFd, to, st)) {
        if (statError != ENOENT) return statError;
    } else {
        return EEXIST;
    }
    return renameat(dirFd, staging.c_str(), dirFd, to.c_str()) == 0 ? 0 : errno;
}

int TFileOps::FillCopy(int in, int out, const struct stat& st, const std::string& to, bool flush,
                       TFileIdentity* made) {
    if (const int error = CopyContent(in, out, st.st_size)) return error;
    if (const int fault = Fault(Step::CopyData, to)) return fault;
    // The times first, then one look at the copy: where the copy already has
    // its owner, group and mode and there are no attributes to give it (our
    // own file, made with the original's permissions), nothing changes it
    // after that look, which is then its identity too.
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (const int error = KeepResult(futimens(out, times))) return error;
    struct stat outSt;
    TFileIdentity looked;
    if (const int error = looked.ReadOpen(out, &outSt)) return error;
    // A copy holds exactly what the file held when it was opened.
    if (outSt.st_size != st.st_size) return EIO;
    // Owner and group first: a change of owner clears the set-ID bits and
    // file capabilities, which are given afterwards only where they belong.
    const bool ownerAsked = !SameOwner(outSt, st);
    bool ownerKept = false, groupKept = false;
    if (const int error = KeepOwnership(out, st, ownerKept, groupKept, &outSt)) return error;
    mode_t mode = st.st_mode & 07777;
    if (!ownerKept) mode &= ~(S_ISUID | S_ISGID);
    if (!groupKept) mode &= ~S_ISGID;
    bool xattrsSet = false;
    if (const int error = CopyXattrs(in, out, ownerKept, xattrsSet)) return error;
    // An access list among the attributes moves the mode, and so may a
    // change of owner: the mode is given again after either.
    const bool touchedSince = ownerAsked || xattrsSet || (outSt.st_mode & 07777) != mode;
    if (touchedSince) {
        if (const int error = KeepResult(fchmod(out, mode))) return error;
        // The times last, as a file system may move them with the rest.
        if (const int error = KeepResult(futimens(out, times))) return error;
    }
    if (flush && fsync(out) != 0) return errno;
    if (!made) return 0;
    if (!touchedSince) {
        *made = looked;
        return 0;
    }
    return made->ReadOpen(out);
}

// Extended attributes of the source, as far as the file system and our
// rights let us set them. Returns 0 or the errno of a real failure.
int TFileOps::CopyXattrs(int in, int out, bool ownerKept, bool& anySet) {
    anySet = false;
    std::vector<char> names;
    if (const int error = ReadXattrNames(in, names)) return error;
    std::vector<char> value;
    for (size_t at = 0; at < names.size();) {
        const std::string name(names.data() + at, strnlen(names.data() + at, names.size() - at));
        at += name.size() + 1;
        if (name.empty() || (!ownerKept && name == kCapabilityAttr)) continue;
        if (const int error = ReadXattr(in, name.c_str(), value)) {
            // Gone since the list was read, or not ours to read: nothing to keep.
            if (const int real = KeepError(error)) return real;
            continue;
        }
        anySet = true;  // tried, and perhaps half done when refused
        if (const int error = KeepResult(fsetxattr(out, name.c_str(), value.data(), value.size(), 0)))
            return error;
    }
    return 0;
}

// The list of attribute names: sized, then read. An attribute added in
// between makes the read fail with ERANGE, and the list is sized again
// rather than taken for absent. Returns 0 (an empty list where the file
// system keeps none) or the errno of a real failure.
int TFileOps::ReadXattrNames(int in, std::vector<char>& names) {
    names.clear();
    for (int attempt = 0; attempt < kXattrAttempts; ++attempt) {
        const ssize_t size = ListXattr(in, nullptr, 0);
        if (size <= 0) return size == 0 ? 0 : KeepResult(-1);
        names.resize(static_cast<size_t>(size));
        const ssize_t got = ListXattr(in, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            return 0;
        }
        if (errno != ERANGE) {
            names.clear();
            return KeepResult(-1);
        }
    }
    return EAGAIN;  // changing faster than it can be read: never copied without it
}

// One attribute's value, read again when it grew between sizing and
// reading it. Returns 0 or errno (ENODATA when it is gone).
int TFileOps::ReadXattr(int in, const char* name, std::vector<char>& value) {
    for (int attempt = 0; attempt < kXattrAttempts; ++attempt) {
        const ssize_t length = GetXattr(in, name, nullptr, 0);
        if (length < 0) return errno;
        value.resize(static_cast<size_t>(length));
        const ssize_t got = GetXattr(in, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return 0;
        }
        if (errno != ERANGE) return errno;
    }
    return EAGAIN;
}

int TFileOps::CopyContent(int in, int out, off_t size) {
    if (!(options_.clone && ioctl(out, FICLONE, in) == 0)) {
        bool useRange = options_.copyRange;
        off_t offset = 0;   // everything before it is copied or a hole
        off_t written = 0;  // the end of the last data copied
        while (offset < size) {
            off_t data = offset, hole = size;
            if (options_.sparse) {
                data = lseek(in, offset, SEEK_DATA);
                if (data < 0) {
                    if (errno == ENXIO) break;  // only a hole is left, or the file got shorter (checked below)
                    data = offset;              // no hole support: copy everything
                    hole = size;
                } else {
                    hole = lseek(in, data, SEEK_HOLE);
                    if (hole < 0) hole = size;
                }
                hole = std::min(hole, size);
                if (data >= size) break;
            }
            if (const int error = CopyRange(in, out, data, hole - data, useRange)) return error;
            offset = written = hole;
        }
        // What looked like a hole at the end may be a source that got shorter
        // while it was copied: its lost end must not become zeros.
        struct stat inSt;
        if (fstat(in, &inSt) != 0) return errno;
        if (inSt.st_size < size) return EIO;
        if (written < size) {
            if (const int error = ExtendTo(out, written, size)) return error;
        }
    }
    return 0;
}

int TFileOps::CopyRange(int in, int out, off_t offset, off_t length, bool& useRange) {
    off_t at = offset;
    const off_t end = offset + length;
    while (useRange && at < end) {
        off_t inOffset = at, outOffset = at;
        const size_t want = static_cast<size_t>(std::min<off_t>(end - at, kRangeChunk));
        const ssize_t done = CopyFileRange(in, &inOffset, out, &outOffset, want);
        if (done > 0) {
            at += done;
            continue;
        }
        // Nothing copied before the end: some kernels and file systems answer
        // 0 where they cannot copy. Plain reads tell whether the source really
        // ended; copy_file_range is not asked again for this file.
        if (done == 0) {
            useRange = false;
            break;
        }
        if (errno == EINTR) continue;
        if (!IsUnsupported(errno)) return errno;
        useRange = false;
    }
    static thread_local std::vector<char> buffer(kBufferSize);
    while (at < end) {
        const size_t want = static_cast<size_t>(std::min<off_t>(end - at, static_cast<off_t>(buffer.size())));
        const ssize_t got = pread(in, buffer.data(), want, at);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return EIO;  // the source ends before the size it had: never pad the copy
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = pwrite(out, buffer.data() + written, static_cast<size_t>(got - written), at + written);
            if (put < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (put == 0) return EIO;  // nothing taken: asking again would spin
            written += put;
        }
        at += got;
    }
    return 0;
}

int TFileOps::ExtendTo(int out, off_t from, off_t size) {
    if (Truncate(out, size) == 0) return 0;
    const int error = errno;
    if (!CannotExtendByTruncating(error)) return error;
    for (off_t at = from; at < size;) {
        const size_t want = static_cast<size_t>(std::min<off_t>(size - at, static_cast<off_t>(sizeof kZeros)));
        const ssize_t put = pwrite(out, kZeros, want, at);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (put == 0) return EIO;
        at += put;
    }
    return 0;
}

ssize_t TFileOps::CopyFileRange(int in, off_t* inOffset, int out, off_t* outOffset, size_t length) {
    return copy_file_range(in, inOffset, out, outOffset, length, 0);
}

int TFileOps::Truncate(int fd, off_t size) { return ftruncate(fd, size); }

ssize_t TFileOps::ListXattr(int fd, char* list, size_t size) { return flistxattr(fd, list, size); }

ssize_t TFileOps::GetXattr(int fd, const char* name, void* value, size_t size) {
    return fgetxattr(fd, name, value, size);
}

int TFileOps::RenameNoReplace(int dirFd, const std::string& from, const std::string& to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
    return renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE);
#else
    return static_cast<int>(syscall(SYS_renameat2, dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE));
#endif
}

std::string TFileOps::PrivateName(const char* suffix) {
    unsigned char bytes[12];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy source: the time and the process still make the name
        // one nobody else picks.
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        uint64_t mix = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 20) ^
                       (static_cast<uint64_t>(getpid()) << 44);
        static std::atomic<uint64_t> counter{0};
        mix ^= counter.fetch_add(0x9E3779B97F4A7C15ull);
        for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(mix >> (8 * (i % 8)));
    }
    static const char kHex[] = "0123456789abcdef";
    std::string name = ".vantelo-";
    for (const unsigned char byte : bytes) {
        name.push_back(kHex[byte >> 4]);
        name.push_back(kHex[byte & 15]);
    }
    name += '.';
    name += suffix;
    return name;
}

int TFileOps::RemoveIf(int dirFd, const std::string& name, const Check& isIt) {
    if (const int fault = Fault(Step::Unlink, name)) return fault;
    struct stat judged;
    if (const int error = StatAt(dirFd, name, judged)) return error;
    if (!isIt(judged)) return ESTALE;
    const TFileIdentity expected = TFileIdentity::Of(judged);
    const std::string aside = PrivateName("gone");
    if (RenameNoReplace(dirFd, name, aside) == 0) {
        struct stat moved;
        int error = ESTALE;
        if (StatAt(dirFd, aside, moved) == 0 && TFileIdentity::Of(moved).SameState(expected)) {
            if (unlinkat(dirFd, aside.c_str(), 0) == 0) return 0;
            error = errno;
        }
        // Another file took the name in between, or the removal failed: it
        // goes back where it was, untouched.
        if (RenameNoReplace(dirFd, aside, name) != 0) return errno;
        return error;
    }
    int error = errno;
    if (!TFsRefusal::NoReplaceFlag(error)) return error;
    if (linkat(dirFd, name.c_str(), dirFd, aside.c_str(), 0) == 0) {
        // The private name holds whatever the name held at the link: judge
        // that, then let both names go.
        struct stat linked;
        const bool same = StatAt(dirFd, aside, linked) == 0 && TFileIdentity::Of(linked).SameState(expected);
        error = same ? (unlinkat(dirFd, name.c_str(), 0) == 0 ? 0 : errno) : ESTALE;
        if (unlinkat(dirFd, aside.c_str(), 0) != 0) {
            // The private name would stay: the file goes back under its own
            // name (if it left it) and the removal counts as failed.
            const int asideError = errno;
            if (error == 0) linkat(dirFd, aside.c_str(), dirFd, name.c_str(), 0);
            unlinkat(dirFd, aside.c_str(), 0);
            return error == 0 ? asideError : error;
        }
        return error;
    }
    error = errno;
    if (!TFsRefusal::CannotLink(error)) return error;
    // Neither (FAT over FUSE): judged a moment ago, removed by name.
    return unlinkat(dirFd, name.c_str(), 0) == 0 ? 0 : errno;
}

int TFileOps::RenameIf(int dirFd, const std::string& from, const std::string& to, const Check& isIt,
                       TFileIdentity& made, const std::string& stagingName) {
    if (const int fault = Fault(Step::Rename, to)) return fault;
    struct stat judged;
    if (const int error = StatAt(dirFd, from, judged)) return error;
    if (!isIt(judged)) return ESTALE;
    const TFileIdentity expected = TFileIdentity::Of(judged);
    if (RenameNoReplace(dirFd, from, to) == 0) {
        struct stat moved;
        if (StatAt(dirFd, to, moved) == 0 && TFileIdentity::Of(moved).SameState(expected)) {
            made = TFileIdentity::Of(moved);
            return 0;
        }
        // Another file took the name in between: it goes back untouched.
        if (RenameNoReplace(dirFd, to, from) != 0) return errno;
        return ESTALE;
    }
    int error = errno;
    if (!TFsRefusal::NoReplaceFlag(error)) return error;
    const Check sameAsJudged = [&expected](const struct stat& st) { return TFileIdentity::Of(st).SameState(expected); };
    if (linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) == 0) {
        struct stat linked;
        if (StatAt(dirFd, to, linked) != 0 || !TFileIdentity::Of(linked).SameState(expected)) {
            unlinkat(dirFd, to.c_str(), 0);  // made by our link a moment ago
            return ESTALE;
        }
        made = TFileIdentity::Of(linked);
        if (const int removeError = RemoveIf(dirFd, from, sameAsJudged)) {
            RemoveIf(dirFd, to, sameAsJudged);
            return removeError;
        }
        return 0;
    }
    error = errno;
    if (!TFsRefusal::CannotLink(error)) return error;
    // Neither: a flushed copy under the new name, then the old one goes.
    TFileIdentity source;
    if (const int copyError = CopyAt(dirFd, from, to, source, made, /*flush=*/true, stagingName)) return copyError;
    if (!source.SameState(expected) || SyncDir(dirFd) != 0) {
        const TFileIdentity copy = made;
        RemoveIf(dirFd, to, [&copy](const struct stat& st) { return TFileIdentity::Of(st).SameFile(copy); });
        return ESTALE;
    }
    if (const int removeError = RemoveIf(dirFd, from, sameAsJudged)) {
        const TFileIdentity copy = made;
        RemoveIf(dirFd, to, [&copy](const struct stat& st) { return TFileIdentity::Of(st).SameFile(copy); });
        return removeError;
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
