// Which notifications and hooks each cursor operation sends, in order, as a
// data link and the data source's hooks see them.
#include "StoreTestSupport.h"

#include "store/EDatabaseError.h"
#include "store/TField.h"

using namespace vantelo;
using namespace vantelo::test;

namespace {

class Notifications : public ::testing::Test {
protected:
    void SetUp() override
    {
        FillFileList(query, 40);
        source.SetDataSet(&query);
        link.SetDataSource(&source);
        link.SetBufferCount(15);
        RecordHooks(query, log);
        RecordSource(source, log);
    }
    // The log of what op sends, from a clean log.
    Log Run(const std::function<void()>& op)
    {
        log.clear();
        op();
        return log;
    }

    Log log;
    TMemoryDataSet query{nullptr, "ADOQuery1"};
    TDataSource source{nullptr, "DataSource1"};
    RecordingLink link{log};
};

TEST_F(Notifications, OpenMakesTheLinkActiveThenRunsAfterOpenAndAfterScroll)
{
    EXPECT_EQ(Run([&] { query.Open(); }),
              (Log{"BeforeOpen", "ActiveChanged", "State(Browse)", "DataChange(-)", "AfterOpen", "AfterScroll"}));
    EXPECT_EQ(link.RecordCount(), 15);
}

TEST_F(Notifications, OpenOfAnEmptyResultRunsNoAfterScroll)
{
    TMemoryDataSet empty(nullptr, "Empty");
    empty.SetColumns(FileListColumns());
    RecordHooks(empty, log);
    source.SetDataSet(&empty);
    EXPECT_EQ(Run([&] { empty.Open(); }),
              (Log{"BeforeOpen", "ActiveChanged", "State(Browse)", "DataChange(-)", "AfterOpen"}));
    source.SetDataSet(nullptr);
}

TEST_F(Notifications, CloseMakesTheLinkInactive)
{
    query.Open();
    EXPECT_EQ(Run([&] { query.Close(); }), (Log{"BeforeClose", "ActiveChanged", "State(Inactive)", "AfterClose"}));
    EXPECT_FALSE(link.Active());
}

TEST_F(Notifications, NavigationSendsTheTableSequences)
{
    query.Open();
    const Log scrollInside{"CheckBrowseMode", "BeforeScroll", "DataSetScrolled(0)", "DataChange(-)", "AfterScroll"};
    const Log changed{"CheckBrowseMode", "BeforeScroll", "DataSetChanged", "DataChange(-)", "AfterScroll"};
    const Log checkOnly{"CheckBrowseMode", "BeforeScroll"};

    EXPECT_EQ(Run([&] { query.First(); }), changed);
    EXPECT_EQ(Run([&] { query.Prior(); }), checkOnly) << "prior right after first, Bof already true";
    EXPECT_EQ(Run([&] { query.Next(); }), scrollInside);
    EXPECT_EQ(Run([&] { query.MoveBy(13); }), scrollInside);
    EXPECT_EQ(Run([&] { query.Next(); }),
              (Log{"CheckBrowseMode", "BeforeScroll", "DataSetScrolled(1)", "DataChange(-)", "AfterScroll"}))
        << "the window moves up one row";
    EXPECT_EQ(Run([&] { query.Last(); }), changed);
    EXPECT_EQ(Run([&] { query.Next(); }), checkOnly) << "next at Eof";
    EXPECT_EQ(Run([&] { query.Prior(); }), scrollInside);
    EXPECT_EQ(Run([&] { query.MoveBy(0); }), checkOnly);
}

TEST_F(Notifications, FirstAndLastRunAfterScrollAlsoWhenTheFetchFails)
{
    query.Open();
    query.MoveBy(5);
    const Log failed{"CheckBrowseMode", "BeforeScroll", "DataSetChanged", "DataChange(-)", "AfterScroll"};
    for (const bool first : {true, false}) {
        query.FailNextFetch("fetch failed");
        Log seen;
        try {
            seen = Run([&] { first ? query.First() : query.Last(); });
            ADD_FAILURE() << "no error";
        } catch (const EDatabaseError& error) {
            seen = log;
            EXPECT_STREQ(error.what(), "fetch failed");
        }
        EXPECT_EQ(seen, failed) << (first ? "First" : "Last");
        EXPECT_TRUE(first ? query.Bof() : query.Eof());
    }
}

TEST_F(Notifications, NextOnTheLastRowScrollsByZeroAndSetsEof)
{
    query.Open();
    query.Last();
    query.Prior();
    query.Next();
    EXPECT_FALSE(query.Eof());
    EXPECT_EQ(Run([&] { query.Next(); }),
              (Log{"CheckBrowseMode", "BeforeScroll", "DataSetScrolled(0)", "DataChange(-)", "AfterScroll"}));
    EXPECT_TRUE(query.Eof());
    EXPECT_EQ(query.FieldByName("FileIndex").AsInteger(), 40);
}

TEST_F(Notifications, MovingIntoAWindowThatGrowsSendsDataSetChange)
{
    TMemoryDataSet small(nullptr, "Small");
    FillFileList(small, 3);
    small.Open();
    RecordHooks(small, log);
    source.SetDataSet(&small);
    small.Last();  // window: rows 1..3 fetched backward, but B = 15 > 3 rows
    EXPECT_EQ(small.RowsHeld(), 3);
    EXPECT_EQ(Run([&] { small.Prior(); }),
              (Log{"CheckBrowseMode", "BeforeScroll", "DataSetScrolled(0)", "DataChange(-)", "AfterScroll"}));
    source.SetDataSet(nullptr);
}

TEST_F(Notifications, EditSetPostAndCancel)
{
    query.Open();
    EXPECT_EQ(Run([&] { query.Edit(); }), (Log{"CheckBrowseMode", "BeforeEdit", "EditingChanged", "State(Edit)",
                                                "RecordChanged(-)", "DataChange(-)", "AfterEdit"}));
    EXPECT_EQ(Run([&] { query.FieldByName("FileName").SetAsString("x"); }),
              (Log{"RecordChanged(FileName)", "DataChange(FileName)"}));
    EXPECT_EQ(Run([&] { query.Post(); }),
              (Log{"UpdateData", "OnUpdateData", "CheckBrowseMode", "BeforePost", "EditingChanged", "State(Browse)",
                   "DataSetChanged", "DataChange(-)", "AfterPost"}));
    query.Edit();
    EXPECT_EQ(Run([&] { query.Cancel(); }), (Log{"CheckBrowseMode", "BeforeCancel", "EditingChanged",
                                                  "State(Browse)", "DataSetChanged", "DataChange(-)", "AfterCancel"}));
    EXPECT_EQ(Run([&] { query.Cancel(); }), Log{}) << "cancel in browse does nothing";
}

TEST_F(Notifications, InsertAndItsCancelScroll)
{
    query.Open();
    EXPECT_EQ(Run([&] { query.Insert(); }),
              (Log{"CheckBrowseMode", "BeforeInsert", "BeforeScroll", "EditingChanged", "State(Insert)",
                   "OnNewRecord", "DataSetChanged", "DataChange(-)", "AfterInsert", "AfterScroll"}));
    EXPECT_EQ(Run([&] { query.Cancel(); }),
              (Log{"CheckBrowseMode", "BeforeCancel", "BeforeScroll", "EditingChanged", "State(Browse)",
                   "DataSetChanged", "DataChange(-)", "AfterCancel", "AfterScroll"}));
}

TEST_F(Notifications, EditTwiceDoesNothingTheSecondTime)
{
    query.Open();
    query.Edit();
    query.FieldByName("FileName").SetAsString("pending");
    EXPECT_EQ(Run([&] { query.Edit(); }), Log{});
    EXPECT_EQ(query.State(), TDataSetState::Edit);
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "pending");
}

