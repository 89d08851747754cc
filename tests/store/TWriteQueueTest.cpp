// Posts a batch holds back and writes in runs: the table they leave, what a
// read inside the batch sees, and what a row that fails when the held rows
// are written leaves behind.
#include "store/AdoTexts.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TFields.h"
#include "tests/store/AdoTestSupport.h"
#include "tests/support/TFullDiskVfs.h"

#include <gtest/gtest.h>

#include <functional>

#include <map>
#include <string>
#include <vector>

namespace vantelo {
namespace {

using test::ErrorOf;
using test::OpenOn;
using test::TDatabaseFolder;

class WriteQueueTest : public ::testing::Test {
protected:
    WriteQueueTest()
    {
        connection.SetConnectionString(AdoTexts::kFileListConnectionString);
        connection.SetLoginPrompt(false);
        query.SetConnection(&connection);
        other.SetConnection(&connection);
    }

    // The whole table and its rowid counter, as another process reads them.
    static std::vector<std::string> Dump(test::TRawDb& db)
    {
        std::vector<std::string> rows =
            db.Column("SELECT FileIndex || '|' || quote(FileName) || '|' || quote(FileEnable) FROM Tellarin "
                      "ORDER BY FileIndex");
        rows.push_back("seq " + db.Scalar("SELECT seq FROM sqlite_sequence WHERE name = 'Tellarin'"));
        return rows;
    }

    // The rows the query holds, as "index|name|enabled".
    static std::vector<std::string> Held(TADOQuery& q)
    {
        std::vector<std::string> rows;
        for (q.First(); !q.Eof(); q.Next())
            rows.push_back(q.FieldByName("FileIndex").AsString() + "|" + q.FieldByName("FileName").AsString() + "|" +
                           q.FieldByName("FileEnable").AsString());
        return rows;
    }

    // What the search and the rename do to a list: overwrite the rows in
    // order, append past the end, switch rows off in runs, switch every
    // other row on, and edit some rows again and out of order, including rows
    // just appended.
    void Script(int appended)
    {
        OpenOn(query, "Select * From Tellarin");
        for (int i = 0; i < appended; ++i) {
            if (query.Eof())
                query.Insert();
            else
                query.Edit();
            query.FieldByName("FileName").SetAsString("IMG_" + std::to_string(i) + (i % 7 == 0 ? "\xff.jpg" : ".jpg"));
            query.FieldByName("FileEnable").SetAsBoolean(true);
            query.Post();
            query.Next();
        }
        for (query.First(); !query.Eof(); query.Next()) {
            query.Edit();
            query.FieldByName("FileEnable").SetAsBoolean(query.RecNo() % 500 == 0);
            query.Post();
        }
        for (query.First(); !query.Eof(); query.MoveBy(2)) {
            query.Edit();
            query.FieldByName("FileEnable").SetAsBoolean(true);
            query.Post();
        }
        for (query.Last(); !query.Bof(); query.MoveBy(-3)) {
            query.Edit();
            query.FieldByName("FileName").SetAsString("again " + query.FieldByName("FileName").AsString());
            query.Post();
        }
    }

    // Inserts rows named by name(i) for i in [from, to) at the end of the
    // query, as a caller does that cancels a row whose post fails and goes
    // on; answers "i: error" for each post that failed.
    std::vector<std::string> InsertRows(int from, int to, const std::function<std::string(int)>& name)
    {
        std::vector<std::string> failed;
        query.Last();
        for (int i = from; i < to; ++i) {
            query.Insert();
            query.FieldByName("FileName").SetAsString(name(i));
            query.FieldByName("FileEnable").SetAsBoolean(true);
            const std::string error = ErrorOf([&] { query.Post(); });
            if (error != "no error") {
                failed.push_back(std::to_string(i) + ": " + error);
                query.Cancel();
            }
        }
        return failed;
    }
    // The rows the query shows are the table's rows, none twice.
    void ExpectQueryIsTable()
    {
        const std::vector<std::string> held = Held(query);
        OpenOn(other, "Select * From Tellarin");
        EXPECT_EQ(held, Held(other));
        std::map<std::string, int> seen;
        for (const std::string& row : held)
            EXPECT_EQ(++seen[row.substr(0, row.find('|'))], 1) << row;
        other.Close();
    }

