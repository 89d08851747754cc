#include "grid/TGridInput.h"

#include "app/THandlerGuard.h"
#include "grid/TGridDataLink.h"
#include "grid/TGridTitleRow.h"
#include "store/TDataSet.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <algorithm>

namespace vantelo {

TGridInput::TGridInput(Owner& owner, QWidget& view, TGridDataLink& link, TGridTitleRow& titleRow)
    : owner_(owner), view_(view), link_(link), titleRow_(titleRow)
{
    trackTimer_.setSingleShot(false);
    QObject::connect(&trackTimer_, &QTimer::timeout, &view, [this] { Guarded(&view_, [&] { TrackTick(); }); });
}

// ---------------------------------------------------------------------------
// keyboard

void TGridInput::KeyDown(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        CancelMouseMode();
    TDataSet* dataSet = owner_.OpenDataSet();
    if (dataSet == nullptr)
        return;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const int active = link_.ActiveRecord();
    const int buffers = link_.BufferCount();
    const bool untouchedInsert = dataSet->State() == TDataSetState::Insert && !dataSet->Modified();
    switch (event->key()) {
    case Qt::Key_Up:
        if (ctrl)
            owner_.MoveCursorBy(-active);
        else if (untouchedInsert && dataSet->Eof())
            dataSet->Cancel();
        else
            owner_.MoveCursorBy(-1);
        break;
    case Qt::Key_Down:
        if (ctrl)
            owner_.MoveCursorBy(buffers - active - 1);
        else if (untouchedInsert) {
            if (!dataSet->Eof())
                dataSet->Cancel();
        } else
            owner_.MoveCursorBy(1);
        break;
    case Qt::Key_PageUp:
        owner_.MoveCursorBy(ctrl ? -active : -owner_.Geometry().VisibleDataRows());
        break;
    case Qt::Key_PageDown:
        owner_.MoveCursorBy(ctrl ? buffers - active - 1 : owner_.Geometry().VisibleDataRows());
        break;
    case Qt::Key_Home:
        dataSet->First();
        break;
    case Qt::Key_End:
        dataSet->Last();
        break;
    case Qt::Key_Left:
        if (ctrl)
            owner_.SetCurrentColumn(1);
        else
            owner_.ScrollColumns(-1);
        break;
    case Qt::Key_Right:
        if (ctrl)
            owner_.SetCurrentColumn(std::max(1, owner_.ColumnCount()));
        else
            owner_.ScrollColumns(1);
        break;
    case Qt::Key_Escape:
        dataSet->Cancel();
        break;
    default:
        // Enter, Insert, Delete, F2, the edit shortcuts and characters: the
        // grid is read-only and has no edit actions.
        break;
    }
}

// ---------------------------------------------------------------------------
// mouse and wheel

void TGridInput::MouseDown(QMouseEvent* event, QPoint client)
{
    if (!view_.isEnabled() || !(view_.focusPolicy() & Qt::ClickFocus))
        return;
    view_.setFocus(Qt::MouseFocusReason);
    if (mouseState_ != MouseState::Normal)
        return;
    const QPoint p = event->position().toPoint() - client;
    const TGridGeometry& geometry = owner_.Geometry();
    const int row = geometry.RowAt(p.y());
    const int column = geometry.ColumnAt(p.x());
    if (row < 0 || column < 0)
        return;
    const bool button = event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
    if (row == 0) {
        const int border = owner_.BorderColumnAt(p.x());
        if (!button || (column == 0 && border < 0))
            return;
        if (titleRow_.Press(p, column, border, owner_.ColumnsMovable()))
            mouseState_ = MouseState::Title;
        return;
    }
    // Spacer, footer: nothing; a data row: the cursor moves by the difference.
    if (!link_.Active() || row > geometry.DataRows())
        return;
    if (column > 0)
        owner_.SetCurrentColumn(column);
    owner_.MoveCursorBy(row - owner_.CurrentRow());
    // Either button that captures the mouse tracks the pointer from a data
    // cell (a failed move has left this handler already).
    if (column > 0 && button) {
        mouseState_ = MouseState::Tracking;
        trackDistance_ = 0;
    }
}

void TGridInput::MouseMove(QMouseEvent* event, QPoint client)
{
    const QPoint p = event->position().toPoint() - client;
    switch (mouseState_) {
    case MouseState::Normal:
        if (owner_.Geometry().RowAt(p.y()) == 0 && owner_.BorderColumnAt(p.x()) > 0)
            view_.setCursor(Qt::SplitHCursor);
        else
            view_.unsetCursor();
        break;
    case MouseState::Title:
        titleRow_.Move(p);
        break;
    case MouseState::Tracking:
        if (event->buttons() == Qt::NoButton) {
            // The release went to another window (a box took the mouse
            // meanwhile): the mouse is no longer ours, tracking ends.
            mouseState_ = MouseState::Normal;
            trackTimer_.stop();
            break;
        }
        TrackTo(p.y());
        break;
    }
}

void TGridInput::TrackTo(int clientY)
{
    const TGridGeometry& geometry = owner_.Geometry();
    trackDistance_ = geometry.TrackDistance(clientY);
    if (trackDistance_ == 0) {
        trackTimer_.stop();
        const int row = geometry.RowAt(clientY);
        if (row >= 1 && row <= geometry.DataRows() && row != owner_.CurrentRow())
            owner_.MoveCursorBy(row - owner_.CurrentRow());
        return;
    }
    const int interval = TGridGeometry::TrackInterval(trackDistance_);
    if (!trackTimer_.isActive() || trackTimer_.interval() != interval)
        trackTimer_.start(interval);
}

void TGridInput::TrackTick()
{
    if (mouseState_ != MouseState::Tracking || trackDistance_ == 0) {
        trackTimer_.stop();
        return;
    }
    const int records = TGridGeometry::TrackRecords(trackDistance_);
    owner_.MoveCursorBy(trackDistance_ < 0 ? -records : records);
}

void TGridInput::MouseUp(QMouseEvent* event, QPoint client)
{
    const QPoint p = event->position().toPoint() - client;
    const MouseState state = mouseState_;
    mouseState_ = MouseState::Normal;
    trackTimer_.stop();
    titleRow_.StopScrolling();
    if (state == MouseState::Title)
        titleRow_.Release(p);
}

void TGridInput::CancelMouseMode()
{
    titleRow_.Cancel();
    if (mouseState_ == MouseState::Title)
        mouseState_ = MouseState::Normal;
}

void TGridInput::Wheel(int angleDelta)
{
    if (!link_.Active())
        return;
    // One record per notch: down moves forward.
    constexpr int notch = TGridGeometry::kWheelNotch;
    wheelRemainder_ += angleDelta;
    while (wheelRemainder_ >= notch) {
        wheelRemainder_ -= notch;
        owner_.MoveCursorBy(-1);
    }
    while (wheelRemainder_ <= -notch) {
        wheelRemainder_ += notch;
        owner_.MoveCursorBy(1);
    }
}

}  // namespace vantelo
