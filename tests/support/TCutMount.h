// A disk that loses power on command, for the tests of what survives a
// power cut: the tests' own FUSE file system (tests/support/cutfs.c, built
// as "cutfs" beside the tests) mounted in a private mount namespace.
//
// What the model keeps (see cutfs.c): a file's content and metadata once
// fsync'ed or fdatasync'ed, a folder's entries once the folder is fsync'ed;
// syncfs() and close() are no barrier on it.
//
// As with TStallMount, the namespace is entered from a static initializer:
//   static const bool kPrivate = vantelo::test::TStallMount::EnterPrivateNamespace();
// Then:
//   TCutMount disk(dir / "disk");
//   if (!disk.Mounted()) GTEST_SKIP() << disk.WhyNot();
//   ... make files ...; disk.SyncAll();   // a clean start: all of it on disk
//   disk.CutAt(n);     // the nth mutating call from now never returns and
//   ...                // every call after it fails with EIO: kill the caller
//   disk.PowerBack();  // only what was on disk is left; calls answered again
// The mount goes (detached, daemon ended) with the object.
#pragma once

#include "support/TFuseDaemon.h"
#include "support/TStallMount.h"

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
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace vantelo::test {

class TCutMount {
public:
    // Mounts cutfs, empty, on `mountPoint` (created when missing).
    explicit TCutMount(std::string mountPoint) : mountPoint_(std::move(mountPoint)), control_(mountPoint_ + "/.cutfs")
    {
        if (!TStallMount::EnterPrivateNamespace()) {
            whyNot_ = TStallMount::NamespaceError().empty() ? "the private mount namespace was not entered at start-up"
                                                            : TStallMount::NamespaceError();
            return;
        }
        const char* binaryDir = std::getenv("VANTELO_BINARY_DIR");
        const std::string program = std::string(binaryDir ? binaryDir : ".") + "/tests/cutfs";
        if (access(program.c_str(), X_OK) != 0) {
            whyNot_ = program + " is not built (needs libfuse3-dev)";
            return;
        }
        if (whyNot_ = TFuseDaemon::FuseWhyNot(); !whyNot_.empty())
            return;
        whyNot_ = daemon_.Start(mountPoint_, {program, mountPoint_, "-f", "-s", "-o", "fsname=cutfs,subtype=cutfs"},
                                LogPath());
    }

    ~TCutMount()
    {
        if (daemon_.Running())
            PowerBack();
    }
    TCutMount(const TCutMount&) = delete;
    TCutMount& operator=(const TCutMount&) = delete;

    bool Mounted() const { return daemon_.Mounted(); }
    const std::string& WhyNot() const { return whyNot_; }
    const std::string& MountPoint() const { return mountPoint_; }
    // The daemon's output: with Log(true), every call it counted.
    std::string LogPath() const { return mountPoint_ + ".log"; }

    // The mutating calls counted since the last cut, power-back or reset.
    long CountOps() const { return Status().ops; }
    // Whether the cut has happened (the power is off).
    bool Fired() const { return Status().fired; }
    void ResetCount() const { Send("reset"); }
    // The nth mutating call from now never returns (kill its caller once
    // Fired()), and every call after it fails with EIO.
    void CutAt(long n) const { Send("cut " + std::to_string(n)); }
    // Only what was on disk is left; the count starts again; calls are
    // answered again.
    void PowerBack() const { Send("power"); }
    // Everything as it is now goes on disk (a clean start).
    void SyncAll() const { Send("sync"); }
    // Remembers the whole file system (SyncAll() first: all of it on disk)...
    void Save() const { Send("save"); }
    // ...and goes back to it, the count at 0 and the power on: the files
    // have new inode numbers.
    void Restore() const { Send("restore"); }
    // A file system without RENAME_NOREPLACE (any rename flag: EINVAL)...
    void RefuseRenameFlags(bool refuse) const { Send(std::string("norenameflags ") + (refuse ? "1" : "0")); }
    // ...and without hard links (EPERM).
    void RefuseLinks(bool refuse) const { Send(std::string("nolinks ") + (refuse ? "1" : "0")); }
    void Log(bool on) const { Send(std::string("log ") + (on ? "1" : "0")); }

private:
    struct Counts {
        long ops = -1;
        bool fired = false;
    };

    void Send(const std::string& command) const
    {
        const int fd = open(control_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        const std::string line = command + "\n";
        [[maybe_unused]] const ssize_t written = write(fd, line.data(), line.size());
        close(fd);
    }

    Counts Status() const
    {
        Counts counts;
        const int fd = open(control_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return counts;
        char text[128] = {};
        const ssize_t got = pread(fd, text, sizeof text - 1, 0);
        close(fd);
        long cut = 0;
        int fired = 0;
        if (got > 0 && std::sscanf(text, "ops %ld cut %ld fired %d", &counts.ops, &cut, &fired) == 3)
            counts.fired = fired != 0;
        return counts;
    }

    std::string mountPoint_;
    std::string control_;
    std::string whyNot_;
    TFuseDaemon daemon_;  // last: it goes first, taking the mount with it
};

}  // namespace vantelo::test
