// The query over a real SQLite file: statement text, opening and its
// errors, column kinds, moves, and what a post really writes.
#include "store/AdoTexts.h"
#include "store/EDatabaseError.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TDataLink.h"
#include "store/TDataSource.h"
#include "store/TFields.h"
#include "store/TWideStringField.h"
#include "platform/TCodePage.h"
#include "tests/store/AdoTestSupport.h"

#include <gtest/gtest.h>

namespace vantelo {
namespace {

using test::ErrorOf;
using test::OpenOn;
using test::TDatabaseFolder;

constexpr const char* kLive = "Select * From Tellarin Where FileEnable = True";
constexpr const char* kAll = "Select * From Tellarin";

class ADOQueryTest : public ::testing::Test {
protected:
    ADOQueryTest()
    {
        connection.SetConnectionString(AdoTexts::kFileListConnectionString);
        connection.SetLoginPrompt(false);
        query.SetConnection(&connection);
        other.SetConnection(&connection);
    }



    TDatabaseFolder folder;
    TADOConnection connection{nullptr, "ADOConnection1"};
    TADOQuery query{nullptr, "ADOQuery1"};
    TADOQuery other{nullptr, "ADOQueryTemp"};
};

TEST_F(ADOQueryTest, CommandTextIsEachLineFollowedByCrLf)
{
    query.SQL().Clear();
    query.SQL().Add(kLive);
    EXPECT_EQ(query.Command().CommandText(), std::string(kLive) + "\r\n");
    query.SQL().Add("And FileIndex > 0");
    EXPECT_EQ(query.Command().CommandText(), std::string(kLive) + "\r\nAnd FileIndex > 0\r\n");
    query.SQL().Clear();
    EXPECT_EQ(query.Command().CommandText(), "");
}

TEST(ADOCommandTest, ParameterMarkersOutsideQuotesAndCommentsBecomeQuestionMarks)
{
    struct Case {
        const char* text;
        const char* engine;
        std::vector<std::string> names;
    } cases[] = {
        {"Select * From Tellarin", "Select * From Tellarin", {}},
        {"Select * From T Where a = :a And b=:Name_2", "Select * From T Where a = ? And b=?", {"a", "Name_2"}},
        {"Select ':x', \":y\", [z:w], `:v` From T", "Select ':x', \":y\", [z:w], `:v` From T", {}},
        {"Select 'it''s :x' || :p", "Select 'it''s :x' || ?", {"p"}},
        {"Select 1 -- :c\n, :d /* :e */", "Select 1 -- :c\n, ? /* :e */", {"d"}},
        {"Select a::b, x:y, : , :", "Select a::b, x:y, : , :", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names;
        EXPECT_EQ(TADOCommand::ScanParameters(c.text, &names), c.engine) << c.text;
        EXPECT_EQ(names, c.names) << c.text;
    }
}

TEST_F(ADOQueryTest, OpeningErrorsCarryTheirExactTexts)
{
    TADOQuery lonely{nullptr, "ADOQueryTemp"};
    lonely.SQL().Add(kAll);
    EXPECT_EQ(ErrorOf([&] { lonely.Open(); }), "EDatabaseError: Missing Connection or ConnectionString");
    EXPECT_FALSE(lonely.Active());

    query.SQL().Clear();
    EXPECT_EQ(ErrorOf([&] { query.Open(); }), "EDatabaseError: ADOQuery1: Missing SQL property");

    folder.AddRows({{"a", true}});
    // A statement without rows runs, then the open fails.
    EXPECT_EQ(ErrorOf([&] { OpenOn(query, "Update Tellarin Set FileEnable = False"); }),
              "EDatabaseError: ADOQuery1: CommandText does not return a result set");
    EXPECT_EQ(folder.Open()->Scalar("SELECT FileEnable FROM Tellarin"), "0");

    EXPECT_EQ(ErrorOf([&] { OpenOn(query, "Select * From Nowhere"); }), "EOleException: no such table: Nowhere");
    EXPECT_FALSE(query.Active());
    EXPECT_TRUE(query.Eof());
}

TEST_F(ADOQueryTest, AnOpenQueryDestroyedRunsNoCloseHooksButItsViewsSeeItGo)
{
    std::vector<std::string> ran;
    TDataSource source(nullptr, "DataSource1");
    TDataLink link;
    {
        TADOQuery dying(nullptr, "ADOQuery2");
        dying.SetConnection(&connection);
        for (TDataSetHook hook : {TDataSetHook::BeforeClose, TDataSetHook::AfterClose})
            dying.SetHook(hook, [&ran, hook](TDataSet&) { ran.push_back(hook == TDataSetHook::BeforeClose ? "before" : "after"); });
        source.SetDataSet(&dying);
        link.SetDataSource(&source);
        OpenOn(dying, kAll);
        ASSERT_TRUE(link.Active());
    }
    EXPECT_TRUE(ran.empty());
    EXPECT_FALSE(link.Active());
    EXPECT_EQ(source.DataSet(), nullptr);
    EXPECT_EQ(ErrorOf([&] { connection.Close(); }), "no error");
}

TEST_F(ADOQueryTest, TheFileListColumnsBecomeAutoIncWideStringAndBooleanFields)
{
    OpenOn(query, kAll);
    ASSERT_EQ(query.Fields().Count(), 3);
    const TField& index = query.Fields()[0];
    const TField& name = query.Fields()[1];
    const TField& enable = query.Fields()[2];
    EXPECT_EQ(index.FieldName(), "FileIndex");
    EXPECT_EQ(index.DataType(), TFieldType::ftAutoInc);
    EXPECT_TRUE(index.ReadOnly());
    EXPECT_EQ(name.DataType(), TFieldType::ftWideString);
    EXPECT_EQ(name.Size(), 255);
    EXPECT_FALSE(name.ReadOnly());
    EXPECT_EQ(enable.DataType(), TFieldType::ftBoolean);
    EXPECT_FALSE(enable.ReadOnly());
    EXPECT_EQ(name.FieldNo(), 2);
    EXPECT_EQ(query.UpdateTable(), "Tellarin");
}

TEST_F(ADOQueryTest, ColumnKindsNamesAndReadOnlyFromDeclarationsAndExpressions)
{
    auto db = folder.Open();
    ASSERT_EQ(db->Exec("CREATE TABLE Kinds (Id INTEGER PRIMARY KEY, Count BIGINT, Flag BOOL, Note TEXT, "
                       "Code VARCHAR(8), Amount REAL, Loose);"
                       "INSERT INTO Kinds VALUES (7, 3, 1, 'n', 'c', 1.5, 42)"),
              "");
    OpenOn(query, "Select Id, Count, Flag, Note, Code, Amount, Loose, Count * 2, 'x' || Note, '' AS \"\", "
                  "Note AS Code From Kinds");
    std::vector<std::string> names;
    for (int i = 0; i < query.Fields().Count(); ++i)
        names.push_back(query.Fields()[i].FieldName());
    // Amount (real) has no field; duplicates and empty names are renamed.
    EXPECT_EQ(names, (std::vector<std::string>{"Id", "Count", "Flag", "Note", "Code", "Loose", "Count * 2",
                                               "'x' || Note", "COLUMN10", "Code_1"}));
    const auto kind = [&](const char* n) { return query.FieldByName(n).DataType(); };
    EXPECT_EQ(kind("Id"), TFieldType::ftInteger);  // a rowid alias without AUTOINCREMENT
    EXPECT_TRUE(query.FieldByName("Id").ReadOnly());
    EXPECT_EQ(kind("Count"), TFieldType::ftInteger);
    EXPECT_EQ(kind("Flag"), TFieldType::ftBoolean);
    EXPECT_EQ(kind("Note"), TFieldType::ftWideString);
    EXPECT_EQ(query.FieldByName("Note").Size(), 255);
    EXPECT_EQ(query.FieldByName("Code").Size(), 8);
    EXPECT_EQ(kind("Loose"), TFieldType::ftInteger);  // untyped: from its value
    EXPECT_EQ(kind("Count * 2"), TFieldType::ftInteger);
    EXPECT_TRUE(query.FieldByName("Count * 2").ReadOnly());
    EXPECT_EQ(query.FieldByName("'x' || Note").AsString(), "xn");
    EXPECT_TRUE(query.FieldByName("Code_1").ReadOnly());  // Note again: only its first occurrence is written
    EXPECT_FALSE(query.FieldByName("Note").ReadOnly());
    EXPECT_EQ(query.FieldByName("Count * 2").AsInteger(), 6);
    EXPECT_TRUE(query.FieldByName("Flag").AsBoolean());
}

TEST_F(ADOQueryTest, AResultWithoutItsRowIdCannotBeModified)
{
    folder.AddRows({{"a", true}, {"a", true}});
    OpenOn(query, "Select FileName From Tellarin");
    EXPECT_EQ(ErrorOf([&] { query.Edit(); }), "EDatabaseError: ADOQuery1: Cannot modify a read-only dataset");
    // A join repeats rowids: readable, not writable.
    OpenOn(query, "Select a.* From Tellarin a, Tellarin b");
    EXPECT_EQ(query.RecordCount(), 4);
    EXPECT_EQ(ErrorOf([&] { query.Edit(); }), "EDatabaseError: ADOQuery1: Cannot modify a read-only dataset");
}

TEST_F(ADOQueryTest, TheRecordCountStaysUntilReopenedAfterRowsAreSwitchedOff)
{
    folder.AddRows({{"a", true}, {"b", false}, {"c", true}, {"d", true}});
    OpenOn(query, kLive);
    EXPECT_EQ(query.RecordCount(), 3);
    EXPECT_TRUE(query.Bof());
    EXPECT_FALSE(query.Eof());
    while (!query.Eof()) {
        query.Edit();
        query.FieldByName("FileEnable").SetAsBoolean(false);
        query.Post();
        query.Next();
    }
    EXPECT_EQ(query.RecordCount(), 3);
    OpenOn(query, kLive);
    EXPECT_EQ(query.RecordCount(), 0);
    EXPECT_TRUE(query.Bof());
    EXPECT_TRUE(query.Eof());
}

TEST_F(ADOQueryTest, MovesBothWaysWithRecordNumbersAndBookmarks)
{
    folder.AddRows({{"a", true}, {"b", true}, {"c", true}});
    OpenOn(query, kAll);
    EXPECT_EQ(query.RecNo(), 1);
    query.Last();
    EXPECT_TRUE(query.Eof());
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "c");
    EXPECT_EQ(query.RecNo(), 3);
    const auto last = query.GetBookmark();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->Id(), 3);  // the rowid
    query.Prior();
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "b");
    EXPECT_FALSE(query.Eof());
    const auto middle = query.GetBookmark();
    EXPECT_EQ(query.CompareBookmarks(middle, last), -1);
    query.First();
    query.Prior();
    EXPECT_TRUE(query.Bof());
    query.GotoBookmark(last);
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "c");
    query.SetRecNo(2);
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "b");
    EXPECT_TRUE(query.BookmarkValid(middle));
    EXPECT_FALSE(query.BookmarkValid(TBookmark(99)));
}

