// What a post leaves in the result against what the table really holds, for
// tables that keep the values they are given and tables that change them
// (defaults, computed columns, triggers), and what a post
// that fails inside a batch leaves behind.
#include "store/AdoTexts.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TDataSource.h"
#include "store/TFields.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/store/AdoTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace vantelo {
namespace {

using test::ErrorOf;
using test::OpenOn;
using test::TDatabaseFolder;

class CustomADODataSetPostTest : public ::testing::Test {
protected:
    CustomADODataSetPostTest()
    {
        connection.SetConnectionString(AdoTexts::kFileListConnectionString);
        connection.SetLoginPrompt(false);
        query.SetConnection(&connection);
        fresh.SetConnection(&connection);
    }


    // Every field of every row, "name=value" joined by row.
    static std::vector<std::string> Rows(TADOQuery& q)
    {
        std::vector<std::string> rows;
        for (q.First(); !q.Eof(); q.Next()) {
            std::string row;
            for (int i = 0; i < q.Fields().Count(); ++i) {
                const TField& field = q.Fields()[i];
                row += field.FieldName() + "=" + (field.IsNull() ? std::string("<null>") : field.AsString()) + " ";
            }
            rows.push_back(row);
        }
        return rows;
    }


    TDatabaseFolder folder;
    TADOConnection connection{nullptr, "ADOConnection1"};
    TADOQuery query{nullptr, "ADOQuery1"};
    TADOQuery fresh{nullptr, "ADOQueryTemp"};
};

// After each post, in a batch and without one, the rows held are the rows a
// fresh open of the same statement reads.
TEST_F(CustomADODataSetPostTest, APostedRowReadsAsTheTableHoldsItWhateverTheTableDoesToIt)
{
    struct Case {
        const char* what;
        const char* schema;  // run before opening, after the file list's rows are in
        const char* select;
        bool insert;
        const char* field;
        const char* value;
    } cases[] = {
        {"edit of the file list", "", "Select * From Tellarin", false, "FileName", "x.jpg"},
        {"insert into the file list", "", "Select * From Tellarin", true, "FileName", "new.jpg"},
        {"insert, columns in another order", "", "Select FileEnable, FileName, FileIndex From Tellarin", true,
         "FileName", "new.jpg"},
        {"the yes/no column switched off", "", "Select * From Tellarin", false, "FileEnable", "False"},
        {"a column shown twice", "", "Select FileIndex, FileName, FileName As Again, FileEnable From Tellarin", false,
         "FileName", "twice.jpg"},
        {"a column shown twice, insert", "", "Select FileIndex, FileName As First, FileName, FileEnable From Tellarin",
         true, "First", "twice.jpg"},
        {"defaults an insert leaves out",
         "CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name TEXT, Tag TEXT DEFAULT 'fresh', Flag BOOLEAN DEFAULT 1);"
         "INSERT INTO Items (Name, Tag, Flag) VALUES ('a', 'old', 0);",
         "Select * From Items", true, "Name", "b"},
        {"a computed column, edit",
         "CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name TEXT, Loud TEXT GENERATED ALWAYS AS (upper(Name)));"
         "INSERT INTO Items (Name) VALUES ('a');",
         "Select * From Items", false, "Name", "quiet"},
        {"a computed column, insert",
         "CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name TEXT, Loud TEXT GENERATED ALWAYS AS (upper(Name)) STORED);",
         "Select * From Items", true, "Name", "quiet"},
        {"a trigger that rewrites the row after an edit",
         "CREATE TRIGGER Mark AFTER UPDATE OF FileName ON Tellarin "
         "BEGIN UPDATE Tellarin SET FileName = NEW.FileName || '!', FileEnable = 0 WHERE FileIndex = NEW.FileIndex; END;",
         "Select * From Tellarin", false, "FileName", "x.jpg"},
        {"a trigger that rewrites the row after an insert",
         "CREATE TRIGGER Mark AFTER INSERT ON Tellarin "
         "BEGIN UPDATE Tellarin SET FileEnable = 0 WHERE FileIndex = NEW.FileIndex; END;",
         "Select * From Tellarin", true, "FileName", "new.jpg"},
        {"a temporary trigger over the table", "", "Select * From Tellarin", false, "FileName", "x.jpg"},
        {"a column that puts its default in for Null, edit",
         "CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name TEXT, N INTEGER NOT NULL ON CONFLICT REPLACE DEFAULT 0);"
         "INSERT INTO Items (Name, N) VALUES ('a', 5);",
         "Select * From Items", false, "N", ""},
        {"a column that puts its default in for Null, insert",
         "CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name TEXT, N INTEGER NOT NULL ON CONFLICT REPLACE DEFAULT 0);",
         "Select * From Items", true, "N", ""},
    };
    for (const bool batched : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (batched ? ", in a batch" : ""));
            TDatabaseFolder own;
            own.AddRows({{"a.jpg", true}, {"b.jpg", true}});
            auto db = own.Open();
            ASSERT_EQ(db->Exec(c.schema), "");
            connection.Close();
            if (std::string(c.what) == "a temporary trigger over the table") {
                // Seen only by the connection that made it.
                connection.Open();
                ASSERT_EQ(sqlite3_exec(connection.Handle(),
                                       "CREATE TEMP TRIGGER Mark AFTER UPDATE ON Tellarin BEGIN "
                                       "UPDATE Tellarin SET FileEnable = 0 WHERE FileIndex = NEW.FileIndex; END",
                                       nullptr, nullptr, nullptr),
                          SQLITE_OK);
            }
            OpenOn(query, c.select);
            const int64_t before = query.RecordCount();
            if (batched)
                connection.BeginBatch();
            query.Last();
            if (c.insert) {
                query.Next();
                query.Insert();
            } else {
                query.Edit();
            }
            query.FieldByName(c.field).SetAsString(c.value);
            query.Post();
            // A second post over the same row, through the statement kept.
            query.Edit();
            query.FieldByName(c.field).SetAsString(c.value);
            query.Post();
            if (batched)
                connection.CommitBatch();
            const std::vector<std::string> held = Rows(query);
            OpenOn(fresh, c.select);
            EXPECT_EQ(held, Rows(fresh));
            EXPECT_EQ(static_cast<int64_t>(held.size()), before + (c.insert ? 1 : 0));
            query.Close();
            fresh.Close();
            connection.Close();
        }
    }
}

