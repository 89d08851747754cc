// The rename's file-system steps on a real temporary directory: copies keep
// content, holes, mode, times and attributes on every copy path, never
// overwrite, never leave a partial or staging file, refuse what is not a
// file, and stay exact where copy_file_range, ftruncate or renameat2 answer
// oddly; a rename in place never overwrites.
#include "platform/TFileOps.h"

#include "platform/TDirectoryListing.h"
#include "support/Nobody.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
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
    std::string staging;  // the caller's staging name, or none
};

const CopyPath kPaths[] = {
    {"AllFastPaths", {}, ""},
    {"NamedExclusiveFile", {.tmpFile = false}, ""},
    {"StagingName", {.tmpFile = false}, "stage.tmp"},
    {"StagingNameUnused", {}, "stage.tmp"},
    {"ReadWriteOnly", {.clone = false, .copyRange = false}, ""},
    {"NoHoleSkipping", {.sparse = false}, ""},
    {"Slowest", {.tmpFile = false, .clone = false, .copyRange = false, .sparse = false}, "stage.tmp"},
};

void PrintTo(const CopyPath& path, std::ostream* out) { *out << path.name; }

class FileOpsCopy : public ::testing::TestWithParam<CopyPath> {
protected:
    FileOpsCopy() : ops_(GetParam().options) {}
    int Copy(TFileOps& ops, int dirFd, const std::string& from, const std::string& to, TFileIdentity& source,
             TFileIdentity& made) {
        return ops.CopyAt(dirFd, from, to, source, made, true, GetParam().staging);
    }
    int Copy(int dirFd, const std::string& from, const std::string& to, TFileIdentity& source, TFileIdentity& made) {
        return Copy(ops_, dirFd, from, to, source, made);
    }
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
    ASSERT_EQ(Copy(fd.Get(), "old.bin", "new.bin", source, made), 0);
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

// A built copy's identity is what the journal records before the copy gets
// its name: it must be the copy as the build leaves it, change time included,
// whether the copy was made with the right mode already or needed its mode,
// set-ID bits or attributes given afterwards.
TEST_P(FileOpsCopy, ABuiltCopysIdentityIsTheCopyAsItIsLeft) {
    const mode_t umaskBefore = umask(022);
    const bool xattrs = [&] {
        dir_.WriteFile("probe", "");
        return setxattr((dir_ / "probe").c_str(), "user.vantelo", "tag", 3, 0) == 0;
    }();
    struct Case {
        mode_t mode;
        bool tagged;
    };
    for (const Case& c : {Case{0640, false}, Case{0666, false}, Case{02750, false}, Case{0644, true}}) {
        if (c.tagged && !xattrs) continue;
        SCOPED_TRACE(::testing::Message() << std::oct << c.mode << (c.tagged ? " tagged" : ""));
        dir_.WriteFile("old", "content");
        ASSERT_EQ(chmod((dir_ / "old").c_str(), c.mode), 0);
        if (c.tagged) {
            ASSERT_EQ(setxattr((dir_ / "old").c_str(), "user.vantelo", "tag", 3, 0), 0);
        }
        const timespec times[2] = {{1000000000, 1}, {1200000000, 2}};
        ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / "old").c_str(), times, 0), 0);

        DirFd fd(dir_.Path());
        TFileIdentity source;
        TFileOps::TBuiltCopy built;
        ASSERT_EQ(ops_.BuildCopy(fd.Get(), "old", "new", source, built, false, GetParam().staging), 0);
        struct stat st {};
        if (built.state == TFileOps::TBuiltCopy::State::Unnamed)
            ASSERT_EQ(fstat(built.fd.Get(), &st), 0);
        else
            st = Lstat(dir_ / built.named);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
        EXPECT_TRUE(built.made.Untouched(TFileIdentity::Of(st)));
        EXPECT_NE(built.made.ctime.tv_sec, 0);
        ops_.DropCopy(fd.Get(), built);
        ASSERT_EQ(unlink((dir_ / "old").c_str()), 0);
    }
    umask(umaskBefore);
}

TEST_P(FileOpsCopy, EmptyFileIsCopied) {
    dir_.WriteFile("empty", "");
    DirFd fd(dir_.Path());
    TFileIdentity source, made;
    ASSERT_EQ(Copy(fd.Get(), "empty", "empty2", source, made), 0);
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
    ASSERT_EQ(Copy(fd.Get(), "sparse", "copy", source, made), 0);
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
    EXPECT_EQ(Copy(fd.Get(), "a", "b", source, made), EEXIST);
    EXPECT_EQ(dir_.ReadFile("b"), "precious");
    ASSERT_EQ(symlink("a", (dir_ / "link").c_str()), 0);
    EXPECT_EQ(Copy(fd.Get(), "b", "link", source, made), EEXIST);
    EXPECT_EQ(dir_.ReadFile("a"), "source");
    EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{".", "..", "a", "b", "link"}));
}

