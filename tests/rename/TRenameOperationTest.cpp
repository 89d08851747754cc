// The journaled batch, its journal, and the undo, on real folders and a real
// database file: what the journal holds at each end, a stop that takes the
// batch back, undo rules for files changed since, and a database that holds
// the file list gaining the journal's table without its list changing.
#include "rename/EJournalError.h"
#include "rename/TRenameHistory.h"
#include "rename/TRenameJournal.h"
#include "rename/TRenameOperation.h"

#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantelo {
namespace {

class RenameOperationTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A database as the tool has it: the file list, one row on it.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Database().c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "CREATE TABLE Tellarin(FileIndex INTEGER PRIMARY KEY AUTOINCREMENT, FileName "
                               "NVARCHAR(255), FileEnable BOOLEAN); INSERT INTO Tellarin(FileName, FileEnable) "
                               "VALUES ('a.jpg', 1); PRAGMA journal_mode=WAL;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    std::string Database() const { return start_ / "FileName.mdb"; }

    // Runs one batch over `names` (old -> new) and answers its result.
    TRenameOperation::Result RunBatch(const std::vector<std::pair<std::string, std::string>>& names, bool deleteOld,
                                      const TRenameOperation::Callbacks& callbacks = {}) {
        TRenameOperation operation(Database());
        EXPECT_EQ(operation.Open(dir_.Path()), 0);
        for (const auto& [from, to] : names) operation.Add(from, to);
        EXPECT_FALSE(operation.Check());
        return operation.Run(deleteOld, callbacks);
    }

    bool Exists(const std::string& name) const {
        struct stat st;
        return lstat((dir_ / name).c_str(), &st) == 0;
    }

    test::TTempDir dir_, start_;
};

TEST_F(RenameOperationTest, TheJournalLivesBesideTheFileListAndKeepsTheFinishedBatchForUndo) {
    dir_.WriteFile("a.jpg", "a");
    dir_.WriteFile("b.jpg", "b");
    EXPECT_EQ(RunBatch({{"a.jpg", "a.png"}, {"b.jpg", "b.png"}}, true).outcome, TRenameOperation::Outcome::Done);

    TRenameJournal journal(Database());
    EXPECT_FALSE(journal.Unfinished());
    const auto batch = journal.LastDone();
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->directory, dir_.Path());
    EXPECT_TRUE(batch->deleteOld);
    ASSERT_EQ(batch->files.size(), 2u);
    EXPECT_EQ(batch->files[1].oldName, "b.jpg");
    EXPECT_EQ(batch->files[1].newName, "b.png");
    struct stat st;
    ASSERT_EQ(lstat((dir_ / "b.png").c_str(), &st), 0);
    EXPECT_TRUE(batch->files[1].made.SameState(TFileIdentity::Of(st)));

    // The file list is as it was.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Database().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT FileName, FileEnable FROM Tellarin", -1, &statement, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "a.jpg");
    EXPECT_EQ(sqlite3_column_int(statement, 1), 1);
    EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

TEST_F(RenameOperationTest, AStopDuringTheCopiesTakesTheBatchBackAndLeavesNoHistory) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) dir_.WriteFile(name, name);
    std::vector<size_t> reported;
    TRenameOperation::Callbacks callbacks;
    callbacks.progress = [&](size_t done, size_t total, const std::string&, uint64_t) {
        EXPECT_EQ(total, 3u);
        reported.push_back(done);
    };
    callbacks.stopRequested = [&] { return reported.size() == 2; };
    const auto result = RunBatch({{"a.txt", "a.md"}, {"b.txt", "b.md"}, {"c.txt", "c.md"}}, false, callbacks);
    EXPECT_EQ(result.outcome, TRenameOperation::Outcome::Stopped);
    EXPECT_EQ(reported, (std::vector<size_t>{0, 1}));
    EXPECT_FALSE(Exists("a.md") || Exists("b.md") || Exists("c.md"));
    EXPECT_EQ(TRenameHistory(Database()).LastBatchSize(), std::nullopt);
}

TEST_F(RenameOperationTest, AnErrorFromTheCallerPartWayTakesTheBatchBackInBothModes) {
    for (const bool deleteOld : {false, true}) {
        test::TTempDir dir;
        for (const char* name : {"a.txt", "b.txt"}) dir.WriteFile(name, name);
        TRenameOperation operation(Database());
        ASSERT_EQ(operation.Open(dir.Path()), 0);
        operation.Add("a.txt", "a.md");
        operation.Add("b.txt", "b.md");
        ASSERT_FALSE(operation.Check());
        TRenameOperation::Callbacks callbacks;
        callbacks.progress = [](size_t done, size_t, const std::string&, uint64_t) {
            if (done == 1) throw std::runtime_error("window gone");
        };
        EXPECT_THROW(operation.Run(deleteOld, callbacks), std::runtime_error);
        struct stat st;
        EXPECT_EQ(dir.ReadFile("a.txt"), "a.txt") << deleteOld;
        EXPECT_NE(lstat((dir / "a.md").c_str(), &st), 0) << deleteOld;
        EXPECT_EQ(TRenameHistory(Database()).RecoverOne().kind, TRenameHistory::Recovery::Kind::None) << deleteOld;
    }
}

