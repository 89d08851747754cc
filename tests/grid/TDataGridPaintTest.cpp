// How the file list grid looks: the rows that fit, the line colours, the
// indicator glyphs, the text rule, the footer and the closed state.
// The stored description of the main window, compiled for this test.
#include "ui_FormMain.h"

#include "TDataGridFixture.h"

using namespace vantelo;
using namespace vantelo::test;

namespace {

class GridPaintTest : public GridFixture {
protected:
    QRgb Base() const { return grid->palette().color(QPalette::Base).rgb(); }
    // The pixels of a cell compared with the text rule's drawing of text.
    ::testing::AssertionResult CellShows(const QImage& image, int column, int row, const QString& text,
                                         const QFont& font, int dy = 2)
    {
        const QRect cell = grid->CellRect(column, row);
        const QImage want = ReferenceCell(cell.size(), font, text, grid->palette().color(QPalette::Base),
                                          grid->palette().color(QPalette::Text), dy);
        if (image.copy(cell) == want)
            return ::testing::AssertionSuccess();
        image.copy(cell).save("/tmp/grid-cell-got.png");
        want.save("/tmp/grid-cell-want.png");
        return ::testing::AssertionFailure() << "cell (" << column << "," << row << ") does not show "
                                             << text.toStdString();
    }
    QFont FooterFont() const { return grid->Column(0).Footer().Font(); }
};

}  // namespace

TEST_F(GridPaintTest, FifteenRowsOfSeventeenPixelsFitTheStoredSize)
{
    Fill(40);
    query.Open();
    // The measured "Wg" of the 12-pixel song face is 12 high: rows of 16 plus a line.
    EXPECT_EQ(grid->DefaultRowHeight(), 16);
    EXPECT_EQ(grid->TitleRowHeight(), 16);
    EXPECT_EQ(grid->ClientRect().height(), 304);
    EXPECT_EQ(grid->DataRowCount(), 15);
    EXPECT_EQ(grid->DataLink().BufferCount(), 15);
    EXPECT_EQ(grid->VisibleDataRows(), 15);
    EXPECT_EQ(grid->SpacerHeight(), 304 - 35 - 15 * 17);
    for (int row = 1; row < 15; ++row)
        EXPECT_EQ(grid->CellRect(1, row + 1).top() - grid->CellRect(1, row).top(), 17) << row;
    // The footer's line is the client area's last pixel row.
    const QRect footer = grid->CellRect(1, grid->FooterRow());
    EXPECT_EQ(footer.bottom() + 1 + 1, grid->ClientRect().bottom() + 1);

    const QImage image = Grab();
    const QRgb silver = Rgb(192, 192, 192);
    for (int row = 1; row <= 15; ++row) {
        const QRect cell = grid->CellRect(2, row);
        EXPECT_EQ(image.pixel(cell.left() + 5, cell.bottom() + 1), silver) << "line under row " << row;
    }
}

TEST_F(GridPaintTest, LinesAroundFixedCellsAreBlackAndBetweenDataCellsSilver)
{
    Fill(3);
    query.Open();
    const QImage image = Grab();
    const QRgb black = Rgb(0, 0, 0);
    const QRgb silver = Rgb(192, 192, 192);
    const QRect title = grid->CellRect(1, 0);
    const QRect data = grid->CellRect(1, 2);
    const QRect indicator = grid->CellRect(0, 2);
    const QRect footer = grid->CellRect(1, grid->FooterRow());
    EXPECT_EQ(image.pixel(title.left() + 3, title.bottom() + 1), black) << "under a title";
    EXPECT_EQ(image.pixel(title.right() + 1, title.top() + 3), black) << "between titles";
    EXPECT_EQ(image.pixel(indicator.right() + 1, indicator.top() + 3), black) << "right of an indicator cell";
    EXPECT_EQ(image.pixel(indicator.left() + 3, indicator.bottom() + 1), black) << "under an indicator cell";
    EXPECT_EQ(image.pixel(data.right() + 1, data.top() + 3), silver) << "between data cells";
    EXPECT_EQ(image.pixel(data.left() + 3, data.bottom() + 1), silver) << "between data rows";
    EXPECT_EQ(image.pixel(footer.right() + 1, footer.top() + 3), silver) << "between footer cells";
    EXPECT_EQ(image.pixel(footer.left() + 3, footer.top() - 1), silver) << "above the footer";
    // The 2-pixel sunken border: dark above, light below.
    EXPECT_NE(image.pixel(0, 100), Base());
    EXPECT_NE(image.pixel(1, 100), Base());
}

