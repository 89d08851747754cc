// A real exFAT stick, for the tests of what the tool does where a file
// system offers no hard links, no RENAME_NOREPLACE, no unnamed files and
// no fixed inode numbers: an exFAT image (mkfs.exfat, from exfatprogs) in a
// folder of the test, on a loop device, mounted through FUSE (exfat-fuse's
// mount.exfat-fuse, which as root wants a block device) in the private
// mount namespace.
//
// As with TStallMount, the namespace is entered from a static initializer:
//   static const bool kPrivate = vantelo::test::TStallMount::EnterPrivateNamespace();
// Then:
//   TExfatMount stick(temp.Path());
//   if (!stick.Mounted()) GTEST_SKIP() << stick.WhyNot();
//   ... stick.MountPoint() ...
//   stick.Remount();   // unplugged and plugged in again
// The mount, the daemon and the loop device go with the object.
#pragma once

#include "support/TFuseDaemon.h"
#include "support/TStallMount.h"
#include "support/TTempDir.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace vantelo::test {

class TExfatMount {
public:
    // A fresh exFAT file system of `megabytes` in `folder` (image and mount
    // point are made there), mounted.
    explicit TExfatMount(const std::string& folder, int megabytes = 32)
        : image_(folder + "/exfat.img"), mountPoint_(folder + "/exfat")
    {
        if (!TStallMount::EnterPrivateNamespace()) {
            whyNot_ = TStallMount::NamespaceError().empty() ? "the private mount namespace was not entered at start-up"
                                                            : TStallMount::NamespaceError();
            return;
        }
        if (geteuid() != 0) {
            whyNot_ = "needs root for a loop device";
            return;
        }
        if (whyNot_ = TFuseDaemon::FuseWhyNot(); !whyNot_.empty())
            return;
        if (Shell("command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null") != 0) {
            whyNot_ = "mkfs.exfat or mount.exfat-fuse is missing (exfatprogs, exfat-fuse)";
            return;
        }
        if (Shell("truncate -s " + std::to_string(megabytes) + "M '" + image_ + "' && mkfs.exfat '" + image_ +
                  "' >/dev/null 2>&1") != 0) {
            whyNot_ = "mkfs.exfat failed";
            return;
        }
        loop_ = ShellLine("losetup --find --show '" + image_ + "' 2>/dev/null");
        if (loop_.empty()) {
            whyNot_ = "no loop device could be set up";
            return;
        }
        Mount();
    }

    ~TExfatMount()
    {
        Unmount();
        if (!loop_.empty())
            Shell("losetup -d '" + loop_ + "' >/dev/null 2>&1");
    }
    TExfatMount(const TExfatMount&) = delete;
    TExfatMount& operator=(const TExfatMount&) = delete;

    bool Mounted() const { return daemon_.Mounted(); }
    const std::string& WhyNot() const { return whyNot_; }
    const std::string& MountPoint() const { return mountPoint_; }

    // Unplugged and plugged in again: every cached inode and every inode
    // number the daemon gave is gone. Answers Mounted().
    bool Remount()
    {
        Unmount();
        Mount();
        return daemon_.Mounted();
    }

    // Unmounts and waits for the daemon to end.
    void Unmount() { daemon_.Stop(); }

private:
    // The daemon in the foreground (-d, its trace thrown away), so that it
    // is ours to wait for and ends with the test however the test ends.
    void Mount() { whyNot_ = daemon_.Start(mountPoint_, {"mount.exfat-fuse", "-d", loop_, mountPoint_}); }


    std::string image_;
    std::string mountPoint_;
    std::string loop_;
    std::string whyNot_;
    TFuseDaemon daemon_;
};

}  // namespace vantelo::test