class CustomADODataSetBatchTest : public CustomADODataSetPostTest {
protected:
    CustomADODataSetBatchTest()
    {
        folder.AddRows({{"a", true}, {"b", true}});
        view = folder.Open();
        OpenOn(query, "Select * From Tellarin");
    }

    std::vector<std::string> Names() { return view->Column("SELECT FileName FROM Tellarin ORDER BY FileIndex"); }

    std::unique_ptr<test::TRawDb> view;
    test::Log log;
};

TEST_F(CustomADODataSetBatchTest, APostRefusedByAConstraintLeavesNothingAndTheRowsBeforeItAreWritten)
{
    ASSERT_EQ(view->Exec("CREATE UNIQUE INDEX OneName ON Tellarin (FileName)"), "");
    connection.BeginBatch();
    query.Edit();
    query.FieldByName("FileName").SetAsString("x");
    query.Post();
    query.Last();
    query.Next();
    query.Insert();
    query.FieldByName("FileName").SetAsString("y");
    query.Post();
    query.Next();
    query.Insert();
    query.FieldByName("FileName").SetAsString("x");
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), "EDatabaseError: UNIQUE constraint failed: Tellarin.FileName");
    EXPECT_EQ(query.State(), TDataSetState::Insert);
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_EQ(Names(), (std::vector<std::string>{"x", "b", "y"}));
    query.Cancel();

    // An edit refused the same way keeps the row as it was, here and there.
    query.First();
    query.Next();
    query.Edit();
    query.FieldByName("FileName").SetAsString("y");
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), "EDatabaseError: UNIQUE constraint failed: Tellarin.FileName");
    query.Cancel();
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "b");
    EXPECT_EQ(Names(), (std::vector<std::string>{"x", "b", "y"}));

    // The batch goes on.
    query.Edit();
    query.FieldByName("FileName").SetAsString("z");
    query.Post();
    EXPECT_TRUE(connection.InTransaction());
    connection.CommitBatch();
    EXPECT_EQ(Names(), (std::vector<std::string>{"x", "z", "y"}));
    EXPECT_EQ(view->Scalar("PRAGMA integrity_check"), "ok");
}

