// The rename engine on real temporary directories: renames with and without
// the old files, refusals that leave the directory exactly as it was,
// rollback after a failure part-way, and deletes only of the file copied.
#include "rename/TRenamePlan.h"

#include "platform/TCodePage.h"
#include "platform/TDirectoryListing.h"
#include "rename/TNameRules.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vantelo {
namespace {

using Failure = TRenamePlan::Failure;

// Every entry of a directory with its kind, mode, identity and content (or
// link target): equal snapshots mean an untouched directory.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> entries;
    std::vector<std::string> names;
    EXPECT_EQ(TDirectoryListing::ReadAll(dir, names), 0);
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        struct stat st {};
        lstat(path.c_str(), &st);
        std::string description = std::to_string(st.st_mode) + " " + std::to_string(st.st_ino) + " ";
        if (S_ISREG(st.st_mode)) {
            const int fd = ::open(path.c_str(), O_RDONLY);
            char buffer[4096];
            ssize_t got;
            while ((got = read(fd, buffer, sizeof buffer)) > 0) description.append(buffer, static_cast<size_t>(got));
            ::close(fd);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t length = readlink(path.c_str(), target, sizeof target);
            description.append(target, static_cast<size_t>(std::max<ssize_t>(length, 0)));
        }
        entries[name] = description;
    }
    return entries;
}

struct stat Lstat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Makes every row in order, beside its old file, and takes everything back
// at the first failure; flushes before deletions when the old files go.
Failure MakeAll(TRenamePlan& plan, bool deleteOld) {
    for (size_t i = 0; i < plan.Count(); ++i) {
        if (const int error = plan.CopyOne(i, deleteOld)) {
            plan.RollBack();
            return {i, error};
        }
    }
    if (deleteOld) {
        if (const int error = plan.FlushForDelete()) {
            plan.RollBack();
            return {plan.Count(), error};
        }
    }
    return {};
}

// The first row CheckEvery() refuses and its errno, as Check() reports a
// failure ({0, 0}: none).
std::pair<size_t, int> FirstRefused(const std::vector<int>& every) {
    for (size_t i = 0; i < every.size(); ++i)
        if (every[i]) return {i, every[i]};
    return {0, 0};
}
std::pair<size_t, int> AsPair(const Failure& failure) { return {failure.index, failure.error}; }

class RenamePlanTest : public ::testing::Test {
protected:
    // The database lives in its own directory unless a test says otherwise.
    std::string Database() const { return start_ / "FileName.mdb"; }

    void SetUp() override { start_.WriteFile("FileName.mdb", "database"); }

    test::TTempDir dir_;
    test::TTempDir start_;
};

TEST_F(RenamePlanTest, KeepingOldFilesLeavesIndependentCopiesWithModeAndTimes) {
    dir_.WriteFile("a.jpg", "first");
    dir_.WriteFile("b.JPG", "second");
    ASSERT_EQ(chmod((dir_ / "a.jpg").c_str(), 0604), 0);
    const timespec times[2] = {{1500000000, 5}, {1600000000, 7}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / "a.jpg").c_str(), times, 0), 0);
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    plan.Add("a.jpg", "a.png");
    plan.Add("b.JPG", "b.png");
    ASSERT_FALSE(plan.Check());
    ASSERT_FALSE(MakeAll(plan, false));
    EXPECT_EQ(dir_.ReadFile("a.jpg"), "first");
    EXPECT_EQ(dir_.ReadFile("b.JPG"), "second");
    const struct stat oldSt = Lstat(dir_ / "a.jpg"), newSt = Lstat(dir_ / "a.png");
    EXPECT_NE(oldSt.st_ino, newSt.st_ino);
    EXPECT_EQ(newSt.st_mode & 07777, 0604u);
    EXPECT_EQ(newSt.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(newSt.st_mtim.tv_nsec, 7);
    EXPECT_EQ(dir_.ReadFile("a.png"), "first");
    EXPECT_EQ(dir_.ReadFile("b.png"), "second");
}

