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
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
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
    std::string Journal() const { return start_ / "state/vantelo/journal.db"; }

    // Runs one batch over `names` (old -> new) and answers its result.
    TRenameOperation::Result RunBatch(const std::vector<std::pair<std::string, std::string>>& names, bool deleteOld,
                                      const TRenameOperation::Callbacks& callbacks = {}) {
        TRenameOperation operation(Database(), TFileOps::System(), Journal());
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

TEST_F(RenameOperationTest, TheJournalIsPrivateAndTheFileListGainsNothing) {
    dir_.WriteFile("a.jpg", "a");
    dir_.WriteFile("b.jpg", "b");
    EXPECT_EQ(RunBatch({{"a.jpg", "a.png"}, {"b.jpg", "b.png"}}, true).outcome, TRenameOperation::Outcome::Done);

    struct stat st;
    ASSERT_EQ(stat(Journal().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((start_ / "state/vantelo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    TRenameJournal journal(Journal());
    EXPECT_FALSE(journal.ClaimUnfinished());
    const auto summary = journal.LastDone();
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->directory, dir_.Path());
    EXPECT_TRUE(summary->deleteOld);
    EXPECT_EQ(summary->fileCount, 2u);
    const auto batch = journal.Claim(summary->id, TRenameJournal::Phase::Done);
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->files.size(), 2u);
    EXPECT_EQ(batch->files[1].oldName, "b.jpg");
    EXPECT_EQ(batch->files[1].newName, "b.png");
    ASSERT_EQ(lstat((dir_ / "b.png").c_str(), &st), 0);
    EXPECT_TRUE(batch->files[1].made.Untouched(TFileIdentity::Of(st)));

    // The file list is as it was, and its database holds no table of ours.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Database().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT group_concat(name) FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'", -1, &statement, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "Tellarin");
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

TEST_F(RenameOperationTest, AStartWithNoBatchYetMakesNothing) {
    TRenameHistory history(Journal());
    EXPECT_EQ(history.RecoverOne().kind, TRenameHistory::Recovery::Kind::None);
    EXPECT_FALSE(history.LastBatch());
    EXPECT_FALSE(history.UndoLast());
    EXPECT_EQ(history.TakeOver(Database()), 0u);  // a database of today's layout
    struct stat st;
    EXPECT_NE(lstat((start_ / "state").c_str(), &st), 0);
}

TEST_F(RenameOperationTest, AJournalFolderOthersMayWriteOrThatIsNotTheUsersIsRefused) {
    const std::string folder = start_ / "shared";
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    EXPECT_THROW(TRenameJournal(folder + "/journal.db"), EJournalError);
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    // A journal file others may write is refused too.
    const std::string file = folder + "/journal.db";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    EXPECT_THROW(TRenameJournal{file}, EJournalError);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    EXPECT_NO_THROW(TRenameJournal{file});
    // A relative path is no place for it.
    EXPECT_THROW(TRenameJournal("state/journal.db"), EJournalError);
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
    EXPECT_EQ(TRenameHistory(Journal()).LastBatchSize(), std::nullopt);
}

TEST_F(RenameOperationTest, AnErrorFromTheCallerPartWayTakesTheBatchBackInBothModes) {
    for (const bool deleteOld : {false, true}) {
        test::TTempDir dir;
        for (const char* name : {"a.txt", "b.txt"}) dir.WriteFile(name, name);
        TRenameOperation operation(Database(), TFileOps::System(), Journal());
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
        EXPECT_EQ(TRenameHistory(Journal()).RecoverOne().kind, TRenameHistory::Recovery::Kind::None) << deleteOld;
    }
}

TEST_F(RenameOperationTest, AStopInDeleteModeBeforeAnyOldFileGoesRenamesEverythingBack) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) dir_.WriteFile(name, name);
    int turns = 0;
    size_t seen = 0;
    TRenameOperation::Callbacks callbacks;
    callbacks.noTurningBack = [&] { ++turns; };
    callbacks.progress = [&](size_t, size_t, const std::string&, uint64_t) { ++seen; };
    callbacks.stopRequested = [&] { return seen == 2; };
    const auto result = RunBatch({{"a.txt", "a.md"}, {"b.txt", "b.md"}, {"c.txt", "c.md"}}, true, callbacks);
    EXPECT_EQ(result.outcome, TRenameOperation::Outcome::Stopped);
    EXPECT_EQ(result.leftBehind, 0u);
    EXPECT_EQ(turns, 0);  // in-place renames are taken back: the turn never came
    EXPECT_TRUE(Exists("a.txt") && Exists("b.txt") && Exists("c.txt"));
    EXPECT_FALSE(Exists("a.md") || Exists("b.md") || Exists("c.md"));
    EXPECT_EQ(TRenameHistory(Journal()).LastBatchSize(), std::nullopt);
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
        TRenameOperation operation(Database(), TFileOps::System(), Journal());
        ASSERT_EQ(operation.Open(dir.Path()), 0);
        operation.Add("f.old", "f.new");
        ASSERT_FALSE(operation.Check());
        ASSERT_EQ(operation.Run(c.deleteOld).outcome, TRenameOperation::Outcome::Done) << c.why;
        c.since(dir);
        TRenameHistory history(Journal());
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
    TRenameHistory history(Journal());
    history.DropOldBatches();
    // Nothing of a dropped batch stays behind, its change times included.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Journal().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* count = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT COUNT(DISTINCT BatchId) FROM BatchTimes", -1, &count, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(count, 0), TRenameJournal::kKeptBatches);
    sqlite3_finalize(count);
    sqlite3_close(db);
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
        {"a", "b", big, small}, {"c", "d", small, small}, {"e", "f", small, {}}};
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
    // Names that are not one plain component of a path are refused.
    for (const std::string& bad : {std::string(), std::string(".."), std::string("a/b"), std::string(256, 'x'),
                                   std::string("a\0b", 3)}) {
        std::string forged = TRenameJournal::PackStart();
        TRenameJournal::PackFile(forged, "ok", bad, {}, {});
        EXPECT_FALSE(TRenameJournal::Unpack(forged, read)) << bad;
    }
}

TEST_F(RenameOperationTest, AJournalListLongerThanOneSliceReadsBackWholeAndPhasesMoveOnlyFromWhereTheyAre) {
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
    int64_t id = 0;
    {
        TRenameJournal writer(Journal());
        const std::string listed = TRenameJournal::Pack(files);
        id = writer.Begin({"/some/dir", {3, 4, 0, {}}, 7}, true, files.size(), "abc", TRenameJournal::SlicesOf(listed));
        // Owned by the writer: another reader cannot take it.
        TRenameJournal other(Journal());
        EXPECT_FALSE(other.ClaimUnfinished());
        // A phase moves only from the phase it is in.
        EXPECT_THROW(writer.SetPhase(id, TRenameJournal::Phase::Deleting, TRenameJournal::Phase::Done), EJournalError);
        writer.SetPhase(id, TRenameJournal::Phase::Making, TRenameJournal::Phase::Deleting);
    }
    TRenameJournal journal(Journal());
    auto unfinished = journal.ClaimUnfinished();
    ASSERT_TRUE(unfinished);
    EXPECT_EQ(unfinished->phase, TRenameJournal::Phase::Deleting);
    EXPECT_EQ(unfinished->folder.fsid, 7u);
    EXPECT_TRUE(sameFiles(unfinished->files, files));
    for (auto& file : files) file.made = {1, file.source.inode + 100000, 10, {1, 2}};
    const std::string madeFiles = TRenameJournal::Pack(files);
    journal.SetPhase(id, TRenameJournal::Phase::Deleting, TRenameJournal::Phase::Done, TRenameJournal::SlicesOf(madeFiles));
    journal.Release(id);
    const auto done = journal.Claim(id, TRenameJournal::Phase::Done);
    ASSERT_TRUE(done);
    EXPECT_TRUE(sameFiles(done->files, files));
    journal.Forget(id);
    EXPECT_FALSE(journal.LastDone());
    EXPECT_THROW(journal.Forget(id), EJournalError);
}

// Writes a batch row straight into the journal, as a damaged or forged one.
void ForgeBatch(const std::string& journalPath, const std::string& directory, int64_t count, const std::string& files) {
    TRenameJournal make(journalPath);  // the tables
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(journalPath.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "INSERT INTO Batches(Directory, DirDevice, DirInode, FsId, DeleteOld, Phase, FileCount, "
                                 "Token) VALUES (?, 1, 2, 0, 1, 1, ?, 'x')",
                                 -1, &insert, nullptr),
              SQLITE_OK);
    sqlite3_bind_blob(insert, 1, directory.data(), static_cast<int>(directory.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 2, count);
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_finalize(insert);
    const std::string sql = "INSERT INTO BatchFiles VALUES (" + std::to_string(sqlite3_last_insert_rowid(db)) + ", 0, ?)";
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr), SQLITE_OK);
    sqlite3_bind_blob64(insert, 1, files.data(), files.size(), SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_finalize(insert);
    sqlite3_close(db);
}

