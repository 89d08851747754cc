// The rename's file-system steps on a real temporary directory: copies keep
// content, holes, mode, times and attributes on every copy path, never
// overwrite, never leave a partial file, and refuse what is not a file.
#include "platform/TFileOps.h"

#include "platform/TDirectoryListing.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vantelo {
namespace {

// Opens a directory for the *at() calls and closes it again.
class DirFd {
public:
    explicit DirFd(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~DirFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

std::vector<std::string> Names(const std::string& path) {
    std::vector<std::string> names;
    TDirectoryListing::ReadAll(path, names);
    std::sort(names.begin(), names.end());
    return names;
}

struct stat Lstat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

struct CopyPath {
    const char* name;
    TFileOps::Options options;
};

const CopyPath kPaths[] = {
    {"AllFastPaths", {}},
    {"NamedExclusiveFile", {.tmpFile = false}},
    {"ReadWriteOnly", {.clone = false, .copyRange = false}},
    {"NoHoleSkipping", {.sparse = false}},
    {"Slowest", {.tmpFile = false, .clone = false, .copyRange = false, .sparse = false}},
};

void PrintTo(const CopyPath& path, std::ostream* out) { *out << path.name; }

class FileOpsCopy : public ::testing::TestWithParam<CopyPath> {
protected:
    FileOpsCopy() : ops_(GetParam().options) {}
    test::TTempDir dir_;
    TFileOps ops_;
};

INSTANTIATE_TEST_SUITE_P(Paths, FileOpsCopy, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(FileOpsCopy, CopyKeepsContentModeAndTimes) {
    const std::string content = RandomBytes(3 * 1024 * 1024 + 17, 1);
    dir_.WriteFile("old.bin", content);
    ASSERT_EQ(chmod((dir_ / "old.bin").c_str(), 0640), 0);
    const timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / "old.bin").c_str(), times, 0), 0);

    DirFd fd(dir_.Path());
    TFileIdentity source, made;
    ASSERT_EQ(ops_.CopyAt(fd.Get(), "old.bin", "new.bin", source, made), 0);
    // Times first: reading the copy moves its access time.
    const struct stat oldSt = Lstat(dir_ / "old.bin"), newSt = Lstat(dir_ / "new.bin");
    EXPECT_EQ(dir_.ReadFile("new.bin"), content);
    EXPECT_EQ(newSt.st_mode & 07777, 0640u);
    EXPECT_EQ(newSt.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(newSt.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(newSt.st_atim.tv_sec, 1000000000);
    EXPECT_NE(newSt.st_ino, oldSt.st_ino);
    EXPECT_TRUE(source.SameState(TFileIdentity::Of(oldSt)));
    EXPECT_TRUE(made.SameState(TFileIdentity::Of(newSt)));
}

TEST_P(FileOpsCopy, EmptyFileIsCopied) {
    dir_.WriteFile("empty", "");
    DirFd fd(dir_.Path());
    TFileIdentity source, made;
    ASSERT_EQ(ops_.CopyAt(fd.Get(), "empty", "empty2", source, made), 0);
    EXPECT_EQ(dir_.ReadFile("empty2"), "");
}

TEST_P(FileOpsCopy, SparseFileKeepsItsHolesWhenHoleSkippingIsOn) {
    const std::string path = dir_ / "sparse";
    {
        const int out = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(out, 0);
        ASSERT_EQ(pwrite(out, "head", 4, 0), 4);
        ASSERT_EQ(pwrite(out, "middle", 6, 8 << 20), 6);
        ASSERT_EQ(ftruncate(out, 32 << 20), 0);  // a hole at the end too
        ::close(out);
    }
    DirFd fd(dir_.Path());
    TFileIdentity source, made;
    ASSERT_EQ(ops_.CopyAt(fd.Get(), "sparse", "copy", source, made), 0);
    const std::string original = dir_.ReadFile("sparse");
    EXPECT_EQ(dir_.ReadFile("copy"), original);
    const struct stat st = Lstat(dir_ / "copy");
    EXPECT_EQ(st.st_size, 32 << 20);
    if (GetParam().options.sparse) {
        EXPECT_LT(st.st_blocks * 512, 1 << 20);
    }
}

TEST_P(FileOpsCopy, ExistingNameIsNeverOverwritten) {
    dir_.WriteFile("a", "source");
    dir_.WriteFile("b", "precious");
    DirFd fd(dir_.Path());
    TFileIdentity source, made;
    EXPECT_EQ(ops_.CopyAt(fd.Get(), "a", "b", source, made), EEXIST);
    EXPECT_EQ(dir_.ReadFile("b"), "precious");
    ASSERT_EQ(symlink("a", (dir_ / "link").c_str()), 0);
    EXPECT_EQ(ops_.CopyAt(fd.Get(), "b", "link", source, made), EEXIST);
    EXPECT_EQ(dir_.ReadFile("a"), "source");
    EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{".", "..", "a", "b", "link"}));
}

TEST_P(FileOpsCopy, SymbolicLinkIsCopiedAsALinkEvenWhenDangling) {
    ASSERT_EQ(symlink("nowhere/at all", (dir_ / "dangling").c_str()), 0);
    DirFd fd(dir_.Path());
    TFileIdentity source, made;
    ASSERT_EQ(ops_.CopyAt(fd.Get(), "dangling", "copy", source, made), 0);
    const struct stat st = Lstat(dir_ / "copy");
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    char target[64] = {};
    ASSERT_EQ(readlink((dir_ / "copy").c_str(), target, sizeof target - 1), 14);
    EXPECT_STREQ(target, "nowhere/at all");
}

TEST_P(FileOpsCopy, WhatIsNotAFileIsRefusedWithoutOpeningIt) {
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);  // opening it for reading would wait for a writer
    ASSERT_EQ(mkdir((dir_ / "sub").c_str(), 0755), 0);
    DirFd fd(dir_.Path());
    TFileIdentity source, made;
    EXPECT_EQ(ops_.CopyAt(fd.Get(), "fifo", "x", source, made), EOPNOTSUPP);
    EXPECT_EQ(ops_.CopyAt(fd.Get(), "sub", "x", source, made), EISDIR);
    EXPECT_EQ(ops_.CopyAt(fd.Get(), ".", "x", source, made), EISDIR);
    EXPECT_EQ(ops_.CopyAt(fd.Get(), "missing", "x", source, made), ENOENT);
    EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{".", "..", "fifo", "sub"}));
}

