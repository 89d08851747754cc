// The grid's layout arithmetic without a widget: rows and the data window for
// a client height, hit tests on rows and columns, the first shown column, the
// tracking timer, and what the vertical scroll bar shows and does.
#include "grid/TGridGeometry.h"

#include <gtest/gtest.h>

using namespace vantelo;
using G = TGridGeometry;

namespace {

// The stored configuration: a 12-pixel font, columns of 80 and 540.
G Configured(int clientWidth, int clientHeight)
{
    G geometry;
    geometry.SetTextHeights(12, 12);
    geometry.SetClientSize(clientWidth, clientHeight);
    geometry.SetColumns({{80, true}, {540, true}});
    return geometry;
}

}  // namespace

TEST(GridGeometryTest, RowsAndDataWindowFollowTheClientHeight)
{
    const struct {
        int clientHeight;
        bool open;
        int records;
        int bufferCount;
        int spacerHeight;
        int visibleRows;
    } cases[] = {
        {304, true, 15, 15, 304 - 35 - 15 * 17, 15},  // the stored size: 15 records fit
        {304, true, 3, 15, 304 - 35 - 3 * 17, 3},     // few records: the spacer fills the body
        {304, true, 0, 15, 304 - 35, 1},              // no records: spacer and footer only
        {304, false, 0, 15, 304 - 35 - 17, 1},        // closed: one blank row
        {287, true, 14, 14, 287 - 35 - 14 * 17, 14},  // the height less a horizontal bar
        {40, true, 1, 1, 0, 1},                       // too low for one row: at least one is buffered
    };
    for (const auto& c : cases) {
        G geometry = Configured(640, c.clientHeight);
        EXPECT_EQ(geometry.DefaultRowHeight(), 16);
        EXPECT_EQ(geometry.Pitch(), 17);
        EXPECT_EQ(geometry.FixedHeight(), 35);
        EXPECT_EQ(geometry.BufferCount(), c.bufferCount) << c.clientHeight;
        geometry.SetRows(c.open, c.records);
        const int dataRows = c.open ? c.records : 1;
        EXPECT_EQ(geometry.DataRows(), dataRows);
        EXPECT_EQ(geometry.RowCount(), dataRows + 3);
        EXPECT_EQ(geometry.SpacerHeight(), c.spacerHeight) << c.clientHeight << " " << c.records;
        EXPECT_EQ(geometry.VisibleDataRows(), c.visibleRows) << c.clientHeight << " " << c.records;
        // Data rows a pitch apart under the title; the footer's line is the
        // client's last pixel row whenever the rows leave room for it.
        EXPECT_EQ(geometry.RowTop(1), 17);
        EXPECT_EQ(geometry.DataBandBottom() - geometry.DataBandTop(), dataRows * 17);
        if (c.spacerHeight > 0) {
            EXPECT_EQ(geometry.RowTop(geometry.FooterRow()) + 16 + 1, c.clientHeight);
        }
    }
}

TEST(GridGeometryTest, RowAtFindsEachRowWithTheLineBelowIt)
{
    G geometry = Configured(640, 304);
    geometry.SetRows(true, 15);
    const int footerTop = 17 + 15 * 17 + geometry.SpacerHeight() + 1;
    const std::pair<int, int> points[] = {
        {-1, -1}, {0, 0},        {16, 0},  {17, 1},  {33, 1},         {34, 2},          {271, 15},
        {272, 16} /* spacer */,  {footerTop - 1, 16}, {footerTop, 17}, {303, 17},        {304, -1},
    };
    for (const auto& [y, row] : points)
        EXPECT_EQ(geometry.RowAt(y), row) << y;
}

TEST(GridGeometryTest, ColumnsHitTestsAndSizingZones)
{
    const G geometry = Configured(640, 304);
    ASSERT_EQ(geometry.Spans().size(), 2u);
    EXPECT_EQ(geometry.Cell(1, 0), (G::Box{12, 0, 80, 16}));
    EXPECT_EQ(geometry.Cell(2, 1), (G::Box{93, 17, 540, 16}));
    EXPECT_EQ(geometry.Cell(0, 1), (G::Box{0, 17, 11, 16}));
    const struct {
        int x;
        int column;  // ColumnAt
        int sizing;  // SizingColumnAt
    } points[] = {
        {-1, -1, -1}, {0, 0, -1},  {11, 0, -1}, {12, 1, -1}, {88, 1, -1}, {89, 1, 1},  {92, 1, 1},   {93, 2, 1},
        {96, 2, 1},   {97, 2, -1}, {629, 2, -1}, {630, 2, 2}, {633, 2, 2}, {634, -1, 2}, {637, -1, 2}, {638, -1, -1},
        {640, -1, -1},
    };
    for (const auto& p : points) {
        EXPECT_EQ(geometry.ColumnAt(p.x), p.column) << p.x;
        EXPECT_EQ(geometry.SizingColumnAt(p.x), p.sizing) << p.x;
    }
}