TEST_F(ADOQueryTest, RowsInAnotherOrderThanTheirRowIdsAreFoundAndWritten)
{
    folder.AddRows({{"a", true}, {"b", true}, {"c", true}});
    OpenOn(query, "Select * From Tellarin Order By FileIndex Desc");
    query.Next();
    const auto b = query.GetBookmark();
    query.Edit();
    query.FieldByName("FileName").SetAsString("B");
    query.Post();
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "B");
    EXPECT_EQ(query.RecNo(), 2);
    query.Last();
    query.Next();
    query.Insert();
    query.FieldByName("FileName").SetAsString("d");
    query.Post();
    EXPECT_EQ(query.RecNo(), 4);
    const auto d = query.GetBookmark();
    EXPECT_EQ(query.CompareBookmarks(b, d), -1);  // by position, not by rowid
    query.GotoBookmark(b);
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "B");
    query.Edit();
    query.FieldByName("FileEnable").SetAsBoolean(false);
    query.Post();
    EXPECT_EQ(folder.Open()->Column("SELECT FileName || ifnull(FileEnable, '-') FROM Tellarin ORDER BY FileIndex"),
              (std::vector<std::string>{"a1", "B0", "c1", "d-"}));
}

TEST_F(ADOQueryTest, InsertAtEofAppendsWithTheEnginesNumberAndNextSetsEof)
{
    folder.AddRows({{"a", true}, {"b", true}});
    auto db = folder.Open();
    db->Exec("DELETE FROM Tellarin WHERE FileName = 'b'");  // the numbers go on from 2 anyway
    OpenOn(query, kAll);
    query.Next();
    ASSERT_TRUE(query.Eof());
    for (const char* name : {"x", "y"}) {
        query.Insert();
        query.FieldByName("FileName").SetAsString(name);
        query.FieldByName("FileEnable").SetAsBoolean(true);
        query.Post();
        EXPECT_FALSE(query.Eof());
        EXPECT_EQ(query.FieldByName("FileName").AsString(), name);
        query.Next();
        EXPECT_TRUE(query.Eof());
    }
    EXPECT_EQ(query.RecordCount(), 3);
    query.Last();
    EXPECT_EQ(query.FieldByName("FileIndex").AsInteger(), 4);
    EXPECT_EQ(query.RecNo(), 3);
    EXPECT_EQ(db->Column("SELECT FileIndex || ':' || FileName || ':' || FileEnable FROM Tellarin"),
              (std::vector<std::string>{"1:a:1", "3:x:1", "4:y:1"}));
}