TEST_F(RenameOperationTest, ADamagedOrForgedBatchIsSetAsideOnceAndNeverBlocksTheNext) {
    const auto packedName = [](const std::string& oldName, const std::string& newName) {
        std::string packed = TRenameJournal::PackStart();
        TRenameJournal::PackFile(packed, oldName, newName, {1, 2, 3, {4, 5}}, {});
        return packed;
    };
    ForgeBatch(Journal(), dir_.Path(), 1, packedName("../../.ssh/id_rsa", "x"));   // a name that leaves the folder
    ForgeBatch(Journal(), "relative/dir", 1, packedName("a", "b"));               // a folder that is no path
    ForgeBatch(Journal(), dir_.Path(), 2, packedName("a", "b"));                  // a count that does not match
    ForgeBatch(Journal(), dir_.Path(), 1, std::string(32 << 20, '\x03'));         // 32 MiB in one slice
    // A sound batch after them: a crash after its first rename.
    dir_.WriteFile("a.txt", "a");
    {
        TRenameOperation operation(Database(), TFileOps::System(), Journal());
        ASSERT_EQ(operation.Open(dir_.Path()), 0);
        operation.Add("a.txt", "a.md");
        ASSERT_FALSE(operation.Check());
        ASSERT_EQ(operation.Run(true).outcome, TRenameOperation::Outcome::Done);
    }
    TRenameHistory history(Journal());
    // Forge the sound batch back into Making, as a crash would leave it.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Journal().c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "UPDATE Batches SET Phase = 1 WHERE Phase = 3", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    const auto recovery = history.RecoverOne();
    EXPECT_EQ(recovery.kind, TRenameHistory::Recovery::Kind::Undone);
    EXPECT_EQ(recovery.files, 1u);
    EXPECT_TRUE(Exists("a.txt") && !Exists("a.md"));
    const auto setAside = history.TakeSetAside();
    ASSERT_EQ(setAside.size(), 4u);
    EXPECT_EQ(setAside[0].directory, dir_.Path());
    EXPECT_EQ(history.RecoverOne().kind, TRenameHistory::Recovery::Kind::None);
    // Reported once: the next start finds nothing to say.
    TRenameHistory next(Journal());
    EXPECT_EQ(next.RecoverOne().kind, TRenameHistory::Recovery::Kind::None);
    EXPECT_TRUE(next.TakeSetAside().empty());
}