TEST(GridGeometryTest, LeftColumnStopsWhereTheRestFits)
{
    const struct {
        int clientWidth;
        std::vector<G::ColumnExtent> columns;
        bool needsBar;
        int maxLeft;
    } cases[] = {
        {640, {{80, true}, {540, true}}, false, 0},               // 12 + 81 + 541 = 634 fit
        {633, {{80, true}, {540, true}}, true, 1},                // one pixel short
        {400, {{80, true}, {540, true}}, true, 1},                // even the last alone is too wide
        {640, {{80, true}, {540, false}, {600, true}}, true, 2},  // a hidden column takes no room
        {640, {{80, true}, {540, false}}, false, 0},
        {640, {}, false, 0},
    };
    for (const auto& c : cases) {
        G geometry;
        geometry.SetClientSize(c.clientWidth, 304);
        geometry.SetColumns(c.columns);
        EXPECT_EQ(geometry.NeedsHorizontalBar(), c.needsBar) << c.clientWidth;
        EXPECT_EQ(geometry.MaxLeftColumn(), c.maxLeft) << c.clientWidth;
        EXPECT_EQ(geometry.SetLeftColumn(99), c.maxLeft);
        EXPECT_EQ(geometry.SetLeftColumn(-3), 0);
    }
    // Scrolled: the first shown column starts right of the indicator and
    // the one scrolled off has no cell.
    G geometry = Configured(600, 304);
    ASSERT_EQ(geometry.SetLeftColumn(1), 1);
    EXPECT_TRUE(geometry.Cell(1, 0).Empty());
    EXPECT_EQ(geometry.Cell(2, 0), (G::Box{12, 0, 540, 16}));
    EXPECT_EQ(geometry.ColumnAt(12), 2);
    EXPECT_EQ(geometry.ColumnAt(5), 0);
}

TEST(GridGeometryTest, ScrollingByWholeColumnsStepsOverHiddenOnesAndStopsAtTheEnds)
{
    // Four columns, the second hidden; from column 2 on the rest fits.
    G geometry;
    geometry.SetClientSize(400, 304);
    geometry.SetColumns({{300, true}, {100, false}, {300, true}, {50, true}});
    ASSERT_EQ(geometry.MaxLeftColumn(), 2);
    EXPECT_EQ(geometry.ShownColumns(), 3);
    const struct {
        const char* what;
        int from;
        int by;
        int left;
    } cases[] = {
        {"right over the hidden column", 0, 1, 2},
        {"right past the end stops", 2, 1, 2},
        {"two at once stops at the last that leaves nothing hidden", 0, 5, 2},
        {"left over the hidden column", 2, -1, 0},
        {"left past the start stops", 0, -1, 0},
        {"by nothing", 2, 0, 2},
    };
    for (const auto& c : cases) {
        geometry.SetLeftColumn(c.from);
        EXPECT_EQ(geometry.LeftColumnScrolledBy(c.by), c.left) << c.what;
        EXPECT_EQ(geometry.LeftColumn(), c.from) << "only answers: " << c.what;
    }
}

TEST(GridGeometryTest, TrackingOutsideTheBandSpeedsUpWithDistance)
{
    G geometry = Configured(640, 304);
    geometry.SetRows(true, 15);
    EXPECT_EQ(geometry.TrackDistance(16), -1);
    EXPECT_EQ(geometry.TrackDistance(17), 0);
    EXPECT_EQ(geometry.TrackDistance(17 + 15 * 17 - 1), 0);
    EXPECT_EQ(geometry.TrackDistance(17 + 15 * 17), 1);
    const struct {
        int distance;
        int interval;
        int records;
    } steps[] = {{1, 185, 0}, {5, 125, 0}, {6, 110, 1}, {-13, 5, 2}, {14, 0, 2}, {47, 0, 7}, {48, 0, 8}, {-300, 0, 8}};
    for (const auto& s : steps) {
        EXPECT_EQ(G::TrackInterval(s.distance), s.interval) << s.distance;
        EXPECT_EQ(G::TrackRecords(s.distance), s.records) << s.distance;
    }
}

TEST(GridGeometryTest, ScrollBarShowsFromTwoRecordsAndMapsTheThumb)
{
    const struct {
        G::ScrollInfo info;
        bool shown;
        int lastPosition;
    } bars[] = {
        {G::ClosedBar(), false, 0},
        {G::RecordBar(0, 15, 0), false, 1},
        {G::RecordBar(1, 15, 1), false, 1},
        {G::RecordBar(2, 15, 1), true, 2},
        {G::RecordBar(40, 15, 16), true, 40},
        {G::RecordBar(2, 1, 2), true, 2},
        {G::FiveStopBar(true, false), true, 4},
    };
    for (const auto& b : bars) {
        EXPECT_EQ(b.info.Shown(), b.shown) << b.info.maximum;
        EXPECT_EQ(b.info.LastPosition(), b.lastPosition) << b.info.maximum;
    }
    EXPECT_EQ(G::FiveStopBar(true, false).position, 0);
    EXPECT_EQ(G::FiveStopBar(false, false).position, 2);
    EXPECT_EQ(G::FiveStopBar(false, true).position, 4);

    using T = G::ThumbTarget;
    const struct {
        bool recordNumbers;
        int position;
        T target;
    } thumbs[] = {
        {true, 0, T::First},  {true, 1, T::First},   {true, 2, T::RecordNumber}, {true, 39, T::RecordNumber},
        {true, 40, T::Last},  {true, 41, T::Last},   {false, 0, T::First},       {false, 1, T::PageUp},
        {false, 2, T::None},  {false, 3, T::PageDown}, {false, 4, T::Last},
    };
    for (const auto& t : thumbs)
        EXPECT_EQ(G::ThumbReleased(t.recordNumbers, t.position, 40), t.target) << t.position;
}
