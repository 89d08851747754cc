// The grid's sum list: the eight hooks it takes over and chains, the count
// it keeps through opens, posts and closes, and the walk that recounts.
// The stored description of the main window, compiled for this test.
#include "ui_FormMain.h"

#include "TDataGridFixture.h"

#include "grid/TSumItem.h"

#include <vector>

using namespace vantelo;
using namespace vantelo::test;

namespace {

class GridSumListTest : public GridFixture {
protected:
    int64_t Count() const
    {
        const TSumItem* item = grid->SumList().SumCollection().Find(TGroupOperation::goCount, "");
        return item ? item->Value() / kSumScale : -1;
    }
    QString FooterText() const { return grid->Column(1).Footer().DisplayText(); }
};

// A non-visual link that counts what reaches the views.
class CountingLink : public TDataLink {
public:
    int changes = 0;
    int scrolls = 0;

protected:
    void DataSetChanged() override { ++changes; }
    void DataSetScrolled(int) override { ++scrolls; }
};

}  // namespace

TEST_F(GridSumListTest, StoredFootersGiveExactlyOneCountItem)
{
    const TSumCollection& items = grid->SumList().SumCollection();
    ASSERT_EQ(items.Count(), 1);
    EXPECT_EQ(items[0].GroupOperation(), TGroupOperation::goCount);
    EXPECT_EQ(items[0].FieldName(), "");
    EXPECT_TRUE(grid->SumList().Active());
    EXPECT_EQ(grid->Column(0).Footer().DisplayText(), QString::fromUtf8("合计"));
    // Switching the footer to another kind frees the item.
    grid->Column(1).Footer().SetValueType(TFooterValueType::fvtStaticText);
    EXPECT_EQ(items.Count(), 0);
    grid->Column(1).Footer().SetValueType(TFooterValueType::fvtCount);
    EXPECT_EQ(items.Count(), 1);
}

TEST_F(GridSumListTest, CountFollowsOpenPostInsertCancelAndClose)
{
    Fill(7);
    query.Open();
    EXPECT_EQ(Count(), 7);
    EXPECT_EQ(FooterText(), "7");
    EXPECT_EQ(RecNo(), 1) << "the walk leaves the cursor on the first row";

    // The rename pass: every row edited and posted leaves the count.
    query.First();
    while (!query.Eof()) {
        query.Edit();
        query.FieldByName("FileEnable").SetAsBoolean(false);
        query.Post();
        query.Next();
    }
    EXPECT_EQ(Count(), 7);
    query.Insert();
    query.FieldByName("FileName").SetAsString("new");
    query.Post();
    EXPECT_EQ(Count(), 8) << "a posted new row counts";
    query.Insert();
    query.Cancel();
    query.Edit();
    query.Cancel();
    EXPECT_EQ(Count(), 8) << "cancelled rows change nothing";
    query.Close();
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(FooterText(), "0");
}

TEST_F(GridSumListTest, ReopeningAnEmptyResultCountsZero)
{
    Fill(3);
    query.Open();
    EXPECT_EQ(Count(), 3);
    query.Close();
    TMemoryDataSet empty(nullptr, "ADOQuery1");
    empty.SetColumns(query.Columns());
    source.SetDataSet(&empty);
    empty.Open();
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(grid->SumList().DataSet(), &empty);
    EXPECT_FALSE(query.Hook(TDataSetHook::AfterOpen)) << "the old query got its handlers back";
    empty.Close();
    source.SetDataSet(&query);
}

TEST_F(GridSumListTest, SavedHandlersRunInTheirOrderAndComeBackOnDetach)
{
    // A fresh grid-less query with handlers of its own, then the grid on it.
    grid->SetDataSource(nullptr);
    std::vector<std::string> log;
    for (TDataSetHook hook : TGridSumList::kHookedEvents)
        query.SetHook(hook, [&log, this, hook](TDataSet&) {
            log.push_back(std::to_string(static_cast<int>(hook)) + ":" + std::to_string(Count()));
        });
    grid->SetDataSource(&source);
    ASSERT_TRUE(grid->SumList().EventsHooked());
    Fill(2);
    query.Open();
    // After-open runs after the recount (it sees 2); after-scroll before the list's work.
    const std::string afterOpen = std::to_string(static_cast<int>(TDataSetHook::AfterOpen)) + ":2";
    EXPECT_NE(std::find(log.begin(), log.end(), afterOpen), log.end());
    log.clear();
    query.Edit();
    query.FieldByName("FileName").SetAsString("x");
    query.Post();
    EXPECT_EQ(log, (std::vector<std::string>{std::to_string(static_cast<int>(TDataSetHook::AfterEdit)) + ":2",
                                             std::to_string(static_cast<int>(TDataSetHook::AfterPost)) + ":2"}));
    log.clear();
    query.Close();
    EXPECT_EQ(log, (std::vector<std::string>{std::to_string(static_cast<int>(TDataSetHook::AfterClose)) + ":0"}));

    // Detaching gives every slot its own handler back.
    grid->SetDataSource(nullptr);
    EXPECT_FALSE(grid->SumList().EventsHooked());
    log.clear();
    query.Open();
    EXPECT_FALSE(log.empty());
    EXPECT_EQ(Count(), 0) << "no longer counted";
}

TEST_F(GridSumListTest, RecountWalksWithTheViewsSilencedAndEndsWithOneChange)
{
    Fill(50);
    CountingLink link;
    link.SetDataSource(&source);
    query.Open();
    EXPECT_EQ(link.scrolls, 0);
    EXPECT_EQ(link.changes, 1) << "enabling the controls again";
    EXPECT_EQ(Count(), 50);
    EXPECT_FALSE(query.ControlsDisabled());
    link.SetDataSource(nullptr);
}

TEST_F(GridSumListTest, GridDestroyedFirstGivesTheQueryItsHandlersBack)
{
    bool ran = false;
    grid->SetDataSource(nullptr);
    query.SetHook(TDataSetHook::AfterOpen, [&](TDataSet&) { ran = true; });
    grid->SetDataSource(&source);
    delete grid;
    grid = nullptr;
    query.Open();
    EXPECT_TRUE(ran);
}

TEST_F(GridSumListTest, FooterIsRepaintedWhenTheCountChanges)
{
    Fill(4);
    query.Open();
    ShowFocused();
    QApplication::processEvents();
    const QRect footer = grid->CellRect(2, grid->FooterRow());
    const QImage before = Grab().copy(footer);
    query.Insert();
    query.FieldByName("FileName").SetAsString("more");
    query.Post();
    EXPECT_EQ(FooterText(), "5");
    EXPECT_NE(Grab().copy(footer), before);
}
