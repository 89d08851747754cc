#include "grid/TGridPainter.h"

#include "grid/TGridColumn.h"
#include "grid/TGridDataLink.h"
#include "grid/TGridGeometry.h"
#include "grid/TGridTitleRow.h"
#include "platform/TCodePage.h"
#include "store/TDataSet.h"

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>
#include <qdrawutil.h>

#include <algorithm>

namespace vantelo {

namespace {

// The indicator glyphs, kGlyphWidth x kGlyphHeight, '#' black and '.' transparent, top row first:
// arrow (browsing), I-beam (editing), star (inserting).
constexpr const char* kGlyphs[3][TGridGeometry::kGlyphHeight] = {
    {"#.....", "##....", "###...", "####..", "#####.", "######", "#####.", "####..", "###...", "##....", "#....."},
    {"##..##", "..##..", "..##..", "..##..", "..##..", "..##..", "..##..", "..##..", "..##..", "..##..", "##..##"},
    {"......", "......", "......", ".#..#.", "..##..", "######", "..##..", ".#..#.", "......", "......", "......"},
};
enum { kGlyphArrow = 0, kGlyphIBeam = 1, kGlyphStar = 2 };

const QColor kFixedLineColor(0, 0, 0);
const QColor kDataLineColor(192, 192, 192);
const QColor kDataLineOnSilver(128, 128, 128);

constexpr int kIndicatorWidth = TGridGeometry::kIndicatorWidth;
constexpr int kLineWidth = TGridGeometry::kLineWidth;

// Makes one record of the link's window the active one while a row is drawn,
// and always gives the previous one back.
class ActiveRecordScope {
public:
    ActiveRecordScope(TGridDataLink& link, int record) : link_(link), saved_(link.ActiveRecord())
    {
        link_.SetActiveRecord(record);
    }
    ~ActiveRecordScope() { link_.SetActiveRecord(saved_); }
    ActiveRecordScope(const ActiveRecordScope&) = delete;
    ActiveRecordScope& operator=(const ActiveRecordScope&) = delete;

private:
    TGridDataLink& link_;
    int saved_;
};

QString ToDisplay(const std::string& narrow)
{
    return QString::fromStdU16String(TCodePage::Active().ToWide(narrow));
}

}  // namespace

int TGridPainter::Paint(QPainter& painter, const QRect& dirtyArea)
{
    const QWidget& widget = view_.widget;
    const QPalette& palette = widget.palette();
    qDrawWinPanel(&painter, widget.rect(), palette, true, nullptr);
    // The square where the two bars meet.
    if (!view_.corner.isEmpty())
        painter.fillRect(view_.corner, palette.color(QPalette::Window));

    const QRect client = view_.client;
    painter.setClipRect(client);
    painter.translate(client.topLeft());
    const QRect dirty = dirtyArea.translated(-client.topLeft());

    const TGridGeometry& geometry = view_.geometry;
    const std::vector<TGridGeometry::ColumnSpan>& spans = geometry.Spans();
    const int rowCount = geometry.RowCount();
    const int right = spans.empty() ? kIndicatorWidth + kLineWidth : spans.back().left + spans.back().width + kLineWidth;
    const QColor dataLine = view_.color == QColor(192, 192, 192) ? kDataLineOnSilver : kDataLineColor;

    glyphRow_ = -1;
    for (int row = 0; row < rowCount; ++row) {
        const int top = geometry.RowTop(row);
        const int height = geometry.RowHeight(row);
        if (top > dirty.bottom() || top + height + kLineWidth <= dirty.top())
            continue;
        for (int i = -1; i < static_cast<int>(spans.size()); ++i) {
            const TGridGeometry::ColumnSpan* span = i < 0 ? nullptr : &spans[static_cast<size_t>(i)];
            const int column = span ? span->gridColumn : 0;
            const QRect cell(span ? span->left : 0, top, span ? span->width : kIndicatorWidth, height);
            if (cell.left() > dirty.right() || cell.left() + cell.width() + kLineWidth <= dirty.left())
                continue;
            // The lines after the cell: black around fixed cells, silver in the data area.
            const QColor line = (row == 0 || column == 0) ? kFixedLineColor : dataLine;
            painter.fillRect(QRect(cell.left() + cell.width(), top, kLineWidth, height + kLineWidth), line);
            painter.fillRect(QRect(cell.left(), top + height, cell.width() + kLineWidth, kLineWidth), line);
            if (height > 0 && cell.width() > 0)
                PaintCell(painter, column, row, cell,
                          span ? view_.columns[static_cast<size_t>(span->gridColumn - 1)].get() : nullptr);
        }
    }
    // Right of the last column and below the last row: the grid's colour.
    const int bottom = geometry.RowTop(rowCount - 1) + geometry.RowHeight(rowCount - 1) + kLineWidth;
    if (right < client.width())
        painter.fillRect(QRect(right, 0, client.width() - right, client.height()), view_.color);
    if (bottom < client.height())
        painter.fillRect(QRect(0, bottom, std::min(right, client.width()), client.height() - bottom), view_.color);

    const int currentRow = view_.currentRow;
    if (widget.hasFocus() && !spans.empty() && currentRow > 0 && currentRow < rowCount) {
        const int left = spans.front().left;
        const int width = spans.back().left + spans.back().width - left;
        DrawFocusRect(painter, QRect(left, geometry.RowTop(currentRow), width, geometry.RowHeight(currentRow)));
    }
    view_.titleRow.PaintOverlay(painter, palette.color(QPalette::Highlight));
    return glyphRow_;
}

void TGridPainter::PaintCell(QPainter& painter, int column, int row, const QRect& cell, const TGridColumn* gridColumn)
{
    const TGridGeometry& geometry = view_.geometry;
    const QPalette& palette = view_.widget.palette();
    const bool open = view_.link.Active();
    const bool spacer = row == geometry.SpacerRow();
    const bool footer = row == geometry.FooterRow();
    const bool current = row == view_.currentRow;

    if (column == 0 || row == 0) {
        // A fixed cell, raised: contents in the rectangle shrunk by one.
        if (column == 0 && spacer) {
            painter.fillRect(cell, view_.color);
            if (open && current) {
                // With no records the arrow stands where a first row's would,
                // in one row's height at the spacer's top.
                DrawIndicator(painter,
                              QRect(cell.left(), cell.top(), cell.width(),
                                    std::min(cell.height(), geometry.DefaultRowHeight())),
                              kGlyphArrow);
                glyphRow_ = row;
            }
            return;
        }
        const QRect inner = cell.adjusted(1, 1, -1, -1);
        if (row == 0 && gridColumn != nullptr) {
            const TGridColumnTitle& title = gridColumn->Title();
            DrawCellText(painter, inner, TGridGeometry::kFixedTextOffset, TGridGeometry::kFixedTextOffset,
                         static_cast<int>(title.Alignment()), title.Caption(), title.Font(), title.Color(),
                         palette.color(QPalette::WindowText));
        } else {
            painter.fillRect(inner, view_.fixedColor);
        }
        if (column == 0 && row > 0 && open && current && !footer) {
            const TDataSetState state = view_.link.DataSet()->State();
            DrawIndicator(painter, inner,
                          state == TDataSetState::Edit     ? kGlyphIBeam
                          : state == TDataSetState::Insert ? kGlyphStar
                                                           : kGlyphArrow);
            glyphRow_ = row;
        }
        // The raised one-pixel bevel: light top and left, dark bottom and right.
        const QColor light = palette.color(QPalette::Light);
        const QColor dark = palette.color(QPalette::Dark);
        painter.fillRect(QRect(cell.left(), cell.top(), cell.width(), 1), light);
        painter.fillRect(QRect(cell.left(), cell.top(), 1, cell.height()), light);
        painter.fillRect(QRect(cell.left(), cell.top() + cell.height() - 1, cell.width(), 1), dark);
        painter.fillRect(QRect(cell.left() + cell.width() - 1, cell.top(), 1, cell.height()), dark);
        return;
    }

    if (!open || spacer) {
        painter.fillRect(cell, gridColumn->Color());
        return;
    }
    if (footer) {
        const TGridColumnFooter& foot = gridColumn->Footer();
        DrawCellText(painter, cell, TGridGeometry::kCellTextOffset, TGridGeometry::kCellTextOffset,
                     static_cast<int>(foot.Alignment()), foot.DisplayText(), foot.Font(), foot.Color(),
                     palette.color(QPalette::WindowText));
        return;
    }
    QString text;
    {
        ActiveRecordScope scope(view_.link, row - 1);
        if (const TField* field = gridColumn->Field())
            text = ToDisplay(field->DisplayText());
    }
    const bool highlight = current && view_.widget.hasFocus() && view_.rowSelect;
    DrawCellText(painter, cell, TGridGeometry::kCellTextOffset, TGridGeometry::kCellTextOffset,
                 static_cast<int>(gridColumn->Alignment()), text, gridColumn->Font(),
                 highlight ? palette.color(QPalette::Highlight) : gridColumn->Color(),
                 highlight ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text));
}

