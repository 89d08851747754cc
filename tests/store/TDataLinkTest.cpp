// Data sources and data links: delivery order, state copies, the link's
// window and the operations a consumer calls on its link.
#include "StoreTestSupport.h"

using namespace vantelo;
using namespace vantelo::test;

namespace {

class Links : public ::testing::Test {
protected:
    void SetUp() override { FillFileList(query, 40); }
    Log log;
    TMemoryDataSet query{nullptr, "ADOQuery1"};
    TDataSource source{nullptr, "DataSource1"};
};

TEST_F(Links, NonVisualLinksHearFirstEachGroupFromTheLastAttached)
{
    RecordingLink visual1(log, "v1"), plain1(log, "p1"), visual2(log, "v2"), plain2(log, "p2");
    visual1.SetVisualControl(true);
    visual2.SetVisualControl(true);
    for (RecordingLink* link : {&visual1, &plain1, &visual2, &plain2})
        link->SetDataSource(&source);
    source.SetDataSet(&query);
    query.Open();
    log.clear();
    query.First();
    EXPECT_EQ(log, (Log{"p2:CheckBrowseMode", "p1:CheckBrowseMode", "v2:CheckBrowseMode", "v1:CheckBrowseMode",
                        "p2:DataSetChanged", "p1:DataSetChanged", "v2:DataSetChanged", "v1:DataSetChanged"}));
}

TEST_F(Links, DataSourcesAreToldInAttachOrder)
{
    TDataSource second;
    RecordingLink a(log, "a"), b(log, "b");
    a.SetDataSource(&source);
    b.SetDataSource(&second);
    source.SetDataSet(&query);
    second.SetDataSet(&query);
    query.Open();
    log.clear();
    query.Next();
    // Both links keep the default buffer count 1: B = 1, every move shifts.
    EXPECT_EQ(log, (Log{"a:CheckBrowseMode", "b:CheckBrowseMode", "a:DataSetScrolled(1)", "b:DataSetScrolled(1)"}));
    second.SetDataSet(nullptr);
    EXPECT_FALSE(b.Active());
}

TEST_F(Links, ADisabledSourceIsInactiveAndForwardsNothing)
{
    RecordingLink link(log);
    link.SetBufferCount(15);
    link.SetDataSource(&source);
    source.SetDataSet(&query);
    query.Open();
    EXPECT_TRUE(link.Active());
    source.SetEnabled(false);
    EXPECT_FALSE(link.Active());
    EXPECT_EQ(source.State(), TDataSetState::Inactive);
    log.clear();
    query.Next();
    EXPECT_TRUE(log.empty());
    source.SetEnabled(true);
    EXPECT_TRUE(link.Active());
    EXPECT_EQ(link.ActiveRecord(), 1);
}

TEST_F(Links, AttachingToAnOpenDatasetGrowsItsWindowAndActivatesTheLink)
{
    source.SetDataSet(&query);
    query.Open();
    EXPECT_EQ(query.BufferCount(), 1);
    query.MoveBy(9);  // row 10
    RecordingLink link(log);
    link.SetBufferCount(15);
    link.SetDataSource(&source);
    EXPECT_EQ(log, (Log{"ActiveChanged"}));
    EXPECT_EQ(query.BufferCount(), 15);
    EXPECT_EQ(WindowIds(query), IdRange(10, 24));
    EXPECT_EQ(link.ActiveRecord(), 0);
    link.SetDataSource(nullptr);
    EXPECT_EQ(query.BufferCount(), 1);
    EXPECT_EQ(WindowIds(query), (std::vector<int64_t>{10}));
}

TEST_F(Links, EditThroughTheLinkHonoursAutoEditAndReadOnly)
{
    RecordingLink link(log);
    link.SetDataSource(&source);
    source.SetDataSet(&query);
    query.Open();
    source.SetAutoEdit(false);
    EXPECT_FALSE(link.Edit());
    EXPECT_EQ(query.State(), TDataSetState::Browse);
    source.SetAutoEdit(true);
    EXPECT_TRUE(link.Edit());
    EXPECT_TRUE(link.Editing());
    query.Cancel();
    link.SetReadOnly(true);
    EXPECT_FALSE(link.Edit());
    EXPECT_EQ(query.State(), TDataSetState::Browse);
    query.Edit();
    EXPECT_FALSE(link.Editing()) << "a read-only link never edits";
}

TEST_F(Links, AFieldWrittenByTheLinksOwnUpdateIsNotEchoedBack)
{
    struct Writer : RecordingLink {
        using RecordingLink::RecordingLink;
        void UpdateData() override
        {
            RecordingLink::UpdateData();
            DataSet()->FieldByName("FileName").SetAsString("typed");
        }
    } link(log);
    link.SetDataSource(&source);
    source.SetDataSet(&query);
    query.Open();
    query.Edit();
    log.clear();
    query.Post();
    EXPECT_EQ(std::count(log.begin(), log.end(), "RecordChanged(FileName)"), 0);
    EXPECT_EQ(std::get<std::u16string>(query.RowValue(0, 1)), u"typed");
}

TEST_F(Links, TheLinkMirrorsTheDatasetsFlagsAndMoves)
{
    RecordingLink link(log);
    link.SetBufferCount(15);
    EXPECT_TRUE(link.Eof());
    EXPECT_EQ(link.MoveBy(3), 0) << "inactive link";
    link.SetDataSource(&source);
    source.SetDataSet(&query);
    query.Open();
    EXPECT_TRUE(link.Bof());
    EXPECT_EQ(link.MoveBy(3), 3);
    EXPECT_EQ(link.ActiveRecord(), 3);
    EXPECT_EQ(link.MoveBy(100), 36);
    EXPECT_TRUE(link.Eof());
    query.Close();
    EXPECT_EQ(link.RecordCount(), 0);
    EXPECT_EQ(link.FirstRecord(), 0);
}

TEST_F(Links, DestroyingASourceOrDatasetDetachesTheOthers)
{
    RecordingLink link(log);
    {
        TMemoryDataSet shortLived;
        FillFileList(shortLived, 3);
        auto owned = std::make_unique<TDataSource>();
        link.SetDataSource(owned.get());
        owned->SetDataSet(&shortLived);
        shortLived.Open();
        EXPECT_TRUE(link.Active());
        owned.reset();
        EXPECT_EQ(link.DataSource(), nullptr);
        EXPECT_FALSE(link.Active());
        EXPECT_EQ(shortLived.DataSourceCount(), 0u);
    }
    {
        auto shortLived = std::make_unique<TMemoryDataSet>();
        FillFileList(*shortLived, 3);
        link.SetDataSource(&source);
        source.SetDataSet(shortLived.get());
        shortLived->Open();
        int hookRuns = 0;
        RecordHooks(*shortLived, log);
        shortLived->SetHook(TDataSetHook::AfterClose, [&](TDataSet&) { ++hookRuns; });
        log.clear();
        shortLived.reset();
        EXPECT_EQ(hookRuns, 0) << "a dying dataset runs no hooks: their owners may be gone";
        EXPECT_EQ(log, (Log{"ActiveChanged"}));
        EXPECT_EQ(source.DataSet(), nullptr);
        EXPECT_FALSE(link.Active());
    }
}

}  // namespace