TEST_F(ADOQueryTest, PostWritesOnlyTheChangedColumns)
{
    folder.AddRows({{"a", false}});
    auto db = folder.Open();
    ASSERT_EQ(db->Exec("CREATE TABLE Log (Entry TEXT);"
                       "CREATE TRIGGER NameSet AFTER UPDATE OF FileName ON Tellarin "
                       "BEGIN INSERT INTO Log VALUES ('name'); END;"
                       "CREATE TRIGGER EnableSet AFTER UPDATE OF FileEnable ON Tellarin "
                       "BEGIN INSERT INTO Log VALUES ('enable'); END;"),
              "");
    OpenOn(query, kAll);
    query.Edit();
    query.FieldByName("FileEnable").SetAsBoolean(false);  // the value it has: still written
    query.Post();
    EXPECT_EQ(db->Column("SELECT Entry FROM Log"), std::vector<std::string>{"enable"});

    db->Exec("DELETE FROM Log");
    query.Edit();
    query.FieldByName("FileName").SetAsString("b");
    query.FieldByName("FileEnable").SetAsBoolean(true);
    query.Post();
    EXPECT_EQ(db->Column("SELECT Entry FROM Log ORDER BY Entry"), (std::vector<std::string>{"enable", "name"}));
    EXPECT_EQ(db->Scalar("SELECT FileName || FileEnable FROM Tellarin"), "b1");

    // An edit that changed nothing writes nothing.
    db->Exec("DELETE FROM Log");
    query.Edit();
    query.Post();
    EXPECT_TRUE(db->Column("SELECT Entry FROM Log").empty());
}

