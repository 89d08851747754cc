// What a real exFAT stick mounted through FUSE offers the batch rename
// (support/TExfatMount.h): no hard links, no RENAME_NOREPLACE, no unnamed
// files, inode numbers handed out afresh at every mount; and that a batch
// still works there, by staged copies.
#include "DirState.h"
#include "RenameRun.h"

#include "rename/TRenameHistory.h"
#include "support/TExfatMount.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static const bool kPrivateMounts = vantelo::test::TStallMount::EnterPrivateNamespace();

namespace vantelo::reliability {
namespace {

class ExfatOverFuse : public ::testing::Test {
protected:
    void SetUp() override {
        if (!stick_.Mounted()) GTEST_SKIP() << stick_.WhyNot();
        root_ = stick_.MountPoint();
    }
    std::string Path(const std::string& name) const { return root_ + "/" + name; }
    void Write(const std::string& name, const std::string& content) const {
        const int fd = ::open(Path(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << name << ": " << std::strerror(errno);
        ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ASSERT_EQ(::close(fd), 0);
    }
    ino_t Inode(const std::string& name) const {
        struct stat st {};
        EXPECT_EQ(::stat(Path(name).c_str(), &st), 0) << name;
        return st.st_ino;
    }

    test::TTempDir temp_;
    test::TExfatMount stick_{temp_.Path()};
    std::string root_;
};

TEST_F(ExfatOverFuse, KeepsFilesAcrossARemount) {
    Write("photo.jpg", "pixels");
    ASSERT_TRUE(stick_.Remount()) << stick_.WhyNot();
    std::string content;
    {
        std::FILE* file = std::fopen(Path("photo.jpg").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        char buffer[64];
        content.assign(buffer, std::fread(buffer, 1, sizeof buffer, file));
        std::fclose(file);
    }
    EXPECT_EQ(content, "pixels");
}

TEST_F(ExfatOverFuse, RefusesHardLinksRenameFlagsAndUnnamedFiles) {
    Write("a", "1");
    errno = 0;
    EXPECT_NE(::link(Path("a").c_str(), Path("b").c_str()), 0);
    EXPECT_EQ(errno, EPERM) << "hard links";
    errno = 0;
    EXPECT_NE(::renameat2(AT_FDCWD, Path("a").c_str(), AT_FDCWD, Path("c").c_str(), RENAME_NOREPLACE), 0);
    EXPECT_EQ(errno, EINVAL) << "RENAME_NOREPLACE";
    errno = 0;
    const int unnamed = ::open(root_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    EXPECT_LT(unnamed, 0);
    EXPECT_EQ(errno, EOPNOTSUPP) << "O_TMPFILE";
    if (unnamed >= 0) ::close(unnamed);
    // A plain rename, which replaces, is all there is.
    EXPECT_EQ(::rename(Path("a").c_str(), Path("c").c_str()), 0);
    EXPECT_EQ(::access(Path("a").c_str(), F_OK), -1);
}

// The daemon numbers inodes in the order it is asked about them, from 2 at
// every mount: after a remount a number may name another file.
TEST_F(ExfatOverFuse, InodeNumbersDoNotSurviveARemount) {
    Write("first", "1");
    Write("second", "2");
    const ino_t first = Inode("first"), second = Inode("second");
    EXPECT_NE(first, second);
    ASSERT_TRUE(stick_.Remount()) << stick_.WhyNot();
    // Asked the other way round this time.
    const ino_t secondNow = Inode("second"), firstNow = Inode("first");
    EXPECT_EQ(secondNow, first) << "the first file asked about takes the first number";
    EXPECT_EQ(firstNow, second);
}

// Where nothing renames in place and nothing links, a batch that deletes
// the old files still finishes, by copies staged under a private name.
TEST_F(ExfatOverFuse, ABatchFinishesByStagedCopies) {
    Rows rows;
    for (int i = 0; i < 5; ++i) {
        const std::string name = "photo-" + std::to_string(i) + ".jpg";
        Write(name, std::string(static_cast<size_t>(1000 * i + 1), static_cast<char>('a' + i)));
        rows.emplace_back(name, "image-" + std::to_string(i) + ".jpg");
    }
    const DirState before = Snapshot(root_);
    test::TTempDir state;
    const std::string database = state / "FileName.mdb";
    CreateDatabase(database);
    EXPECT_EQ(RunRenameJob(root_, database, rows, /*deleteOld=*/true).shown, 0);
    const DirState after = Snapshot(root_);
    EXPECT_TRUE(NothingLost(before, after, rows));
    for (const auto& [oldName, newName] : rows) {
        EXPECT_EQ(after.count(oldName), 0u) << oldName;
        EXPECT_EQ(after.count(newName), 1u) << newName;
    }
}

// A stick unplugged and plugged in again gives its files new inode numbers:
// Ctrl+Z still undoes the batch, by the same staged copies, telling the files
// by name, size and time and saying that the check was the weaker one.
TEST_F(ExfatOverFuse, UndoAfterARemountGivesEveryFileBackByStagedCopies) {
    test::TTempDir state;
    ::setenv("XDG_STATE_HOME", (state / "state").c_str(), 1);
    Rows rows;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "photo-" + std::to_string(i) + ".jpg";
        Write(name, std::string(static_cast<size_t>(700 * i + 3), static_cast<char>('k' + i)));
        rows.emplace_back(name, "image-" + std::to_string(i) + ".jpg");
    }
    const DirState before = Snapshot(root_);
    const std::string database = state / "FileName.mdb";
    CreateDatabase(database);
    ASSERT_EQ(RunRenameJob(root_, database, rows, /*deleteOld=*/true).shown, 0);
    ASSERT_TRUE(stick_.Remount()) << stick_.WhyNot();

    const auto undone = TRenameHistory().UndoLast();
    ASSERT_TRUE(undone);
    EXPECT_FALSE(undone->folderAway);
    EXPECT_TRUE(undone->weakCheck);
    EXPECT_EQ(undone->undone, rows.size());
    EXPECT_EQ(undone->changed, 0u);
    const DirState after = Snapshot(root_);
    for (const auto& [oldName, newName] : rows) {
        ASSERT_EQ(after.count(oldName), 1u) << oldName;
        EXPECT_TRUE(after.at(oldName).SameContent(before.at(oldName))) << oldName;
        EXPECT_EQ(after.count(newName), 0u) << newName;
    }
    EXPECT_EQ(after.size(), before.size());  // no staging or private name left
}

}  // namespace
}  // namespace vantelo::reliability
