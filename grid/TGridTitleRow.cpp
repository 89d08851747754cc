#include "grid/TGridTitleRow.h"

#include "app/THandlerGuard.h"

#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <algorithm>

namespace vantelo {

TGridTitleRow::TGridTitleRow(Owner& owner, QWidget& view) : owner_(owner)
{
    scrollTimer_.setSingleShot(false);
    scrollTimer_.setInterval(kColumnScrollMilliseconds);
    QObject::connect(&scrollTimer_, &QTimer::timeout, &view, [this, &view] { Guarded(&view, [&] { ScrollTick(); }); });
}

QRect TGridTitleRow::TitleRect() const
{
    const TGridGeometry& geometry = owner_.Geometry();
    return QRect(0, geometry.RowTop(0), geometry.ClientWidth(), geometry.RowHeight(0) + TGridGeometry::kLineWidth);
}

QRect TGridTitleRow::SizingLineRect() const
{
    return QRect(sizingX_, 0, 1, owner_.Geometry().ClientHeight());
}

bool TGridTitleRow::Press(QPoint p, int column, int border, bool movable)
{
    if (border > 0) {
        mode_ = Mode::Sizing;
        sizingColumn_ = border;
        // The line starts on the column's own border and follows the
        // pointer once it moves: a press released in place sizes nothing.
        const TGridGeometry& geometry = owner_.Geometry();
        const TGridGeometry::ColumnSpan* span = geometry.FindSpan(border);
        sizingX_ = span != nullptr ? std::clamp(span->left + span->width, 0, geometry.ClientWidth() - 1) : p.x();
        sizingPressX_ = p.x();
        sizingMoved_ = false;
        owner_.InvalidateClient(SizingLineRect());
        return true;
    }
    if (column > 0 && movable) {
        mode_ = Mode::Moving;
        movingColumn_ = column;
        moveTarget_ = column;
        return true;
    }
    return false;
}

void TGridTitleRow::Move(QPoint p)
{
    if (mode_ == Mode::Sizing) {
        if (p.x() == sizingPressX_ && !sizingMoved_)
            return;
        sizingMoved_ = true;
        owner_.InvalidateClient(SizingLineRect());
        sizingX_ = std::clamp(p.x(), 0, owner_.Geometry().ClientWidth() - 1);
        owner_.InvalidateClient(SizingLineRect());
    } else if (mode_ == Mode::Moving) {
        // Outside the grid on the left or right the columns scroll that way
        // on a timer; coming back stops it.
        const TGridGeometry& geometry = owner_.Geometry();
        const int direction = p.x() < 0 ? -1 : p.x() >= geometry.ClientWidth() ? 1 : 0;
        if (direction != scrollDirection_) {
            scrollDirection_ = direction;
            if (direction != 0)
                scrollTimer_.start();
            else
                scrollTimer_.stop();
        }
        const int column = geometry.ColumnAt(p.x());
        const int target = column > 0 ? column : moveTarget_;
        if (target != moveTarget_) {
            moveTarget_ = target;
            owner_.InvalidateClient(TitleRect());
        }
    }
}

void TGridTitleRow::Release(QPoint p)
{
    const Mode mode = mode_;
    mode_ = Mode::None;
    if (mode == Mode::Sizing) {
        owner_.InvalidateAll();
        const TGridGeometry::Box cell = owner_.Geometry().Cell(sizingColumn_, 0);
        // The pointer may be released beyond the right edge: the column then
        // grows past the client area and the horizontal bar comes.
        const int width = std::max(p.x(), 0) - cell.left;
        // A width of one pixel or less is taken for a slip and ignored, and
        // a press released where it was changes nothing.
        const bool moved = sizingMoved_ || p.x() != sizingPressX_;
        const bool shown = cell.width != 0 || cell.height != 0;
        if (moved && shown && width > 1)
            owner_.TitleColumnResized(sizingColumn_, width);
    } else if (mode == Mode::Moving) {
        owner_.InvalidateClient(TitleRect());
        const TGridGeometry& geometry = owner_.Geometry();
        const int target = geometry.ColumnAt(p.x());
        if (geometry.RowAt(p.y()) >= 0 && target > 0 && target != movingColumn_)
            owner_.TitleColumnMoved(movingColumn_, target);
    }
    sizingColumn_ = movingColumn_ = moveTarget_ = -1;
}

void TGridTitleRow::Cancel()
{
    StopScrolling();
    if (mode_ == Mode::None)
        return;
    mode_ = Mode::None;
    sizingColumn_ = movingColumn_ = moveTarget_ = -1;
    owner_.InvalidateAll();
}

void TGridTitleRow::StopScrolling()
{
    scrollTimer_.stop();
    scrollDirection_ = 0;
}

void TGridTitleRow::ScrollTick()
{
    if (mode_ != Mode::Moving || scrollDirection_ == 0) {
        StopScrolling();
        return;
    }
    const int before = owner_.Geometry().LeftColumn();
    owner_.ScrollColumns(scrollDirection_);
    const TGridGeometry& geometry = owner_.Geometry();
    if (geometry.LeftColumn() == before) {
        // At the end: nothing more to scroll until the pointer moves again.
        scrollTimer_.stop();
        return;
    }
    // The marker follows onto the column that came into view at that edge.
    const std::vector<TGridGeometry::ColumnSpan>& spans = geometry.Spans();
    if (!spans.empty()) {
        int target = spans.front().gridColumn;
        if (scrollDirection_ > 0)
            for (const TGridGeometry::ColumnSpan& span : spans)
                if (span.left < geometry.ClientWidth())
                    target = span.gridColumn;
        moveTarget_ = target;
    }
    owner_.InvalidateClient(TitleRect());
}

void TGridTitleRow::PaintOverlay(QPainter& painter, const QColor& markerColor) const
{
    const TGridGeometry& geometry = owner_.Geometry();
    if (mode_ == Mode::Sizing) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(SizingLineRect(), Qt::white);
    } else if (mode_ == Mode::Moving && moveTarget_ > 0 && moveTarget_ != movingColumn_) {
        // The move marker: a bar on the edge the column would take, kept
        // inside the client area when that edge lies past it.
        for (const TGridGeometry::ColumnSpan& span : geometry.Spans())
            if (span.gridColumn == moveTarget_) {
                int x = moveTarget_ > movingColumn_ ? span.left + span.width - 1 : span.left - 1;
                x = std::max(0, std::min(x, geometry.ClientWidth() - kMoveMarkerWidth));
                painter.fillRect(QRect(x, 0, kMoveMarkerWidth, geometry.TitleRowHeight()), markerColor);
            }
    }
}

}  // namespace vantelo
