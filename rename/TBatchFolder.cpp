// Finding a batch's folder again, and telling its files.
#include "rename/TBatchFolder.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <cstring>
#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace vantelo {
namespace {

constexpr long kFuseMagic = 0x65735546;
constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;

uint64_t FsIdOf(const struct statfs& sf) {
    uint64_t id = 0;
    static_assert(sizeof sf.f_fsid <= sizeof id * 2);
    int parts[2];
    std::memcpy(parts, &sf.f_fsid, sizeof parts);
    id = (static_cast<uint64_t>(static_cast<uint32_t>(parts[0])) << 32) | static_cast<uint32_t>(parts[1]);
    return id;
}

// File systems whose inode numbers are made up at mount time.
bool InodesMadeUp(const struct statfs& sf) {
    const long type = static_cast<long>(sf.f_type);
    return type == kFuseMagic || type == kMsdosMagic || type == kExfatMagic;
}

}  // namespace

bool TBatchFolder::SyncfsReaches(int fd) {
    struct statfs sf;
    return ::fstatfs(fd, &sf) != 0 || static_cast<long>(sf.f_type) != kFuseMagic;
}

TRenameJournal::Folder TBatchFolder::Describe(const std::string& path, int fd) {
    TRenameJournal::Folder folder;
    folder.path = path;
    struct stat st;
    if (::fstat(fd, &st) == 0) folder.identity = TFileIdentity::Of(st);
    struct statfs sf;
    if (::fstatfs(fd, &sf) == 0) folder.fsid = FsIdOf(sf);
    return folder;
}

int TBatchFolder::Open(const TRenameJournal::Folder& folder) {
    fd_.Reset();
    TFd opened(::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.Get() < 0) return errno != 0 ? errno : ENOENT;
    struct stat st;
    struct statfs sf;
    if (::fstat(opened.Get(), &st) != 0 || ::fstatfs(opened.Get(), &sf) != 0) return errno;
    recordedDevice_ = folder.identity.device;
    device_ = st.st_dev;
    if (InodesMadeUp(sf)) {
        // Numbers made up at mount time hold only within one mount, and a
        // mount made again cannot be told from the same one (a stick plugged
        // in again gets the same device and often the same mount id): the
        // folder is known by its path and its files by name, size and time.
        strength_ = Strength::Weak;
    } else if (TFileIdentity::Of(st).SameFile(folder.identity)) {
        strength_ = Strength::Exact;
    } else if (folder.fsid != 0 && FsIdOf(sf) == folder.fsid && st.st_ino == folder.identity.inode) {
        strength_ = Strength::Replugged;
    } else {
        return ESTALE;
    }
    fd_ = std::move(opened);
    return 0;
}

TFileIdentity TBatchFolder::Translate(const TFileIdentity& recorded) const {
    TFileIdentity now = recorded;
    if (strength_ == Strength::Replugged && recorded.device == recordedDevice_) now.device = device_;
    return now;
}

bool TBatchFolder::SameFile(const struct stat& now, const TFileIdentity& recorded) const {
    if (strength_ == Strength::Weak) return TFileIdentity::Of(now).SameContentMarks(recorded);
    return TFileIdentity::Of(now).SameFile(Translate(recorded));
}

bool TBatchFolder::SameState(const struct stat& now, const TFileIdentity& recorded) const {
    if (strength_ == Strength::Weak) return TFileIdentity::Of(now).SameContentMarks(recorded);
    return TFileIdentity::Of(now).SameState(Translate(recorded));
}

bool TBatchFolder::Untouched(const struct stat& now, const TFileIdentity& recorded) const {
    if (strength_ != Strength::Exact) return SameState(now, recorded);
    return TFileIdentity::Of(now).Untouched(recorded);
}

}  // namespace vantelo