// A batch that renames in place ends by recording only the new change
// times; undo needs them exact, and a file changed between the check and its
// rename still reads back as it was left.
TEST_F(RenameOperationTest, TheEndOfABatchRecordsTheNewFilesAsTheyAreLeft) {
    for (const auto& mode : {std::pair{true, false}, {true, true}, {false, false}}) {
        const bool deleteOld = mode.first, changedMidBatch = mode.second;
        // Enough files for the times to need more than one slice's worth of
        // work, each renamed well after its change time was set.
        std::vector<std::pair<std::string, std::string>> names;
        for (int i = 0; i < 3000; ++i) {
            const std::string name = "f" + std::to_string(i) + (changedMidBatch ? "b" : deleteOld ? "a" : "c");
            dir_.WriteFile(name, "data");
            names.push_back({name, name + ".new"});
        }
        ::usleep(20000);
        TRenameOperation::Callbacks callbacks;
        callbacks.progress = [&](size_t row, size_t, const std::string&, uint64_t) {
            if (changedMidBatch && row == 1234) dir_.WriteFile(names[row].first, "grown!");
        };
        ASSERT_EQ(RunBatch(names, deleteOld, callbacks).outcome, TRenameOperation::Outcome::Done);
        {
            TRenameJournal journal(Journal());
            const auto batch = journal.Claim(journal.LastDone()->id, TRenameJournal::Phase::Done);
            ASSERT_TRUE(batch && batch->files.size() == names.size());
            for (size_t i = 0; i < names.size(); ++i) {
                struct stat st;
                ASSERT_EQ(lstat((dir_ / names[i].second).c_str(), &st), 0);
                EXPECT_TRUE(batch->files[i].made.Untouched(TFileIdentity::Of(st))) << names[i].second;
            }
        }
        const auto undone = TRenameHistory(Journal()).UndoLast();
        ASSERT_TRUE(undone);
        EXPECT_EQ(undone->undone, names.size()) << changedMidBatch;
        EXPECT_EQ(dir_.ReadFile(names[1234].first), changedMidBatch ? "grown!" : "data");
    }
    // A copy recorded twice (built again when the first could not be
    // named) reads back as the later one, with the end's change time.
    {
        TRenameJournal journal(Journal());
        const TFileIdentity source{1, 10, 4, {5, 0}}, first{1, 11, 4, {5, 0}}, second{1, 12, 4, {5, 0}};
        const std::vector<TRenameJournal::File> files = {{"a", "b", source, {}}};
        const int64_t id = journal.Begin({dir_.Path(), {}, 0}, false, 1, "t", TRenameJournal::SlicesOf(files));
        journal.AddMade(id, {{0, first}});
        journal.AddMade(id, {{0, second}});
        journal.SetPhase(id, TRenameJournal::Phase::Making, TRenameJournal::Phase::Done, 1,
                         [](size_t) { return timespec{7, 8}; });
        journal.Release(id);
        const auto batch = journal.Claim(id, TRenameJournal::Phase::Done);
        ASSERT_TRUE(batch);
        EXPECT_EQ(batch->files[0].made.inode, 12u);
        EXPECT_EQ(batch->files[0].made.ctime.tv_sec, 7);
        EXPECT_EQ(batch->files[0].made.ctime.tv_nsec, 8);
        journal.Forget(id);
    }
    // Times that do not cover the list exactly mark the batch damaged.
    for (const char* forged : {"x'01' || substr(Times, 2)",  // a slice off its place
                               "x'00'",                      // no file's time
                               "Times || x'0000'"}) {       // a file too many
        dir_.WriteFile("g", "g");
        ASSERT_EQ(RunBatch({{"g", "h"}}, true).outcome, TRenameOperation::Outcome::Done);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Journal().c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, (std::string("UPDATE BatchTimes SET Times = ") + forged).c_str(), nullptr, nullptr,
                               nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
        TRenameHistory history(Journal());
        EXPECT_FALSE(history.UndoLast()) << forged;
        EXPECT_EQ(history.TakeSetAside().size(), 1u) << forged;
        EXPECT_TRUE(Exists("h"));
        ::unlink((dir_ / "h").c_str());
    }
}

