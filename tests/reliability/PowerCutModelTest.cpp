// The disk model the power-cut sweep stands on (support/cutfs.c through
// support/TCutMount.h): after a power cut only what fsync made durable is
// left, a name only once its folder was flushed, and the cut stops the
// caller at the call it falls on.
#include "support/TCutMount.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

static const bool kPrivateMounts = vantelo::test::TStallMount::EnterPrivateNamespace();

namespace vantelo::test {
namespace {

class PowerCutModel : public ::testing::Test {
protected:
    void SetUp() override {
        if (!disk_.Mounted()) GTEST_SKIP() << disk_.WhyNot();
        ASSERT_EQ(::mkdir(Path("dir").c_str(), 0755), 0);
        disk_.SyncAll();
    }
    std::string Path(const std::string& name) const { return disk_.MountPoint() + "/" + name; }
    // Writes `content` to a new file; with `flush`, fsync'ed.
    void Make(const std::string& name, const std::string& content, bool flush) const {
        const int fd = ::open(Path(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
        ASSERT_GE(fd, 0) << name;
        ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        if (flush) {
            ASSERT_EQ(::fsync(fd), 0);
        }
        ::close(fd);
    }
    void FlushFolder(const std::string& name) const {
        const int fd = ::open(Path(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::fsync(fd), 0);
        ::close(fd);
    }
    // The file's content, or "<absent>".
    std::string Read(const std::string& name) const {
        const int fd = ::open(Path(name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return "<absent>";
        std::string content(4096, '\0');
        const ssize_t got = ::read(fd, content.data(), content.size());
        ::close(fd);
        content.resize(static_cast<size_t>(got > 0 ? got : 0));
        return content;
    }

    TTempDir temp_;
    TCutMount disk_{temp_ / "disk"};
};

TEST_F(PowerCutModel, KeepsAFileOnlyWhenItAndItsFolderWereFlushed) {
    Make("dir/neither", "1", false);
    Make("dir/fileOnly", "2", true);
    disk_.PowerBack();
    EXPECT_EQ(Read("dir/neither"), "<absent>");
    EXPECT_EQ(Read("dir/fileOnly"), "<absent>") << "a name needs its folder flushed";

    Make("dir/both", "3", true);
    Make("dir/folderOnly", "4", false);
    FlushFolder("dir");
    disk_.PowerBack();
    EXPECT_EQ(Read("dir/both"), "3");
    EXPECT_EQ(Read("dir/folderOnly"), "") << "a name flushed without its file comes back empty";
}

TEST_F(PowerCutModel, UndoesRenamesUnlinksAndMetadataNotFlushed) {
    Make("dir/a", "old", true);
    FlushFolder("dir");
    struct stat before {};
    ASSERT_EQ(::stat(Path("dir/a").c_str(), &before), 0);
    ASSERT_EQ(::chmod(Path("dir/a").c_str(), 0600), 0);
    ASSERT_EQ(::setxattr(Path("dir/a").c_str(), "user.tag", "x", 1, 0), 0);
    ASSERT_EQ(::link(Path("dir/a").c_str(), Path("dir/second").c_str()), 0);
    ASSERT_EQ(::rename(Path("dir/a").c_str(), Path("dir/b").c_str()), 0);
    disk_.PowerBack();
    struct stat after {};
    ASSERT_EQ(::stat(Path("dir/a").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "inode numbers stay";
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_nlink, 1u);
    EXPECT_EQ(::getxattr(Path("dir/a").c_str(), "user.tag", nullptr, 0), -1);
    EXPECT_EQ(Read("dir/b"), "<absent>");
    EXPECT_EQ(Read("dir/second"), "<absent>");

    ASSERT_EQ(::unlink(Path("dir/a").c_str()), 0);
    disk_.PowerBack();
    EXPECT_EQ(Read("dir/a"), "old") << "an unlink not flushed";
}

TEST_F(PowerCutModel, RefusesRenameFlagsAndLinksOnRequest) {
    Make("dir/a", "1", false);
    EXPECT_NE(::renameat2(AT_FDCWD, Path("dir/a").c_str(), AT_FDCWD, Path("dir/a").c_str(), RENAME_NOREPLACE), 0);
    EXPECT_EQ(::renameat2(AT_FDCWD, Path("dir/a").c_str(), AT_FDCWD, Path("dir/b").c_str(), RENAME_NOREPLACE), 0);
    disk_.RefuseRenameFlags(true);
    disk_.RefuseLinks(true);
    errno = 0;
    EXPECT_NE(::renameat2(AT_FDCWD, Path("dir/b").c_str(), AT_FDCWD, Path("dir/c").c_str(), RENAME_NOREPLACE), 0);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_NE(::link(Path("dir/b").c_str(), Path("dir/c").c_str()), 0);
    EXPECT_EQ(errno, EPERM);
}

// The nth mutating call never returns; its caller is killed; every call
// after the cut fails; the power back answers again, with what was flushed.
TEST_F(PowerCutModel, CutsAtTheNthMutatingCall) {
    disk_.ResetCount();
    Make("dir/one", "1", true);  // create, write, fsync
    EXPECT_EQ(disk_.CountOps(), 3);
    FlushFolder("dir");
    disk_.CutAt(3);
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(Path("dir/two").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0640);  // 1
        [[maybe_unused]] const ssize_t written = ::write(fd, "2", 1);                        // 2
        ::fsync(fd);                                                                          // 3: cut
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    while (!disk_.Fired()) ::usleep(1000);
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the call the cut fell on returned";
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    struct stat st {};
    errno = 0;
    EXPECT_NE(::stat(Path("dir/one").c_str(), &st), 0);
    EXPECT_EQ(errno, EIO) << "the power is off";
    disk_.PowerBack();
    EXPECT_EQ(Read("dir/one"), "1");
    EXPECT_EQ(Read("dir/two"), "<absent>");
    EXPECT_EQ(disk_.CountOps(), 0);
}

// A fresh start for every run of a sweep: back to what was saved, under
// new inode numbers.
TEST_F(PowerCutModel, RestoresWhatWasSaved) {
    Make("dir/a", "saved", true);
    disk_.SyncAll();
    disk_.Save();
    struct stat saved {};
    ASSERT_EQ(::stat(Path("dir/a").c_str(), &saved), 0);
    ASSERT_EQ(::unlink(Path("dir/a").c_str()), 0);
    Make("dir/b", "later", true);
    disk_.Restore();
    EXPECT_EQ(Read("dir/a"), "saved");
    EXPECT_EQ(Read("dir/b"), "<absent>");
    struct stat restored {};
    ASSERT_EQ(::stat(Path("dir/a").c_str(), &restored), 0);
    EXPECT_NE(restored.st_ino, saved.st_ino);
    disk_.PowerBack();
    EXPECT_EQ(Read("dir/a"), "saved") << "what was saved is on disk";
}

}  // namespace
}  // namespace vantelo::test
