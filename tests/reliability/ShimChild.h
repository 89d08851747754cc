// Runs this test program again in a child process with the fault shim
// preloaded, selecting one hidden driver test and giving it its environment.
// Both fault sweeps (the rename engine's and the main window's) use it.
#pragma once

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vantelo::reliability {

// What the child did: exited with a status, or died of a signal; or the run
// could not be made at all (`trouble`). `log` is everything it printed.
struct ShimChild {
    bool exited = false;
    int exitStatus = 0;
    int signal = 0;
    std::string trouble;
    std::string log;
};

// An environment change: a value to set, or none to remove the variable.
using EnvChange = std::pair<std::string, std::optional<std::string>>;

inline ShimChild Failed(std::string what)
{
    ShimChild run;
    run.trouble = std::move(what);
    return run;
}

inline std::string SelfPath()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return std::string(path, static_cast<size_t>(length > 0 ? length : 0));
}

inline std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Re-executes this program under `shim` with `--gtest_filter=driverTest`
// (disabled tests included), the environment changed by `env`, its output in
// `logPath`; a child still running after 60 s dies of SIGALRM.
inline ShimChild RunUnderShim(const std::string& shim, const std::string& driverTest,
                              const std::vector<EnvChange>& env, const std::string& logPath)
{
    const std::string self = SelfPath();
    const std::string filter = "--gtest_filter=" + driverTest;
    const pid_t child = ::fork();
    if (child < 0)
        return Failed("fork failed");
    if (child == 0) {
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        ::setenv("LD_PRELOAD", shim.c_str(), 1);
        // The sanitizer runtime would insist on being loaded before the shim.
        const std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
        ::setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
        for (const auto& [name, value] : env) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        ::alarm(60);  // survives exec: a hung run dies of SIGALRM
        const char* argv[] = {self.c_str(), "--gtest_also_run_disabled_tests", filter.c_str(), nullptr};
        ::execv(self.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return Failed("waitpid failed");
    ShimChild run;
    run.log = ReadWhole(logPath);
    if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    else {
        run.exited = true;
        run.exitStatus = WEXITSTATUS(status);
    }
    return run;
}

}  // namespace vantelo::reliability