TEST_F(RenameOperationTest, RecoveryRemovesOnlyCopiesItRecordedNeverALookAlike) {
    // A keep-mode batch cut short: the second row's new name now holds a
    // user's file with the same size and time as its original.
    dir_.WriteFile("a.txt", "aaaa");
    dir_.WriteFile("b.txt", "bbbb");
    int64_t id = 0;
    {
        TRenameOperation operation(Database(), TFileOps::System(), Journal());
        ASSERT_EQ(operation.Open(dir_.Path()), 0);
        operation.Add("a.txt", "a.md");
        operation.Add("b.txt", "b.md");
        ASSERT_FALSE(operation.Check());
        ASSERT_EQ(operation.Run(false).outcome, TRenameOperation::Outcome::Done);
        id = TRenameJournal(Journal()).LastDone()->id;
    }
    ::unlink((dir_ / "b.md").c_str());
    dir_.WriteFile("b.md", "user");  // same size
    struct stat st;
    ASSERT_EQ(stat((dir_ / "b.txt").c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "b.md").c_str(), times, 0), 0);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Journal().c_str(), &db), SQLITE_OK);
        // Back to Making, as a crash before the batch was done leaves it.
        const std::string sql = "UPDATE Batches SET Phase = 1 WHERE BatchId = " + std::to_string(id);
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    TRenameHistory history(Journal());
    const auto recovery = history.RecoverOne();
    EXPECT_EQ(recovery.kind, TRenameHistory::Recovery::Kind::Undone);
    EXPECT_EQ(recovery.files, 1u);
    EXPECT_FALSE(Exists("a.md"));
    EXPECT_EQ(dir_.ReadFile("b.md"), "user");
}

