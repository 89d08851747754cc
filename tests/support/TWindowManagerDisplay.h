// Where windows appear under a real window manager, which frames a window
// only after it is mapped: the outer test starts a virtual X server (Xvfb)
// and a small window manager (openbox) and runs an inner test of the same
// program again on that display; it skips when either program is missing.
//
//   TEST(Outer, ...) {
//       std::string skip;
//       const int status = test::RunUnderWindowManager("Inner.*", kInnerFlag, skip);
//       if (!skip.empty()) GTEST_SKIP() << skip;
//       EXPECT_EQ(status, 0) << "the inner run failed; its output is above";
//   }
//   TEST(Inner, ...) { if (!std::getenv(kInnerFlag)) GTEST_SKIP(); ... }
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace vantelo::test {

// How long the display's programs may take on a loaded machine: for the
// window manager to start, and for it to frame a mapped window; in
// milliseconds, as the toolkit's waits take it.
inline constexpr int kWindowManagerPatience = 30000;

// A program found on PATH, or empty.
inline std::string FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// This process's environment with some variables set.
class TEnvironment {
public:
    TEnvironment(std::initializer_list<std::pair<std::string, std::string>> changes)
    {
        for (char** each = environ; *each; ++each) {
            const std::string entry = *each;
            bool replaced = false;
            for (const auto& [name, value] : changes)
                replaced = replaced || entry.rfind(name + "=", 0) == 0;
            if (!replaced)
                entries_.push_back(entry);
        }
        for (const auto& [name, value] : changes)
            entries_.push_back(name + "=" + value);
        for (std::string& entry : entries_)
            pointers_.push_back(entry.data());
        pointers_.push_back(nullptr);
    }
    char** Get() { return pointers_.data(); }

private:
    std::vector<std::string> entries_;
    std::vector<char*> pointers_;
};

// A child process that is ended (SIGTERM) and reaped with the object.
class TChild {
public:
    // `keepFd` becomes the child's descriptor 3; a quiet child writes no output.
    TChild(const std::vector<std::string>& arguments, char** environment, int keepFd = -1, bool quiet = true)
    {
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (keepFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, keepFd, 3);
        if (quiet)
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environment) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TChild()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    bool Started() const { return pid_ > 0; }
    // Waits for the end; the exit status, or -1.
    int Wait()
    {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

// Runs this program again with --gtest_filter=`filter` and `innerFlag` set,
// on a fresh X display managed by openbox, with the toolkit on it. Answers
// the inner run's exit status (its output goes to this one's); when the
// display cannot be had, answers -1 and says why in `skip`.
inline int RunUnderWindowManager(const std::string& filter, const char* innerFlag, std::string& skip)
{
    const std::string xvfb = FindProgram("Xvfb");
    const std::string openbox = FindProgram("openbox");
    const std::string xprop = FindProgram("xprop");
    if (xvfb.empty() || openbox.empty() || xprop.empty()) {
        skip = "needs Xvfb, openbox and xprop";
        return -1;
    }
    // The X server tells its display number through a pipe.
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        skip = "no pipe";
        return -1;
    }
    TEnvironment plain({});
    TChild server({xvfb, "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, plain.Get(),
                  pipeFds[1]);
    close(pipeFds[1]);
    std::string display;
    pollfd ready{pipeFds[0], POLLIN, 0};
    char digits[16] = {};
    if (server.Started() && poll(&ready, 1, 10000) == 1) {
        const ssize_t got = read(pipeFds[0], digits, sizeof digits - 1);
        if (got > 0)
            display = ":" + std::string(digits, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    while (!display.empty() && (display.back() == '\n' || display.back() == ' '))
        display.pop_back();
    if (display.empty()) {
        skip = "Xvfb did not start";
        return -1;
    }

    TEnvironment onDisplay({{"DISPLAY", display}});
    TChild manager({openbox}, onDisplay.Get());
    if (!manager.Started()) {
        skip = "openbox did not start";
        return -1;
    }
    // The window manager is ready once it has announced itself on the root
    // window. On a loaded machine (the fault sweeps run beside this) starting
    // openbox can take seconds, so it gets a long patience.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWindowManagerPatience);
    for (;;) {
        TChild check({"/bin/sh", "-c", xprop + " -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'"},
                     onDisplay.Get());
        if (check.Wait() == 0)
            break;
        if (std::chrono::steady_clock::now() > giveUp) {
            skip = "openbox did not announce itself on the display";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    const char* binaryDir = std::getenv("VANTELO_BINARY_DIR");
    TEnvironment inner({{"DISPLAY", display},
                        {"QT_QPA_PLATFORM", "xcb"},
                        {innerFlag, "1"},
                        {"VANTELO_BINARY_DIR", binaryDir ? binaryDir : "."}});
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    TChild run({self, "--gtest_filter=" + filter}, inner.Get(), -1, false);
    return run.Wait();
}

}  // namespace vantelo::test