    TADOConnection connection{nullptr, "ADOConnection1"};
    TADOQuery query{nullptr, "ADOQuery1"};
    TADOQuery other{nullptr, "ADOQueryTemp"};
};

TEST_F(WriteQueueTest, PostsHeldBackInABatchLeaveTheTableAsTheSamePostsWrittenOneByOne)
{
    // More rows than the queue holds at once, over a table whose counter is
    // ahead of its largest row (rows 3 and 4 were deleted).
    std::vector<std::vector<std::string>> tables;
    for (const bool batched : {false, true}) {
        SCOPED_TRACE(batched ? "in a batch" : "one by one");
        TDatabaseFolder folder;
        folder.AddRows({{"a", true}, {"b", false}, {"c", true}, {"d", true}});
        auto view = folder.Open();
        ASSERT_EQ(view->Exec("DELETE FROM Tellarin WHERE FileIndex > 2"), "");
        if (batched)
            connection.BeginBatch();
        Script(9000);
        if (batched) {
            EXPECT_TRUE(connection.InTransaction());
            connection.CommitBatch();
        }
        EXPECT_FALSE(connection.InTransaction());
        const std::vector<std::string> held = Held(query);
        OpenOn(other, "Select * From Tellarin");
        EXPECT_EQ(held, Held(other));
        tables.push_back(Dump(*view));
        EXPECT_EQ(tables.back().size(), 9001u);
        // Rows 1 and 2 overwritten; the appended rows start past the counter.
        EXPECT_EQ(tables.back()[2].substr(0, 2), "5|");
        EXPECT_EQ(tables.back().back(), "seq 9002");
        EXPECT_EQ(view->Scalar("PRAGMA integrity_check"), "ok");
        query.Close();
        other.Close();
        connection.Close();
    }
    EXPECT_EQ(tables[0], tables[1]);
}

TEST_F(WriteQueueTest, AReadInsideTheBatchSeesTheRowsHeldBackAndAnotherProcessSeesThemOnlyAtTheCommit)
{
    TDatabaseFolder folder;
    auto view = folder.Open();
    OpenOn(query, "Select * From Tellarin");
    connection.BeginBatch();
    for (const char* name : {"x", "y", "z"}) {
        query.Insert();
        query.FieldByName("FileName").SetAsString(name);
        query.FieldByName("FileEnable").SetAsBoolean(true);
        query.Post();
    }
    query.First();
    query.Edit();
    query.FieldByName("FileEnable").SetAsBoolean(false);
    query.Post();
    OpenOn(other, "Select * From Tellarin Where FileEnable = True");
    EXPECT_EQ(Held(other), (std::vector<std::string>{"2|y|True", "3|z|True"}));
    EXPECT_EQ(view->Scalar("SELECT count(*) FROM Tellarin"), "0");
    connection.CommitBatch();
    EXPECT_EQ(view->Scalar("SELECT count(*) FROM Tellarin"), "3");
    EXPECT_EQ(view->Scalar("SELECT sum(FileEnable) FROM Tellarin"), "2");
}

// A row refused only when the held rows are written: the rows before it are
// written and committed before its error is seen, it and the rest are not.
TEST_F(WriteQueueTest, ARowRefusedWhenTheHeldRowsAreWrittenFailsTheCommitAndKeepsTheRowsBeforeIt)
{
    TDatabaseFolder folder;
    auto view = folder.Open();
    OpenOn(query, "Select * From Tellarin");
    connection.BeginBatch();
    const std::vector<std::string> names = {"one", "two", "bad", "four"};
    for (size_t i = 0; i < names.size(); ++i) {
        query.Insert();
        query.FieldByName("FileName").SetAsString(names[i]);
        query.Post();
        // The table's rules are learned at the first post; a refusal the
        // engine makes only at the write comes after.
        if (i == 0) {
            ASSERT_EQ(sqlite3_exec(connection.Handle(),
                                   "CREATE TEMP TRIGGER Refuse BEFORE INSERT ON Tellarin WHEN NEW.FileName = 'bad' "
                                   "BEGIN SELECT RAISE(ABORT, 'refused here'); END",
                                   nullptr, nullptr, nullptr),
                      SQLITE_OK);
        }
    }
    EXPECT_EQ(ErrorOf([&] { connection.CommitBatch(); }), "EDatabaseError: refused here");
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_EQ(view->Column("SELECT FileName FROM Tellarin ORDER BY FileIndex"),
              (std::vector<std::string>{"one", "two"}));
}

// Held without the write lock, edits wait for the lock's holder to be done;
// a post that would need the lock (an insert, or a table that may refuse a
// row) says so and changes nothing, and the held edits reach the table with
// the commit.
TEST_F(WriteQueueTest, WithoutTheLockOnlyEditsAreHeldAndAPostThatNeedsTheLockChangesNothing)
{
    TDatabaseFolder folder;
    folder.AddRows({{"a", true}, {"b", true}, {"c", true}});
    auto view = folder.Open();
    OpenOn(query, "Select * From Tellarin");
    connection.BeginBatch();
    connection.SetHoldWithoutLock(true);
    for (query.First(); !query.Eof(); query.Next()) {
        query.Edit();
        query.FieldByName("FileEnable").SetAsBoolean(false);
        query.Post();
    }
    EXPECT_FALSE(connection.InTransaction());
    // Another connection may write meanwhile.
    EXPECT_EQ(view->Exec("UPDATE Tellarin SET FileName = 'elsewhere' WHERE FileIndex = 3"), "");
    query.Insert();
    query.FieldByName("FileName").SetAsString("new");
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), "EPostNotHeld: post not held");
    query.Cancel();
    EXPECT_EQ(query.RecordCount(), 3);
    connection.SetHoldWithoutLock(false);
    connection.CommitBatch();
    EXPECT_EQ(view->Column("SELECT FileName || FileEnable FROM Tellarin ORDER BY FileIndex"),
              (std::vector<std::string>{"a0", "b0", "elsewhere0"}));

