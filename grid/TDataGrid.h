// The file list grid: a read-only, custom-painted view of a dataset's rows fed
// through a data link. It shows a title row, an indicator column that marks
// the current row, one data row per record the link holds (only as many as fit
// are buffered), a spacer that keeps the footer row pinned to the bottom, and
// the footer with its sum list's numbers (the record count). It follows the
// dataset synchronously: a scroll notification shifts the pixels of the data
// band and repaints at once (at most once per display frame during a long
// walk; the final state is always painted).
//
// The keyboard, the mouse, the wheel and the vertical scroll bar only move the
// dataset's cursor; the grid never edits, inserts, deletes, opens or closes.
// Whatever moves the bar's thumb (its arrows, track, drag, context menu, the
// wheel over it, a position put on it) goes through the cursor, and the thumb
// then stands on the cursor's record, also when the move failed.
//
// Settings come from the stored form description as dynamic properties (see
// GridTexts.h): options, readOnly, titleFont, footerFont, sumListActive and
// columns (one "Key=Value;..." line per column).
//
// Geometry: the arithmetic is TGridGeometry's, in client coordinates; the
// rectangles answered here are in widget coordinates. The client area is
// inside a 2-pixel sunken border, left of the vertical scroll bar and above
// the horizontal one. Grid column 0 is the indicator, grid column c >= 1 is
// Column(c - 1). Row 0 is the title, rows 1..DataRowCount() the data rows,
// then the spacer and the footer.
//
// Horizontal scrolling goes by whole columns: LeftColumn() is the first
// stored column shown right of the indicator, which never scrolls. The bar is
// shown only while the columns are wider than the client area.
#pragma once

#include "grid/TGridGeometry.h"

#include <QElapsedTimer>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QScrollBar;

namespace vantelo {

class TDataSource;
class TDataSet;
class TField;
class TGridColumn;
class TGridDataLink;
class TGridSumList;

class TDataGrid : public QWidget {
    Q_OBJECT
public:
    enum TGridOption : unsigned {
        dgEditing = 1u << 0,
        dgAlwaysShowEditor = 1u << 1,
        dgTitles = 1u << 2,
        dgIndicator = 1u << 3,
        dgColumnResize = 1u << 4,
        dgColLines = 1u << 5,
        dgRowLines = 1u << 6,
        dgTabs = 1u << 7,
        dgRowSelect = 1u << 8,
        dgAlwaysShowSelection = 1u << 9,
        dgConfirmDelete = 1u << 10,
        dgCancelOnExit = 1u << 11,
        dgMultiSelect = 1u << 12,
    };
    using TGridOptions = unsigned;

    // Width of the indicator column, of every grid line and of the border.
    static constexpr int kIndicatorWidth = TGridGeometry::kIndicatorWidth;
    static constexpr int kLineWidth = TGridGeometry::kLineWidth;
    static constexpr int kBorderWidth = TGridGeometry::kBorderWidth;
    // The shortest time between two synchronous repaints during a walk.
    static constexpr int kFrameMilliseconds = 16;
    // The interval of the column scrolling while a title is dragged outside.
    static constexpr int kColumnScrollMilliseconds = 60;

    explicit TDataGrid(QWidget* parent = nullptr);
    ~TDataGrid() override;

    // --- data ---------------------------------------------------------------
    TDataSource* DataSource() const;
    // Attaches the grid to source (null detaches) and points the sum list at
    // its dataset. An open dataset is shown at once.
    void SetDataSource(TDataSource* source);
    TGridDataLink& DataLink() const { return *link_; }
    TGridSumList& SumList() const { return *sumList_; }

    // --- columns ------------------------------------------------------------
    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    TGridColumn& Column(int index) const { return *columns_[static_cast<size_t>(index)]; }
    TGridColumn& AddColumn();
    void ClearColumns();
    // Moves the column at from to position to (both 0-based; out of range: nothing).
    void MoveColumn(int from, int to);

    // --- settings -----------------------------------------------------------
    TGridOptions Options() const { return options_; }
    // Row select clears the editing options.
    void SetOptions(TGridOptions options);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    QColor Color() const;
    QColor FixedColor() const;
    QColor FooterColor() const;
    QFont TitleFont() const { return titleFont_; }
    void SetTitleFont(const QFont& font);
    QFont FooterFont() const { return footerFont_; }
    void SetFooterFont(const QFont& font);

    // --- events ---------------------------------------------------------------
    // Raised by the second press of a double-click, which does nothing else.
    std::function<void()> OnDblClick;

    // --- geometry and state (for the main window's tests and pictures) -----
    int DefaultRowHeight() const { return geometry_.DefaultRowHeight(); }
    int TitleRowHeight() const { return geometry_.TitleRowHeight(); }
    // Title + data rows + spacer + footer.
    int RowCount() const { return geometry_.RowCount(); }
    // Data rows shown: the records the link holds (one blank row while closed).
    int DataRowCount() const { return geometry_.DataRows(); }
    int SpacerRow() const { return geometry_.SpacerRow(); }
    int FooterRow() const { return geometry_.FooterRow(); }
    int SpacerHeight() const { return geometry_.SpacerHeight(); }
    int CurrentRow() const { return currentRow_; }
    // Data rows that fit entirely (at least 1): the page of the keys and bar.
    int VisibleDataRows() const;
    // The first stored column shown right of the indicator (horizontal scroll).
    int LeftColumn() const { return geometry_.LeftColumn(); }
    // The largest LeftColumn(): how many columns can be scrolled off to the
    // left (0 when every column fits, or with no columns).
    int MaxLeftColumn() const;
    // Scrolls the columns so that column (clamped to 0..MaxLeftColumn()) is
    // the first one shown; the bar follows.
    void SetLeftColumn(int column);
    QRect ClientRect() const;
    // A cell without its lines; empty for a column scrolled out of view.
    QRect CellRect(int column, int row) const;
    QScrollBar* VerticalScrollBar() const { return vbar_; }
    QScrollBar* HorizontalScrollBar() const { return hbar_; }
    // Synchronous repaints made after scrolls so far.
    int SynchronousRepaints() const { return syncRepaints_; }