void TGridPainter::DrawCellText(QPainter& painter, const QRect& rect, int dx, int dy, int alignment,
                                const QString& text, const QFont& font, const QColor& background,
                                const QColor& foreground) const
{
    painter.fillRect(rect, background);
    if (text.isEmpty() || rect.isEmpty())
        return;
    const QFontMetrics metrics(font);
    const int textWidth = metrics.horizontalAdvance(text);
    int x = rect.left() + dx;
    if (alignment == static_cast<int>(TAlignment::Right))
        x = rect.left() + rect.width() - textWidth - TGridGeometry::kRightTextMargin;
    else if (alignment == static_cast<int>(TAlignment::Center))
        x = rect.left() + rect.width() / 2 - textWidth / 2;
    // Cut at the cell's edges, on both sides when centred; no ellipsis.
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.setFont(font);
    painter.setPen(foreground);
    painter.drawText(QPoint(x, rect.top() + dy + metrics.ascent()), text);
    painter.restore();
}

void TGridPainter::DrawIndicator(QPainter& painter, const QRect& rect, int glyph) const
{
    // Left of the cell's right edge, centred vertically.
    const int left = rect.left() + rect.width() - TGridGeometry::kGlyphRightOffset;
    const int top = (rect.top() + rect.top() + rect.height() - TGridGeometry::kGlyphHeight) / 2;
    for (int y = 0; y < TGridGeometry::kGlyphHeight; ++y)
        for (int x = 0; x < TGridGeometry::kGlyphWidth; ++x)
            if (kGlyphs[glyph][y][x] == '#')
                painter.fillRect(QRect(left + x, top + y, 1, 1), Qt::black);
}

void TGridPainter::DrawFocusRect(QPainter& painter, const QRect& rect) const
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    // Every other pixel of the outline, inverted.
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    const QColor invert = Qt::white;
    const int r = rect.left() + rect.width() - 1;
    const int b = rect.top() + rect.height() - 1;
    int step = 0;
    auto dot = [&](int x, int y) {
        if ((step++ & 1) == 0)
            painter.fillRect(QRect(x, y, 1, 1), invert);
    };
    for (int x = rect.left(); x < r; ++x)
        dot(x, rect.top());
    for (int y = rect.top(); y < b; ++y)
        dot(r, y);
    for (int x = r; x > rect.left(); --x)
        dot(x, b);
    for (int y = b; y > rect.top(); --y)
        dot(rect.left(), y);
    painter.restore();
}

}  // namespace vantelo
