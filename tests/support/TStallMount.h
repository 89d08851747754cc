// A mount that stops answering on command, for tests of what the tool does
// when a network or FUSE file system hangs: the tests' own FUSE file system
// (tests/support/stallfs.c, built as "stallfs" beside the tests) mounted in
// a private mount namespace, so nothing else on the machine sees it.
//
// The namespace has to be entered while the process has one thread only:
// call EnterPrivateNamespace() from a static initializer of the test file,
//   static const bool kPrivate = vantelo::test::TStallMount::EnterPrivateNamespace();
// Then, in a test:
//   TStallMount mount(dir / "dead");
//   if (!mount.Mounted()) GTEST_SKIP() << mount.WhyNot();
//   mount.Stall();    // every call that reaches it now waits...
//   mount.Answer();   // ...until this
// The mount goes (unstalled, detached, daemon ended) with the object.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace vantelo::test {

class TStallMount {
public:
    // Puts this process into a mount namespace of its own whose mounts do
    // not propagate back. True when that worked; otherwise NamespaceError()
    // says why. Later calls answer as the first did.
    static bool EnterPrivateNamespace()
    {
        static const bool entered = [] {
            if (unshare(CLONE_NEWNS) != 0) {
                NamespaceError() = std::string("no private mount namespace: ") + std::strerror(errno);
                return false;
            }
            if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                NamespaceError() = std::string("mounts cannot be made private: ") + std::strerror(errno);
                return false;
            }
            return true;
        }();
        return entered;
    }
    static std::string& NamespaceError()
    {
        static std::string error;
        return error;
    }

    // Mounts stallfs on `mountPoint` (an empty folder, created when missing).
    explicit TStallMount(std::string mountPoint)
        : mountPoint_(std::move(mountPoint)), stallFile_(mountPoint_ + ".stall")
    {
        if (!EnterPrivateNamespace()) {
            whyNot_ = NamespaceError().empty() ? "the private mount namespace was not entered at start-up"
                                               : NamespaceError();
            return;
        }
        const char* binaryDir = std::getenv("VANTELO_BINARY_DIR");
        const std::string program = std::string(binaryDir ? binaryDir : ".") + "/tests/stallfs";
        if (access(program.c_str(), X_OK) != 0) {
            whyNot_ = program + " is not built (needs libfuse3-dev)";
            return;
        }
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            whyNot_ = std::string("/dev/fuse cannot be used: ") + std::strerror(errno);
            return;
        }
        mkdir(mountPoint_.c_str(), 0755);
        pid_ = fork();
        if (pid_ == 0) {
            // The daemon ends with the test process, however that ends.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            execl(program.c_str(), "stallfs", stallFile_.c_str(), mountPoint_.c_str(), "-f", "-s", "-o",
                  "fsname=stallfs,subtype=stallfs,attr_timeout=0,entry_timeout=0,negative_timeout=0", static_cast<char*>(nullptr));
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
                whyNot_ = "stallfs could not mount (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
                return;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                whyNot_ = "stallfs did not mount within 10 s";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        mounted_ = true;
    }

    ~TStallMount()
    {
        Answer();
        if (pid_ <= 0)
            return;
        // Answering again, the daemon unmounts and ends on SIGTERM; if it
        // does not, the mount is cut off and the daemon killed.
        Answer();
        kill(pid_, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (mounted_)
            umount2(mountPoint_.c_str(), MNT_DETACH);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    TStallMount(const TStallMount&) = delete;
    TStallMount& operator=(const TStallMount&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& WhyNot() const { return whyNot_; }
    const std::string& MountPoint() const { return mountPoint_; }

    // Every call that reaches the file system waits from now on...
    void Stall() const
    {
        const int fd = open(stallFile_.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
    }
    // ...until it answers again. Calls that were waiting go on.
    void Answer() const { unlink(stallFile_.c_str()); }

private:
    // Whether the mount table lists stallfs on the mount point (reading the
    // table asks nothing of the mount itself).
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

    std::string mountPoint_;
    std::string stallFile_;  // while it exists, the file system does not answer
    pid_t pid_ = -1;
    bool mounted_ = false;
    std::string whyNot_;
};

}  // namespace vantelo::test