// A row the table leaves out without an error (a conflict it ignores) is not
// written: its post fails, the result gains no row carrying another row's
// key, and the rows stay as the table holds them, in a batch or not.
TEST_F(CustomADODataSetBatchTest, APostTheTableIgnoresFailsAndShowsNoRow)
{
    ASSERT_EQ(view->Exec("CREATE TABLE Items (Id INTEGER PRIMARY KEY, Name TEXT UNIQUE ON CONFLICT IGNORE);"
                         "INSERT INTO Items (Name) VALUES ('a'), ('b')"),
              "");
    for (const bool batched : {false, true}) {
        SCOPED_TRACE(batched ? "in a batch" : "one by one");
        OpenOn(query, "Select * From Items");
        if (batched)
            connection.BeginBatch();
        query.Last();
        query.Next();
        query.Insert();
        query.FieldByName("Name").SetAsString("a");
        EXPECT_EQ(ErrorOf([&] { query.Post(); }), std::string("EDatabaseError: ") + AdoTexts::kRowNotWritten);
        query.Cancel();
        query.First();
        query.Edit();
        query.FieldByName("Name").SetAsString("b");
        EXPECT_EQ(ErrorOf([&] { query.Post(); }), std::string("EDatabaseError: ") + AdoTexts::kRowMissing);
        query.Cancel();
        if (batched)
            connection.CommitBatch();
        const std::vector<std::string> held = Rows(query);
        EXPECT_EQ(held.size(), 2u);
        OpenOn(fresh, "Select * From Items");
        EXPECT_EQ(held, Rows(fresh));
    }
    EXPECT_EQ(view->Column("SELECT Name FROM Items ORDER BY Id"), (std::vector<std::string>{"a", "b"}));
}

TEST_F(CustomADODataSetBatchTest, AnEditOfARowDeletedElsewhereFailsAndWritesNothing)
{
    ASSERT_EQ(view->Exec("DELETE FROM Tellarin WHERE FileIndex = 2"), "");
    connection.BeginBatch();
    query.Edit();
    query.FieldByName("FileName").SetAsString("x");
    query.Post();
    query.Next();
    query.Edit();
    query.FieldByName("FileName").SetAsString("gone");
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), std::string("EDatabaseError: ") + AdoTexts::kRowMissing);
    EXPECT_EQ(query.State(), TDataSetState::Edit);
    EXPECT_EQ(Names(), std::vector<std::string>{"x"});
    query.Cancel();
    connection.CommitBatch();
    EXPECT_EQ(view->Scalar("SELECT count(*) FROM Tellarin"), "1");
}

// A trigger that writes elsewhere and then drops the row's own change: the
// post reports the row missing, and so none of what the trigger wrote stays.
TEST_F(CustomADODataSetBatchTest, APostReportedFailedLeavesNoneOfItsTriggersWritesBehind)
{
    ASSERT_EQ(view->Exec("CREATE TABLE Log (Entry TEXT);"
                         "CREATE TRIGGER Skip BEFORE UPDATE ON Tellarin BEGIN "
                         "INSERT INTO Log VALUES (NEW.FileName); "
                         "SELECT RAISE(IGNORE) WHERE NEW.FileName = 'skip'; END"),
              "");
    OpenOn(query, "Select * From Tellarin");
    connection.BeginBatch();
    query.Edit();
    query.FieldByName("FileName").SetAsString("kept");
    query.Post();
    query.Next();
    query.Edit();
    query.FieldByName("FileName").SetAsString("skip");
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), std::string("EDatabaseError: ") + AdoTexts::kRowMissing);
    EXPECT_EQ(view->Column("SELECT Entry FROM Log"), std::vector<std::string>{"kept"});
    EXPECT_EQ(Names(), (std::vector<std::string>{"kept", "b"}));
    query.Cancel();
    connection.CommitBatch();
    EXPECT_EQ(view->Column("SELECT Entry FROM Log"), std::vector<std::string>{"kept"});
}


