#include "grid/TGridGeometry.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace vantelo {

void TGridGeometry::SetClientSize(int width, int height)
{
    clientWidth_ = std::max(0, width);
    clientHeight_ = std::max(0, height);
    SetRows(true, dataRows_);
}

void TGridGeometry::SetTextHeights(int dataTextHeight, int titleTextHeight)
{
    rowHeight_ = dataTextHeight + kRowTextMargin + kLineWidth;
    titleHeight_ = titleTextHeight + kTitleTextMargin;
    SetRows(true, dataRows_);
}

void TGridGeometry::SetColumns(std::vector<ColumnExtent> columns)
{
    columns_ = std::move(columns);
    leftColumn_ = std::clamp(leftColumn_, 0, std::max(0, static_cast<int>(columns_.size()) - 1));
    LayOutColumns();
}

void TGridGeometry::SetRows(bool open, int records)
{
    // Closed: one blank row stands where the data rows would be.
    dataRows_ = open ? std::max(0, records) : 1;
    spacerHeight_ = std::max(0, clientHeight_ - FixedHeight() - dataRows_ * Pitch());
}

int TGridGeometry::SetLeftColumn(int column)
{
    const int left = std::clamp(column, 0, MaxLeftColumn());
    if (left != leftColumn_) {
        leftColumn_ = left;
        LayOutColumns();
    }
    return leftColumn_;
}

int TGridGeometry::FixedHeight() const
{
    return titleHeight_ + kLineWidth + kFooterRows * Pitch() + kLineWidth;
}

int TGridGeometry::BufferCount() const
{
    return std::max(1, (clientHeight_ - FixedHeight()) / Pitch());
}

int TGridGeometry::RowTop(int row) const
{
    if (row <= 0)
        return 0;
    const int base = titleHeight_ + kLineWidth;
    if (row <= SpacerRow())
        return base + (row - 1) * Pitch();
    return base + dataRows_ * Pitch() + spacerHeight_ + kLineWidth + (row - FooterRow()) * Pitch();
}

int TGridGeometry::RowHeight(int row) const
{
    if (row == 0)
        return titleHeight_;
    if (row == SpacerRow())
        return spacerHeight_;
    return rowHeight_;
}

int TGridGeometry::RowAt(int y) const
{
    if (y < 0 || y >= clientHeight_)
        return -1;
    for (int row = 0; row < RowCount(); ++row)
        if (y >= RowTop(row) && y < RowTop(row) + RowHeight(row) + kLineWidth)
            return row;
    return -1;
}

int TGridGeometry::VisibleDataRows() const
{
    // Rows below the title that fit entirely, less the footer and the spacer.
    int fit = 0;
    for (int row = 1; row < RowCount(); ++row) {
        if (RowTop(row) + RowHeight(row) > clientHeight_)
            break;
        ++fit;
    }
    return std::max(1, fit - kFooterRows - 1);
}

int TGridGeometry::MaxLeftColumn() const
{
    const int room = clientWidth_ - (kIndicatorWidth + kLineWidth);
    int tail = 0;
    int best = -1;
    int lastVisible = -1;
    for (int i = static_cast<int>(columns_.size()) - 1; i >= 0; --i) {
        const ColumnExtent& column = columns_[static_cast<size_t>(i)];
        if (!column.visible)
            continue;
        if (lastVisible < 0)
            lastVisible = i;
        tail += column.width + kLineWidth;
        if (tail > room)
            break;
        best = i;
    }
    if (lastVisible < 0)
        return 0;
    return best >= 0 ? best : lastVisible;
}

int TGridGeometry::LeftColumnScrolledBy(int by) const
{
    int left = leftColumn_;
    const int count = static_cast<int>(columns_.size());
    const int step = by < 0 ? -1 : 1;
    for (int remaining = std::abs(by); remaining > 0; --remaining) {
        int next = left + step;
        while (next >= 0 && next < count && !columns_[static_cast<size_t>(next)].visible)
            next += step;
        if (next < 0 || next > MaxLeftColumn())
            break;
        left = next;
    }
    return left;
}

