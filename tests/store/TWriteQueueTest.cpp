// Posts a batch holds back and writes in runs: the table they leave, what a
// read inside the batch sees, and what a row that fails when the held rows
// are written leaves behind.
#include "store/AdoTexts.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TFields.h"
#include "tests/store/AdoTestSupport.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vantelo