TEST_P(FileOpsCopy, SymbolicLinkIsCopiedAsALinkEvenWhenDangling) {
    ASSERT_EQ(symlink("nowhere/at all", (dir_ / "dangling").c_str()), 0);
    DirFd fd(dir_.Path());
    TFileIdentity source, made;
    ASSERT_EQ(Copy(fd.Get(), "dangling", "copy", source, made), 0);
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
    EXPECT_EQ(Copy(fd.Get(), "fifo", "x", source, made), EOPNOTSUPP);
    EXPECT_EQ(Copy(fd.Get(), "sub", "x", source, made), EISDIR);
    EXPECT_EQ(Copy(fd.Get(), ".", "x", source, made), EISDIR);
    EXPECT_EQ(Copy(fd.Get(), "missing", "x", source, made), ENOENT);
    EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{".", "..", "fifo", "sub"}));
}

using test::kNobody;
using test::kNoGroup;

// A file with the given owner, group and mode (set after the owner, which
// clears the set-ID bits).
void MakeOwnedFile(const test::TTempDir& dir, const std::string& name, uid_t uid, gid_t gid, mode_t mode) {
    dir.WriteFile(name, "program");
    const std::string path = dir / name;
    ASSERT_EQ(chown(path.c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

TEST_P(FileOpsCopy, CopyAsRootKeepsOwnerGroupAndSetIdBits) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    MakeOwnedFile(dir_, "setuid", kNobody, kNoGroup, 06755);
    ASSERT_EQ(symlink("setuid", (dir_ / "link").c_str()), 0);
    ASSERT_EQ(lchown((dir_ / "link").c_str(), kNobody, kNoGroup), 0);
    DirFd fd(dir_.Path());
    TFileIdentity source, made;
    ASSERT_EQ(Copy(fd.Get(), "setuid", "copy", source, made), 0);
    ASSERT_EQ(Copy(fd.Get(), "link", "link copy", source, made), 0);
    const struct stat copy = Lstat(dir_ / "copy"), link = Lstat(dir_ / "link copy");
    EXPECT_EQ(copy.st_uid, kNobody);
    EXPECT_EQ(copy.st_gid, kNoGroup);
    EXPECT_EQ(copy.st_mode & 07777, 06755u);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(link.st_uid, kNobody);
    EXPECT_EQ(link.st_gid, kNoGroup);
}

// Copies by a process that dropped to an unprivileged user: root's
// set-user-ID program becomes a plain program of the user's own, and a
// set-group-ID program of a group the user is not in loses that bit only.
TEST_P(FileOpsCopy, CopyThatCannotKeepItsOwnerLosesTheSetIdBits) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    MakeOwnedFile(dir_, "root's", 0, 0, 06755);
    MakeOwnedFile(dir_, "own", kNobody, 0, 06755);
    ASSERT_EQ(chown(dir_.Path().c_str(), kNobody, kNoGroup), 0);
    DirFd fd(dir_.Path());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!test::BecomeNobody()) _exit(100);
        TFileIdentity source, made;
        const int first = Copy(fd.Get(), "root's", "root's copy", source, made);
        _exit(first != 0 ? first : Copy(fd.Get(), "own", "own copy", source, made));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const struct stat rootCopy = Lstat(dir_ / "root's copy"), ownCopy = Lstat(dir_ / "own copy");
    EXPECT_EQ(rootCopy.st_uid, kNobody);
    EXPECT_EQ(rootCopy.st_gid, kNoGroup);
    EXPECT_EQ(rootCopy.st_mode & 07777, 0755u);
    EXPECT_EQ(ownCopy.st_uid, kNobody);
    EXPECT_EQ(ownCopy.st_mode & 07777, 04755u);
    EXPECT_EQ(dir_.ReadFile("root's copy"), "program");
}