TEST_F(RenameOperationTest, OnceOldFilesGoTheBatchCannotBeStoppedAndSaysSoOnce) {
    for (const char* name : {"a.txt", "b.txt"}) dir_.WriteFile(name, name);
    int turns = 0;
    TRenameOperation::Callbacks callbacks;
    callbacks.noTurningBack = [&] { ++turns; };
    callbacks.stopRequested = [] { return true; };
    EXPECT_EQ(RunBatch({{"a.txt", "a.md"}, {"b.txt", "b.md"}}, true, callbacks).outcome,
              TRenameOperation::Outcome::Done);
    EXPECT_EQ(turns, 1);
    EXPECT_TRUE(Exists("a.md") && Exists("b.md") && !Exists("a.txt"));
}

TEST_F(RenameOperationTest, UndoGivesEachFileBackOnlyWhereThatLosesNothing) {
    struct Case {
        const char* why;
        bool deleteOld;
        std::function<void(const test::TTempDir&)> since;  // what the user did after the batch
        bool undone;
        const char* oldContent;  // content under the old name afterwards, or null for none
        const char* newContent;  // content under the new name afterwards, or null for none
    };
    const Case cases[] = {
        {"renamed, untouched", true, [](const test::TTempDir&) {}, true, "data", nullptr},
        {"renamed, new name edited", true, [](const test::TTempDir& d) { d.WriteFile("f.new", "edited!"); }, false,
         nullptr, "edited!"},
        {"renamed, old name taken again", true, [](const test::TTempDir& d) { d.WriteFile("f.old", "other"); },
         false, "other", "data"},
        {"copied, untouched", false, [](const test::TTempDir&) {}, true, "data", nullptr},
        {"copied, original deleted since", false,
         [](const test::TTempDir& d) { ::unlink((d / "f.old").c_str()); }, true, "data", nullptr},
        {"copied, copy edited", false, [](const test::TTempDir& d) { d.WriteFile("f.new", "edited!"); }, false,
         "data", "edited!"},
        {"copied, copy gone", false, [](const test::TTempDir& d) { ::unlink((d / "f.new").c_str()); }, true, "data",
         nullptr},
    };
    for (const Case& c : cases) {
        test::TTempDir dir;
        dir.WriteFile("f.old", "data");
        // Modification times differ from the edits' by the second at most:
        // give the original an old one.
        const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        ::utimensat(AT_FDCWD, (dir / "f.old").c_str(), times, 0);
        TRenameOperation operation(Database());
        ASSERT_EQ(operation.Open(dir.Path()), 0);
        operation.Add("f.old", "f.new");
        ASSERT_FALSE(operation.Check());
        ASSERT_EQ(operation.Run(c.deleteOld).outcome, TRenameOperation::Outcome::Done) << c.why;
        c.since(dir);
        TRenameHistory history(Database());
        EXPECT_EQ(history.LastBatchSize(), std::optional<size_t>(1)) << c.why;
        const auto result = history.UndoLast();
        ASSERT_TRUE(result) << c.why;
        EXPECT_EQ(result->undone, c.undone ? 1u : 0u) << c.why;
        EXPECT_EQ(result->changed, c.undone ? 0u : 1u) << c.why;
        struct stat st;
        for (const auto& [name, content] : {std::pair{"f.old", c.oldContent}, std::pair{"f.new", c.newContent}}) {
            if (content)
                EXPECT_EQ(dir.ReadFile(name), content) << c.why << ": " << name;
            else
                EXPECT_NE(lstat((dir / name).c_str(), &st), 0) << c.why << ": " << name;
        }
        EXPECT_FALSE(history.UndoLast()) << c.why;  // one batch, undone once
    }
}

TEST_F(RenameOperationTest, OnlyTheNewestFinishedBatchesAreKept) {
    dir_.WriteFile("f0", "x");
    const int batches = TRenameJournal::kKeptBatches + 3;
    for (int i = 0; i < batches; ++i)
        ASSERT_EQ(RunBatch({{"f" + std::to_string(i), "f" + std::to_string(i + 1)}}, true).outcome,
                  TRenameOperation::Outcome::Done);
    TRenameHistory history(Database());
    int undone = 0;
    while (history.UndoLast()) ++undone;
    EXPECT_EQ(undone, TRenameJournal::kKeptBatches);
    EXPECT_TRUE(Exists("f3") && !Exists("f" + std::to_string(batches)));
}

