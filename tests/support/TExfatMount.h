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
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            whyNot_ = std::string("/dev/fuse cannot be used: ") + std::strerror(errno);
            return;
        }
        if (Shell("command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null") != 0) {
            whyNot_ = "mkfs.exfat or mount.exfat-fuse is missing (exfatprogs, exfat-fuse)";
            return;
        }
        if (Shell("truncate -s " + std::to_string(megabytes) + "M '" + image_ + "' && mkfs.exfat '" + image_ +
                  "' >/dev/null 2>&1") != 0) {
            whyNot_ = "mkfs.exfat failed";
            return;
        }
        loop_ = Output("losetup --find --show '" + image_ + "' 2>/dev/null");
        if (loop_.empty()) {
            whyNot_ = "no loop device could be set up";
            return;
        }
        mkdir(mountPoint_.c_str(), 0755);
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

    bool Mounted() const { return mounted_; }
    const std::string& WhyNot() const { return whyNot_; }
    const std::string& MountPoint() const { return mountPoint_; }

    // Unplugged and plugged in again: every cached inode and every inode
    // number the daemon gave is gone. Answers Mounted().
    bool Remount()
    {
        Unmount();
        Mount();
        return mounted_;
    }

    // Unmounts and waits for the daemon to end.
    void Unmount()
    {
        if (pid_ <= 0)
            return;
        if (mounted_ && umount2(mountPoint_.c_str(), 0) != 0)
            umount2(mountPoint_.c_str(), MNT_DETACH);
        mounted_ = false;
        for (int i = 0; i < 500; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    // The daemon in the foreground (-d, its trace thrown away), so that it
    // is ours to wait for and ends with the test however the test ends.
    void Mount()
    {
        whyNot_.clear();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execlp("mount.exfat-fuse", "mount.exfat-fuse", "-d", loop_.c_str(), mountPoint_.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) {
            whyNot_ = std::string("fork: ") + std::strerror(errno);
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!IsMounted()) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                whyNot_ = "mount.exfat-fuse could not mount (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
                return;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                whyNot_ = "mount.exfat-fuse did not mount within 10 s";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        mounted_ = true;
    }

    bool IsMounted() const
    {
        std::ifstream table("/proc/self/mounts");
        std::string line;
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string source, point, type;
            if (fields >> source >> point >> type && point == mountPoint_ && type.rfind("fuse", 0) == 0)
                return true;
        }
        return false;
    }

    // The first line a shell command prints.
    static std::string Output(const std::string& command)
    {
        std::string line;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[256];
            if (fgets(buffer, sizeof buffer, pipe))
                line = buffer;
            pclose(pipe);
        }
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        return line;
    }

    std::string image_;
    std::string mountPoint_;
    std::string loop_;
    pid_t pid_ = -1;
    bool mounted_ = false;
    std::string whyNot_;
};

}  // namespace vantelo::test