// A switch-off walk (edit, post, next) with the views' notifications held
// leaves the cursor as the same walk with them on does, step by step: the
// window's rows and slots, the ends, the record number and the fields, also
// where a trigger changes the posted row.
TEST_F(CustomADODataSetBatchTest, AWalkWithNotificationsHeldSeesWhatTheSameWalkWithThemOnSees)
{
    std::vector<std::pair<std::string, bool>> rows;
    for (int i = 3; i <= 12; ++i)
        rows.emplace_back("f" + std::to_string(i), true);
    folder.AddRows(rows);
    ASSERT_EQ(view->Exec("CREATE TRIGGER Mark AFTER UPDATE OF FileEnable ON Tellarin WHEN NEW.FileIndex % 3 = 0 "
                         "BEGIN UPDATE Tellarin SET FileName = FileName || '!' WHERE FileIndex = NEW.FileIndex; END"),
              "");
    TDataSource source;
    source.SetDataSet(&query);
    test::RecordingLink link(log);
    link.SetBufferCount(5);
    link.SetDataSource(&source);

    const auto walk = [&](bool held, bool enable) {
        std::vector<std::string> steps;
        OpenOn(query, "Select * From Tellarin");
        query.MoveBy(3);
        query.First();  // at the first row again: Bof
        if (held)
            query.DisableControls();
        connection.BeginBatch();
        while (!query.Eof()) {
            query.FieldByName("FileName").AsString();  // held in the window from here
            query.Edit();
            query.FieldByName("FileEnable").SetAsBoolean(enable);
            query.Post();
            std::string step = query.FieldByName("FileName").AsString() + " " +
                               query.FieldByName("FileEnable").AsString() + " rec " + std::to_string(query.RecNo()) +
                               " slot " + std::to_string(query.ActiveSlot()) + "/" +
                               std::to_string(query.RowsHeld()) + (query.Bof() ? " bof" : "") +
                               (query.Eof() ? " eof" : "") + " rows";
            for (int slot = 0; slot < query.RowsHeld(); ++slot)
                step += " " + std::to_string(query.Buffer(slot).bookmark.Id());
            steps.push_back(step);
            query.Next();
        }
        connection.CommitBatch();
        if (held)
            query.EnableControls();
        steps.push_back("end " + std::to_string(query.RecNo()) + (query.Eof() ? " eof" : ""));
        return steps;
    };
    const std::vector<std::string> shown = walk(false, false);
    ASSERT_EQ(shown.size(), 13u);
    EXPECT_EQ(shown[2], "f3! False rec 3 slot 2/5 rows 1 2 3 4 5");
    EXPECT_EQ(shown[11], "f12! False rec 12 slot 4/5 rows 8 9 10 11 12");
    std::vector<std::string> held = walk(true, true);
    // The same walk again gives the trigger's mark once more.
    for (std::string& step : held) {
        const size_t mark = step.find("! True");
        if (mark != std::string::npos)
            step.replace(mark, 6, " False");
        else if (step.find(" True") != std::string::npos)
            step.replace(step.find(" True"), 5, " False");
    }
    EXPECT_EQ(held, shown);
    // The views catch up with the rows as written.
    log.clear();
    query.First();
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "a");
    EXPECT_EQ(view->Scalar("SELECT group_concat(FileName || FileEnable, ' ') FROM Tellarin"),
              "a1 b1 f3!!1 f41 f51 f6!!1 f71 f81 f9!!1 f101 f111 f12!!1");
}

}  // namespace
}  // namespace vantelo