TEST_F(RenameOperationTest, ABatchWhoseFolderIsAwayStaysPendingUntilItIsBack) {
    test::TTempDir holder;
    const std::string folder = holder / "stick";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    {
        std::FILE* f = std::fopen((folder + "/a.txt").c_str(), "w");
        std::fputs("a", f);
        std::fclose(f);
    }
    {
        TRenameOperation operation(Database(), TFileOps::System(), Journal());
        ASSERT_EQ(operation.Open(folder), 0);
        operation.Add("a.txt", "a.md");
        ASSERT_FALSE(operation.Check());
        ASSERT_EQ(operation.Run(true).outcome, TRenameOperation::Outcome::Done);
    }
    ASSERT_EQ(::rename(folder.c_str(), (holder / "unplugged").c_str()), 0);
    {
        TRenameHistory history(Journal());
        const auto away = history.UndoLast();
        ASSERT_TRUE(away);
        EXPECT_TRUE(away->folderAway);
        EXPECT_EQ(away->folder, folder);
    }
    ASSERT_EQ(::rename((holder / "unplugged").c_str(), folder.c_str()), 0);
    TRenameHistory history(Journal());
    const auto undone = history.UndoLast();
    ASSERT_TRUE(undone);
    EXPECT_EQ(undone->undone, 1u);
    struct stat st;
    EXPECT_EQ(lstat((folder + "/a.txt").c_str(), &st), 0);
}

TEST_F(RenameOperationTest, UndoNoticesAChangeThatKeptSizeAndTime) {
    dir_.WriteFile("f.old", "data");
    ASSERT_EQ(RunBatch({{"f.old", "f.new"}}, true).outcome, TRenameOperation::Outcome::Done);
    struct stat st;
    ASSERT_EQ(stat((dir_ / "f.new").c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    dir_.WriteFile("f.new", "DATA");  // same size, as touch -r would leave it
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "f.new").c_str(), times, 0), 0);
    const auto result = TRenameHistory(Journal()).UndoLast();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->changed, 1u);
    EXPECT_EQ(dir_.ReadFile("f.new"), "DATA");
    EXPECT_FALSE(Exists("f.old"));
}

