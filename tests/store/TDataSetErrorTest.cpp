// Every error text of the cursor and its fields, with the component prefix
// where the error is raised on behalf of the dataset, and the failure paths
// that must leave the dataset usable.
#include "StoreTestSupport.h"

#include "store/StoreTexts.h"
#include "store/TBooleanField.h"
#include "store/TWideStringField.h"

#include <functional>

using namespace vantelo;
using namespace vantelo::test;

namespace {

std::string ErrorText(const std::function<void()>& op)
{
    try {
        op();
    } catch (const EDatabaseError& error) {
        EXPECT_STREQ(error.ClassName(), "EDatabaseError");
        return error.Message();
    }
    return "<no error>";
}

struct ClosedCase {
    const char* operation;
    std::function<void(TDataSet&)> run;
};

TEST(Errors, EveryOperationOnAClosedDatasetNamesTheDataset)
{
    const ClosedCase cases[] = {
        {"edit", [](TDataSet& d) { d.Edit(); }},
        {"insert", [](TDataSet& d) { d.Insert(); }},
        {"first", [](TDataSet& d) { d.First(); }},
        {"next", [](TDataSet& d) { d.Next(); }},
        {"prior", [](TDataSet& d) { d.Prior(); }},
        {"last", [](TDataSet& d) { d.Last(); }},
        {"record count", [](TDataSet& d) { (void)d.RecordCount(); }},
        {"record number", [](TDataSet& d) { (void)d.RecNo(); }},
        {"set record number", [](TDataSet& d) { d.SetRecNo(3); }},
    };
    TMemoryDataSet named(nullptr, "ADOQueryTemp");
    TMemoryDataSet unnamed;
    for (const ClosedCase& c : cases) {
        SCOPED_TRACE(c.operation);
        EXPECT_EQ(ErrorText([&] { c.run(named); }), "ADOQueryTemp: Cannot perform this operation on a closed dataset");
        EXPECT_EQ(ErrorText([&] { c.run(unnamed); }), "Cannot perform this operation on a closed dataset");
    }
    EXPECT_TRUE(named.Eof());
    EXPECT_TRUE(named.Bof());
    EXPECT_TRUE(named.IsEmpty());
}

TEST(Errors, PrefixRuleOfTheErrorClass)
{
    TComponent named(nullptr, "DataSource1");
    TComponent unnamed;
    EXPECT_EQ(EDatabaseError::PrefixedText("Record not found", &named), "DataSource1: Record not found");
    EXPECT_EQ(EDatabaseError::PrefixedText("Record not found", &unnamed), "Record not found");
    EXPECT_EQ(EDatabaseError::PrefixedText("Record not found", nullptr), "Record not found");
    EXPECT_EQ(ErrorText([] { EDatabaseError::Raise("x"); }), "x");
}

class OpenErrors : public ::testing::Test {
protected:
    void SetUp() override
    {
        FillFileList(query, 3);
        query.Open();
    }
    TMemoryDataSet query{nullptr, "ADOQueryTemp"};
};

TEST_F(OpenErrors, PostOrSettingAFieldWhileBrowsing)
{
    EXPECT_EQ(ErrorText([&] { query.Post(); }), "ADOQueryTemp: Dataset not in edit or insert mode");
    EXPECT_EQ(ErrorText([&] { query.FieldByName("FileEnable").SetAsBoolean(true); }),
              "ADOQueryTemp: Dataset not in edit or insert mode");
    EXPECT_EQ(ErrorText([&] { query.FieldByName("FileName").SetAsString("a"); }),
              "ADOQueryTemp: Dataset not in edit or insert mode");
    EXPECT_EQ(ErrorText([&] { query.FieldByName("FileIndex").SetAsString("abc"); }),
              "ADOQueryTemp: Dataset not in edit or insert mode");
}

TEST_F(OpenErrors, FieldLookupIsCaseInsensitiveAndNamesTheMissingField)
{
    EXPECT_EQ(&query.FieldByName("fileenable"), &query.FieldByName("FileEnable"));
    EXPECT_EQ(&query.FieldByName("FILENAME"), query.FindField("FileName"));
    EXPECT_EQ(ErrorText([&] { query.FieldByName("FileEnabled"); }), "ADOQueryTemp: Field 'FileEnabled' not found");
    EXPECT_EQ(query.FindField("FileEnabled"), nullptr);
    query.Close();
    EXPECT_EQ(ErrorText([&] { query.FieldByName("FileName"); }), "ADOQueryTemp: Field 'FileName' not found");
}

TEST_F(OpenErrors, ReadOnlyFieldAndReadOnlyDataset)
{
    query.Edit();
    EXPECT_EQ(ErrorText([&] { query.FieldByName("FileIndex").SetAsString("7"); }),
              "Field 'FileIndex' cannot be modified");
    EXPECT_EQ(ErrorText([&] { query.FieldByName("FileIndex").SetAsInteger(7); }),
              "Field 'FileIndex' cannot be modified");
    // The field's state is checked before the text is converted.
    for (const char* text : {"abc", "", "99999999999"})
        EXPECT_EQ(ErrorText([&] { query.FieldByName("FileIndex").SetAsString(text); }),
                  "Field 'FileIndex' cannot be modified") << text;
    query.Cancel();
    query.SetCanModify(false);
    EXPECT_EQ(ErrorText([&] { query.Edit(); }), "ADOQueryTemp: Cannot modify a read-only dataset");
    EXPECT_EQ(ErrorText([&] { query.Insert(); }), "ADOQueryTemp: Cannot modify a read-only dataset");
    EXPECT_EQ(query.State(), TDataSetState::Browse);
}

TEST_F(OpenErrors, UnsupportedAccessorsAndBadBooleanText)
{
    query.Edit();
    TField& enable = query.FieldByName("FileEnable");
    TField& name = query.FieldByName("FileName");
    EXPECT_EQ(ErrorText([&] { (void)enable.AsInteger(); }), "Cannot access field 'FileEnable' as type Integer");
    EXPECT_EQ(ErrorText([&] { (void)name.AsBoolean(); }), "Cannot access field 'FileName' as type Boolean");
    EXPECT_EQ(ErrorText([&] { name.SetAsBoolean(true); }), "Cannot access field 'FileName' as type Boolean");
    EXPECT_EQ(ErrorText([&] { enable.SetAsString("no"); }), "'no' is not a valid boolean value for field 'FileEnable'");
    enable.SetDisplayLabel("Live");
    EXPECT_EQ(ErrorText([&] { enable.SetAsString("yes"); }), "'yes' is not a valid boolean value for field 'Live'");
}

TEST_F(OpenErrors, RecordNotFoundForAVanishedBookmark)
{
    EXPECT_EQ(ErrorText([&] { query.GotoBookmark(TBookmark(99)); }), "ADOQueryTemp: Record not found");
    EXPECT_FALSE(query.BookmarkValid(TBookmark(99)));
    EXPECT_TRUE(query.BookmarkValid(TBookmark(2)));
    EXPECT_FALSE(query.BookmarkValid(std::nullopt));
}

TEST(FieldErrors, FieldWithoutDataset)
{
    TBooleanField loose("FileEnable");
    TWideStringField name("FileName", 10);
    EXPECT_EQ(ErrorText([&] { loose.SetAsBoolean(true); }), "Field 'FileEnable' has no dataset");
    EXPECT_EQ(ErrorText([&] { name.SetAsString("x"); }), "Field 'FileName' has no dataset");
    EXPECT_TRUE(loose.IsNull());
    EXPECT_FALSE(loose.AsBoolean());
    EXPECT_EQ(name.AsString(), "");
}

TEST(FailedOpen, LeavesTheDatasetClosedWithEofAndBof)
{
    TMemoryDataSet query(nullptr, "ADOQuery1");
    FillFileList(query, 3);
    Log log;
    RecordHooks(query, log);
    query.FailNextOpen("Unable to open database file");
    EXPECT_EQ(ErrorText([&] { query.Open(); }), "Unable to open database file");
    EXPECT_EQ(log, (Log{"BeforeOpen"}));
    EXPECT_FALSE(query.Active());
    EXPECT_TRUE(query.Eof());
    EXPECT_TRUE(query.Bof());
    EXPECT_EQ(query.Fields().Count(), 0);
    EXPECT_EQ(ErrorText([&] { (void)query.RecordCount(); }), "ADOQuery1: Cannot perform this operation on a closed dataset");
    query.Open();  // the next open works
    EXPECT_EQ(query.RecordCount(), 3);
}

TEST(FailedPost, LeavesTheRowPendingAndTheNextMovePostsItAgain)
{
    TMemoryDataSet query(nullptr, "ADOQuery1");
    FillFileList(query, 3);
    query.Open();
    query.Edit();
    query.FieldByName("FileName").SetAsString("renamed");
    query.FailNextPost("database is locked");
    EXPECT_EQ(ErrorText([&] { query.Post(); }), "database is locked");
    EXPECT_EQ(query.State(), TDataSetState::Edit);
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "renamed");
    EXPECT_EQ(query.WriteCount(), 0u);
    query.Next();  // posts first
    EXPECT_EQ(query.WriteCount(), 1u);
    EXPECT_EQ(std::get<std::u16string>(query.RowValue(0, 1)), u"renamed");
    EXPECT_EQ(query.FieldByName("FileIndex").AsInteger(), 2);
}