TEST_F(ADOQueryTest, AnEngineErrorDuringPostLeavesTheRowPendingAndTheTableUnchanged)
{
    folder.AddRows({{"a", true}});
    auto db = folder.Open();
    ASSERT_EQ(db->Exec("CREATE TRIGGER NoBad BEFORE UPDATE ON Tellarin WHEN NEW.FileName = 'bad' "
                       "BEGIN SELECT RAISE(ABORT, 'names may not be bad. '); END;"
                       "CREATE TRIGGER NoBadNew BEFORE INSERT ON Tellarin WHEN NEW.FileName = 'bad' "
                       "BEGIN SELECT RAISE(ABORT, 'names may not be bad'); END;"),
              "");
    OpenOn(query, kAll);
    query.Edit();
    query.FieldByName("FileName").SetAsString("bad");
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), "EDatabaseError: names may not be bad");
    EXPECT_EQ(query.State(), TDataSetState::Edit);
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "bad");
    EXPECT_EQ(db->Scalar("SELECT FileName FROM Tellarin"), "a");
    query.FieldByName("FileName").SetAsString("good");
    query.Post();
    EXPECT_EQ(db->Scalar("SELECT FileName FROM Tellarin"), "good");

    query.Next();
    query.Insert();
    query.FieldByName("FileName").SetAsString("bad");
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), "EDatabaseError: names may not be bad");
    EXPECT_EQ(query.State(), TDataSetState::Insert);
    EXPECT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM Tellarin"), "1");
    query.Cancel();
    EXPECT_EQ(query.RecordCount(), 1);
}

TEST_F(ADOQueryTest, ReopeningSeesRowsChangedThroughTheOtherQuery)
{
    folder.AddRows({{"a", true}, {"b", true}});
    OpenOn(query, kLive);
    OpenOn(other, kAll);
    other.Edit();
    other.FieldByName("FileName").SetAsString("renamed");
    other.Post();
    other.Next();
    other.Edit();
    other.FieldByName("FileEnable").SetAsBoolean(false);
    other.Post();
    // Still the rows as read at open.
    EXPECT_EQ(query.RecordCount(), 2);
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "a");
    OpenOn(query, kLive);
    EXPECT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "renamed");
}