    // --- called by the data link, the columns and the footers ---------------
    void LinkActiveChanged();
    void LinkDataSetChanged();
    void LinkDataSetScrolled(int distance);
    void LinkEditingChanged();
    void LinkRecordChanged(TField* field);
    void LinkLayoutChanged();
    void ColumnChanged(bool layout);
    void InvalidateFooter();

protected:
    bool event(QEvent* event) override;
    // The scroll bars' context menus, and the wheel over the vertical bar.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    using ColumnSpan = TGridGeometry::ColumnSpan;
    enum class MouseState { Normal, Sizing, Moving, Tracking };

    // stored settings
    void ApplyStoredSetting(const QByteArray& name);
    void LoadColumns(const QStringList& lines);

    // layout
    void FullLayout();
    void RowLayout();
    void FollowDataSet();
    void ScrollBy(int distance);
    void UpdateScrollBar();
    // Shows or hides the horizontal bar as the column widths ask and sets its
    // range; true when its visibility changed (the client height did).
    bool SyncHorizontalBar();
    void PlaceScrollBars();
    bool IsOpen() const;
    TDataSet* OpenDataSet() const;
    // The layout with the client size as the widget has it now.
    const TGridGeometry& Geometry() const;
    // Gives the layout the stored columns' widths and visibility.
    void SyncColumns();
    const std::vector<ColumnSpan>& ColumnSpans() const { return Geometry().Spans(); }
    QRect RowRect(int row) const;  // widget coordinates, full client width, line included
    QRect DataBandRect() const;
    QPoint ToClient(QPoint widgetPoint) const;
    int RowAt(int clientY) const;      // -1 outside
    int ColumnAt(int clientX) const;   // -1 outside, 0 indicator
    int BorderColumnAt(int clientX) const;  // sizing zone of a grid column, or -1

    // invalidation and the synchronous repaint
    void Invalidate(const QRect& rect);
    void InvalidateAll();
    void InvalidateRow(int row);
    bool RepaintAllowed() const;
    void RepaintNow();

    // painting
    void Paint(QPaintEvent* event);
    void PaintCell(QPainter& painter, int column, int row, const QRect& rect, const ColumnSpan* span);
    void DrawCellText(QPainter& painter, const QRect& rect, int dx, int dy, int alignment, const QString& text,
                      const QFont& font, const QColor& background, const QColor& foreground);
    void DrawIndicator(QPainter& painter, const QRect& rect, int glyph);
    void DrawFocusRect(QPainter& painter, const QRect& rect);

    // input
    void KeyDown(QKeyEvent* event);
    void MouseDown(QMouseEvent* event);
    void MouseMove(QMouseEvent* event);
    void MouseUp(QMouseEvent* event);
    void TrackTo(int clientY);
    void TrackTick();
    void Wheel(int angleDelta);
    // The vertical bar: its actions, a thumb released (or put) at a
    // position, and the thumb put back on the cursor's record.
    void ScrollBarAction(int action);
    void ThumbReleasedAt(int position);
    void SyncBarToCursor();
    // The bar's context menu at pos (bar coordinates).
    void BarMenu(QScrollBar* bar, QPoint pos, QPoint globalPos);
    void ScrollColumns(int by);
    void MoveScrollTick();
    void StopMoveScroll();
    void CancelMouseMode();
    void MoveCursorBy(int distance);

    std::unique_ptr<TGridSumList> sumList_;
    std::unique_ptr<TGridDataLink> link_;
    std::vector<std::unique_ptr<TGridColumn>> columns_;
    TGridOptions options_;
    bool readOnly_ = false;
    QFont titleFont_;
    QFont footerFont_;

    // Layout; its client size follows the widget when asked (Geometry()).
    mutable TGridGeometry geometry_;
    int currentRow_ = 1;
    int currentColumn_ = 1;
    int glyphRow_ = -1;
    int layoutLock_ = 0;

    QScrollBar* vbar_ = nullptr;
    QScrollBar* hbar_ = nullptr;
    TGridGeometry::ScrollInfo barInfo_;
    bool barInfoValid_ = false;
    int lastBarPosition_ = 0;

    QRegion pending_;
    bool bandStale_ = false;
    QElapsedTimer lastRepaint_;
    int syncRepaints_ = 0;
    bool painting_ = false;

    MouseState mouseState_ = MouseState::Normal;
    int sizingColumn_ = -1;
    int sizingX_ = 0;
    int sizingPressX_ = 0;
    bool sizingMoved_ = false;
    int movingColumn_ = -1;
    int moveTarget_ = -1;
    int trackDistance_ = 0;
    QTimer trackTimer_;
    int moveScrollDirection_ = 0;  // -1 left, 1 right, while a title is dragged outside
    QTimer moveScrollTimer_;
    int wheelRemainder_ = 0;
};

}  // namespace vantelo
