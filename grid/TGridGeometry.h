// The file list grid's layout arithmetic, free of any widget: the grid's fixed
// measures, where its rows and columns lie in the client area, which cell a
// point falls on, how many records fit, how the pointer scrolls the rows when
// dragged outside them, and what the vertical scroll bar shows and does.
//
// Coordinates are client coordinates: (0, 0) is the first pixel inside the
// border. Grid column 0 is the indicator, grid column c >= 1 the stored column
// c - 1; row 0 is the title, rows 1..DataRows() the data rows, then the spacer
// (which keeps the footer pinned to the bottom) and the footer. Every cell is
// followed by a one-pixel line on its right and below it.
#pragma once

#include <vector>

namespace vantelo {

class TGridGeometry {
public:
    // --- the grid's fixed measures, in pixels ---------------------------------
    static constexpr int kIndicatorWidth = 11;
    static constexpr int kLineWidth = 1;
    static constexpr int kBorderWidth = 2;
    // A data row is the measured text height plus this margin (and its line);
    // the title row is the text height plus kTitleTextMargin.
    static constexpr int kRowTextMargin = 3;
    static constexpr int kTitleTextMargin = 4;
    static constexpr int kFooterRows = 1;
    // The column-sizing zone in the title row: from this many pixels left of
    // the line that ends a column to this many right of the line's pixel.
    static constexpr int kSizingZoneLeft = 3;
    static constexpr int kSizingZoneRight = 4;
    // Indicator glyphs: their size, and their left edge this far left of the
    // cell's right edge.
    static constexpr int kGlyphWidth = 6;
    static constexpr int kGlyphHeight = 11;
    static constexpr int kGlyphRightOffset = 8;
    // Text offsets inside a cell: raised fixed cells, flat cells; right
    // alignment keeps this much from the right edge.
    static constexpr int kFixedTextOffset = 1;
    static constexpr int kCellTextOffset = 2;
    static constexpr int kRightTextMargin = 3;
    // Row tracking with the pointer outside the data band: the timer's
    // interval is kTrackBaseMilliseconds less kTrackMillisecondsPerPixel for
    // each pixel outside (never below 0), and each tick moves one record for
    // every kTrackPixelsPerRecord pixels, at most kTrackMaxRecords.
    static constexpr int kTrackBaseMilliseconds = 200;
    static constexpr int kTrackMillisecondsPerPixel = 15;
    static constexpr int kTrackPixelsPerRecord = 6;
    static constexpr int kTrackMaxRecords = 8;
    // One notch of the wheel, in its angle units: one record.
    static constexpr int kWheelNotch = 120;

    // One stored column as the layout sees it.
    struct ColumnExtent {
        int width = 0;
        bool visible = true;
    };
    // A shown column: its grid column, client x and width (line excluded).
    struct ColumnSpan {
        int gridColumn = 0;
        int left = 0;
        int width = 0;
    };
    // A rectangle in client coordinates; empty when width or height is 0.
    struct Box {
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        bool Empty() const { return width <= 0 || height <= 0; }
        bool operator==(const Box&) const = default;
    };

    // --- inputs ---------------------------------------------------------------
    void SetClientSize(int width, int height);
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    // Row heights from the measured text heights of the data font and of the
    // tallest title font.
    void SetTextHeights(int dataTextHeight, int titleTextHeight);
    // The stored columns in order; the first shown column is clamped again.
    void SetColumns(std::vector<ColumnExtent> columns);
    // The rows: open with `records` records held, or closed (one blank row).
    void SetRows(bool open, int records);
    // The first stored column shown right of the indicator, clamped to
    // 0..MaxLeftColumn(); answers the column taken.
    int SetLeftColumn(int column);

