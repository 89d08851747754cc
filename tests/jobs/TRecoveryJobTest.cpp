// Which database the start-up's recovery takes the earlier layout's batches
// from: the user's own in the per-user data folder, however it is named,
// and never any other.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "jobs/TRecoveryJob.h"
#include "support/TTempDir.h"

namespace vantelo {
namespace {

using test::TTempDir;

// Sets an environment variable for the test's length.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~EnvGuard() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(RecoveryJobTest, TakesOverOnlyTheUsersOwnDatabaseInTheDataFolder)
{
    TTempDir home, elsewhere;
    const EnvGuard homeVar("HOME", home.Path().c_str());
    const EnvGuard data("XDG_DATA_HOME", (home / "data").c_str());
    ASSERT_EQ(::mkdir((home / "data").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((home / "data/vantelo").c_str(), 0700), 0);
    home.WriteFile("data/vantelo/FileName.mdb", "");
    elsewhere.WriteFile("FileName.mdb", "");
    ASSERT_EQ(::symlink((home / "data/vantelo/FileName.mdb").c_str(), (elsewhere / "link.mdb").c_str()), 0);
    char own[PATH_MAX];
    ASSERT_TRUE(realpath((home / "data/vantelo/FileName.mdb").c_str(), own));

    EXPECT_EQ(TRecoveryJob::EarlierLayout(home / "data/vantelo/FileName.mdb"), own);
    EXPECT_EQ(TRecoveryJob::EarlierLayout(home / "data/vantelo/../vantelo/FileName.mdb"), own);
    EXPECT_EQ(TRecoveryJob::EarlierLayout(elsewhere / "link.mdb"), own);  // the same file
    EXPECT_EQ(TRecoveryJob::EarlierLayout(elsewhere / "FileName.mdb"), "");
    EXPECT_EQ(TRecoveryJob::EarlierLayout(""), "");
    {
        const EnvGuard noHome("HOME", nullptr);
        EXPECT_EQ(TRecoveryJob::EarlierLayout(home / "data/vantelo/FileName.mdb"), "");
    }
}

}  // namespace
}  // namespace vantelo