// An unnamed copy is named by its descriptor alone where the kernel lets
// the process; a copy opened under other credentials, which the kernel
// refuses to name that way (as older kernels refuse every copy without the
// capability), is named through /proc instead, and copies after it still
// get their names.
TEST(FileOpsNaming, UnnamedCopiesAreNamedWhenTheDescriptorAloneIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    constexpr int kNoUnnamedFiles = 77;
    test::TTempDir dir;
    dir.WriteFile("a", "first");
    dir.WriteFile("b", "second");
    for (const char* name : {"a", "b"}) ASSERT_EQ(chmod((dir / name).c_str(), 0666), 0);
    ASSERT_EQ(chown(dir.Path().c_str(), kNobody, kNoGroup), 0);
    DirFd fd(dir.Path());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        umask(0);
        TFileOps ops;
        TFileIdentity source;
        TFileOps::TBuiltCopy first, second;
        if (ops.BuildCopy(fd.Get(), "a", "a2", source, first, false, "") != 0) _exit(101);
        if (first.state != TFileOps::TBuiltCopy::State::Unnamed) _exit(kNoUnnamedFiles);
        // Other credentials than the ones the first copy was opened under.
        if (!test::BecomeNobody()) _exit(100);
        if (ops.BuildCopy(fd.Get(), "b", "b2", source, second, false, "") != 0) _exit(102);
        TFileIdentity made;
        const int named = ops.NameCopy(fd.Get(), first, "a2", made);
        _exit(named != 0 ? named : ops.NameCopy(fd.Get(), second, "b2", made));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoUnnamedFiles) GTEST_SKIP() << "no unnamed files on this file system";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(dir.ReadFile("a2"), "first");
    EXPECT_EQ(dir.ReadFile("b2"), "second");
    EXPECT_EQ(Lstat(dir / "b2").st_uid, kNobody);
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
        EXPECT_EQ(Copy(ops, fd.Get(), "a", "b", source, made), EIO);
        EXPECT_EQ(Names(dir_.Path()), (std::vector<std::string>{".", "..", "a"}));
    }
}

// A file system whose copy_file_range, ftruncate or renameat2 answers the
// way some kernels and FUSE mounts do.
class QuirkyOps : public TFileOps {
public:
    using RangeRule = std::function<ssize_t(int call, int in, off_t* inOffset, int out, off_t* outOffset,
                                            size_t length, TFileOps& real)>;
    explicit QuirkyOps(Options options) : TFileOps(options) {}
    ssize_t RealCopyFileRange(int in, off_t* inOffset, int out, off_t* outOffset, size_t length) {
        return TFileOps::CopyFileRange(in, inOffset, out, outOffset, length);
    }
    RangeRule rangeRule;  // none: the kernel's answer
    int truncateError = 0;
    int renameError = 0;

protected:
    ssize_t CopyFileRange(int in, off_t* inOffset, int out, off_t* outOffset, size_t length) override {
        ++rangeCalls_;
        if (rangeRule) return rangeRule(rangeCalls_, in, inOffset, out, outOffset, length, *this);
        return RealCopyFileRange(in, inOffset, out, outOffset, length);
    }
    int Truncate(int fd, off_t size) override {
        if (truncateError == 0) return TFileOps::Truncate(fd, size);
        errno = truncateError;
        return -1;
    }
    int RenameNoReplace(int dirFd, const std::string& from, const std::string& to) override {
        if (renameError == 0) return TFileOps::RenameNoReplace(dirFd, from, to);
        errno = renameError;
        return -1;
    }

private:
    int rangeCalls_ = 0;
};

// copy_file_range rules.
ssize_t Real(int, int in, off_t* inOffset, int out, off_t* outOffset, size_t length, TFileOps& ops) {
    return static_cast<QuirkyOps&>(ops).RealCopyFileRange(in, inOffset, out, outOffset, length);
}
ssize_t NothingAtFirst(int call, int in, off_t* inOffset, int out, off_t* outOffset, size_t length, TFileOps& ops) {
    return call == 1 ? 0 : Real(call, in, inOffset, out, outOffset, length, ops);
}
ssize_t PartThenNothing(int call, int in, off_t* inOffset, int out, off_t* outOffset, size_t length, TFileOps& ops) {
    if (call == 1) return Real(call, in, inOffset, out, outOffset, std::min<size_t>(length, 1000), ops);
    return 0;
}
ssize_t AlwaysShort(int call, int in, off_t* inOffset, int out, off_t* outOffset, size_t length, TFileOps& ops) {
    return Real(call, in, inOffset, out, outOffset, std::min<size_t>(length, 300000), ops);
}
// The source loses its end while it is copied.
ssize_t SourceShrinks(int call, int in, off_t* inOffset, int out, off_t* outOffset, size_t length, TFileOps& ops) {
    const std::string path = "/proc/self/fd/" + std::to_string(in);  // `in` is open for reading only
    if (call == 1 && truncate(path.c_str(), 5000) != 0) return -1;
    return Real(call, in, inOffset, out, outOffset, length, ops);
}

