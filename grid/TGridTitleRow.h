// The grid's title row as the mouse works it: sizing a column by dragging
// its border, and moving a column by dragging its title onto another
// column's place, with the inverted sizing line or the move marker drawn
// over the grid meanwhile, and the columns scrolling on a timer while a
// title is dragged outside the grid. Like a table's header it owns only this
// interaction: the widths and the order stay the columns', and the title row
// tells its owner what to change and what to repaint through the small
// interface below.
//
// Points and rectangles are client coordinates (see TGridGeometry); grid
// column c >= 1 is stored column c - 1.
#pragma once

#include "grid/TGridGeometry.h"

#include <QPoint>
#include <QTimer>

class QColor;
class QPainter;
class QRect;
class QWidget;

namespace vantelo {

class TGridTitleRow {
public:
    class Owner {
    public:
        // The layout with the client size as it is now.
        virtual const TGridGeometry& Geometry() const = 0;
        // Repaint a rectangle (client coordinates), or the whole grid.
        virtual void InvalidateClient(const QRect& rect) = 0;
        virtual void InvalidateAll() = 0;
        // The sized grid column takes width (more than 1 pixel).
        virtual void TitleColumnResized(int gridColumn, int width) = 0;
        // The dragged grid column moves to another grid column's place.
        virtual void TitleColumnMoved(int fromGridColumn, int toGridColumn) = 0;
        // Scrolls the columns by whole columns (negative: to the left).
        virtual void ScrollColumns(int by) = 0;

    protected:
        ~Owner() = default;
    };

    // The interval of the column scrolling while a title is dragged outside.
    static constexpr int kColumnScrollMilliseconds = 60;
    // The move marker's width: a bar on the edge the column would take.
    static constexpr int kMoveMarkerWidth = 3;

    // view: the grid's widget, on whose behalf the scrolling timer runs.
    TGridTitleRow(Owner& owner, QWidget& view);
    TGridTitleRow(const TGridTitleRow&) = delete;
    TGridTitleRow& operator=(const TGridTitleRow&) = delete;

    bool Sizing() const { return mode_ == Mode::Sizing; }
    bool Moving() const { return mode_ == Mode::Moving; }
    bool Busy() const { return mode_ != Mode::None; }

    // A press at p on the title row. border: the grid column whose sizing
    // zone holds p, or -1; column: the grid column under p; movable: whether
    // titles may be dragged. Starts sizing (on a border) or moving (on a data
    // column's title); answers false when it started neither.
    bool Press(QPoint p, int column, int border, bool movable);
    // The pointer at p while sizing or moving: the line follows it (once it
    // has left the pressed spot), or the marker goes to the column under it
    // and the columns scroll while it is left or right of the client area.
    void Move(QPoint p);
    // The release at p: a sized column takes the line's position less its
    // left edge (more than 1 pixel; a press released in place sizes
    // nothing), a moved column goes to the column under p. Ends either mode.
    void Release(QPoint p);
    // Esc or a cancel: sizing and moving end without a change.
    void Cancel();
    // Stops the scrolling of the columns while a title is dragged outside.
    void StopScrolling();

    // Draws the sizing line (inverted) or the move marker over the painted
    // grid; painter in client coordinates, clipped to the client area.
    void PaintOverlay(QPainter& painter, const QColor& markerColor) const;

private:
    enum class Mode { None, Sizing, Moving };

    QRect TitleRect() const;
    QRect SizingLineRect() const;
    void ScrollTick();

    Owner& owner_;
    Mode mode_ = Mode::None;
    int sizingColumn_ = -1;
    int sizingX_ = 0;
    int sizingPressX_ = 0;
    bool sizingMoved_ = false;
    int movingColumn_ = -1;
    int moveTarget_ = -1;
    int scrollDirection_ = 0;  // -1 left, 1 right, while a title is dragged outside
    QTimer scrollTimer_;
};

}  // namespace vantelo