TEST_F(Notifications, MovingAwayFromAChangedRowPostsItFirst)
{
    query.Open();
    query.Edit();
    query.FieldByName("FileEnable").SetAsBoolean(false);
    EXPECT_EQ(Run([&] { query.Next(); }),
              (Log{"CheckBrowseMode", "UpdateData", "OnUpdateData", "UpdateData", "OnUpdateData", "CheckBrowseMode",
                   "BeforePost", "EditingChanged", "State(Browse)", "DataSetChanged", "DataChange(-)", "AfterPost",
                   "BeforeScroll", "DataSetScrolled(0)", "DataChange(-)", "AfterScroll"}));
    EXPECT_EQ(query.WriteCount(), 1u);
    EXPECT_EQ(query.FieldByName("FileIndex").AsInteger(), 2);
}

TEST_F(Notifications, MovingAwayFromAnUnchangedRowCancelsIt)
{
    query.Open();
    query.Edit();
    EXPECT_EQ(Run([&] { query.First(); }),
              (Log{"CheckBrowseMode", "UpdateData", "OnUpdateData", "CheckBrowseMode", "BeforeCancel",
                   "EditingChanged", "State(Browse)", "DataSetChanged", "DataChange(-)", "AfterCancel",
                   "BeforeScroll", "DataSetChanged", "DataChange(-)", "AfterScroll"}));
    EXPECT_EQ(query.WriteCount(), 0u);
}

