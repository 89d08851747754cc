// The window of buffered rows: B = 15 over 40 rows, moves and shifts, the
// link's first-record offset, and B growing and shrinking while open.
#include "StoreTestSupport.h"

using namespace vantelo;
using namespace vantelo::test;

namespace {

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        FillFileList(query, 40);
        source.SetDataSet(&query);
        link.SetDataSource(&source);
        link.SetBufferCount(15);
        query.Open();
    }
    int64_t CurrentId() { return query.FieldByName("FileIndex").AsInteger(); }

    Log log;
    TMemoryDataSet query{nullptr, "ADOQuery1"};
    TDataSource source;
    RecordingLink link{log};
};

TEST_F(Window, OpenFillsTheWindowFromTheFirstRow)
{
    EXPECT_EQ(query.BufferCount(), 15);
    EXPECT_EQ(WindowIds(query), IdRange(1, 15));
    EXPECT_EQ(query.ActiveSlot(), 0);
    EXPECT_TRUE(query.Bof());
    EXPECT_FALSE(query.Eof());
    EXPECT_EQ(link.FirstRecord(), 0);
    EXPECT_EQ(link.RecordCount(), 15);
    ExpectWindowConsistent(query, &link);
}

TEST_F(Window, MovesInsideAndPastTheWindow)
{
    struct Step {
        int distance;
        int moved;
        int64_t firstId;
        int activeSlot;
        bool bof;
        bool eof;
    };
    const Step steps[] = {
        {14, 14, 1, 14, false, false},   // to the last slot, no fetch
        {1, 1, 2, 14, false, false},     // the window moves up one row
        {-14, -14, 2, 0, false, false},  // to the first slot
        {-1, -1, 1, 0, false, false},    // the window moves down one row
        {-1, 0, 1, 0, true, false},      // no prior row: Bof, row 1 stays current
        {100, 39, 26, 14, false, true},  // to the end: moved 39, Eof
        {5, 0, 26, 14, false, true},     // at Eof nothing moves
        {-20, -20, 20, 0, false, false}, // back across the window's top
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.distance);
        EXPECT_EQ(query.MoveBy(step.distance), step.moved);
        EXPECT_EQ(WindowIds(query).front(), step.firstId);
        EXPECT_EQ(query.RowsHeld(), 15);
        EXPECT_EQ(query.ActiveSlot(), step.activeSlot);
        EXPECT_EQ(query.Bof(), step.bof);
        EXPECT_EQ(query.Eof(), step.eof);
        EXPECT_EQ(link.ActiveRecord(), step.activeSlot);
        ExpectWindowConsistent(query, &link);
    }
    EXPECT_EQ(CurrentId(), 20);
}

TEST_F(Window, LastHoldsTheLastRowsAndPriorLeavesEof)
{
    query.Last();
    EXPECT_EQ(WindowIds(query), IdRange(26, 40));
    EXPECT_EQ(query.ActiveSlot(), 14);
    EXPECT_TRUE(query.Eof());
    EXPECT_FALSE(query.Bof());
    query.Prior();
    EXPECT_EQ(CurrentId(), 39);
    EXPECT_FALSE(query.Eof());
    query.First();
    EXPECT_EQ(WindowIds(query), IdRange(1, 15));
    EXPECT_TRUE(query.Bof());
}

TEST_F(Window, NextThenPriorBackToTheFirstRowKeepsBofFalseUntilOneMorePrior)
{
    query.Next();
    query.Prior();
    EXPECT_EQ(CurrentId(), 1);
    EXPECT_FALSE(query.Bof());
    query.Prior();
    EXPECT_TRUE(query.Bof());
    EXPECT_EQ(CurrentId(), 1);
}

