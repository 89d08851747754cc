// The batch rename on the awkward inputs a real directory holds: names that
// collide, files that vanish or are swapped under the engine, names that are
// not text, at the length limit or in GBK, and every kind of entry. Each case
// drives the rename job as the main window does, in both modes (old
// files kept or deleted), and checks the error shown and the directory.
#include "DirState.h"
#include "RenameRun.h"

#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vantelo::reliability {
namespace {

// Cancels a pending alarm when a test that must never hang is done.
class HangGuard {
public:
    explicit HangGuard(unsigned seconds) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;
};

// Puts the code page back when a test switched it.
class CodePageGuard {
public:
    explicit CodePageGuard(TCodePage::Kind kind) : saved_(TCodePage::Active().GetKind()) { TCodePage::SetActive(kind); }
    ~CodePageGuard() { TCodePage::SetActive(saved_); }
    CodePageGuard(const CodePageGuard&) = delete;
    CodePageGuard& operator=(const CodePageGuard&) = delete;

private:
    TCodePage::Kind saved_;
};

class RenameInputs : public ::testing::Test {
protected:
    void SetUp() override { CreateDatabase(start_ / "FileName.mdb"); }
    std::string Database() const { return start_ / "FileName.mdb"; }

    test::TTempDir start_;
};

// ---- collisions ------------------------------------------------------------

struct Collision {
    const char* why;
    std::vector<std::string> files;
    // Either a search for `listed`, renamed with `target` -> `replacement`...
    const char* listed;
    const char* target;
    const char* replacement;
    // ...or rows given as they stand.
    Rows rows;
};

TEST_F(RenameInputs, EveryCollisionIsRefusedWithEEXISTBeforeAnythingIsCopied) {
    const Collision collisions[] = {
        {"new name of an existing file", {"x1", "x11"}, "1", "1", "11", {}},
        {"two files meet in one new name", {"photo.JPG", "photo.jpg", "z"}, "jpg", "jpg", "png", {}},
        {"chain x -> xx while xx -> xxxx", {"x", "xx"}, "x", "x", "xx", {}},
        {"target changed after the search", {"a.txt", "b.txt"}, ".txt", ".jpg", ".png", {}},
        {"swap", {"a", "b"}, nullptr, nullptr, nullptr, {{"a", "b"}, {"b", "a"}}},
        {"chain a -> b while b -> c", {"a", "b"}, nullptr, nullptr, nullptr, {{"a", "b"}, {"b", "c"}}},
        {"new name equal to the old", {"a.txt", "b.txt"}, nullptr, nullptr, nullptr,
         {{"a.txt", "a.md"}, {"b.txt", "b.txt"}}},
    };
    for (const Collision& collision : collisions) {
        for (const bool deleteOld : {false, true}) {
            test::TTempDir dir;
            for (const std::string& file : collision.files) dir.WriteFile(file, "content of " + file);
            Rows rows = collision.rows;
            if (collision.listed) {
                for (const auto& row : SearchRows(dir.Path(), collision.listed, ""))
                    rows.emplace_back(row.first, ReplaceAllIgnoreCase(row.first, collision.target, collision.replacement));
            }
            ASSERT_FALSE(rows.empty()) << collision.why;
            const DirState before = Snapshot(dir.Path());
            const RenameOutcome outcome = RunRenameJob(dir.Path(), Database(), rows, deleteOld);
            EXPECT_EQ(outcome.shown, EEXIST) << collision.why << ", deleteOld " << deleteOld;
            EXPECT_EQ(outcome.message, "新文件生成失败，失败号为：17") << collision.why;
            EXPECT_TRUE(SameDirectory(before, Snapshot(dir.Path()))) << collision.why << ", deleteOld " << deleteOld;
        }
    }
}

// ---- the directory changing under the engine -------------------------------

TEST_F(RenameInputs, FileThatVanishesBeforeItsCopyShowsENOENTAndRollsBack) {
    for (const bool deleteOld : {false, true}) {
        test::TTempDir dir;
        for (const char* name : {"f1.txt", "f2.txt", "f3.txt"}) dir.WriteFile(name, name);
        const Rows rows = SearchRows(dir.Path(), ".txt", ".md");
        ASSERT_EQ(rows.size(), 3u);
        const std::string victim = rows[1].first;
        RenameHooks hooks;
        hooks.beforeCopy = [&](size_t i) {
            if (i == 1) ::unlink((dir / victim).c_str());
        };
        DirState expected = Snapshot(dir.Path());
        expected.erase(victim);
        const RenameOutcome outcome = RunRenameJob(dir.Path(), Database(), rows, deleteOld, TFileOps::System(), hooks);
        EXPECT_EQ(outcome.shown, ENOENT) << "deleteOld " << deleteOld;
        EXPECT_TRUE(SameDirectory(expected, Snapshot(dir.Path()))) << "deleteOld " << deleteOld;
    }
}

TEST_F(RenameInputs, FileReplacedBetweenItsCopyAndItsDeletionIsNeverDeleted) {
    test::TTempDir dir;
    for (const char* name : {"f1.txt", "f2.txt", "f3.txt"}) dir.WriteFile(name, std::string("original ") + name);
    const DirState before = Snapshot(dir.Path());
    const Rows rows = SearchRows(dir.Path(), ".txt", ".md");
    ASSERT_EQ(rows.size(), 3u);
    const std::string replaced = rows[1].first;
    RenameHooks hooks;
    hooks.beforeDelete = [&](size_t i) {
        if (i != 1) return;
        dir.WriteFile("incoming", "someone else's new file");
        ::rename((dir / "incoming").c_str(), (dir / replaced).c_str());
    };
    // Only where the old files cannot be renamed in place are they deleted apart.
    NoRenameInPlace ops;
    EXPECT_EQ(RunRenameJob(dir.Path(), Database(), rows, true, ops, hooks).shown, 0);
    const DirState after = Snapshot(dir.Path());
    EXPECT_EQ(dir.ReadFile(replaced), "someone else's new file");
    EXPECT_EQ(after.at(rows[1].second).hash, before.at(replaced).hash);
    for (const size_t i : {0u, 2u}) {
        EXPECT_FALSE(after.count(rows[i].first));
        EXPECT_EQ(after.at(rows[i].second).hash, before.at(rows[i].first).hash);
    }
}

TEST_F(RenameInputs, FileSwappedForAFifoBeforeItsCopyStopsTheBatchWithoutHanging) {
    for (const bool deleteOld : {false, true}) {
        test::TTempDir dir;
        for (const char* name : {"f1.txt", "f2.txt", "f3.txt"}) dir.WriteFile(name, name);
        const Rows rows = SearchRows(dir.Path(), ".txt", ".md");
        const std::string swapped = rows[1].first;
        RenameHooks hooks;
        hooks.beforeCopy = [&](size_t i) {
            if (i != 1) return;
            ::mkfifo((dir / "pipe").c_str(), 0644);
            ::rename((dir / "pipe").c_str(), (dir / swapped).c_str());
        };
        DirState expected = Snapshot(dir.Path());
        HangGuard guard(20);
        const RenameOutcome outcome = RunRenameJob(dir.Path(), Database(), rows, deleteOld, TFileOps::System(), hooks);
        EXPECT_EQ(outcome.shown, EOPNOTSUPP) << "deleteOld " << deleteOld;
        const DirState after = Snapshot(dir.Path());
        EXPECT_TRUE(S_ISFIFO(after.at(swapped).mode));
        expected.erase(swapped);
        DirState afterWithoutFifo = after;
        afterWithoutFifo.erase(swapped);
        EXPECT_TRUE(SameDirectory(expected, afterWithoutFifo)) << "deleteOld " << deleteOld;
    }
}

TEST_F(RenameInputs, AFileSwappedForAFolderMidBatchIsFoundBehindTheRenamesAndEveryFileGoesBack) {
    // Files renamed past the swapped one before it was looked at are taken
    // back too, and the swapped row is the one reported.
    test::TTempDir dir;
    for (int i = 0; i < 2000; ++i) dir.WriteFile("f" + std::to_string(i) + ".txt", std::to_string(i));
    const Rows rows = SearchRows(dir.Path(), ".txt", ".md");
    const size_t swappedRow = 1234;
    const std::string swapped = rows[swappedRow].first;
    RenameHooks hooks;
    hooks.beforeCopy = [&](size_t i) {
        if (i != swappedRow) return;
        ::rename((dir / swapped).c_str(), (dir / "kept").c_str());
        ::mkdir((dir / swapped).c_str(), 0755);
    };
    const RenameOutcome outcome = RunRenameJob(dir.Path(), Database(), rows, true, TFileOps::System(), hooks);
    EXPECT_EQ(outcome.shown, EISDIR);
    const DirState after = Snapshot(dir.Path());
    EXPECT_TRUE(S_ISDIR(after.at(swapped).mode));
    EXPECT_EQ(after.size(), rows.size() + 1);
    for (const auto& [oldName, newName] : rows)
        EXPECT_TRUE(after.count(oldName) && !after.count(newName)) << oldName;
}

// ---- awkward names ---------------------------------------------------------

struct NameCase {
    const char* why;
    std::vector<std::string> files;
    const char* target;
    const char* replacement;
    std::vector<std::string> expectedNewNames;  // any order; empty when refused
    int refusal;
};

void RunNameCases(const std::vector<NameCase>& cases, const std::string& database) {
    for (const NameCase& c : cases) {
        for (const bool deleteOld : {false, true}) {
            test::TTempDir dir;
            for (const std::string& file : c.files) dir.WriteFile(file, "content of " + file);
            const DirState before = Snapshot(dir.Path());
            const Rows rows = SearchRows(dir.Path(), c.target, c.replacement);
            const RenameOutcome outcome = RunRenameJob(dir.Path(), database, rows, deleteOld);
            const DirState after = Snapshot(dir.Path());
            EXPECT_EQ(outcome.shown, c.refusal) << c.why << ", deleteOld " << deleteOld;
            if (c.refusal != 0) {
                EXPECT_TRUE(SameDirectory(before, after)) << c.why;
                continue;
            }
            std::vector<std::string> made;
            for (const auto& row : rows) made.push_back(row.second);
            std::vector<std::string> expected = c.expectedNewNames;
            std::sort(made.begin(), made.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(made, expected) << c.why;
            EXPECT_TRUE(Renamed(before, after, rows, deleteOld)) << c.why << ", deleteOld " << deleteOld;
        }
    }
}

TEST_F(RenameInputs, AwkwardUtf8NamesAreRenamedByteForByte) {
    const std::string longStem(251, 'n');  // with ".txt": 255 bytes
    RunNameCases(
        {
            {"bytes that are not UTF-8 beside a real U+FFFD",
             {"\xFF" "ab.txt", "\xEF\xBF\xBD" "ab.txt", "\xC3\x28" "ab.txt"},
             "ab",
             "cd",
             {"\xC3\x28" "cd.txt", "\xEF\xBF\xBD" "cd.txt", "\xFF" "cd.txt"},
             0},
            {"a newline and a leading dash", {"line\nbreak.txt", "-rf.txt"}, ".txt", ".md", {"-rf.md", "line\nbreak.md"}, 0},
            {"255 bytes stay 255", {longStem + ".txt"}, ".txt", ".md_", {longStem + ".md_"}, 0},
            {"255 bytes become 256", {longStem + ".txt", "short.txt"}, ".txt", ".text", {}, ENAMETOOLONG},
        },
        Database());
}

TEST_F(RenameInputs, GbkNamesAreRenamedWholeCharactersOnly) {
    CodePageGuard gbk(TCodePage::Kind::Gbk);
    const std::string photo = "\xD5\xD5\xC6\xAC";    // 照片
    const std::string picture = "\xCD\xBC\xC6\xAC";  // 图片
    const std::string trailJ = "\xB0\x4A";          // a character whose trail byte is "J"
    RunNameCases(
        {
            {"Latin target, GBK names, a trail byte that looks like a letter",
             {photo + ".JPG", trailJ + "pg.jpg"},
             "jpg",
             "png",
             {photo + ".png", trailJ + "pg.png"},
             0},
            {"GBK target and replacement", {photo + ".txt", "x" + photo}, photo.c_str(), picture.c_str(),
             {picture + ".txt", "x" + picture}, 0},
            // Listed because the bytes occur, but the only occurrence spans two
            // characters: the new name is the old one, and the batch is refused.
            {"target across two characters", {"\xB0\xD5\xD5\xC6\xAC\xA1.txt"}, photo.c_str(), picture.c_str(), {}, EEXIST},
        },
        Database());
}

// ---- kinds of entry --------------------------------------------------------

bool MakeSparse(const std::string& path, off_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, size) == 0;
    for (const off_t at : {off_t{0}, size / 2, size - 4096}) ok = ok && ::pwrite(fd, "data", 4, at) == 4;
    ::close(fd);
    return ok;
}

TEST_F(RenameInputs, EveryKindOfFileKeepsWhatMakesItThatFile) {
    for (const bool deleteOld : {false, true}) {
        test::TTempDir dir;
        ASSERT_EQ(::symlink("nowhere", (dir / "dangling.k").c_str()), 0);
        ASSERT_EQ(::mkdir((dir / "target-dir").c_str(), 0755), 0);
        ASSERT_EQ(::symlink("target-dir", (dir / "dirlink.k").c_str()), 0);
        dir.WriteFile("hard.k", "two names");
        ASSERT_EQ(::link((dir / "hard.k").c_str(), (dir / "hard-other").c_str()), 0);
        ASSERT_TRUE(MakeSparse(dir / "sparse.k", off_t{32} << 20));
        dir.WriteFile("empty.k", "");
        dir.WriteFile("xattr.k", "labelled");
        const bool xattrs = ::setxattr((dir / "xattr.k").c_str(), "user.vantelo", "kept", 4, 0) == 0;
        dir.WriteFile("old.k", "old and private");
        ASSERT_EQ(::chmod((dir / "old.k").c_str(), 0640), 0);
        const timespec times[2] = {{978307200, 0}, {978307200, 123456789}};  // 2001
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "old.k").c_str(), times, 0), 0);

        const DirState before = Snapshot(dir.Path());
        const Rows rows = SearchRows(dir.Path(), ".k", ".r");
        ASSERT_EQ(rows.size(), 7u);
        const RenameOutcome outcome = RunRenameJob(dir.Path(), Database(), rows, deleteOld);
        ASSERT_EQ(outcome.shown, 0) << "deleteOld " << deleteOld;
        const DirState after = Snapshot(dir.Path());
        EXPECT_TRUE(Renamed(before, after, rows, deleteOld)) << "deleteOld " << deleteOld;

        EXPECT_TRUE(S_ISLNK(after.at("dirlink.r").mode));
        EXPECT_EQ(after.at("dirlink.r").target, "target-dir");
        EXPECT_EQ(after.at("dangling.r").target, "nowhere");
        EXPECT_EQ(after.at("old.r").mode & 07777, 0640u);
        EXPECT_EQ(after.at("old.r").mtime.tv_sec, 978307200);
        if (xattrs) {
            EXPECT_EQ(after.at("xattr.r").xattrs, "user.vantelo=kept;");
        }
        // The sparse copy takes no more disk than the original.
        EXPECT_LE(after.at("sparse.r").blocks, before.at("sparse.k").blocks) << "deleteOld " << deleteOld;
        if (deleteOld) {
            EXPECT_EQ(after.at("hard.r").inode, after.at("hard-other").inode);
            EXPECT_EQ(after.at("hard.r").links, 2u);
        } else {
            EXPECT_NE(after.at("hard.r").inode, after.at("hard.k").inode);
            EXPECT_EQ(after.at("hard.k").links, 2u);  // still shared with hard-other
        }
    }
}

TEST_F(RenameInputs, FifoIsRefusedAndNeverHangsTheBatch) {
    for (const bool deleteOld : {false, true}) {
        test::TTempDir dir;
        dir.WriteFile("a.k", "a");
        ASSERT_EQ(::mkfifo((dir / "pipe.k").c_str(), 0644), 0);
        dir.WriteFile("z.k", "z");
        const DirState before = Snapshot(dir.Path());
        HangGuard guard(20);
        const RenameOutcome outcome = SearchAndRename(dir.Path(), Database(), ".k", ".r", deleteOld);
        EXPECT_EQ(outcome.shown, EOPNOTSUPP);
        EXPECT_TRUE(SameDirectory(before, Snapshot(dir.Path())));
    }
}

}  // namespace
}  // namespace vantelo::reliability