    // --- rows -----------------------------------------------------------------
    int DefaultRowHeight() const { return rowHeight_; }
    int TitleRowHeight() const { return titleHeight_; }
    // A data row with its line.
    int Pitch() const { return rowHeight_ + kLineWidth; }
    // Title and its line, the footer rows with theirs, and one more line
    // because there is a footer.
    int FixedHeight() const;
    // Records that fit in the client height: at least 1.
    int BufferCount() const;
    int DataRows() const { return dataRows_; }
    int RowCount() const { return dataRows_ + 2 + kFooterRows; }
    int SpacerRow() const { return dataRows_ + 1; }
    int FooterRow() const { return dataRows_ + 2; }
    int SpacerHeight() const { return spacerHeight_; }
    int RowTop(int row) const;
    int RowHeight(int row) const;
    // The row under client y, or -1 outside the rows and the client area.
    int RowAt(int y) const;
    // The data rows from the first one's top to just below the last one.
    int DataBandTop() const { return RowTop(1); }
    int DataBandBottom() const { return RowTop(SpacerRow()); }
    // Data rows that fit entirely below the title (at least 1): the page of
    // the keys and the scroll bar.
    int VisibleDataRows() const;

    // --- columns --------------------------------------------------------------
    int LeftColumn() const { return leftColumn_; }
    // The largest first column from which every column to the end fits right
    // of the indicator (the last shown column when even it does not; 0 with
    // no shown columns).
    int MaxLeftColumn() const;
    // The first shown column after scrolling by whole columns (negative: to
    // the left), stepping over hidden ones: left stops at the first column,
    // right once nothing is hidden on the right.
    int LeftColumnScrolledBy(int by) const;
    // The stored columns that are shown (scrolled out or not).
    int ShownColumns() const;
    // The indicator and every shown column with their lines.
    int ColumnsWidth() const;
    bool NeedsHorizontalBar() const { return ColumnsWidth() > clientWidth_; }
    // The shown columns from LeftColumn() on, left to right.
    const std::vector<ColumnSpan>& Spans() const { return spans_; }
    // The span of a grid column, or null when it is scrolled out or hidden.
    const ColumnSpan* FindSpan(int gridColumn) const;
    // The grid column under client x: 0 the indicator, -1 outside.
    int ColumnAt(int x) const;
    // The grid column whose sizing zone holds client x, or -1.
    int SizingColumnAt(int x) const;
    // A cell without its lines; empty for a column out of view.
    Box Cell(int gridColumn, int row) const;

    // --- row tracking ---------------------------------------------------------
    // How far client y lies outside the data band: 0 inside, negative above,
    // positive below (1 on the first pixel below the last data row).
    int TrackDistance(int y) const;
    static int TrackInterval(int distance);
    static int TrackRecords(int distance);

    // --- the vertical scroll bar ----------------------------------------------
    struct ScrollInfo {
        int minimum = 0;
        int maximum = 0;
        int page = 0;
        int position = 0;
        // The bar shows while its range exceeds its page.
        bool Shown() const;
        // The last position the thumb can take (a page from the maximum).
        int LastPosition() const;
        bool operator==(const ScrollInfo&) const = default;
    };
    static ScrollInfo ClosedBar();
    // With record numbers: 1 to records + page - 1, at the given record.
    static ScrollInfo RecordBar(int records, int page, int position);
    // Without record numbers: five stops, 0 at the start, 4 at the end, 2 between.
    static ScrollInfo FiveStopBar(bool bof, bool eof);

    // Where a released thumb puts the cursor.
    enum class ThumbTarget { None, First, Last, RecordNumber, PageUp, PageDown };
    static ThumbTarget ThumbReleased(bool recordNumbers, int position, int records);

private:
    void LayOutColumns();

    int clientWidth_ = 0;
    int clientHeight_ = 0;
    int rowHeight_ = 0;
    int titleHeight_ = 0;
    int dataRows_ = 1;
    int spacerHeight_ = 0;
    int leftColumn_ = 0;
    std::vector<ColumnExtent> columns_;
    std::vector<ColumnSpan> spans_;
};

}  // namespace vantelo