TEST_F(GridPaintTest, OpenEmptyQueryShowsTheArrowAtTheTopOfTheSpacersFlatIndicatorCell)
{
    query.Open();
    EXPECT_EQ(grid->DataRowCount(), 0);
    EXPECT_EQ(grid->CurrentRow(), grid->SpacerRow());
    const QImage image = Grab();
    const QRect spacer = grid->CellRect(0, grid->SpacerRow());
    EXPECT_EQ(spacer, QRect(2, 2 + 17, 11, 304 - 35));
    // Flat and window-coloured; the glyph 8 pixels left of its right edge,
    // centred in the height of one row at the spacer's top: where a first
    // row's arrow stands, not half-way down the empty body.
    const QPoint glyph(spacer.left() + 11 - 8, (2 * spacer.top() + 16 - 11) / 2);
    EXPECT_EQ(glyph, QPoint(5, 21));
    EXPECT_TRUE(GlyphAt(image, glyph, kArrow, Base()));
    for (int y = spacer.top() + 17; y <= spacer.bottom(); ++y)
        ASSERT_EQ(image.pixel(glyph.x() + 1, y), Base()) << "nothing below the first row's height, y " << y;
    EXPECT_EQ(image.pixel(spacer.left(), spacer.top() + 5), Base()) << "no bevel";
    // No scroll bar for no rows; the footer counts none.
    EXPECT_TRUE(grid->VerticalScrollBar()->isHidden());
    EXPECT_TRUE(CellShows(image, 1, grid->FooterRow(), QString::fromUtf8("合计"), FooterFont()));
    EXPECT_TRUE(CellShows(image, 2, grid->FooterRow(), QStringLiteral("0"), FooterFont()));
}

TEST_F(GridPaintTest, IndicatorGlyphMarksTheCurrentRowByState)
{
    Fill(5);
    query.Open();
    query.Next();
    query.Next();
    const QRgb face = grid->palette().color(QPalette::Button).rgb();
    const struct {
        const char* what;
        std::function<void()> act;
        const char* const* glyph;
    } cases[] = {
        {"browsing", [] {}, kArrow},
        {"editing", [this] { query.Edit(); }, kIBeam},
        {"inserting", [this] { query.Cancel(); query.Insert(); }, kStar},
    };
    for (const auto& c : cases) {
        c.act();
        const QImage image = Grab();
        const QRect cell = grid->CellRect(0, grid->CurrentRow());
        // Raised: drawn in the cell shrunk by one, 8 left of its right edge.
        const QRect inner = cell.adjusted(1, 1, -1, -1);
        const QPoint at(inner.left() + inner.width() - 8, (2 * inner.top() + inner.height() - 11) / 2);
        EXPECT_TRUE(GlyphAt(image, at, c.glyph, face)) << c.what;
        // No other indicator cell carries a glyph.
        for (int row = 1; row <= grid->DataRowCount(); ++row) {
            if (row == grid->CurrentRow())
                continue;
            const QRect other = grid->CellRect(0, row).adjusted(1, 1, -1, -1);
            for (int y = other.top(); y <= other.bottom(); ++y)
                for (int x = other.left(); x <= other.right(); ++x)
                    ASSERT_NE(image.pixel(x, y), Rgb(0, 0, 0)) << c.what << " row " << row;
        }
    }
}

