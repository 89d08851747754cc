// Field accessors and conversions, and the edit paths the tool's handlers take.
#include "StoreTestSupport.h"

#include "platform/TCodePage.h"
#include "store/TBooleanField.h"
#include "store/TIntegerField.h"
#include "store/TWideStringField.h"

using namespace vantelo;
using namespace vantelo::test;

namespace {

class Fields : public ::testing::Test {
protected:
    void SetUp() override
    {
        TCodePage::SetActive(TCodePage::Kind::Utf8);
        query.SetColumns(FileListColumns(8));
        query.AppendRow({TNull{}, u"alpha", int16_t{0}});
        query.AppendRow({TNull{}, TNull{}, TNull{}});
        query.AppendRow({TNull{}, u"gamma", int16_t{-1}});
        query.Open();
    }
    TField& Name() { return query.FieldByName("FileName"); }
    TField& Enable() { return query.FieldByName("FileEnable"); }
    TField& Index() { return query.FieldByName("FileIndex"); }

    TMemoryDataSet query{nullptr, "ADOQuery1"};
};

TEST_F(Fields, DefaultFieldsFollowTheColumns)
{
    ASSERT_EQ(query.Fields().Count(), 3);
    EXPECT_TRUE(query.DefaultFields());
    EXPECT_EQ(Index().DataType(), TFieldType::ftAutoInc);
    EXPECT_TRUE(Index().ReadOnly());
    EXPECT_EQ(Index().Alignment(), TAlignment::Right);
    EXPECT_EQ(Name().DataType(), TFieldType::ftWideString);
    EXPECT_EQ(Name().Size(), 8);
    EXPECT_EQ(Name().FieldNo(), 2);
    EXPECT_FALSE(Name().Required());
    EXPECT_EQ(Enable().DataType(), TFieldType::ftBoolean);
    EXPECT_EQ(Enable().DisplayWidth(), 5);
    EXPECT_NE(dynamic_cast<TBooleanField*>(&Enable()), nullptr);
}

TEST_F(Fields, ReadingValuesAndNulls)
{
    EXPECT_EQ(Index().AsString(), "1");
    EXPECT_EQ(Name().AsString(), "alpha");
    EXPECT_FALSE(Enable().AsBoolean());
    EXPECT_EQ(Enable().AsString(), "False");
    query.Next();
    EXPECT_TRUE(Name().IsNull());
    EXPECT_EQ(Name().AsString(), "");
    EXPECT_TRUE(Enable().IsNull());
    EXPECT_FALSE(Enable().AsBoolean());
    EXPECT_EQ(Enable().AsString(), "");
    query.Next();
    EXPECT_TRUE(Enable().AsBoolean()) << "any value other than 0 is True";
    EXPECT_EQ(Enable().AsString(), "True");
    EXPECT_EQ(Enable().DisplayText(), "True");
}

TEST_F(Fields, BooleanTextRules)
{
    struct Case {
        const char* text;
        std::optional<bool> stored;  // none: Null
    };
    const Case cases[] = {
        {"True", true}, {"False", false}, {"f", false}, {"FALSE", false}, {"fa", false},
        {"t", true},    {"tr", true},     {"TRUE", true}, {"", std::nullopt},
    };
    query.Edit();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Enable().SetAsString(c.text);
        if (c.stored) {
            EXPECT_FALSE(Enable().IsNull());
            EXPECT_EQ(Enable().AsBoolean(), *c.stored);
        } else {
            EXPECT_TRUE(Enable().IsNull());
        }
    }
    for (const char* bad : {"no", "yes", "Falsey", "x", "1"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(Enable().SetAsString(bad), EDatabaseError);
    }
}

TEST_F(Fields, EmptyBooleanTextFollowsWhichTextsAreEmpty)
{
    auto& flag = dynamic_cast<TBooleanField&>(Enable());
    query.Edit();
    flag.SetTexts("Yes", "");
    flag.SetAsString("");
    EXPECT_FALSE(flag.IsNull());
    EXPECT_FALSE(flag.AsBoolean()) << "an empty false text: False";
    flag.SetTexts("", "No");
    flag.SetAsString("");
    EXPECT_FALSE(flag.IsNull());
    EXPECT_TRUE(flag.AsBoolean()) << "only the true text empty: True";
    flag.SetTexts("Yes", "No");
    flag.SetAsString("");
    EXPECT_TRUE(flag.IsNull());
}

TEST_F(Fields, WideTextIsCutToTheSizeAtACharacterBoundary)
{
    query.Edit();
    Name().SetAsString("abcdefghij");
    EXPECT_EQ(Name().AsString(), "abcdefgh");
    auto& name = dynamic_cast<TWideStringField&>(Name());
    name.SetAsWideString(u"abcdefg\U0001F600z");  // the pair would be units 8 and 9
    EXPECT_EQ(name.AsWideString(), u"abcdefg");
    name.SetAsWideString(u"abcdef\U0001F600z");
    EXPECT_EQ(name.AsWideString(), u"abcdef\U0001F600");
    Name().SetAsString("文件名称一二三四五");  // nine characters of three bytes
    EXPECT_EQ(Name().AsString(), "文件名称一二三四");
    query.Post();
    EXPECT_EQ(std::get<std::u16string>(query.RowValue(0, 1)), u"文件名称一二三四");
}

TEST_F(Fields, UndecodableNameBytesSurviveTheTripThroughTheColumn)
{
    query.Edit();
    const std::string raw = "a\xff\xfe" "b";
    Name().SetAsString(raw);
    query.Post();
    EXPECT_EQ(Name().AsString(), raw);
}

TEST_F(Fields, IntegerFieldText)
{
    TMemoryDataSet numbers;
    numbers.SetColumns({{"Count", TFieldType::ftInteger}});
    numbers.AppendRow({int32_t{-12}});
    numbers.Open();
    TField& count = numbers.FieldByName("count");
    EXPECT_EQ(count.AsString(), "-12");
    numbers.Edit();
    count.SetAsString("+42");
    EXPECT_EQ(count.AsInteger(), 42);
    count.SetAsString("");
    EXPECT_TRUE(count.IsNull());
    EXPECT_EQ(count.AsString(), "");
    EXPECT_THROW(count.SetAsString("4x"), EDatabaseError);
}

TEST_F(Fields, WritingTheSameValueStillWritesTheRow)
{
    query.Edit();
    Enable().SetAsBoolean(false);  // already False
    EXPECT_TRUE(query.Modified());
    query.Post();
    EXPECT_EQ(query.WriteCount(), 1u);
}

TEST_F(Fields, OnlyTheChangedFieldsAreWritten)
{
    query.Edit();
    Enable().SetAsBoolean(true);
    ASSERT_EQ(query.ModifiedFields().size(), 1u);
    EXPECT_EQ(query.ModifiedFields()[0], &Enable());
    Enable().SetAsBoolean(false);
    EXPECT_EQ(query.ModifiedFields().size(), 1u) << "a field is listed once";
    query.Post();
    EXPECT_TRUE(query.ModifiedFields().empty());
    EXPECT_EQ(std::get<std::u16string>(query.RowValue(0, 1)), u"alpha");
}

TEST_F(Fields, CloseWithAPendingChangeWritesNothing)
{
    query.Edit();
    Name().SetAsString("lost");
    query.Close();
    EXPECT_EQ(query.WriteCount(), 0u);
    EXPECT_EQ(std::get<std::u16string>(query.RowValue(0, 1)), u"alpha");
    EXPECT_EQ(query.Fields().Count(), 0);
}

TEST_F(Fields, EditPostNextMovesToTheFollowingRow)
{
    query.Edit();
    Enable().SetAsBoolean(true);
    query.Post();
    EXPECT_EQ(Index().AsInteger(), 1);
    query.Next();
    EXPECT_EQ(Index().AsInteger(), 2);
    EXPECT_FALSE(query.Eof());
}

TEST_F(Fields, InsertAtEofAppendsEachTimeAndNextFindsEofAgain)
{
    query.Last();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        query.Next();
        ASSERT_TRUE(query.Eof());
        query.Insert();
        EXPECT_TRUE(query.Eof()) << "insert leaves Eof as it was";
        EXPECT_EQ(query.RecNo(), -1);
        EXPECT_FALSE(query.GetBookmark().has_value());
        Name().SetAsString("new" + std::to_string(round));
        Enable().SetAsBoolean(true);
        query.Post();
        EXPECT_FALSE(query.Eof());
        EXPECT_EQ(Name().AsString(), "new" + std::to_string(round));
        EXPECT_EQ(Index().AsInteger(), 4 + round) << "the auto-increment value is the storage's";
        EXPECT_EQ(query.RecordCount(), 4 + round);
        EXPECT_EQ(query.RecNo(), 4 + round);
        query.Next();
        EXPECT_TRUE(query.Eof());
    }
}

