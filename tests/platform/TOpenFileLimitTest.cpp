// The open-file limit is raised for work that holds many files open, within
// the hard limit, and never lowered.
#include "platform/TOpenFileLimit.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantelo {
namespace {

// The soft limit in force, as the kernel has it.
rlim_t SoftLimit()
{
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    return files.rlim_cur;
}

// Restores the limits the test found.
class TLimitsKept {
public:
    TLimitsKept() { getrlimit(RLIMIT_NOFILE, &found_); }
    ~TLimitsKept() { setrlimit(RLIMIT_NOFILE, &found_); }
    const rlimit& Found() const { return found_; }

private:
    rlimit found_{};
};

TEST(TOpenFileLimit, RaisesTheSoftLimitToWhatIsWantedAndNeverLowersIt)
{
    const TLimitsKept kept;
    if (kept.Found().rlim_max != RLIM_INFINITY && kept.Found().rlim_max < 2048)
        GTEST_SKIP() << "the hard limit here is below 2048";
    rlimit low = kept.Found();
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);

    EXPECT_EQ(TOpenFileLimit::RaiseTo(2048), 2048u);
    EXPECT_EQ(SoftLimit(), 2048u);
    EXPECT_EQ(TOpenFileLimit::RaiseTo(300), 2048u);
    EXPECT_EQ(SoftLimit(), 2048u);
}

TEST(TOpenFileLimit, StopsAtTheHardLimit)
{
    // A lowered hard limit cannot be raised again without privilege: the
    // child lowers its own.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit tight{300, 600};
        if (setrlimit(RLIMIT_NOFILE, &tight) != 0) _exit(2);
        const bool stopped = TOpenFileLimit::RaiseTo(5000) == 600 && SoftLimit() == 600;
        _exit(stopped ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vantelo