TEST_F(RenameOperationTest, ADamagedOrForeignJournalValueIsRefused) {
    // Identities round-trip whatever their size, a new file noted as its
    // old one included.
    const TFileIdentity big{~dev_t{0}, ~ino_t{0}, off_t{1} << 62, {-5, 999999999}};
    const TFileIdentity small{2049, 12, 0, {1700000000, 0}};
    const std::vector<TRenameJournal::File> all = {
        {"a", "b", big, small}, {"c", "d", small, small}, {"e", "f", small, {}}, {"", std::string(300, 'x'), {}, big}};
    std::vector<TRenameJournal::File> back;
    ASSERT_TRUE(TRenameJournal::Unpack(TRenameJournal::Pack(all), back));
    ASSERT_EQ(back.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(back[i].newName, all[i].newName);
        EXPECT_TRUE(back[i].source.SameState(all[i].source)) << i;
        EXPECT_TRUE(back[i].made.SameState(all[i].made)) << i;
    }

    std::vector<TRenameJournal::File> files(1);
    files[0] = {"old", "new", {}, {}};
    std::vector<TRenameJournal::File> read;
    const std::string packed = TRenameJournal::Pack(files);
    EXPECT_TRUE(TRenameJournal::Unpack(packed, read));
    EXPECT_EQ(read[0].newName, "new");
    EXPECT_FALSE(TRenameJournal::Unpack(packed.substr(0, packed.size() - 1), read));
    EXPECT_FALSE(TRenameJournal::Unpack(std::string("\x01") + packed.substr(1), read));
    EXPECT_FALSE(TRenameJournal::Unpack("", read));
}

TEST_F(RenameOperationTest, AJournalListLongerThanOneSliceReadsBackWholeAndAnOlderRowStillReads) {
    const auto count = [&](const char* sql) {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(Database().c_str(), &db), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK);
        const int rows = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return rows;
    };
    // Some three megabytes packed.
    std::vector<TRenameJournal::File> files(30000);
    for (size_t i = 0; i < files.size(); ++i) {
        std::string name(40, 'n');
        name += std::to_string(i);
        files[i] = {name, name + ".new", {1, i + 1, 10, {1, 2}}, {}};
    }
    const auto sameFiles = [](const std::vector<TRenameJournal::File>& a, const std::vector<TRenameJournal::File>& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i].oldName != b[i].oldName || a[i].newName != b[i].newName || !a[i].source.SameState(b[i].source) ||
                !a[i].made.SameState(b[i].made))
                return false;
        return true;
    };
    TRenameJournal journal(Database());
    const std::string listed = TRenameJournal::Pack(files);
    const int64_t id = journal.Begin("/some/dir", {3, 4, 0, {}}, true, files.size(), TRenameJournal::SlicesOf(listed));
    EXPECT_GT(count("SELECT COUNT(*) FROM RenameJournalFiles"), 1);
    auto unfinished = journal.Unfinished();
    ASSERT_TRUE(unfinished);
    EXPECT_TRUE(sameFiles(unfinished->files, files));

    // A phase alone leaves the list as it is; with a list, the list is replaced.
    journal.SetPhase(id, TRenameJournal::Phase::Deleting);
    EXPECT_TRUE(sameFiles(journal.Unfinished()->files, files));
    for (auto& file : files) file.made = {1, file.source.inode + 100000, 10, {1, 2}};
    const std::string madeFiles = TRenameJournal::Pack(files);
    journal.SetPhase(id, TRenameJournal::Phase::Done, TRenameJournal::SlicesOf(madeFiles));
    auto done = journal.LastDone();
    ASSERT_TRUE(done);
    EXPECT_TRUE(sameFiles(done->files, files));
    journal.Forget(id);
    EXPECT_FALSE(journal.LastDone());
    EXPECT_EQ(count("SELECT COUNT(*) FROM RenameJournalFiles"), 0);

    // A batch recorded with its list in its own row, as the journal once
    // wrote it, is read the same.
    const std::vector<TRenameJournal::File> older = {{"x", "y", {1, 2, 3, {4, 5}}, {}}};
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Database().c_str(), &db), SQLITE_OK);
        sqlite3_stmt* insert = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db,
                                     "INSERT INTO RenameJournal(Directory, DirDevice, DirInode, DeleteOld, Phase, "
                                     "FileCount, Files) VALUES ('/d', 1, 2, 1, 1, 1, ?)",
                                     -1, &insert, nullptr),
                  SQLITE_OK);
        const std::string packed = TRenameJournal::Pack(older);
        sqlite3_bind_blob(insert, 1, packed.data(), static_cast<int>(packed.size()), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
        sqlite3_finalize(insert);
        sqlite3_close(db);
    }
    unfinished = journal.Unfinished();
    ASSERT_TRUE(unfinished);
    EXPECT_TRUE(sameFiles(unfinished->files, older));
}

TEST_F(RenameOperationTest, AJournalThatCannotBeOpenedRaisesBeforeAnyFileIsTouched) {
    dir_.WriteFile("a.txt", "a");
    TRenameOperation operation(start_ / "missing.mdb");
    ASSERT_EQ(operation.Open(dir_.Path()), 0);
    operation.Add("a.txt", "a.md");
    ASSERT_FALSE(operation.Check());
    EXPECT_THROW(operation.Run(true), EJournalError);
    EXPECT_TRUE(Exists("a.txt") && !Exists("a.md"));
}

}  // namespace
}  // namespace vantelo