// Two processes on one journal: the first runs a batch of tens of thousands
// of files; half-way through, and again and again until it ends, a second
// one looks for a batch to recover and one to undo, as a second start and a
// Ctrl+Z would. It never takes the running batch, the first one's result is
// true, and once it is done the batch is undone.
TEST_F(RenameOperationTest, ASecondProcessNeverTouchesABatchAnotherProcessIsRunning) {
    constexpr size_t kFiles = 20000;
    const auto oldName = [](size_t i) { return "f" + std::to_string(i) + ".k"; };
    const auto newName = [](size_t i) { return "f" + std::to_string(i) + ".r"; };
    for (const bool deleteOld : {false, true}) {
        test::TTempDir dir;
        for (size_t i = 0; i < kFiles; ++i) dir.WriteFile(oldName(i), "content " + std::to_string(i));
        int halfWay[2], goOn[2];
        ASSERT_EQ(::pipe2(halfWay, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(goOn, O_CLOEXEC), 0);
        const pid_t first = ::fork();
        ASSERT_GE(first, 0);
        if (first == 0) {
            // The first process: its exit status is its batch's outcome.
            int status = 3;
            try {
                TRenameOperation operation(Database(), TFileOps::System(), Journal());
                if (operation.Open(dir.Path()) == 0) {
                    for (size_t i = 0; i < kFiles; ++i) operation.Add(oldName(i), newName(i));
                    if (!operation.Check()) {
                        TRenameOperation::Callbacks callbacks;
                        callbacks.progress = [&](size_t done, size_t, const std::string&, uint64_t) {
                            if (done != kFiles / 2) return;
                            char byte = 'h';
                            if (::write(halfWay[1], &byte, 1) != 1 || ::read(goOn[0], &byte, 1) != 1) ::_exit(4);
                        };
                        status = operation.Run(deleteOld, callbacks).outcome == TRenameOperation::Outcome::Done ? 0 : 1;
                    }
                }
            } catch (...) {
                status = 2;
            }
            ::_exit(status);
        }
        ::close(halfWay[1]);
        ::close(goOn[0]);
        char byte = 0;
        ASSERT_EQ(::read(halfWay[0], &byte, 1), 1) << "the first process never reached half-way";
        // Half-way, the second process finds nothing to recover or undo...
        {
            TRenameHistory other(Journal());
            EXPECT_EQ(other.RecoverOne().kind, TRenameHistory::Recovery::Kind::None) << deleteOld;
            EXPECT_EQ(other.LastBatchSize(), std::nullopt) << deleteOld;
            EXPECT_FALSE(other.UndoLast()) << deleteOld;
        }
        ASSERT_EQ(::write(goOn[1], &byte, 1), 1);
        ::close(goOn[1]);
        ::close(halfWay[0]);
        // ...nor anything to recover while the first runs on to its end.
        size_t looks = 0;
        int status = 0;
        for (; ::waitpid(first, &status, WNOHANG) == 0; ++looks)
            EXPECT_EQ(TRenameHistory(Journal()).RecoverOne().kind, TRenameHistory::Recovery::Kind::None) << deleteOld;
        ASSERT_TRUE(WIFEXITED(status)) << deleteOld;
        EXPECT_EQ(WEXITSTATUS(status), 0) << deleteOld;
        EXPECT_GT(looks, 0u);
        for (size_t i = 0; i < kFiles; i += 97) {
            EXPECT_EQ(dir.ReadFile(newName(i)), "content " + std::to_string(i)) << deleteOld;
            struct stat st;
            EXPECT_EQ(lstat((dir / oldName(i)).c_str(), &st) == 0, !deleteOld) << i;
        }
        // Once it is done, the batch is the one Ctrl+Z offers, and undoes.
        EXPECT_EQ(TRenameHistory(Journal()).LastBatchSize(), std::optional<size_t>(kFiles)) << deleteOld;
        const auto undone = TRenameHistory(Journal()).UndoLast();
        ASSERT_TRUE(undone);
        EXPECT_EQ(undone->undone, kFiles) << deleteOld;
        EXPECT_EQ(dir.ReadFile(oldName(kFiles - 1)), "content " + std::to_string(kFiles - 1));
        struct stat st;
        EXPECT_NE(lstat((dir / newName(0)).c_str(), &st), 0) << deleteOld;
    }
}

TEST_F(RenameOperationTest, ADatabaseCarryingAJournalOfThePreviousLayoutIsNeverReadForBatches) {
    // A folder received from someone else carries a FileName.mdb whose
    // journal table points at a file elsewhere.
    test::TTempDir elsewhere;
    elsewhere.WriteFile("secret", "mine");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Database().c_str(), &db), SQLITE_OK);
    const std::string sql =
        "CREATE TABLE RenameJournal(BatchId INTEGER PRIMARY KEY AUTOINCREMENT, Directory BLOB NOT NULL, "
        "DirDevice INTEGER NOT NULL, DirInode INTEGER NOT NULL, DeleteOld INTEGER NOT NULL, Phase INTEGER NOT NULL, "
        "FileCount INTEGER NOT NULL, Files BLOB NOT NULL); INSERT INTO RenameJournal VALUES (1, '" +
        elsewhere.Path() + "', 0, 0, 1, 4, 1, x'02')";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    TRenameHistory history(Journal());
    EXPECT_EQ(history.RecoverOne().kind, TRenameHistory::Recovery::Kind::None);
    EXPECT_FALSE(history.UndoLast());
    EXPECT_EQ(elsewhere.ReadFile("secret"), "mine");
}