TEST_F(Window, RecordNumberAndBookmarkMovesCentreTheRow)
{
    query.SetRecNo(20);
    EXPECT_EQ(CurrentId(), 20);
    EXPECT_EQ(query.ActiveSlot(), 7);
    EXPECT_EQ(WindowIds(query), IdRange(13, 27));
    EXPECT_EQ(query.RecNo(), 20);

    query.SetRecNo(39);  // near the end the window fills backward
    EXPECT_EQ(WindowIds(query), IdRange(26, 40));
    EXPECT_EQ(query.ActiveSlot(), 13);

    query.First();
    query.MoveBy(30);
    const auto mark = query.GetBookmark();
    query.First();
    query.GotoBookmark(mark);
    EXPECT_EQ(CurrentId(), 31);
    EXPECT_EQ(query.ActiveSlot(), 7);
    EXPECT_FALSE(query.Bof());
    EXPECT_FALSE(query.Eof());
    ExpectWindowConsistent(query, &link);
}

TEST_F(Window, InsertPushesTheLastRowOutAndPostAppendsAtTheEnd)
{
    query.MoveBy(5);
    query.Insert();
    std::vector<int64_t> expected = IdRange(1, 14);
    expected.insert(expected.begin() + 5, 0);
    EXPECT_EQ(WindowIds(query), expected);
    EXPECT_EQ(query.ActiveSlot(), 5);
    EXPECT_EQ(query.RecNo(), -1);
    query.FieldByName("FileName").SetAsString("new");
    query.Post();
    EXPECT_EQ(CurrentId(), 41);
    EXPECT_EQ(WindowIds(query), IdRange(27, 41));
    EXPECT_EQ(query.ActiveSlot(), 14);
    EXPECT_FALSE(query.Eof());
    query.Next();
    EXPECT_TRUE(query.Eof());
    EXPECT_EQ(CurrentId(), 41);
    ExpectWindowConsistent(query, &link);
}

TEST_F(Window, CancelledInsertReturnsToTheRowItStoodBefore)
{
    query.MoveBy(20);  // row 21 in slot 14 of window 7..21
    query.Insert();
    query.Cancel();
    EXPECT_EQ(CurrentId(), 21);
    EXPECT_EQ(query.ActiveSlot(), 14) << "the resync keeps the row at its slot";
    EXPECT_EQ(WindowIds(query), IdRange(7, 21));
}

TEST_F(Window, AGrowingBufferCountFetchesForwardThenBackward)
{
    query.MoveBy(30);  // window 17..31, row 31 active in slot 14
    RecordingLink wide(log);
    wide.SetDataSource(&source);
    wide.SetBufferCount(20);
    EXPECT_EQ(query.BufferCount(), 20);
    EXPECT_EQ(WindowIds(query), IdRange(17, 36)) << "forward rows first";
    EXPECT_EQ(CurrentId(), 31);
    EXPECT_EQ(link.FirstRecord(), 0);
    ExpectWindowConsistent(query, &link);
    ExpectWindowConsistent(query, &wide);

    query.Last();  // window 21..40
    wide.SetBufferCount(30);
    EXPECT_EQ(WindowIds(query), IdRange(11, 40)) << "no forward row: backward rows fill the window";
    EXPECT_EQ(query.ActiveSlot(), 29);
    EXPECT_EQ(link.FirstRecord(), 15) << "the narrow link's rows moved down by the rows fetched in front";
    EXPECT_EQ(link.ActiveRecord(), 14);
    EXPECT_EQ(wide.FirstRecord(), 0);
    ExpectWindowConsistent(query, &link);
    ExpectWindowConsistent(query, &wide);
}

TEST_F(Window, AShrinkingBufferCountKeepsTheActiveRowAndTheLinksRows)
{
    RecordingLink wide(log);
    wide.SetDataSource(&source);
    wide.SetBufferCount(30);
    query.MoveBy(20);  // window 1..30, row 21 in slot 20
    EXPECT_EQ(WindowIds(query), IdRange(1, 30));
    EXPECT_EQ(link.FirstRecord(), 6);

    wide.SetBufferCount(10);  // B = 15: the window starts at the narrow link's first row
    EXPECT_EQ(query.BufferCount(), 15);
    EXPECT_EQ(WindowIds(query), IdRange(7, 21));
    EXPECT_EQ(CurrentId(), 21);
    EXPECT_EQ(link.FirstRecord(), 0);
    EXPECT_EQ(link.ActiveRecord(), 14);
    ExpectWindowConsistent(query, &link);
    ExpectWindowConsistent(query, &wide);

    wide.SetDataSource(nullptr);
    link.SetBufferCount(5);  // B = 5
    EXPECT_EQ(query.BufferCount(), 5);
    EXPECT_EQ(WindowIds(query), IdRange(17, 21));
    EXPECT_EQ(CurrentId(), 21);
    EXPECT_EQ(link.ActiveRecord(), 4);
    ExpectWindowConsistent(query, &link);

    query.Next();
    EXPECT_EQ(WindowIds(query), IdRange(18, 22));
}