TEST_F(ADOQueryTest, NamesRoundTripByteForByteThroughPostAndReopen)
{
    struct Case {
        TCodePage::Kind codePage;
        std::string name;
    } cases[] = {
        {TCodePage::Kind::Utf8, "plain.txt"},
        {TCodePage::Kind::Utf8, "\xE4\xB8\xAD\xE6\x96\x87.txt"},          // valid UTF-8
        {TCodePage::Kind::Utf8, "bad\xFF\xFE.txt"},                        // not UTF-8 at all
        {TCodePage::Kind::Utf8, "cut\xE4\xB8"},                            // a character cut short
        {TCodePage::Kind::Utf8, "\x80lone"},                               // a stray trail byte
        {TCodePage::Kind::Utf8, "sur\xED\xA0\x80rogate"},                  // an encoded surrogate
        {TCodePage::Kind::Utf8, "\xF0\x9F\x98\x80 emoji"},                 // outside the BMP
        {TCodePage::Kind::Utf8, "gbk\xD6\xD0\xCE\xC4.txt"},                // GBK bytes on a UTF-8 system
        {TCodePage::Kind::Gbk, "\xD6\xD0\xCE\xC4.txt"},                    // GBK text
        {TCodePage::Kind::Gbk, "\xD6\xD0\xCE"},                            // a lead byte without trail
        {TCodePage::Kind::Gbk, "\x81\x30\xFF.bin"},                        // bytes GBK cannot read
    };
    folder.AddRows({{"seed", true}});
    for (const Case& c : cases) {
        TCodePage::SetActive(c.codePage);
        OpenOn(query, kAll);
        query.Edit();
        query.FieldByName("FileName").SetAsString(c.name);
        query.Post();
        EXPECT_EQ(query.FieldByName("FileName").AsString(), c.name);
        query.Last();
        query.Next();
        query.Insert();
        query.FieldByName("FileName").SetAsString(c.name);
        query.Post();
        OpenOn(query, kAll);
        EXPECT_EQ(query.FieldByName("FileName").AsString(), c.name);
        query.Last();
        EXPECT_EQ(query.FieldByName("FileName").AsString(), c.name);
    }
    TCodePage::SetActive(TCodePage::Kind::Utf8);
    // Valid text is stored as plain UTF-8, readable by any other program.
    OpenOn(query, kAll);
    query.Edit();
    query.FieldByName("FileName").SetAsString("\xE4\xB8\xAD.txt");
    query.Post();
    EXPECT_EQ(folder.Open()->Scalar("SELECT FileName FROM Tellarin WHERE FileIndex = 1"), "\xE4\xB8\xAD.txt");
}

TEST_F(ADOQueryTest, ANameLongerThanTheColumnIsStoredCut)
{
    folder.AddRows({{"a", true}});
    OpenOn(query, kAll);
    query.Edit();
    query.FieldByName("FileName").SetAsString(std::string(300, 'n'));
    query.Post();
    EXPECT_EQ(folder.Open()->Scalar("SELECT length(FileName) FROM Tellarin"), "255");
}

TEST_F(ADOQueryTest, BooleansAreStoredAsOneAndZeroAndAnyNonZeroReadsTrue)
{
    folder.AddRows({{"a", true}});
    auto db = folder.Open();
    db->Exec("INSERT INTO Tellarin (FileName, FileEnable) VALUES ('m', -1), ('n', NULL), ('t', 'true')");
    OpenOn(query, kAll);
    const auto flags = [&] {
        std::vector<std::string> texts;
        query.First();
        for (; !query.Eof(); query.Next())
            texts.push_back(query.FieldByName("FileEnable").AsString());
        return texts;
    };
    EXPECT_EQ(flags(), (std::vector<std::string>{"True", "True", "", "True"}));
    query.First();
    query.Edit();
    query.FieldByName("FileEnable").SetAsBoolean(true);
    query.Post();
    EXPECT_EQ(db->Scalar("SELECT FileEnable FROM Tellarin WHERE FileIndex = 1"), "1");
    // The statement's True literal (1) matches what a post writes; -1 from
    // another program reads as True but is not matched by it.
    OpenOn(query, kLive);
    EXPECT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "a");
}

}  // namespace
}  // namespace vantelo