int TGridGeometry::ShownColumns() const
{
    return static_cast<int>(
        std::count_if(columns_.begin(), columns_.end(), [](const ColumnExtent& column) { return column.visible; }));
}

int TGridGeometry::ColumnsWidth() const
{
    int width = kIndicatorWidth + kLineWidth;
    for (const ColumnExtent& column : columns_)
        if (column.visible)
            width += column.width + kLineWidth;
    return width;
}

void TGridGeometry::LayOutColumns()
{
    spans_.clear();
    int x = kIndicatorWidth + kLineWidth;
    for (int i = leftColumn_; i < static_cast<int>(columns_.size()); ++i) {
        const ColumnExtent& column = columns_[static_cast<size_t>(i)];
        if (!column.visible)
            continue;
        spans_.push_back({i + 1, x, column.width});
        x += column.width + kLineWidth;
    }
}

const TGridGeometry::ColumnSpan* TGridGeometry::FindSpan(int gridColumn) const
{
    for (const ColumnSpan& span : spans_)
        if (span.gridColumn == gridColumn)
            return &span;
    return nullptr;
}

int TGridGeometry::ColumnAt(int x) const
{
    if (x < 0 || x >= clientWidth_)
        return -1;
    if (x < kIndicatorWidth + kLineWidth)
        return 0;
    for (const ColumnSpan& span : spans_)
        if (x >= span.left && x < span.left + span.width + kLineWidth)
            return span.gridColumn;
    return -1;
}

int TGridGeometry::SizingColumnAt(int x) const
{
    for (const ColumnSpan& span : spans_) {
        const int line = span.left + span.width;
        if (x >= line - kSizingZoneLeft && x <= line + kSizingZoneRight)
            return span.gridColumn;
    }
    return -1;
}

TGridGeometry::Box TGridGeometry::Cell(int gridColumn, int row) const
{
    if (row < 0 || row >= RowCount())
        return {};
    if (gridColumn == 0)
        return {0, RowTop(row), kIndicatorWidth, RowHeight(row)};
    if (const ColumnSpan* span = FindSpan(gridColumn))
        return {span->left, RowTop(row), span->width, RowHeight(row)};
    return {};
}

int TGridGeometry::TrackDistance(int y) const
{
    if (y < DataBandTop())
        return y - DataBandTop();
    if (y >= DataBandBottom())
        return y - DataBandBottom() + 1;
    return 0;
}

int TGridGeometry::TrackInterval(int distance)
{
    return std::max(0, kTrackBaseMilliseconds - kTrackMillisecondsPerPixel * std::abs(distance));
}

int TGridGeometry::TrackRecords(int distance)
{
    return std::min(kTrackMaxRecords, std::abs(distance) / kTrackPixelsPerRecord);
}

bool TGridGeometry::ScrollInfo::Shown() const
{
    return maximum > minimum && maximum - minimum + 1 > page;
}

int TGridGeometry::ScrollInfo::LastPosition() const
{
    return std::max(minimum, maximum - std::max(0, page - 1));
}

TGridGeometry::ScrollInfo TGridGeometry::ClosedBar()
{
    return {0, 1, 2, 0};
}

TGridGeometry::ScrollInfo TGridGeometry::RecordBar(int records, int page, int position)
{
    return {1, records + page - 1, page, position};
}

TGridGeometry::ScrollInfo TGridGeometry::FiveStopBar(bool bof, bool eof)
{
    return {0, 4, 0, bof ? 0 : eof ? 4 : 2};
}

TGridGeometry::ThumbTarget TGridGeometry::ThumbReleased(bool recordNumbers, int position, int records)
{
    if (recordNumbers) {
        if (position <= 1)
            return ThumbTarget::First;
        if (position >= records)
            return ThumbTarget::Last;
        return ThumbTarget::RecordNumber;
    }
    switch (position) {
    case 0:
        return ThumbTarget::First;
    case 1:
        return ThumbTarget::PageUp;
    case 3:
        return ThumbTarget::PageDown;
    case 4:
        return ThumbTarget::Last;
    default:
        return ThumbTarget::None;
    }
}

}  // namespace vantelo
