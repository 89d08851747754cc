// The grid's answer to the keyboard, the mouse and the wheel: a small state
// machine (normal, working the title row, tracking the pointer over the
// rows) that only moves the dataset's cursor or changes what the grid shows.
// Presses on the title row go to the title row (sizing, moving); a press on
// a data cell tracks the pointer, record by record inside the data band and
// on a timer above or below it. Keys and the wheel do nothing while the
// dataset is closed.
//
// Errors the dataset raises while the cursor moves go on to the caller (the
// grid's event handlers, which hand them to the application).
#pragma once

#include "grid/TGridGeometry.h"

#include <QPoint>
#include <QTimer>

class QKeyEvent;
class QMouseEvent;
class QWidget;

namespace vantelo {

class TDataSet;
class TGridDataLink;
class TGridTitleRow;

class TGridInput {
public:
    class Owner {
    public:
        // The layout with the client size as it is now.
        virtual const TGridGeometry& Geometry() const = 0;
        // The dataset when open, else null.
        virtual TDataSet* OpenDataSet() const = 0;
        virtual int CurrentRow() const = 0;
        // The current grid column (no visible change with whole-row selection).
        virtual void SetCurrentColumn(int column) = 0;
        virtual int ColumnCount() const = 0;
        virtual void MoveCursorBy(int distance) = 0;
        // Scrolls the columns by whole columns (negative: to the left).
        virtual void ScrollColumns(int by) = 0;
        // The grid column whose sizing zone holds client x when columns may
        // be sized, else -1.
        virtual int BorderColumnAt(int x) const = 0;
        // Whether titles may be dragged to move their columns.
        virtual bool ColumnsMovable() const = 0;

    protected:
        ~Owner() = default;
    };

    // view: the grid's widget (focus, pointer shape, the tracking timer's
    // handler); link: the grid's data link; titleRow: its title row.
    TGridInput(Owner& owner, QWidget& view, TGridDataLink& link, TGridTitleRow& titleRow);
    TGridInput(const TGridInput&) = delete;
    TGridInput& operator=(const TGridInput&) = delete;

    // Points of the events are widget coordinates; client is where the
    // client area's top-left corner stands in the widget.
    void KeyDown(QKeyEvent* event);
    void MouseDown(QMouseEvent* event, QPoint client);
    void MouseMove(QMouseEvent* event, QPoint client);
    void MouseUp(QMouseEvent* event, QPoint client);
    // One record per notch of 120 units, down moving forward; parts of a
    // notch add up.
    void Wheel(int angleDelta);
    // Esc or a cancel: sizing and moving end without a change.
    void CancelMouseMode();

private:
    enum class MouseState { Normal, Title, Tracking };

    void TrackTo(int clientY);
    void TrackTick();

    Owner& owner_;
    QWidget& view_;
    TGridDataLink& link_;
    TGridTitleRow& titleRow_;
    MouseState mouseState_ = MouseState::Normal;
    int trackDistance_ = 0;
    QTimer trackTimer_;
    int wheelRemainder_ = 0;
};

}  // namespace vantelo