TEST_F(GridPaintTest, FooterCountsTheRowsWhateverFits)
{
    for (int rows : {25, 1234}) {
        query.Close();
        Fill(rows - static_cast<int>(query.RowCount()), static_cast<int>(query.RowCount()) + 1);
        query.Open();
        EXPECT_EQ(query.RecNo(), 1) << "the count's walk ends on the first row";
        const QImage image = Grab();
        EXPECT_TRUE(CellShows(image, 2, grid->FooterRow(), QString::number(rows), FooterFont())) << rows;
        EXPECT_TRUE(CellShows(image, 1, grid->FooterRow(), QString::fromUtf8("合计"), FooterFont()));
    }
}

TEST_F(GridPaintTest, ClosedQueryLeavesEveryCellBelowTheTitlesBlank)
{
    Fill(5);
    query.Open();
    query.Close();
    const QImage image = Grab();
    EXPECT_EQ(grid->RowCount(), 4);
    for (int row = 1; row < grid->RowCount(); ++row)
        for (int column = 1; column <= 2; ++column) {
            const QRect cell = grid->CellRect(column, row);
            if (cell.isEmpty())
                continue;
            QImage blank(cell.size(), QImage::Format_RGB32);
            blank.fill(Base());
            EXPECT_EQ(image.copy(cell), blank) << "cell " << column << "," << row;
        }
    // No glyph anywhere in the indicator column.
    for (int row = 1; row < grid->RowCount(); ++row) {
        const QRect inner = grid->CellRect(0, row).adjusted(1, 1, -1, -1);
        for (int y = inner.top(); y <= inner.bottom(); ++y)
            for (int x = inner.left(); x <= inner.right(); ++x)
                ASSERT_NE(image.pixel(x, y), Rgb(0, 0, 0)) << x << "," << y;
    }
    EXPECT_TRUE(grid->VerticalScrollBar()->isHidden());
    // The titles stay.
    const QRect title = grid->CellRect(1, 0).adjusted(1, 1, -1, -1);
    const QImage titleWant = ReferenceCell(title.size(), grid->Column(0).Title().Font(), QString::fromUtf8("文件编号"),
                                           grid->palette().color(QPalette::Button),
                                           grid->palette().color(QPalette::WindowText), 1);
    EXPECT_EQ(image.copy(title), titleWant);
}

TEST_F(GridPaintTest, LongNameIsCutAtBothEdgesWithoutEllipsis)
{
    std::u16string name;
    for (int i = 0; i < 30; ++i)
        name += u"很长的文件名";
    AppendName(name);
    query.Open();
    const QImage image = Grab();
    // Not the current row's highlight: the grid has no focus.
    EXPECT_TRUE(CellShows(image, 2, 1, QString::fromStdU16String(name), grid->Column(1).Font()));
    // Ink reaches both edges of the cell.
    const QRect cell = grid->CellRect(2, 1);
    auto inkInColumn = [&](int x) {
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            if (image.pixel(x, y) != Base())
                return true;
        return false;
    };
    bool left = false, right = false;
    for (int x = 0; x < 4; ++x) {
        left = left || inkInColumn(cell.left() + x);
        right = right || inkInColumn(cell.right() - x);
    }
    EXPECT_TRUE(left);
    EXPECT_TRUE(right);
}

TEST_F(GridPaintTest, CurrentRowIsHighlightedOnlyWithTheFocus)
{
    Fill(3);
    query.Open();
    query.Next();
    const QRect cell = grid->CellRect(1, 2);
    const QPoint inside(cell.left() + 3, cell.top() + 1);
    EXPECT_EQ(Grab().pixel(inside), Base());
    ShowFocused();
    EXPECT_EQ(Grab().pixel(inside), grid->palette().color(QPalette::Highlight).rgb());
    // The other rows stay window-coloured.
    EXPECT_EQ(Grab().pixel(grid->CellRect(1, 1).topLeft() + QPoint(3, 1)), Base());
}

TEST_F(GridPaintTest, PicturesForTheRecord)
{
    grid->grab().save("/tmp/grid-closed.png");
    query.Open();
    grid->grab().save("/tmp/grid-empty.png");
    query.Close();
    Fill(40);
    query.Open();
    ShowFocused();
    grid->grab().save("/tmp/grid-40.png");
    SUCCEED();
}