// Fails one step for every name.
class FailingOps : public TFileOps {
public:
    FailingOps(Options options, Step step) : TFileOps(options), step_(step) {}
    int Fault(Step step, const std::string&) override { return step == step_ ? EIO : 0; }

private:
    Step step_;
};

TEST_P(FileOpsCopy, CopyFailingPartWayLeavesNoFile) {
    dir_.WriteFile("a", RandomBytes(100000, 2));
    DirFd fd(dir_.Path());
    for (const auto step : {TFileOps::Step::CopyData, TFileOps::Step::CopyCommit}) {
        FailingOps ops(GetParam().options, step);
        TFileIdentity source, made;
        EXPECT_EQ(ops.CopyAt(fd.Get(), "a", "b", source, made), EIO);
        EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{".", "..", "a"}));
    }
}

TEST(FileOpsXattr, ExtendedAttributesAreCopiedWhereTheFileSystemHasThem) {
    test::TTempDir dir;
    dir.WriteFile("a", "x");
    if (setxattr((dir / "a").c_str(), "user.vantelo", "tag", 3, 0) != 0) {
        GTEST_SKIP() << "no user extended attributes here";
    }
    DirFd fd(dir.Path());
    TFileIdentity source, made;
    ASSERT_EQ(TFileOps::System().CopyAt(fd.Get(), "a", "b", source, made), 0);
    char value[8] = {};
    EXPECT_EQ(getxattr((dir / "b").c_str(), "user.vantelo", value, sizeof value), 3);
    EXPECT_STREQ(value, "tag");
}

TEST(FileOpsLink, HardLinkGivesTheSameFileASecondNameAndNeverOverwrites) {
    test::TTempDir dir;
    dir.WriteFile("a", "content");
    dir.WriteFile("taken", "keep");
    DirFd fd(dir.Path());
    TFileIdentity made;
    ASSERT_EQ(TFileOps::System().LinkAt(fd.Get(), "a", "b", made), 0);
    EXPECT_EQ(Lstat(dir / "b").st_ino, Lstat(dir / "a").st_ino);
    EXPECT_EQ(Lstat(dir / "a").st_nlink, 2u);
    EXPECT_EQ(TFileOps::System().LinkAt(fd.Get(), "a", "taken", made), EEXIST);
    EXPECT_EQ(dir.ReadFile("taken"), "keep");
    EXPECT_EQ(TFileOps::System().LinkAt(fd.Get(), "missing", "c", made), ENOENT);
}

TEST(FileOpsUnlink, RemovesAnEntryAndReportsErrno) {
    test::TTempDir dir;
    dir.WriteFile("a", "");
    DirFd fd(dir.Path());
    EXPECT_EQ(TFileOps::System().UnlinkAt(fd.Get(), "a"), 0);
    EXPECT_EQ(TFileOps::System().UnlinkAt(fd.Get(), "a"), ENOENT);
    EXPECT_EQ(TFileOps::System().SyncDir(fd.Get()), 0);
}

}  // namespace
}  // namespace vantelo
