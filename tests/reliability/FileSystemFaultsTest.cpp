// The batch rename on file systems that refuse it for real: full of data or
// of inodes, files and directories that may not lose entries, a read-only
// mount and a directory the user may not write. Each case drives the rename
// job as the main window does and checks the error shown and that nothing
// was lost, left half-made or changed.
#include "DirState.h"
#include "RenameRun.h"
#include "ScratchMount.h"

#include "support/Nobody.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantelo::reliability {
namespace {

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

void WriteFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size())) << path;
    ::close(fd);
}

// A file system without hard links or renames that never replace (FAT over
// FUSE): the rename that deletes the old files must make real copies there.
class NoHardLinks : public NoRenameInPlace {
public:
    using NoRenameInPlace::NoRenameInPlace;
    int Fault(Step step, const std::string&) override { return step == Step::Link ? EPERM : 0; }
};

class FileSystemFaults : public ::testing::Test {
protected:
    void SetUp() override { CreateDatabase(start_ / "FileName.mdb"); }
    std::string Database() const { return start_ / "FileName.mdb"; }

    test::TTempDir start_;
};

TEST_F(FileSystemFaults, DiskFullMidBatchShowsENOSPCAndRollsEverythingBack) {
    TScratchMount mount;
    if (const std::string why = mount.MountTmpfs("size=1m,mode=0755"); !why.empty()) GTEST_SKIP() << why;
    WriteFile(mount.Path() + "/a.dat", RandomBytes(100 << 10, 1));
    WriteFile(mount.Path() + "/b.dat", RandomBytes(300 << 10, 2));
    WriteFile(mount.Path() + "/c.dat", RandomBytes(300 << 10, 3));
    const DirState before = Snapshot(mount.Path());

    struct Case {
        const char* why;
        bool deleteOld;
        TFileOps::Options options;
        bool linksWork;
    };
    const Case cases[] = {
        {"keep, unnamed temporary copies", false, {}, true},
        {"keep, copies written under their names", false, {.tmpFile = false}, true},
        {"keep, plain read and write", false, {.tmpFile = true, .clone = false, .copyRange = false}, true},
        {"delete, no hard links", true, {}, false},
        {"delete, no hard links, copies under their names", true, {.tmpFile = false}, false},
    };
    for (const Case& c : cases) {
        NoHardLinks noLinks(c.options);
        TFileOps plain(c.options);
        TFileOps& ops = c.linksWork ? plain : static_cast<TFileOps&>(noLinks);
        const RenameOutcome outcome = SearchAndRename(mount.Path(), Database(), ".dat", ".bin", c.deleteOld, ops);
        EXPECT_EQ(outcome.shown, ENOSPC) << c.why;
        EXPECT_EQ(outcome.message, "新文件生成失败，失败号为：28") << c.why;
        EXPECT_TRUE(SameDirectory(before, Snapshot(mount.Path()))) << c.why;
    }

    // Renames in place take no data space: the rename that deletes still fits.
    const Rows rows = SearchRows(mount.Path(), ".dat", ".bin");
    const RenameOutcome outcome = RunRenameJob(mount.Path(), Database(), rows, true);
    EXPECT_EQ(outcome.shown, 0);
    EXPECT_EQ(outcome.message, "文件名称修改成功");
    EXPECT_TRUE(Renamed(before, Snapshot(mount.Path()), rows, true));
}

TEST_F(FileSystemFaults, OutOfInodesShowsENOSPCAndRollsEverythingBack) {
    TScratchMount mount;
    // The root directory and three files leave room for one new entry.
    if (const std::string why = mount.MountTmpfs("nr_inodes=5,mode=0755"); !why.empty()) GTEST_SKIP() << why;
    for (const char* name : {"one.txt", "two.txt", "three.txt"}) WriteFile(mount.Path() + "/" + name, name);
    const DirState before = Snapshot(mount.Path());
    for (const bool tmpFile : {true, false}) {
        // Kept old files need an inode per copy; without links the old files
        // that go need one too.
        TFileOps keep(TFileOps::Options{.tmpFile = tmpFile});
        NoHardLinks noLinks(TFileOps::Options{.tmpFile = tmpFile});
        for (const bool deleteOld : {false, true}) {
            TFileOps& ops = deleteOld ? static_cast<TFileOps&>(noLinks) : keep;
            const RenameOutcome outcome = SearchAndRename(mount.Path(), Database(), "txt", "md", deleteOld, ops);
            EXPECT_EQ(outcome.shown, ENOSPC) << "deleteOld " << deleteOld << " tmpFile " << tmpFile;
            EXPECT_TRUE(SameDirectory(before, Snapshot(mount.Path())))
                << "deleteOld " << deleteOld << " tmpFile " << tmpFile;
        }
    }
    // Renaming in place takes no inode.
    const Rows rows = SearchRows(mount.Path(), "txt", "md");
    EXPECT_EQ(RunRenameJob(mount.Path(), Database(), rows, true).shown, 0);
    EXPECT_TRUE(Renamed(before, Snapshot(mount.Path()), rows, true));
}

// Sets or clears inode flags (immutable, append-only) on `path`; 0 or errno.
int ChangeFlags(const std::string& path, int set, int clear) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    int flags = 0;
    int error = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? 0 : errno;
    if (error == 0) {
        flags = (flags | set) & ~clear;
        error = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0 ? 0 : errno;
    }
    ::close(fd);
    return error;
}

// Takes the flags off again, so the temporary folder can be removed.
class FlagGuard {
public:
    FlagGuard(std::string path, int flags) : path_(std::move(path)), flags_(flags) {}
    ~FlagGuard() { ChangeFlags(path_, 0, flags_); }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    std::string path_;
    int flags_;
};