enum class Source { Dense, Sparse };

struct Quirk {
    const char* name;
    Source source;
    QuirkyOps::RangeRule rangeRule;
    int truncateError = 0;
    int renameError = 0;
    TFileOps::Options options = {.clone = false};
    std::string staging = {};
    int expected = 0;
};

void PrintTo(const Quirk& quirk, std::ostream* out) { *out << quirk.name; }

const Quirk kQuirks[] = {
    {"RangeCopiesNothingAtFirst", Source::Dense, NothingAtFirst},
    {"RangeCopiesNothingAtFirstInASparseFile", Source::Sparse, NothingAtFirst},
    {"RangeCopiesPartThenNothing", Source::Dense, PartThenNothing},
    {"RangeAlwaysShort", Source::Sparse, AlwaysShort},
    {"RangeCopiesNothingUnderAStagingName", Source::Dense, NothingAtFirst, 0, 0, {.tmpFile = false, .clone = false},
     "stage.tmp"},
    {"SourceShrinksWhileCopied", Source::Dense, SourceShrinks, 0, 0, {.clone = false}, "", EIO},
    {"SparseSourceShrinksWhileCopied", Source::Sparse, SourceShrinks, 0, 0, {.clone = false}, "", EIO},
    {"SourceShrinksUnderAStagingName", Source::Dense, SourceShrinks, 0, 0, {.tmpFile = false, .clone = false},
     "stage.tmp", EIO},
    {"TruncateRefusedWithAHoleAtTheEnd", Source::Sparse, nullptr, EPERM},
    {"TruncateUnsupportedWithAHoleAtTheEnd", Source::Sparse, nullptr, EOPNOTSUPP, 0,
     {.tmpFile = false, .clone = false}, "stage.tmp"},
    {"TruncateRefusedWithoutHoleSkipping", Source::Sparse, nullptr, EINVAL, 0, {.clone = false, .sparse = false}},
    {"TruncateFailsForReal", Source::Sparse, nullptr, EIO, 0, {.clone = false}, "", EIO},
    {"RenameFlagRefusedSoStagingIsLinked", Source::Dense, nullptr, 0, EINVAL, {.tmpFile = false, .clone = false},
     "stage.tmp"},
    {"RenameUnknownToTheKernelSoStagingIsLinked", Source::Sparse, nullptr, 0, ENOSYS,
     {.tmpFile = false, .clone = false}, "stage.tmp"},
};

class FileOpsQuirk : public ::testing::TestWithParam<Quirk> {};

INSTANTIATE_TEST_SUITE_P(FileSystems, FileOpsQuirk, ::testing::ValuesIn(kQuirks),
                         [](const auto& info) { return std::string(info.param.name); });

// Exact copy or no file at all, whatever the file system answered.
TEST_P(FileOpsQuirk, CopyIsExactOrFailsLeavingNothing) {
    const Quirk& quirk = GetParam();
    test::TTempDir dir;
    const std::string path = dir / "old";
    if (quirk.source == Source::Dense) {
        dir.WriteFile("old", RandomBytes(3 * 1024 * 1024 + 5, 3));
    } else {
        const std::string data = RandomBytes(200000, 4);
        const int out = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(out, 0);
        ASSERT_EQ(pwrite(out, data.data(), data.size(), 0), static_cast<ssize_t>(data.size()));
        ASSERT_EQ(pwrite(out, data.data(), 5000, 3 << 20), 5000);
        ASSERT_EQ(ftruncate(out, 6 << 20), 0);  // a hole at the end
        ::close(out);
    }
    QuirkyOps ops(quirk.options);
    ops.rangeRule = quirk.rangeRule;
    ops.truncateError = quirk.truncateError;
    ops.renameError = quirk.renameError;
    DirFd fd(dir.Path());
    TFileIdentity source, made;
    EXPECT_EQ(ops.CopyAt(fd.Get(), "old", "new", source, made, true, quirk.staging), quirk.expected);
    if (quirk.expected != 0) {
        EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{".", "..", "old"}));
        return;
    }
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{".", "..", "new", "old"}));
    EXPECT_EQ(Lstat(dir / "new").st_size, Lstat(path).st_size);
    EXPECT_TRUE(dir.ReadFile("new") == dir.ReadFile("old"));
    EXPECT_TRUE(made.SameState(TFileIdentity::Of(Lstat(dir / "new"))));
}