TEST_F(Window, AShrinkingWindowNeverLeavesALinksRowsRunningPastTheRowsHeld)
{
    RecordingLink wide(log);
    wide.SetDataSource(&source);
    wide.SetBufferCount(20);  // window 1..20
    query.MoveBy(19);         // the narrow link shows rows 6..20
    query.MoveBy(-14);        // row 6, the narrow link's first row
    EXPECT_EQ(link.FirstRecord(), 5);
    wide.SetBufferCount(2);  // the wide link now starts one row above: rows 5..19 stay
    EXPECT_EQ(WindowIds(query), IdRange(5, 19));
    EXPECT_EQ(CurrentId(), 6);
    EXPECT_EQ(link.FirstRecord(), 0) << "the narrow link's 15 rows end at the last row held";
    EXPECT_EQ(link.ActiveRecord(), 1);
    for (int row = 0; row < link.RecordCount(); ++row) {
        link.SetActiveRecord(row);
        EXPECT_EQ(CurrentId(), 5 + row);
    }
    link.SetActiveRecord(1);
    ExpectWindowConsistent(query, &link);
    ExpectWindowConsistent(query, &wide);
}

TEST_F(Window, DetachingEveryLinkLeavesAOneRowWindow)
{
    query.MoveBy(10);
    link.SetDataSource(nullptr);
    EXPECT_EQ(query.BufferCount(), 1);
    EXPECT_EQ(WindowIds(query), (std::vector<int64_t>{11}));
    query.Next();
    EXPECT_EQ(CurrentId(), 12);
    EXPECT_EQ(query.RecNo(), 12);
}

TEST_F(Window, TheLinkAddressesEachRowItShowsAndRestores)
{
    query.MoveBy(20);  // window 7..21
    const int saved = link.ActiveRecord();
    for (int row = 0; row < link.RecordCount(); ++row) {
        link.SetActiveRecord(row);
        EXPECT_EQ(query.FieldByName("FileName").AsString(), "file" + std::to_string(7 + row));
    }
    link.SetActiveRecord(saved);
    EXPECT_EQ(CurrentId(), 21);
    query.Next();  // the storage must be repositioned after the reads
    EXPECT_EQ(CurrentId(), 22);
    EXPECT_EQ(WindowIds(query), IdRange(8, 22));
}

TEST_F(Window, ValuesAreReadOncePerFetchedRow)
{
    const size_t before = query.ReadCount();
    (void)query.FieldByName("FileName").AsString();
    (void)query.FieldByName("FileName").AsString();
    EXPECT_EQ(query.ReadCount(), before + 1);
    query.Next();
    query.Prior();  // the row stayed in the window: nothing read again
    (void)query.FieldByName("FileName").AsString();
    EXPECT_EQ(query.ReadCount(), before + 1);
    query.First();  // fetched again
    (void)query.FieldByName("FileName").AsString();
    EXPECT_EQ(query.ReadCount(), before + 2);
}

TEST(WindowSmall, AResultSmallerThanTheLinkHoldsEveryRow)
{
    Log log;
    TMemoryDataSet query;
    FillFileList(query, 5);
    TDataSource source;
    source.SetDataSet(&query);
    RecordingLink link(log);
    link.SetDataSource(&source);
    link.SetBufferCount(15);
    query.Open();
    EXPECT_EQ(link.RecordCount(), 5);
    query.Last();
    EXPECT_EQ(WindowIds(query), IdRange(1, 5));
    EXPECT_EQ(link.ActiveRecord(), 4);
    ExpectWindowConsistent(query, &link);
}

}  // namespace