TEST_F(RenameOperationTest, TheUsersOwnDatabaseOfTheEarlierLayoutIsTakenOverOnceAndLosesItsTables) {
    // A batch renamed in place and finished, as the earlier layout kept it:
    // its list in the row, identities without change or birth times.
    dir_.WriteFile("b.jpg", "b");
    struct stat st;
    ASSERT_EQ(lstat((dir_ / "b.jpg").c_str(), &st), 0);
    ASSERT_EQ(::rename((dir_ / "b.jpg").c_str(), (dir_ / "b.png").c_str()), 0);
    ASSERT_EQ(lstat((dir_ / "b.png").c_str(), &st), 0);
    std::string packed(1, '\x02');
    const auto number = [&packed](uint64_t value) {
        for (; value >= 0x80; value >>= 7) packed.push_back(static_cast<char>((value & 0x7F) | 0x80));
        packed.push_back(static_cast<char>(value));
    };
    const auto fold = [](int64_t v) { return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63); };
    for (const char* name : {"b.jpg", "b.png"}) {
        number(std::strlen(name));
        packed += name;
    }
    number(st.st_dev), number(st.st_ino), number(fold(st.st_size)), number(fold(st.st_mtim.tv_sec)),
        number(static_cast<uint64_t>(st.st_mtim.tv_nsec));
    packed.push_back('\x01');  // the new file is the old one
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Database().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE RenameJournal(BatchId INTEGER PRIMARY KEY AUTOINCREMENT, Directory BLOB NOT NULL, "
                           "DirDevice INTEGER NOT NULL, DirInode INTEGER NOT NULL, DeleteOld INTEGER NOT NULL, "
                           "Phase INTEGER NOT NULL, FileCount INTEGER NOT NULL, Files BLOB NOT NULL)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    struct stat dirSt;
    ASSERT_EQ(stat(dir_.Path().c_str(), &dirSt), 0);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO RenameJournal VALUES (1, ?, ?, ?, 1, 3, 1, ?)", -1, &insert, nullptr),
              SQLITE_OK);
    sqlite3_bind_blob(insert, 1, dir_.Path().data(), static_cast<int>(dir_.Path().size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 2, static_cast<int64_t>(dirSt.st_dev));
    sqlite3_bind_int64(insert, 3, static_cast<int64_t>(dirSt.st_ino));
    sqlite3_bind_blob(insert, 4, packed.data(), static_cast<int>(packed.size()), SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_finalize(insert);
    sqlite3_close(db);
    // Writable by others: never read.
    ASSERT_EQ(::chmod(Database().c_str(), 0666), 0);
    EXPECT_EQ(TRenameHistory(Journal()).TakeOver(Database()), 0u);
    ASSERT_EQ(::chmod(Database().c_str(), 0644), 0);

    TRenameHistory history(Journal());
    EXPECT_EQ(history.TakeOver(Database()), 1u);
    EXPECT_EQ(history.TakeOver(Database()), 0u);  // once only
    EXPECT_EQ(history.LastBatchSize(), std::optional<size_t>(1));
    const auto undone = history.UndoLast();
    ASSERT_TRUE(undone);
    EXPECT_EQ(undone->undone, 1u);
    EXPECT_EQ(dir_.ReadFile("b.jpg"), "b");
    ASSERT_EQ(sqlite3_open(Database().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* tables = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE name LIKE 'RenameJournal%'", -1, &tables,
                                 nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(tables), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(tables, 0), 0);
    sqlite3_finalize(tables);
    sqlite3_close(db);
}

TEST_F(RenameOperationTest, AJournalThatCannotBeOpenedRaisesBeforeAnyFileIsTouched) {
    dir_.WriteFile("a.txt", "a");
    // The journal's folder is a file: it cannot be made.
    test::TTempDir other;
    other.WriteFile("state", "");
    TRenameOperation operation(Database(), TFileOps::System(), other / "state/vantelo/journal.db");
    ASSERT_EQ(operation.Open(dir_.Path()), 0);
    operation.Add("a.txt", "a.md");
    ASSERT_FALSE(operation.Check());
    EXPECT_THROW(operation.Run(true), EJournalError);
    EXPECT_TRUE(Exists("a.txt") && !Exists("a.md"));
}

}  // namespace
}  // namespace vantelo