// A directory in which inode flags can be set: a fresh folder where the
// temporary folder's file system takes them, else an ext4 image. Returns ""
// or why there is none.
std::string FlaggableDirectory(test::TTempDir& temp, TScratchMount& mount, std::string& path) {
    path = temp / "flags";
    ::mkdir(path.c_str(), 0755);
    if (ChangeFlags(path, FS_APPEND_FL, 0) == 0 && ChangeFlags(path, 0, FS_APPEND_FL) == 0) return {};
    if (const std::string why = mount.MountExt4Image(16); !why.empty())
        return "no inode flags on the temporary folder's file system, and no ext4 image: " + why;
    path = mount.Path();
    return {};
}

TEST_F(FileSystemFaults, OldFileThatCannotBeDeletedIsKeptBesideItsCopy) {
    test::TTempDir temp;
    TScratchMount mount;
    std::string dir;
    if (const std::string why = FlaggableDirectory(temp, mount, dir); !why.empty()) GTEST_SKIP() << why;
    WriteFile(dir + "/locked.txt", "cannot be deleted");
    WriteFile(dir + "/free.txt", "can be deleted");
    const std::string locked = dir + "/locked.txt";
    if (const int error = ChangeFlags(locked, FS_IMMUTABLE_FL, 0))
        GTEST_SKIP() << "cannot make a file immutable here: " << std::strerror(error);
    FlagGuard guard(locked, FS_IMMUTABLE_FL);
    const DirState before = Snapshot(dir);
    const Rows rows = SearchRows(dir, ".txt", ".md");
    const RenameOutcome outcome = RunRenameJob(dir, Database(), rows, true);
    EXPECT_EQ(outcome.shown, 0);  // the failed deletion does not fail the batch...
    EXPECT_EQ(outcome.oldKept, "1 个原文件未能删除，失败号为：1");  // ...and is reported
    const DirState after = Snapshot(dir);
    EXPECT_TRUE(NothingLost(before, after, rows));
    EXPECT_TRUE(after.count("locked.txt"));
    EXPECT_TRUE(after.count("locked.md"));
    EXPECT_FALSE(after.count("free.txt"));
    EXPECT_EQ(after.at("locked.md").hash, before.at("locked.txt").hash);
    EXPECT_EQ(after.at("free.md").hash, before.at("free.txt").hash);
}

TEST_F(FileSystemFaults, AppendOnlyDirectoryKeepsEveryOldFileBesideItsNewName) {
    test::TTempDir temp;
    TScratchMount mount;
    std::string dir;
    if (const std::string why = FlaggableDirectory(temp, mount, dir); !why.empty()) GTEST_SKIP() << why;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteFile(dir + "/" + name, name);
    if (const int error = ChangeFlags(dir, FS_APPEND_FL, 0))
        GTEST_SKIP() << "cannot make a directory append-only here: " << std::strerror(error);
    FlagGuard guard(dir, FS_APPEND_FL);
    const DirState before = Snapshot(dir);
    const Rows rows = SearchRows(dir, ".txt", ".md");
    ASSERT_EQ(rows.size(), 3u);
    const RenameOutcome outcome = RunRenameJob(dir, Database(), rows, true);
    EXPECT_EQ(outcome.shown, 0);
    EXPECT_EQ(outcome.oldKept, "3 个原文件未能删除，失败号为：1");
    const DirState after = Snapshot(dir);
    EXPECT_TRUE(NothingLost(before, after, rows));
    EXPECT_TRUE(Renamed(before, after, rows, false));  // every old name stayed
}

TEST_F(FileSystemFaults, ReadOnlyMountRefusesWithEROFSAndChangesNothing) {
    test::TTempDir dir;
    for (const char* name : {"a.txt", "b.txt"}) dir.WriteFile(name, name);
    TScratchMount mount;
    if (const std::string why = mount.MountReadOnlyBind(dir.Path()); !why.empty()) GTEST_SKIP() << why;
    const DirState before = Snapshot(mount.Path());
    for (const bool deleteOld : {false, true}) {
        const RenameOutcome outcome = SearchAndRename(mount.Path(), Database(), ".txt", ".md", deleteOld);
        EXPECT_EQ(outcome.shown, EROFS) << "deleteOld " << deleteOld;
        EXPECT_EQ(outcome.message, CopyFailedText(EROFS));
        EXPECT_TRUE(SameDirectory(before, Snapshot(mount.Path())));
    }
}

// Runs the rename job in a child process that has given up root for the
// unprivileged user "nobody"; answers the errno it showed, or -1.
int ShownAsNobody(const std::string& dir, const std::string& database, bool deleteOld) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (!test::BecomeNobody()) ::_exit(255);
        const RenameOutcome outcome = SearchAndRename(dir, database, ".txt", ".md", deleteOld);
        ::_exit(outcome.shown & 0xFF);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

TEST_F(FileSystemFaults, DirectoryTheUserMayNotWriteRefusesWithEACCESAndChangesNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to prepare the directory and drop to another user";
    test::TTempDir dir;
    for (const char* name : {"a.txt", "b.txt"}) dir.WriteFile(name, name);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);  // readable, not writable, by others
    const DirState before = Snapshot(dir.Path());
    for (const bool deleteOld : {false, true}) {
        const int shown = ShownAsNobody(dir.Path(), Database(), deleteOld);
        if (shown < 0) GTEST_SKIP() << "cannot switch to an unprivileged user";
        EXPECT_EQ(shown, EACCES) << "deleteOld " << deleteOld;
        EXPECT_TRUE(SameDirectory(before, Snapshot(dir.Path())));
    }
}

}  // namespace
}  // namespace vantelo::reliability