TEST_F(RenamePlanTest, DeletingOldFilesUsesHardLinksAndDeletesOnlyAfterTheFlush) {
    dir_.WriteFile("one.txt", "1");
    dir_.WriteFile("two.txt", "2");
    const ino_t inode = Lstat(dir_ / "one.txt").st_ino;
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path() + "/", Database()), 0);
    plan.Add("one.txt", "one.md");
    plan.Add("two.txt", "two.md");
    ASSERT_FALSE(plan.Check());
    ASSERT_FALSE(MakeAll(plan, true));
    EXPECT_EQ(Lstat(dir_ / "one.md").st_ino, inode);  // linked, not copied
    EXPECT_TRUE(Exists(dir_ / "one.txt"));              // nothing deleted yet
    for (size_t i = 0; i < plan.Count(); ++i) EXPECT_EQ(plan.DeleteOld(i), 0);
    EXPECT_EQ(Snapshot(dir_.Path()).size(), 4u);  // ".", "..", and the two new names
    EXPECT_EQ(dir_.ReadFile("one.md"), "1");
    EXPECT_EQ(dir_.ReadFile("two.md"), "2");
    EXPECT_EQ(Lstat(dir_ / "one.md").st_nlink, 1u);
}

TEST_F(RenamePlanTest, NamesThatAreNotUtf8AreRenamedByteForByte) {
    const std::string oldName = "\xFF\xFE photo \xC0\xAF.JPG";
    const std::string newName = "\xFF\xFE photo \xC0\xAF.png";
    dir_.WriteFile(oldName, "raw");
    for (const bool deleteOld : {false, true}) {
        TRenamePlan plan;
        ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
        plan.Add(deleteOld ? newName : oldName, deleteOld ? oldName + "2" : newName);
        ASSERT_FALSE(plan.Check());
        ASSERT_FALSE(MakeAll(plan, deleteOld));
        if (deleteOld) {
            EXPECT_EQ(plan.DeleteOld(0), 0);
        }
    }
    EXPECT_EQ(dir_.ReadFile(oldName), "raw");
    EXPECT_EQ(dir_.ReadFile(oldName + "2"), "raw");
    EXPECT_FALSE(Exists(dir_ / newName));
}

