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

#include "support/TFuseDaemon.h"

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
        if (whyNot_ = TFuseDaemon::FuseWhyNot(); !whyNot_.empty())
            return;
        whyNot_ = daemon_.Start(mountPoint_, {program, stallFile_, mountPoint_, "-f", "-s", "-o",
                                              "fsname=stallfs,subtype=stallfs,attr_timeout=0,entry_timeout=0,"
                                              "negative_timeout=0"});
    }

    ~TStallMount()
    {
        // Answering again, the daemon unmounts and ends on SIGTERM; if it
        // does not, the mount is cut off and the daemon killed.
        Answer();
        daemon_.Stop(/*unmount=*/false);
    }
    TStallMount(const TStallMount&) = delete;
    TStallMount& operator=(const TStallMount&) = delete;

    bool Mounted() const { return daemon_.Mounted(); }
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
    std::string mountPoint_;
    std::string stallFile_;  // while it exists, the file system does not answer
    TFuseDaemon daemon_;
    std::string whyNot_;
};

}  // namespace vantelo::test
