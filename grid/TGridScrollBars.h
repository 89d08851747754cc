// The grid's two scroll bars and how they follow the grid. The vertical bar
// shows where the dataset's cursor stands (record numbers, or five stops
// without them) and every way of moving its thumb (arrows, track, drag,
// context menu, the wheel over it, a position put on it) goes through the
// cursor; afterwards the thumb stands on the cursor's record, also when the
// move failed. The horizontal bar shows only while the columns are wider
// than the client area and scrolls them by whole columns.
//
// The bars are children of the grid's widget, inside its 2-pixel border; a
// bar that comes or goes changes the client area, which the owner is told
// through the small interface below.
#pragma once

#include "grid/TGridGeometry.h"

#include <QObject>
#include <QRect>

class QPoint;
class QScrollBar;
class QWheelEvent;
class QWidget;

namespace vantelo {

class TDataSet;
class TGridDataLink;

class TGridScrollBars : public QObject {
public:
    class Owner {
    public:
        // The layout with the client size as it is now.
        virtual const TGridGeometry& Geometry() const = 0;
        // The dataset when open, else null.
        virtual TDataSet* OpenDataSet() const = 0;
        // Data rows that fit entirely: the page.
        virtual int VisibleDataRows() const = 0;
        virtual void MoveCursorBy(int distance) = 0;
        // The first stored column shown; the horizontal bar follows through
        // ShowLeftColumn.
        virtual void SetLeftColumn(int column) = 0;
        virtual void InvalidateAll() = 0;
        // The horizontal bar came or went: the rows follow the new height.
        virtual void ClientHeightChanged() = 0;
        // The wheel turned over the vertical bar.
        virtual void WheelOverBar(QWheelEvent* event) = 0;

    protected:
        ~Owner() = default;
    };

    // view: the grid's widget, the bars' parent.
    TGridScrollBars(Owner& owner, QWidget& view, TGridDataLink& link);
    TGridScrollBars(const TGridScrollBars&) = delete;
    TGridScrollBars& operator=(const TGridScrollBars&) = delete;

    QScrollBar* Vertical() const { return vbar_; }
    QScrollBar* Horizontal() const { return hbar_; }
    // What the bars that show take from the client area.
    int ShownWidth() const;
    int ShownHeight() const;
    // The square where the two bars meet (widget coordinates); empty unless
    // both show.
    QRect Corner() const;

    // Puts the bars along the right and bottom edges inside the border.
    void Place();
    // Gives the vertical bar what the dataset now says (closed, record
    // numbers, five stops); shows or hides it, and when the client width
    // changed with it, lets the horizontal bar follow.
    void Update();
    // Shows or hides the horizontal bar as the column widths ask and sets
    // its range; true when its visibility changed (the client height did).
    bool SyncHorizontal();
    // The horizontal bar's value follows the first shown column.
    void ShowLeftColumn(int column);

    // The vertical bar's actions, a thumb released (or put) at a position,
    // and the thumb put back on the cursor's record.
    void Action(int action);
    void ThumbReleasedAt(int position);
    void SyncToCursor();

protected:
    // The bars' context menus, and the wheel over the vertical bar.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The bar's context menu at pos (bar coordinates).
    void BarMenu(QScrollBar* bar, QPoint pos, QPoint globalPos);

    Owner& owner_;
    QWidget& view_;
    TGridDataLink& link_;
    QScrollBar* vbar_ = nullptr;
    QScrollBar* hbar_ = nullptr;
    TGridGeometry::ScrollInfo barInfo_;
    bool barInfoValid_ = false;
    int lastBarPosition_ = 0;
};

}  // namespace vantelo
