// Small file systems made for one test and taken down with it: a tmpfs with
// a size or inode limit, a read-only bind mount, an ext4 image on a loop
// device. They need root and a kernel that lets this process mount; when it
// cannot, Mount*() returns the reason and the test skips with it.
#pragma once

#include "support/TTempDir.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantelo::reliability {

class TScratchMount {
public:
    TScratchMount() : point_(temp_ / "mnt") { ::mkdir(point_.c_str(), 0755); }
    ~TScratchMount() { Unmount(); }
    TScratchMount(const TScratchMount&) = delete;
    TScratchMount& operator=(const TScratchMount&) = delete;

    // Where the file system is mounted (empty until mounted).
    const std::string& Path() const { return point_; }

    // A tmpfs with the given mount options ("size=1m", "nr_inodes=8").
    // Returns "" or why it could not be mounted.
    std::string MountTmpfs(const std::string& options) {
        if (const std::string why = NeedRoot(); !why.empty()) return why;
        if (::mount("vantelo-test", point_.c_str(), "tmpfs", 0, options.c_str()) != 0)
            return "tmpfs mount not permitted: " + std::string(std::strerror(errno));
        mounted_ = true;
        return {};
    }

    // `source` seen read-only at Path(). Returns "" or why not.
    std::string MountReadOnlyBind(const std::string& source) {
        if (const std::string why = NeedRoot(); !why.empty()) return why;
        if (::mount(source.c_str(), point_.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return "bind mount not permitted: " + std::string(std::strerror(errno));
        mounted_ = true;
        if (::mount(nullptr, point_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return "read-only remount not permitted: " + std::string(std::strerror(errno));
        return {};
    }

    // A fresh ext4 file system of `megabytes` on a loop device. Returns "" or
    // why not (no mkfs.ext4, no loop device...).
    std::string MountExt4Image(int megabytes) {
        if (const std::string why = NeedRoot(); !why.empty()) return why;
        const std::string image = temp_ / "image.ext4";
        if (test::Shell("truncate -s " + std::to_string(megabytes) + "M '" + image + "' && mkfs.ext4 -q -F '" + image +
                        "' >/dev/null 2>&1") != 0)
            return "mkfs.ext4 not available";
        if (test::Shell("mount -o loop '" + image + "' '" + point_ + "' >/dev/null 2>&1") != 0)
            return "loop mount not permitted";
        mounted_ = true;
        return {};
    }

    void Unmount() {
        if (!mounted_) return;
        if (::umount2(point_.c_str(), 0) != 0) ::umount2(point_.c_str(), MNT_DETACH);
        mounted_ = false;
    }

private:
    static std::string NeedRoot() { return ::geteuid() == 0 ? std::string() : "needs root to mount"; }

    test::TTempDir temp_;  // declared first: outlives the mount
    std::string point_;
    bool mounted_ = false;
};

}  // namespace vantelo::reliability
