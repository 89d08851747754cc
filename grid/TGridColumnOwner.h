// What a grid column, its title and its footer ask of the grid that holds
// them: where the column stands, the dataset its field is looked up in, the
// grid's colours and fonts they fall back on, the sum items footers keep
// their numbers in, and the notices that the grid must lay out or repaint.
// The grid implements it; the columns never see the grid itself.
#pragma once

#include <QColor>
#include <QFont>

namespace vantelo {

class TDataSet;
class TGridColumn;
class TSumCollection;

class TGridColumnOwner {
public:
    // Position of column among the grid's columns (0-based), or -1.
    virtual int IndexOfColumn(const TGridColumn& column) const = 0;
    // The dataset of the grid's data source (null without one; may be closed).
    virtual TDataSet* ColumnDataSet() const = 0;
    virtual bool ReadOnly() const = 0;
    virtual QColor Color() const = 0;
    virtual QColor FixedColor() const = 0;
    virtual QColor FooterColor() const = 0;
    // The data cells' font.
    virtual QFont Font() const = 0;
    virtual QFont TitleFont() const = 0;
    virtual QFont FooterFont() const = 0;
    // Where footers keep the sum items they need.
    virtual TSumCollection& FooterSums() = 0;
    // A column changed: a relayout, or only a repaint.
    virtual void ColumnChanged(bool layout) = 0;
    virtual void InvalidateFooter() = 0;

protected:
    ~TGridColumnOwner() = default;
};

}  // namespace vantelo