TEST_F(Notifications, BookmarkAndRecordNumberMovesSendDataSetChange)
{
    query.Open();
    query.MoveBy(20);
    const auto mark = query.GetBookmark();
    query.First();
    EXPECT_EQ(Run([&] { query.GotoBookmark(mark); }),
              (Log{"CheckBrowseMode", "BeforeScroll", "DataSetChanged", "DataChange(-)", "AfterScroll"}));
    EXPECT_EQ(Run([&] { query.SetRecNo(5); }), (Log{"BeforeScroll", "DataSetChanged", "DataChange(-)", "AfterScroll"}));
    EXPECT_EQ(Run([&] { query.SetRecNo(5); }), Log{}) << "the same record number moves nothing";
    EXPECT_EQ(Run([&] { query.GotoBookmark(std::nullopt); }), Log{});
}

TEST_F(Notifications, DisabledControlsForwardNothingUntilEnabledAgain)
{
    query.Open();
    query.DisableControls();
    query.DisableControls();
    const Log walk = Run([&] {
        query.First();
        while (!query.Eof())
            query.Next();
        query.First();
    });
    for (const std::string& entry : walk)
        EXPECT_TRUE(entry == "BeforeScroll" || entry == "AfterScroll") << entry;
    EXPECT_EQ(Run([&] { query.EnableControls(); }), Log{}) << "still disabled once";
    EXPECT_EQ(Run([&] { query.EnableControls(); }), (Log{"DataSetChanged", "DataChange(-)"}));
    EXPECT_EQ(Run([&] { query.EnableControls(); }), Log{}) << "enable at count 0 does nothing";
}

TEST_F(Notifications, AStateChangeWhileDisabledIsSentOnEnable)
{
    query.Open();
    query.DisableControls();
    EXPECT_EQ(Run([&] { query.Close(); }), (Log{"BeforeClose", "AfterClose"}));
    EXPECT_TRUE(link.Active()) << "the link hears of the close only when enabled";
    EXPECT_EQ(Run([&] { query.EnableControls(); }), (Log{"ActiveChanged", "State(Inactive)"}))
        << "no data-set-change: the dataset is closed now";

    query.DisableControls();
    query.Open();
    query.Edit();
    EXPECT_EQ(Run([&] { query.EnableControls(); }),
              (Log{"ActiveChanged", "EditingChanged", "State(Edit)", "DataChange(-)"}))
        << "closed when disabled: update-state only";
}

TEST_F(Notifications, ASavedHookIsCalledByTheHandlerThatReplacedIt)
{
    // The footer count's pattern: keep the handler found, install one's own,
    // call the kept one from it, and count the rows with the views switched off.
    int64_t counted = -1;
    const TDataSetNotifyEvent saved = query.Hook(TDataSetHook::AfterOpen);
    query.SetHook(TDataSetHook::AfterOpen, [&, saved](TDataSet& dataSet) {
        dataSet.DisableControls();
        counted = 0;
        dataSet.First();
        while (!dataSet.Eof()) {
            ++counted;
            dataSet.Next();
        }
        dataSet.First();
        dataSet.EnableControls();
        saved(dataSet);
    });
    const Log opened = Run([&] { query.Open(); });
    EXPECT_EQ(counted, 40);
    EXPECT_EQ(opened.front(), "BeforeOpen");
    EXPECT_EQ(opened[1], "ActiveChanged");
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "AfterOpen"), 1);
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "DataSetChanged"), 1) << "one change when enabled again";
    EXPECT_EQ(query.FieldByName("FileIndex").AsInteger(), 1);
    EXPECT_EQ(query.RecNo(), 1) << "record number of a row fetched while disabled is asked afresh";
}

}  // namespace