    // A table that may refuse a row: not even an edit is held.
    ASSERT_EQ(view->Exec("CREATE UNIQUE INDEX OneName ON Tellarin (FileName)"), "");
    OpenOn(query, "Select * From Tellarin");
    connection.BeginBatch();
    connection.SetHoldWithoutLock(true);
    query.Edit();
    query.FieldByName("FileEnable").SetAsBoolean(true);
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), "EPostNotHeld: post not held");
    query.Cancel();
    EXPECT_FALSE(connection.InTransaction());
    connection.SetHoldWithoutLock(false);
    connection.CommitBatch();
    EXPECT_EQ(view->Scalar("SELECT sum(FileEnable) FROM Tellarin"), "0");
}

// A rule the table gains between two batches (another connection adds it
// while no batch holds the lock) is known before the next batch holds a row:
// the row it refuses fails at its own post, OnPostError is told of that row
// (a retry fails alike), and the posts before and after it are written; a
// trigger that rewrites a value shows in the rows the query holds.
TEST_F(WriteQueueTest, ARuleAddedBetweenBatchesActsAtTheRowsOwnPost)
{
    struct Case {
        const char* what;
        const char* rule;
        size_t refused;
    } cases[] = {
        {"a unique index", "CREATE UNIQUE INDEX OneName ON Tellarin (FileName)", 1},
        {"a trigger rewriting names",
         "CREATE TRIGGER Loud AFTER INSERT ON Tellarin BEGIN "
         "UPDATE Tellarin SET FileName = upper(NEW.FileName) WHERE FileIndex = NEW.FileIndex; END",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TDatabaseFolder folder;
        auto view = folder.Open();
        OpenOn(query, "Select * From Tellarin");
        connection.BeginBatch();
        InsertRows(0, 10, [](int i) { return "f" + std::to_string(i); });
        connection.CommitBatch();
        ASSERT_EQ(view->Exec(c.rule), "");

        int afterPost = 0;
        query.SetHook(TDataSetHook::AfterPost, [&](TDataSet&) { ++afterPost; });
        std::vector<std::string> told;
        query.SetOnPostError([&](TDataSet&, EDatabaseError& error, TDataAction& action) {
            told.push_back(query.FieldByName("FileName").AsString() + ": " + error.Message());
            action = told.size() == 1 ? TDataAction::Retry : TDataAction::Fail;
        });
        connection.BeginBatch();
        // Row 3000 repeats a name of the first batch.
        const auto failed =
            InsertRows(10, 5010, [](int i) { return i == 3000 ? std::string("f7") : "f" + std::to_string(i); });
        connection.CommitBatch();
        query.SetOnPostError(nullptr);
        EXPECT_EQ(failed.size(), c.refused);
        EXPECT_EQ(static_cast<size_t>(afterPost), 5000 - c.refused);
        if (c.refused) {
            EXPECT_EQ(failed[0], "3000: EDatabaseError: UNIQUE constraint failed: Tellarin.FileName");
            EXPECT_EQ(told, std::vector<std::string>(2, "f7: UNIQUE constraint failed: Tellarin.FileName"));
        }
        EXPECT_EQ(view->Scalar("SELECT count(*) FROM Tellarin"), std::to_string(5010 - c.refused));
        ExpectQueryIsTable();
        // The hook counts into this round's counter: it goes with the round.
        query.SetHook(TDataSetHook::AfterPost, nullptr);
        query.Close();
        connection.Close();
    }
}

// A refusal that comes only when the held rows are written (here a rule of
// the connection's own, which no other connection sees) belongs to its row: the rows before it
// are written, and the post, open or commit that wrote them tells it with
// the engine's text, as does every post, open and commit of the batch after
// it; the query shows no row the table does not hold.
TEST_F(WriteQueueTest, ARowRefusedWhenHeldRowsAreWrittenFailsEveryLaterStepOfTheBatch)
{
    struct Case {
        bool byOpen;
        const char* action;
        std::string error;
    } cases[] = {
        {false, "RAISE(ABORT, 'refused here')", "EDatabaseError: refused here"},
        {true, "RAISE(ABORT, 'refused here')", "EDatabaseError: refused here"},
        {false, "RAISE(IGNORE)", std::string("EDatabaseError: ") + AdoTexts::kRowNotWritten},
    };
    for (const Case& c : cases) {
        const bool byOpen = c.byOpen;
        SCOPED_TRACE(std::string(byOpen ? "written by an open, " : "written by a post, ") + c.action);
        TDatabaseFolder folder;
        auto view = folder.Open();
        OpenOn(query, "Select * From Tellarin");
        connection.BeginBatch();
        InsertRows(0, 1, [](int) { return "first"; });
        connection.CommitBatch();
        connection.BeginBatch();
        const std::string trigger = "CREATE TEMP TRIGGER Refuse BEFORE INSERT ON Tellarin WHEN NEW.FileName = 'bad' "
                                    "BEGIN SELECT " + std::string(c.action) + "; END";
        ASSERT_EQ(sqlite3_exec(connection.Handle(), trigger.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        const auto name = [](int i) { return i == 2000 ? std::string("bad") : "f" + std::to_string(i); };
        std::vector<std::string> failed = InsertRows(1, byOpen ? 3000 : 4200, name);
        if (byOpen) {
            EXPECT_TRUE(failed.empty());
            EXPECT_EQ(ErrorOf([&] { OpenOn(other, "Select * From Tellarin"); }), c.error);
            failed = InsertRows(3000, 3010, name);
        }
        // Every post from the one that wrote the held rows on fails.
        ASSERT_FALSE(failed.empty());
        EXPECT_EQ(failed.front(), (byOpen ? "3000: " : "4097: ") + c.error);
        EXPECT_EQ(failed.back(), (byOpen ? "3009: " : "4199: ") + c.error);
        EXPECT_EQ(failed.size(), byOpen ? 10u : 4200u - 4097u);
        EXPECT_EQ(ErrorOf([&] { connection.CommitBatch(); }), c.error);
        EXPECT_FALSE(connection.InTransaction());
        EXPECT_EQ(view->Scalar("SELECT count(*) FROM Tellarin"), "2000");
        EXPECT_EQ(view->Scalar("SELECT max(FileName) FROM Tellarin WHERE FileIndex = 2000"), "f1999");
        ExpectQueryIsTable();
        // The next batch starts afresh.
        connection.BeginBatch();
        EXPECT_TRUE(InsertRows(5000, 5001, name).empty());
        connection.CommitBatch();
        EXPECT_EQ(view->Scalar("SELECT count(*) FROM Tellarin"), "2001");
        query.Close();
        connection.Close();
    }
}


// A disk that fills while a batch is written: the engine loses the whole
// transaction at the commit, and the batch's posts are written again to find
// the first that does not fit. The rows before it are in the table, the
// commit tells the engine's text, and the query holds what the table holds,
// whether the posts were held back (their query open or closed by then) or
// written at once (a table with a trigger).
TEST_F(WriteQueueTest, ADiskThatFillsDuringABatchKeepsTheRowsBeforeTheFirstThatDoesNotFit)
{
    for (const int way : {0, 1, 2}) {
        const bool held = way != 2;
        const bool closed = way == 1;
        SCOPED_TRACE(closed ? "held back, written, query closed" : held ? "held back" : "written at once");
        test::TFullDiskVfs disk;
        TDatabaseFolder folder;
        auto view = folder.Open();
        if (!held) {
            ASSERT_EQ(view->Exec("CREATE TRIGGER Same AFTER INSERT ON Tellarin BEGIN SELECT 1; END"), "");
        }
        OpenOn(query, "Select * From Tellarin");
        test::TFullDiskVfs::SetRoom(64 * 1024);
        connection.BeginBatch();
        EXPECT_TRUE(InsertRows(0, 3000, [](int i) { return "IMG_" + std::to_string(100000 + i) + ".jpg"; }).empty());
        if (closed) {
            // Written by an open, then their query goes before the commit.
            OpenOn(other, "Select * From Tellarin");
            query.Close();
        }
        EXPECT_EQ(ErrorOf([&] { connection.CommitBatch(); }), "EDatabaseError: database or disk is full");
        if (closed)
            OpenOn(query, "Select * From Tellarin");
        EXPECT_GT(test::TFullDiskVfs::Refusals(), 0);
        test::TFullDiskVfs::SetRoom(-1);
        EXPECT_FALSE(connection.InTransaction());
        const std::vector<std::string> names = view->Column("SELECT FileName FROM Tellarin ORDER BY FileIndex");
        EXPECT_GT(names.size(), 0u);
        EXPECT_LT(names.size(), 3000u);
        for (size_t i = 0; i < names.size(); ++i)
            ASSERT_EQ(names[i], "IMG_" + std::to_string(100000 + i) + ".jpg");
        ExpectQueryIsTable();
        EXPECT_EQ(view->Scalar("PRAGMA integrity_check"), "ok");
        query.Close();
        connection.Close();
    }
}

// Held inserts take the keys the engine would give: after a negative largest
// rowid, with and without a sequence row of an AUTOINCREMENT table.
TEST_F(WriteQueueTest, HeldInsertsTakeTheKeysTheEngineGives)
{
    struct Case {
        const char* what;
        const char* setup;
        std::vector<std::string> keys;
    } cases[] = {
        {"counted, no sequence row",
         "INSERT INTO Tellarin (FileIndex, FileName) VALUES (-5, 'n'); DELETE FROM sqlite_sequence", {"-5", "1", "2"}},
        {"counted, sequence behind", "INSERT INTO Tellarin (FileIndex, FileName) VALUES (-5, 'n');"
         "UPDATE sqlite_sequence SET seq = -9", {"-5", "-4", "-3"}},
        {"counted, sequence ahead", "INSERT INTO Tellarin (FileIndex, FileName) VALUES (-5, 'n');"
         "UPDATE sqlite_sequence SET seq = 7", {"-5", "8", "9"}},
        {"not counted", "CREATE TABLE Plain AS SELECT * FROM Tellarin; DROP TABLE Tellarin;"
         "CREATE TABLE Tellarin (FileIndex INTEGER PRIMARY KEY, FileName NVARCHAR(255), FileEnable BOOLEAN);"
         "INSERT INTO Tellarin (FileIndex, FileName) VALUES (-5, 'n')", {"-5", "-4", "-3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TDatabaseFolder folder;
        auto view = folder.Open();
        ASSERT_EQ(view->Exec(c.setup), "");
        OpenOn(query, "Select * From Tellarin");
        connection.BeginBatch();
        InsertRows(0, 2, [](int i) { return "new" + std::to_string(i); });
        connection.CommitBatch();
        EXPECT_EQ(view->Column("SELECT FileIndex FROM Tellarin ORDER BY FileName"), c.keys);
        ExpectQueryIsTable();
        query.Close();
        connection.Close();
    }
}

}  // namespace
}  // namespace vantelo