TEST_F(RenamePlanTest, SymbolicLinkIsRenamedAsALink) {
    ASSERT_EQ(symlink("../elsewhere", (dir_ / "link.old").c_str()), 0);
    ASSERT_EQ(symlink("gone", (dir_ / "dangling.old").c_str()), 0);
    for (const bool deleteOld : {false, true}) {
        const std::string suffix = deleteOld ? ".moved" : ".kept";
        TRenamePlan plan;
        ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
        plan.Add("link.old", "link" + suffix);
        plan.Add("dangling.old", "dangling" + suffix);
        ASSERT_FALSE(plan.Check());
        ASSERT_FALSE(MakeAll(plan, deleteOld));
        for (const char* name : {"link", "dangling"}) {
            const std::string path = dir_ / (name + suffix);
            EXPECT_TRUE(S_ISLNK(Lstat(path).st_mode)) << path;
        }
        if (deleteOld) {
            EXPECT_EQ(plan.DeleteOld(0), 0);
            EXPECT_EQ(plan.DeleteOld(1), 0);
        }
    }
    char target[32] = {};
    ASSERT_GT(readlink((dir_ / "dangling.moved").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "gone");
    EXPECT_FALSE(Exists(dir_ / "link.old"));
}

TEST_F(RenamePlanTest, TheLongestNameWorksAndOneByteMoreIsRefused) {
    dir_.WriteFile("short", "s");
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    plan.Add("short", std::string(256, 'n'));
    EXPECT_EQ(plan.Check().error, ENAMETOOLONG);

    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    plan.Add("short", std::string(255, 'n'));
    ASSERT_FALSE(plan.Check());
    ASSERT_FALSE(MakeAll(plan, false));
    EXPECT_EQ(dir_.ReadFile(std::string(255, 'n')), "s");
}

struct Refusal {
    const char* why;
    std::vector<std::pair<std::string, std::string>> rows;  // old, new
    Failure expected;
};

TEST_F(RenamePlanTest, EveryRefusalBeforeCopyingLeavesTheDirectoryUntouched) {
    dir_.WriteFile("a", "A");
    dir_.WriteFile("b", "B");
    dir_.WriteFile("c", "C");
    ASSERT_EQ(mkdir((dir_ / "sub").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
    dir_.WriteFile("FileName.mdb", "a database here");
    ASSERT_EQ(link(Database().c_str(), (dir_ / "dbalias").c_str()), 0);
    const std::string localDatabase = dir_ / "FileName.mdb";

    const Refusal refusals[] = {
        {"empty new name", {{"a", ""}}, {0, EINVAL}},
        {"new name dot", {{"a", "."}}, {0, EINVAL}},
        {"new name dot-dot", {{"a", ".."}}, {0, EINVAL}},
        {"slash in new name", {{"a", "x/y"}}, {0, EINVAL}},
        {"NUL in new name", {{"a", std::string("x\0y", 3)}}, {0, EINVAL}},
        {"256-byte new name", {{"a", std::string(256, 'x')}}, {0, ENAMETOOLONG}},
        {"new name left unchanged", {{"a", "a"}}, {0, EEXIST}},
        {"new name of an existing file", {{"a", "c"}}, {0, EEXIST}},
        {"new name of an existing directory", {{"a", "sub"}}, {0, EEXIST}},
        {"swap", {{"a", "b"}, {"b", "a"}}, {0, EEXIST}},
        {"chain", {{"a", "x"}, {"b", "a"}}, {1, EEXIST}},
        {"two files, one new name", {{"a", "x"}, {"b", "x"}}, {1, EEXIST}},
        {"directory", {{"a", "x"}, {"sub", "y"}}, {1, EISDIR}},
        {"dot", {{".", "x"}}, {0, EISDIR}},
        {"dot-dot", {{"..", "x"}}, {0, EISDIR}},
        {"FIFO", {{"fifo", "x"}}, {0, EOPNOTSUPP}},
        {"missing old file", {{"a", "x"}, {"b", "y"}, {"nothere", "z"}}, {2, ENOENT}},
        {"old name with a slash", {{"sub/x", "x"}}, {0, EINVAL}},
        {"database under another name", {{"dbalias", "x"}}, {0, EBUSY}},
    };
    const auto before = Snapshot(dir_.Path());
    for (const Refusal& refusal : refusals) {
        TRenamePlan plan;
        ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
        for (const auto& [oldName, newName] : refusal.rows) plan.Add(oldName, newName);
        const Failure failure = plan.Check();
        EXPECT_EQ(failure.index, refusal.expected.index) << refusal.why;
        EXPECT_EQ(failure.error, refusal.expected.error) << refusal.why;
        EXPECT_EQ(FirstRefused(plan.CheckEvery()), AsPair(failure)) << refusal.why;
        EXPECT_EQ(MakeAll(plan, false).error, ECANCELED) << refusal.why;
        EXPECT_EQ(plan.CopyOne(0, true), ECANCELED) << refusal.why;
        EXPECT_EQ(Snapshot(dir_.Path()), before) << refusal.why;
    }

    // The database in the searched directory: neither copied nor created.
    const Refusal databaseRefusals[] = {
        {"the database itself", {{"FileName.mdb", "x"}}, {0, EBUSY}},
        {"a journal that does not exist yet", {{"a", "FileName.mdb-journal"}}, {0, EBUSY}},
        {"a companion in another case", {{"a", "filename.MDB-wal"}}, {0, EBUSY}},
        {"shared memory file", {{"a", "FileName.mdb-shm"}}, {0, EBUSY}},
    };
    for (const Refusal& refusal : databaseRefusals) {
        TRenamePlan plan;
        ASSERT_EQ(plan.Open(dir_.Path(), localDatabase), 0);
        for (const auto& [oldName, newName] : refusal.rows) plan.Add(oldName, newName);
        const Failure failure = plan.Check();
        EXPECT_EQ(failure.index, refusal.expected.index) << refusal.why;
        EXPECT_EQ(failure.error, refusal.expected.error) << refusal.why;
        EXPECT_EQ(Snapshot(dir_.Path()), before) << refusal.why;
    }
}

TEST_F(RenamePlanTest, CheckingEveryRowNamesEachRefusalAndTheRowsThatPass) {
    dir_.WriteFile("a1", "A");
    dir_.WriteFile("b1", "B");
    dir_.WriteFile("c1", "C");
    dir_.WriteFile("d1", "D");
    dir_.WriteFile("taken", "T");
    ASSERT_EQ(mkdir((dir_ / "sub1").c_str(), 0755), 0);
    const auto before = Snapshot(dir_.Path());
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    plan.Add("a1", "a2");                     // passes
    plan.Add("b1", "taken");                  // an existing file
    plan.Add("sub1", "sub2");                 // a folder
    plan.Add("c1", "a2");                     // another listed file's new name
    plan.Add("gone1", "gone2");               // missing
    plan.Add("d1", std::string(256, 'd'));    // too long
    plan.Add("c1", "c2");                     // passes, after the refusals
    EXPECT_EQ(plan.CheckEvery(), (std::vector<int>{0, EEXIST, EISDIR, EEXIST, ENOENT, ENAMETOOLONG, 0}));
    EXPECT_EQ(plan.CopyOne(0, false), ECANCELED);  // a refused plan is not checked
    EXPECT_EQ(Snapshot(dir_.Path()), before);

    TRenamePlan good;
    ASSERT_EQ(good.Open(dir_.Path(), Database()), 0);
    good.Add("a1", "a2");
    EXPECT_EQ(good.CheckEvery(), std::vector<int>{0});
    EXPECT_EQ(good.CopyOne(0, false), 0);  // no refusal: checked as by Check()

    TRenamePlan closed;
    closed.Add("a1", "a2");
    closed.Add("b1", "b2");
    EXPECT_EQ(closed.CheckEvery(), (std::vector<int>{EBADF, EBADF}));
}

TEST_F(RenamePlanTest, ALargePlanLooksUpOnSeveralThreadsAndStillFailsAtItsFirstBadRow) {
    // Large enough that the names are looked up side by side.
    constexpr size_t kFiles = 6000;
    const auto name = [](char prefix, size_t i) {
        std::string text(1, prefix);
        text += std::to_string(i);
        return text;
    };
    for (size_t i = 0; i < kFiles; ++i) dir_.WriteFile(name('f', i), std::to_string(i));
    ASSERT_EQ(mkdir((dir_ / "sub").c_str(), 0755), 0);
    const auto fill = [&](TRenamePlan& plan, size_t badAt, const std::string& badOld, const std::string& badNew) {
        for (size_t i = 0; i < kFiles; ++i) {
            if (i == badAt) plan.Add(badOld, badNew);
            else plan.Add(name('f', i), name('g', i));
        }
    };
    struct Case {
        const char* why;
        size_t at;
        std::string oldName, newName;
        Failure expected;
    };
    const Case cases[] = {
        {"every row good", kFiles, "", "", {0, 0}},
        {"a directory late in the list", 5000, "sub", "x", {5000, EISDIR}},
        {"a taken new name late in the list", 5001, "f5001", "f17", {5001, EEXIST}},
        {"a missing old file late in the list", 5999, "nothere", "y", {5999, ENOENT}},
        // Row 4000's new name is g4000, which row 4001 takes as well: the
        // first of the two rows to fail is the later one, in list order.
        {"a new name given twice", 4001, "f4001", "g4000", {4001, EEXIST}},
    };
    const auto before = Snapshot(dir_.Path());
    for (const Case& c : cases) {
        TRenamePlan plan;
        ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
        fill(plan, c.at, c.oldName, c.newName);
        const Failure failure = plan.Check();
        EXPECT_EQ(failure.index, c.expected.index) << c.why;
        EXPECT_EQ(failure.error, c.expected.error) << c.why;
        const std::vector<int> every = plan.CheckEvery();
        EXPECT_EQ(FirstRefused(every), AsPair(failure)) << c.why;
        EXPECT_EQ(std::count_if(every.begin(), every.end(), [](int e) { return e != 0; }), failure ? 1 : 0) << c.why;
        if (!failure) {
            // Each row carries its own old file's identity.
            for (size_t i : {size_t{0}, size_t{2999}, kFiles - 1}) {
                const struct stat st = Lstat(dir_ / std::string(plan.OldName(i)));
                EXPECT_TRUE(plan.At(i).source.Get().SameState(TFileIdentity::Of(st))) << i;
            }
        }
        EXPECT_EQ(Snapshot(dir_.Path()), before) << c.why;
    }
}

TEST_F(RenamePlanTest, NamesResolveAgainstTheSearchedDirectoryNotTheCurrentOne) {
    test::TTempDir elsewhere;
    elsewhere.WriteFile("a", "wrong one");
    dir_.WriteFile("a", "right one");
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(elsewhere.Path().c_str()), 0);
    TRenamePlan plan;
    const int opened = plan.Open(dir_.Path(), Database());
    plan.Add("a", "b");
    const bool checked = !plan.Check();
    const Failure copied = MakeAll(plan, true);
    const int deleted = plan.DeleteOld(0);
    ASSERT_EQ(chdir(saved), 0);
    ASSERT_EQ(opened, 0);
    ASSERT_TRUE(checked);
    ASSERT_FALSE(copied);
    EXPECT_EQ(deleted, 0);
    EXPECT_EQ(dir_.ReadFile("b"), "right one");
    EXPECT_EQ(elsewhere.ReadFile("a"), "wrong one");
    EXPECT_FALSE(Exists(elsewhere / "b"));
}

// Fails every step on one name, or one kind of step everywhere.
class FaultyOps : public TFileOps {
public:
    std::function<int(Step, const std::string&)> rule;
    int Fault(Step step, const std::string& name) override { return rule ? rule(step, name) : 0; }
};

TEST_F(RenamePlanTest, FailurePartWayRemovesEveryNewFileTheBatchMade) {
    for (const bool deleteOld : {false, true}) {
        test::TTempDir dir;
        for (const char* name : {"f1", "f2", "f3", "f4", "f5"}) dir.WriteFile(name, name);
        const auto before = Snapshot(dir.Path());
        FaultyOps ops;
        ops.rule = [](TFileOps::Step step, const std::string& name) {
            return name == "g4" && step != TFileOps::Step::Unlink ? EIO : 0;
        };
        TRenamePlan plan(ops);
        ASSERT_EQ(plan.Open(dir.Path(), Database()), 0);
        for (const char* name : {"f1", "f2", "f3", "f4", "f5"}) plan.Add(name, std::string("g") + (name + 1));
        ASSERT_FALSE(plan.Check());
        const Failure failure = MakeAll(plan, deleteOld);
        EXPECT_EQ(failure.index, 3u);
        EXPECT_EQ(failure.error, EIO);
        EXPECT_EQ(Snapshot(dir.Path()), before) << "deleteOld " << deleteOld;
        // The user can press the button again once the cause is gone.
        ops.rule = nullptr;
        ASSERT_FALSE(plan.Check());
        ASSERT_FALSE(MakeAll(plan, deleteOld));
        EXPECT_EQ(dir.ReadFile("g4"), "f4");
    }
}

TEST_F(RenamePlanTest, NameTakenAfterTheCheckStopsTheBatchAndIsLeftAlone) {
    for (const char* name : {"f1", "f2", "f3"}) dir_.WriteFile(name, name);
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    for (const char* name : {"f1", "f2", "f3"}) plan.Add(name, std::string("g") + (name + 1));
    ASSERT_FALSE(plan.Check());
    dir_.WriteFile("g3", "someone else's");
    const auto before = Snapshot(dir_.Path());
    const Failure failure = MakeAll(plan, true);
    EXPECT_EQ(failure.index, 2u);
    EXPECT_EQ(failure.error, EEXIST);
    EXPECT_EQ(Snapshot(dir_.Path()), before);
}

TEST_F(RenamePlanTest, FailedFlushBeforeDeletingRollsBack) {
    dir_.WriteFile("a", "A");
    const auto before = Snapshot(dir_.Path());
    FaultyOps ops;
    ops.rule = [](TFileOps::Step step, const std::string&) { return step == TFileOps::Step::SyncDir ? EIO : 0; };
    TRenamePlan plan(ops);
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    plan.Add("a", "b");
    ASSERT_FALSE(plan.Check());
    const Failure failure = MakeAll(plan, true);
    EXPECT_EQ(failure.index, 1u);
    EXPECT_EQ(failure.error, EIO);
    EXPECT_EQ(Snapshot(dir_.Path()), before);
}

TEST_F(RenamePlanTest, OldFileReplacedOrChangedAfterTheCopyIsNotDeleted) {
    for (const char* name : {"replaced", "grown", "touched", "fine"}) dir_.WriteFile(name, "original");
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    for (const char* name : {"replaced", "grown", "touched", "fine"}) plan.Add(name, std::string(name) + ".new");
    ASSERT_FALSE(plan.Check());
    ASSERT_FALSE(MakeAll(plan, false));
    dir_.WriteFile("replacement", "other");
    ASSERT_EQ(rename((dir_ / "replacement").c_str(), (dir_ / "replaced").c_str()), 0);
    dir_.WriteFile("grown", "original, and more");
    const timespec times[2] = {{UTIME_OMIT, 0}, {12345, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / "touched").c_str(), times, 0), 0);
    ASSERT_EQ(plan.FlushForDelete(), 0);
    EXPECT_EQ(plan.DeleteOld(0), ESTALE);
    EXPECT_EQ(plan.DeleteOld(1), ESTALE);
    EXPECT_EQ(plan.DeleteOld(2), ESTALE);
    EXPECT_EQ(plan.DeleteOld(3), 0);
    EXPECT_EQ(dir_.ReadFile("replaced"), "other");
    EXPECT_EQ(dir_.ReadFile("grown"), "original, and more");
    EXPECT_TRUE(Exists(dir_ / "touched"));
    EXPECT_FALSE(Exists(dir_ / "fine"));
    EXPECT_EQ(dir_.ReadFile("fine.new"), "original");
}

TEST_F(RenamePlanTest, OldFileIsKeptWhenItsCopyHasGone) {
    dir_.WriteFile("a", "A");
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    plan.Add("a", "b");
    ASSERT_FALSE(plan.Check());
    ASSERT_FALSE(MakeAll(plan, true));
    ASSERT_EQ(unlink((dir_ / "b").c_str()), 0);
    EXPECT_EQ(plan.DeleteOld(0), ESTALE);
    EXPECT_EQ(dir_.ReadFile("a"), "A");
}

TEST_F(RenamePlanTest, RollBackKeepsNewFilesWhoseOldFileIsGoneAndFilesItDidNotMake) {
    for (const char* name : {"a", "b", "c"}) dir_.WriteFile(name, name);
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    plan.Add("a", "a2");
    plan.Add("b", "b2");
    plan.Add("c", "c2");
    ASSERT_FALSE(plan.Check());
    ASSERT_FALSE(MakeAll(plan, false));
    ASSERT_EQ(plan.DeleteOld(0), 0);
    ASSERT_EQ(unlink((dir_ / "c2").c_str()), 0);
    dir_.WriteFile("c2", "not ours");
    EXPECT_EQ(plan.RollBack(), 1u);  // only b2
    EXPECT_EQ(dir_.ReadFile("a2"), "a");
    EXPECT_FALSE(Exists(dir_ / "b2"));
    EXPECT_EQ(dir_.ReadFile("c2"), "not ours");
}

// A case-insensitive mount, presented through lstat: every name is looked up
// in lower case.
class CaseInsensitiveOps : public TFileOps {
public:
    int StatAt(int dirFd, const std::string& name, struct stat& st) const override {
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
        return TFileOps::StatAt(dirFd, lower, st);
    }
};

TEST_F(RenamePlanTest, CaseOnlyRenameOnACaseInsensitiveMountIsRefused) {
    dir_.WriteFile("photo.jpg", "only copy");
    CaseInsensitiveOps ops;
    TRenamePlan plan(ops);
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    plan.Add("photo.jpg", "PHOTO.JPG");
    EXPECT_EQ(plan.Check().error, EEXIST);
    EXPECT_EQ(dir_.ReadFile("photo.jpg"), "only copy");
}

// A long list learns which new names are missing from one listing of the
// folder, where names are kept byte for byte: only the old names are looked
// up. Where the folder folds case, every new name is still looked up, so a
// name that differs only in case is found taken.
class CountingOps : public CaseInsensitiveOps {
public:
    explicit CountingOps(bool foldCase) : foldCase_(foldCase) {}
    int StatAt(int dirFd, const std::string& name, struct stat& st) const override {
        ++lookups;
        return foldCase_ ? CaseInsensitiveOps::StatAt(dirFd, name, st) : TFileOps::StatAt(dirFd, name, st);
    }
    mutable std::atomic<size_t> lookups{0};

private:
    bool foldCase_;
};

// The listing is read either by the check itself or ahead, while the rows
// are still being given: both must find the same clashes.
TEST_F(RenamePlanTest, ALongListLooksUpOnlyNewNamesTheFolderMayHoldAndStillFindsCaseOnlyClashes) {
    constexpr size_t kFiles = 200;
    for (size_t i = 0; i < kFiles; ++i) dir_.WriteFile("photo" + std::to_string(i) + ".jpg", "x");
    const auto fill = [](TRenamePlan& plan, size_t upper) {
        for (size_t i = 0; i < kFiles; ++i) {
            const std::string old = "photo" + std::to_string(i) + ".jpg";
            plan.Add(old, i == upper ? "PHOTO" + std::to_string(i) + ".JPG" : "pic" + std::to_string(i) + ".jpg");
        }
    };
    struct statfs info {};
    ASSERT_EQ(statfs(dir_.Path().c_str(), &info), 0);
    for (const bool ahead : {false, true}) {
        SCOPED_TRACE(ahead ? "listed ahead" : "listed by the check");
        const auto open = [&](TRenamePlan& plan) {
            ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
            if (ahead) plan.ListAhead(kFiles);
        };
        {
            CountingOps ops(/*foldCase=*/true);
            TRenamePlan plan(ops);
            open(plan);
            fill(plan, 150);
            EXPECT_EQ(AsPair(plan.Check()), (std::pair<size_t, int>{150, EEXIST}));
        }
        CountingOps ops(/*foldCase=*/false);
        TRenamePlan plan(ops);
        open(plan);
        fill(plan, kFiles);
        EXPECT_FALSE(plan.Check());
        std::vector<uint32_t> names;
        if (!ops.ListExactNames(plan.DirectoryFd(), names))
            GTEST_SKIP() << "names are not kept byte for byte here (file system 0x" << std::hex << info.f_type << ")";
        // The old names, and the listing's probe of one name in turned case.
        EXPECT_LE(ops.lookups, kFiles + 4);
        EXPECT_TRUE(std::binary_search(names.begin(), names.end(), TFileOps::NameHash("photo7.jpg")));
        EXPECT_FALSE(std::binary_search(names.begin(), names.end(), TFileOps::NameHash("pic7.jpg")));
        // A new name the folder holds is in the listing, so it is looked up
        // and refused.
        dir_.WriteFile("pic42.jpg", "taken");
        CountingOps again(/*foldCase=*/false);
        TRenamePlan taken(again);
        open(taken);
        fill(taken, kFiles);
        EXPECT_EQ(AsPair(taken.Check()), (std::pair<size_t, int>{42, EEXIST}));
        ASSERT_EQ(::unlink((dir_ / "pic42.jpg").c_str()), 0);
    }
}

// A row keeps a file's identity in fewer bytes, and gives back every fact
// of it: the largest device numbers, times before 1970 and far ahead, the
// last nanosecond, a birth time.
// The journal and undo tell the new files by the identities the plan gives
// back: each must be the file's own, change time included, whether the row
// was renamed in place (kept as the old file's identity and a change time),
// renamed after the file changed, copied, or linked and then unlinked.
TEST_F(RenamePlanTest, TheNewFileIsKnownExactlyHoweverItWasMade) {
    for (const char* name : {"a", "b", "c", "d"}) dir_.WriteFile(name, "same");
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    for (const char* name : {"a", "b", "c", "d"}) plan.Add(name, std::string(name) + ".new");
    ASSERT_FALSE(plan.Check());
    EXPECT_FALSE(plan.Made(0).Known());
    dir_.WriteFile("b", "longer now");  // changed between the check and its rename
    TFileOps::TBuiltCopy built;
    ASSERT_EQ(plan.BuildNew(0, true, built), 0);
    ASSERT_EQ(plan.BuildNew(1, true, built), 0);
    ASSERT_EQ(plan.BuildNew(2, false, built), 0);
    ASSERT_EQ(plan.NameNew(2, built), 0);
    ASSERT_EQ(plan.CopyOne(3, true), 0);
    ASSERT_EQ(plan.DeleteOld(3), 0);
    const auto expectMade = [&](size_t row) {
        const TFileIdentity made = plan.Made(row);
        const TFileIdentity now = TFileIdentity::Of(Lstat(dir_ / std::string(plan.NewName(row))));
        EXPECT_TRUE(made.SameFile(now)) << row;
        EXPECT_TRUE(made.Untouched(now)) << row;
        EXPECT_EQ(made.ctime.tv_sec, now.ctime.tv_sec) << row;
        EXPECT_EQ(made.ctime.tv_nsec, now.ctime.tv_nsec) << row;
    };
    for (size_t row = 0; row < plan.Count(); ++row) expectMade(row);
    EXPECT_EQ(plan.Made(1).size, 10);
    EXPECT_NE(plan.Made(2).inode, plan.At(2).source.Get().inode);
    // Taken back and made again, each row still knows its own new file.
    EXPECT_EQ(plan.RollBack(), 3u);
    ASSERT_EQ(plan.BuildNew(2, true, built), 0);
    ASSERT_EQ(plan.BuildNew(1, false, built), 0);
    ASSERT_EQ(plan.NameNew(1, built), 0);
    expectMade(1);
    expectMade(2);
}

// The names are held in blocks of their own: a long list spills over
// several, and a name given early must still read back byte for byte once
// later blocks were added.
TEST_F(RenamePlanTest, EveryNameReadsBackExactlyAcrossManyBlocks) {
    TRenamePlan plan;
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    const auto name = [](size_t row, char kind) {
        return std::string(1, kind) + std::to_string(row) +
               std::string(180 + row % 70, static_cast<char>('a' + row % 26));
    };
    constexpr size_t kRows = 12000;  // about 5 MB of names
    plan.Add("", std::string(3 << 20, 'x'));  // a pair longer than a block
    for (size_t row = 1; row < kRows; ++row) plan.Add(name(row, 'o'), row % 1000 ? name(row, 'n') : std::string());
    ASSERT_EQ(plan.Count(), kRows);
    EXPECT_EQ(plan.OldName(0), "");
    EXPECT_EQ(plan.NewName(0), std::string(3 << 20, 'x'));
    for (size_t row = 1; row < kRows; ++row) {
        ASSERT_EQ(plan.OldName(row), name(row, 'o')) << row;
        ASSERT_EQ(plan.NewName(row), row % 1000 ? name(row, 'n') : std::string()) << row;
    }
}

TEST(RenamePlanRowIdentity, EveryFactComesBackExactly) {
    TFileIdentity cases[3];
    cases[1].device = makedev(4095, 0xFFFFF);
    cases[1].inode = ~ino_t{0};
    cases[1].size = (off_t{1} << 62) + 5;
    cases[1].mtime = {-2208988800, 999999999};
    cases[1].ctime = {253402300799, 1};
    cases[1].btime = {1, 500};
    cases[2].device = makedev(259, 3);
    cases[2].inode = 12;
    cases[2].mtime = {1700000000, 123456789};
    for (const TFileIdentity& identity : cases) {
        const TFileIdentity back = TRenamePlan::TRowIdentity(identity);
        EXPECT_EQ(back.device, identity.device);
        EXPECT_EQ(back.inode, identity.inode);
        EXPECT_TRUE(back.Untouched(identity));
        EXPECT_EQ(back.btime.tv_sec, identity.btime.tv_sec);
        EXPECT_EQ(back.btime.tv_nsec, identity.btime.tv_nsec);
        EXPECT_EQ(back.ctime.tv_sec, identity.ctime.tv_sec);
    }
}

TEST_F(RenamePlanTest, UnopenedOrUncheckedPlanDoesNothing) {
    dir_.WriteFile("a", "A");
    TRenamePlan plan;
    EXPECT_EQ(plan.Check().error, EBADF);
    EXPECT_EQ(plan.Open(dir_ / "missing", Database()), ENOENT);
    EXPECT_EQ(plan.Open(dir_ / "a", Database()), ENOTDIR);
    ASSERT_EQ(plan.Open(dir_.Path(), Database()), 0);
    EXPECT_FALSE(plan.Check());  // an empty plan passes
    plan.Add("a", "b");
    EXPECT_EQ(plan.CopyOne(0, false), ECANCELED);
    EXPECT_EQ(plan.DeleteOld(0), ECANCELED);
    ASSERT_FALSE(plan.Check());
    EXPECT_EQ(plan.CopyOne(0, false), 0);
    EXPECT_EQ(plan.CopyOne(0, false), EALREADY);
    EXPECT_FALSE(Exists(dir_ / "missing"));
}

// A name left as it was is refused as taken (EEXIST), unless the target's
// bytes are in it but not as characters of the code page: then as no text
// the replacement can read (EILSEQ), at its own row.
TEST_F(RenamePlanTest, ANameThatHoldsTheTargetOnlyInItsBytesIsRefusedWithIllegalSequence) {
    struct Case {
        const char* what;
        TCodePage::Kind page;
        std::string name;
        const char* target;
        const char* replacement;
        int error;
    };
    const Case cases[] = {
        {"GBK lead byte takes the target's first byte", TCodePage::Kind::Gbk, "caf\xE9-a.bin", "-a", "-b", EILSEQ},
        {"GBK target inside a double-byte character", TCodePage::Kind::Gbk, "\x81\x40x.bin", "@", "#", EILSEQ},
        {"the same bytes under UTF-8 are renamed", TCodePage::Kind::Utf8, "caf\xE9-a.bin", "-a", "-b", 0},
        {"target no longer in the name", TCodePage::Kind::Gbk, "caf\xE9-a.bin", "zz", "y", EEXIST},
        {"replaced by itself", TCodePage::Kind::Utf8, "x-a.bin", "-A", "-a", EEXIST},
    };
    const TCodePage::Kind before = TCodePage::Active().GetKind();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TCodePage::SetActive(c.page);
        // A first row that holds the target as characters is renamed.
        const std::string ok = std::string("ok") + c.target + ".bin";
        test::TTempDir dir;
        dir.WriteFile(ok, "ok");
        dir.WriteFile(c.name, "odd");
        TRenamePlan plan;
        ASSERT_EQ(plan.Open(dir.Path(), Database()), 0);
        plan.SetTarget(c.target);
        for (const std::string& name : {ok, c.name})
            plan.Add(name, ReplaceAllIgnoreCase(name, c.target, c.replacement));
        const TRenamePlan::Failure failure = plan.Check();
        EXPECT_EQ(failure.error, c.error);
        if (c.error != 0) {
            EXPECT_EQ(failure.index, 1u);
        }
    }
    TCodePage::SetActive(before);
}

}  // namespace
}  // namespace vantelo
