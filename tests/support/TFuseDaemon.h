// One FUSE daemon of a test's, run in the foreground so that it is the
// test's to wait for: started on a mount point in the private mount
// namespace (see TStallMount::EnterPrivateNamespace), waited for until the
// mount table lists it, and stopped (unmounted, then ended) when asked or
// with the object. The daemon ends with the test process however that ends.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vantelo::test {

class TFuseDaemon {
public:
    TFuseDaemon() = default;
    ~TFuseDaemon() { Stop(); }
    TFuseDaemon(const TFuseDaemon&) = delete;
    TFuseDaemon& operator=(const TFuseDaemon&) = delete;

    // Whether /dev/fuse can be used: "" or why not.
    static std::string FuseWhyNot()
    {
        if (access("/dev/fuse", R_OK | W_OK) != 0)
            return std::string("/dev/fuse cannot be used: ") + std::strerror(errno);
        return {};
    }

    // Runs `argv` (argv[0] found on the PATH when it holds no "/") to mount
    // on `mountPoint` (made when missing), its output to `output`, and waits
    // up to 10 s for the mount. Answers "" or why it did not mount.
    std::string Start(const std::string& mountPoint, const std::vector<std::string>& argv,
                      const std::string& output = "/dev/null")
    {
        mountPoint_ = mountPoint;
        mkdir(mountPoint_.c_str(), 0755);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (pid_ < 0)
            return std::string("fork: ") + std::strerror(errno);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!IsMounted()) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return argv[0] + " could not mount (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
            }
            if (std::chrono::steady_clock::now() > deadline)
                return argv[0] + " did not mount within 10 s";
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        mounted_ = true;
        return {};
    }

    bool Mounted() const { return mounted_; }
    bool Running() const { return pid_ > 0; }

    // Unmounts (detaching a mount that will not go) and ends the daemon:
    // politely first, then by force. With `unmount` false the daemon is
    // asked to end and unmount on its own.
    void Stop(bool unmount = true)
    {
        if (pid_ <= 0)
            return;
        if (mounted_ && unmount && umount2(mountPoint_.c_str(), 0) != 0)
            umount2(mountPoint_.c_str(), MNT_DETACH);
        kill(pid_, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                mounted_ = false;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (mounted_)
            umount2(mountPoint_.c_str(), MNT_DETACH);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        mounted_ = false;
    }

private:
    // Whether the mount table lists a FUSE mount on the mount point (reading
    // the table asks nothing of the mount itself).
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
    pid_t pid_ = -1;
    bool mounted_ = false;
};

}  // namespace vantelo::test