TEST(FailedPost, TheErrorHookMayRetryOrAbort)
{
    TMemoryDataSet query(nullptr, "ADOQuery1");
    FillFileList(query, 2);
    query.Open();
    int calls = 0;
    query.SetOnPostError([&](TDataSet&, EDatabaseError& error, TDataAction& action) {
        ++calls;
        EXPECT_EQ(error.Message(), "busy");
        action = TDataAction::Retry;
    });
    query.Edit();
    query.FieldByName("FileEnable").SetAsBoolean(false);
    query.FailNextPost("busy");
    query.Post();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(query.State(), TDataSetState::Browse);

    query.SetOnPostError([](TDataSet&, EDatabaseError&, TDataAction& action) { action = TDataAction::Abort; });
    query.Edit();
    query.FieldByName("FileEnable").SetAsBoolean(true);
    query.FailNextPost("busy");
    EXPECT_THROW(query.Post(), EAbort);
    EXPECT_EQ(query.State(), TDataSetState::Edit);
}

TEST(FailedNewRecord, AnErrorInOnNewRecordReturnsToBrowse)
{
    TMemoryDataSet query(nullptr, "ADOQuery1");
    FillFileList(query, 4);
    query.Open();
    query.Next();
    query.SetHook(TDataSetHook::OnNewRecord, [](TDataSet&) { throw EDatabaseError("no new rows"); });
    EXPECT_EQ(ErrorText([&] { query.Insert(); }), "no new rows");
    EXPECT_EQ(query.State(), TDataSetState::Browse);
    EXPECT_EQ(query.FieldByName("FileIndex").AsInteger(), 2);
    EXPECT_EQ(WindowIds(query), (std::vector<int64_t>{2})) << "B = 1: the current row only";
}

}  // namespace
