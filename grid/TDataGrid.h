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
//
// The grid is the owner of its parts and keeps the layout, the data window
// and the repainting; each part sees it only through the part's own small
// interface: the columns (TGridColumnOwner), the data link
// (TGridDataLink::Owner), the title row's column sizing and moving
// (TGridTitleRow), the mouse and key state machine (TGridInput) and the
// scroll bars (TGridScrollBars). TGridPainter paints from what the grid
// hands it for one paint; TGridGeometry does the arithmetic under all of them.
#pragma once

#include "grid/TGridColumnOwner.h"
#include "grid/TGridDataLink.h"
#include "grid/TGridGeometry.h"
#include "grid/TGridInput.h"
#include "grid/TGridScrollBars.h"
#include "grid/TGridTitleRow.h"

#include <QElapsedTimer>
#include <QRegion>
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
class TGridSumList;

class TDataGrid : public QWidget,
                  public TGridColumnOwner,
                  public TGridDataLink::Owner,
                  private TGridTitleRow::Owner,
                  private TGridInput::Owner,
                  private TGridScrollBars::Owner {
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
    static constexpr int kColumnScrollMilliseconds = TGridTitleRow::kColumnScrollMilliseconds;

    explicit TDataGrid(QWidget* parent = nullptr);
    ~TDataGrid() override;

    // --- data ---------------------------------------------------------------
    TDataSource* DataSource() const { return link_->DataSource(); }
    // Attaches the grid to source (null detaches) and points the sum list at
    // its dataset. An open dataset is shown at once.
    void SetDataSource(TDataSource* source);
    TGridDataLink& DataLink() const { return *link_; }
    TGridSumList& SumList() const { return *sumList_; }

    // --- columns ------------------------------------------------------------
    int ColumnCount() const override { return static_cast<int>(columns_.size()); }
    TGridColumn& Column(int index) const { return *columns_[static_cast<size_t>(index)]; }
    TGridColumn& AddColumn();
    void ClearColumns();
    // Moves the column at from to position to (both 0-based; out of range: nothing).
    void MoveColumn(int from, int to);

    // --- settings -----------------------------------------------------------
    TGridOptions Options() const { return options_; }
    // Row select clears the editing options.
    void SetOptions(TGridOptions options);
    bool ReadOnly() const override { return readOnly_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    QColor Color() const override { return palette().color(QPalette::Base); }
    QColor FixedColor() const override { return palette().color(QPalette::Button); }
    QColor FooterColor() const override { return palette().color(QPalette::Base); }
    // The data cells' font: the widget's.
    QFont Font() const override { return font(); }
    QFont TitleFont() const override { return titleFont_; }
    void SetTitleFont(const QFont& font);
    QFont FooterFont() const override { return footerFont_; }
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
    int CurrentRow() const override { return currentRow_; }
    // Data rows that fit entirely (at least 1): the page of the keys and bar.
    int VisibleDataRows() const override { return Geometry().VisibleDataRows(); }
    // The first stored column shown right of the indicator (horizontal scroll).
    int LeftColumn() const { return geometry_.LeftColumn(); }
    // The largest LeftColumn(): how many columns can be scrolled off to the
    // left (0 when every column fits, or with no columns).
    int MaxLeftColumn() const { return Geometry().MaxLeftColumn(); }
    // Scrolls the columns so that column (clamped to 0..MaxLeftColumn()) is
    // the first one shown; the bar follows.
    void SetLeftColumn(int column) override;
    QRect ClientRect() const;
    // A cell without its lines; empty for a column scrolled out of view.
    QRect CellRect(int column, int row) const;
    QScrollBar* VerticalScrollBar() const { return bars_->Vertical(); }
    QScrollBar* HorizontalScrollBar() const { return bars_->Horizontal(); }
    // Synchronous repaints made after scrolls so far.
    int SynchronousRepaints() const { return syncRepaints_; }

    // --- called by the data link, the columns and the footers ---------------
    void LinkActiveChanged() override;
    void LinkDataSetChanged() override;
    void LinkDataSetScrolled(int distance) override;
    void LinkEditingChanged() override;
    void LinkRecordChanged(TField* field) override;
    void LinkLayoutChanged() override { FullLayout(); }
    void ColumnChanged(bool layout) override;
    void InvalidateFooter() override;
    int IndexOfColumn(const TGridColumn& column) const override;
    TDataSet* ColumnDataSet() const override { return link_->DataSet(); }
    TSumCollection& FooterSums() override;

protected:
    bool event(QEvent* event) override;
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
    // stored settings
    void ApplyStoredSetting(const QByteArray& name);
    void LoadColumns(const QStringList& lines);

    // layout
    void FullLayout();
    void RowLayout();
    void FollowDataSet();
    void ScrollBy(int distance);
    bool IsOpen() const { return link_->Active(); }
    TDataSet* OpenDataSet() const override { return IsOpen() ? link_->DataSet() : nullptr; }
    // The layout with the client size as the widget has it now.
    const TGridGeometry& Geometry() const override;
    // Gives the layout the stored columns' widths and visibility.
    void SyncColumns();
    QRect RowRect(int row) const;  // widget coordinates, full client width, line included
    QRect DataBandRect() const;
    int BorderColumnAt(int clientX) const override;  // sizing zone of a grid column, or -1
    void ScrollColumns(int by) override;
    void MoveCursorBy(int distance) override;
    void SetCurrentColumn(int column) override { currentColumn_ = column; }
    bool ColumnsMovable() const override { return (options_ & dgColumnResize) != 0; }
    void ClientHeightChanged() override;
    void WheelOverBar(QWheelEvent* event) override { wheelEvent(event); }
    void TitleColumnResized(int gridColumn, int width) override;
    void TitleColumnMoved(int fromGridColumn, int toGridColumn) override;

    // invalidation and the synchronous repaint
    void Invalidate(const QRect& rect);
    void InvalidateClient(const QRect& rect) override;
    void InvalidateAll() override;
    void InvalidateRow(int row);
    bool RepaintAllowed() const;
    void RepaintNow();

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

    QRegion pending_;
    bool bandStale_ = false;
    QElapsedTimer lastRepaint_;
    int syncRepaints_ = 0;
    bool painting_ = false;

    // The parts, made after the state they read and gone before it.
    std::unique_ptr<TGridScrollBars> bars_;
    std::unique_ptr<TGridTitleRow> titleRow_;
    std::unique_ptr<TGridInput> input_;
};

}  // namespace vantelo
