// Paints the grid: its sunken border, the grid lines (black around fixed
// cells, silver in the data area), the title, indicator, data, spacer and
// footer cells, the dotted focus rectangle, and the title row's sizing line
// or move marker over them. It keeps nothing between paints: everything it
// draws comes from the view it is given for one paint.
//
// Data cells are read by making their record the link's active one for the
// drawing and always giving the previous one back.
#pragma once

#include <QColor>
#include <QRect>

#include <memory>
#include <vector>

class QFont;
class QPainter;
class QString;
class QWidget;

namespace vantelo {

class TGridColumn;
class TGridDataLink;
class TGridGeometry;
class TGridTitleRow;

class TGridPainter {
public:
    // What one paint reads of the grid.
    struct View {
        const QWidget& widget;  // palette, size, focus
        const TGridGeometry& geometry;
        const std::vector<std::unique_ptr<TGridColumn>>& columns;
        TGridDataLink& link;
        const TGridTitleRow& titleRow;
        QRect client;  // widget coordinates
        QRect corner;  // where the two scroll bars meet; empty unless both show
        QColor color;
        QColor fixedColor;
        int currentRow = 1;
        bool rowSelect = false;
    };

    explicit TGridPainter(const View& view) : view_(view) {}

    // Paints the cells that meet dirty (widget coordinates); answers the row
    // whose indicator cell got the glyph, or -1 when none was painted.
    int Paint(QPainter& painter, const QRect& dirty);

private:
    void PaintCell(QPainter& painter, int column, int row, const QRect& rect, const TGridColumn* gridColumn);
    void DrawCellText(QPainter& painter, const QRect& rect, int dx, int dy, int alignment, const QString& text,
                      const QFont& font, const QColor& background, const QColor& foreground) const;
    void DrawIndicator(QPainter& painter, const QRect& rect, int glyph) const;
    void DrawFocusRect(QPainter& painter, const QRect& rect) const;

    const View& view_;
    int glyphRow_ = -1;
};

}  // namespace vantelo