// The two steps of a rename in place, one after the other.
int RenameAt(TFileOps& ops, int dirFd, const std::string& from, const std::string& to, TFileIdentity& made) {
    if (const int error = ops.RenameOnly(dirFd, from, to)) return error;
    return ops.ConfirmRenamed(dirFd, from, to, made);
}

TEST(FileOpsRename, RenamesInPlaceNeverOverwritingAndRefusingWhatIsNotAFile) {
    test::TTempDir dir;
    dir.WriteFile("a", "content");
    dir.WriteFile("taken", "keep");
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
    const ino_t inode = Lstat(dir / "a").st_ino;
    DirFd fd(dir.Path());
    TFileIdentity made;
    ASSERT_EQ(RenameAt(TFileOps::System(), fd.Get(), "a", "b", made), 0);
    EXPECT_EQ(made.inode, inode);
    EXPECT_EQ(dir.ReadFile("b"), "content");
    EXPECT_EQ(RenameAt(TFileOps::System(), fd.Get(), "b", "taken", made), EEXIST);
    EXPECT_EQ(RenameAt(TFileOps::System(), fd.Get(), "missing", "c", made), ENOENT);
    EXPECT_EQ(RenameAt(TFileOps::System(), fd.Get(), "sub", "sub2", made), EISDIR);
    QuirkyOps refused(TFileOps::Options{});
    refused.renameError = EINVAL;
    EXPECT_EQ(RenameAt(refused, fd.Get(), "b", "c", made), EINVAL);
    FailingOps failing(TFileOps::Options{}, TFileOps::Step::Rename);
    EXPECT_EQ(RenameAt(failing, fd.Get(), "b", "c", made), EIO);
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{".", "..", "b", "sub", "taken"}));
    EXPECT_EQ(dir.ReadFile("taken"), "keep");
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

// Attributes that change between sizing and reading them: another program
// tags the source while it is copied.
class ChangingXattrOps : public TFileOps {
public:
    explicit ChangingXattrOps(std::string source) : source_(std::move(source)) {}
    bool alwaysTooSmall = false;  // a list that never fits (ERANGE every time)

protected:
    ssize_t ListXattr(int fd, char* list, size_t size) override {
        if (alwaysTooSmall && size != 0) {
            errno = ERANGE;
            return -1;
        }
        const ssize_t length = TFileOps::ListXattr(fd, list, size);
        if (size == 0 && ++lists_ == 1) Set("user.added", "late");  // the list grows after it was sized
        return length;
    }
    ssize_t GetXattr(int fd, const char* name, void* value, size_t size) override {
        const ssize_t length = TFileOps::GetXattr(fd, name, value, size);
        if (size == 0 && std::string(name) == "user.first" && ++gets_ == 1) Set(name, "a much longer value");
        return length;
    }

private:
    void Set(const char* name, const std::string& value) {
        EXPECT_EQ(setxattr(source_.c_str(), name, value.data(), value.size(), 0), 0);
    }
    std::string source_;
    int lists_ = 0;
    int gets_ = 0;
};

TEST(FileOpsXattr, AttributesThatChangeWhileReadAreReadAgainNeverDropped) {
    test::TTempDir dir;
    dir.WriteFile("a", "x");
    if (setxattr((dir / "a").c_str(), "user.first", "1", 1, 0) != 0) {
        GTEST_SKIP() << "no user extended attributes here";
    }
    ASSERT_EQ(setxattr((dir / "a").c_str(), "user.second", "2", 1, 0), 0);
    DirFd fd(dir.Path());
    TFileIdentity source, made;
    ChangingXattrOps ops(dir / "a");
    ASSERT_EQ(ops.CopyAt(fd.Get(), "a", "b", source, made), 0);
    const auto value = [&](const char* name) {
        char buffer[64] = {};
        return getxattr((dir / "b").c_str(), name, buffer, sizeof buffer - 1) < 0 ? std::string("(none)")
                                                                                   : std::string(buffer);
    };
    EXPECT_EQ(value("user.first"), "a much longer value");
    EXPECT_EQ(value("user.second"), "2");
    EXPECT_EQ(value("user.added"), "late");

    // A list that never settles fails the copy rather than losing it.
    ChangingXattrOps restless(dir / "a");
    restless.alwaysTooSmall = true;
    EXPECT_EQ(restless.CopyAt(fd.Get(), "a", "c", source, made), EAGAIN);
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{".", "..", "a", "b"}));
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