TEST(EmptyResult, OpensWithBofEofAndEditBecomesInsert)
{
    TMemoryDataSet query(nullptr, "ADOQuery1");
    query.SetColumns(FileListColumns());
    query.Open();
    EXPECT_TRUE(query.Bof());
    EXPECT_TRUE(query.Eof());
    EXPECT_TRUE(query.IsEmpty());
    EXPECT_EQ(query.RecordCount(), 0);
    EXPECT_EQ(query.RecNo(), -1);
    EXPECT_FALSE(query.GetBookmark().has_value());
    EXPECT_TRUE(query.FieldByName("FileName").IsNull());
    query.Edit();
    EXPECT_EQ(query.State(), TDataSetState::Insert);
    query.Cancel();
    EXPECT_TRUE(query.IsEmpty());
    EXPECT_TRUE(query.Eof());
    query.Edit();
    query.FieldByName("FileName").SetAsString("first");
    query.Post();
    EXPECT_EQ(query.RecordCount(), 1);
    EXPECT_FALSE(query.Eof());
    EXPECT_FALSE(query.Bof());
}

TEST(RecordNumber, WritingItWhileEditingPostsThePendingRowFirst)
{
    TMemoryDataSet query;
    FillFileList(query, 10);
    query.Open();
    query.Edit();
    query.FieldByName("FileName").SetAsString("kept");
    query.SetRecNo(7);
    EXPECT_EQ(query.State(), TDataSetState::Browse);
    EXPECT_EQ(std::get<std::u16string>(query.RowValue(0, 1)), u"kept");
    EXPECT_EQ(query.FieldByName("FileIndex").AsInteger(), 7);
}

TEST(Bookmarks, CompareAndValidity)
{
    TMemoryDataSet query;
    FillFileList(query, 5);
    query.Open();
    const auto first = query.GetBookmark();
    query.Last();
    const auto last = query.GetBookmark();
    EXPECT_EQ(query.CompareBookmarks(std::nullopt, std::nullopt), 0);
    EXPECT_EQ(query.CompareBookmarks(first, std::nullopt), -1);
    EXPECT_EQ(query.CompareBookmarks(std::nullopt, first), 1);
    EXPECT_EQ(query.CompareBookmarks(first, last), -1);
    EXPECT_EQ(query.CompareBookmarks(last, first), 1);
    EXPECT_EQ(query.CompareBookmarks(last, last), 0);
    auto copy = first;
    query.FreeBookmark(copy);
    EXPECT_FALSE(copy.has_value());
    EXPECT_TRUE(query.BookmarkValid(first));
    query.Next();  // the storage position was disturbed by the validity test
    EXPECT_TRUE(query.Eof());
    EXPECT_EQ(query.FieldByName("FileIndex").AsInteger(), 5);
}

}  // namespace
