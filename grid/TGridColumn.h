// One stored column of the grid: the field it shows (looked up by name in the
// grid's dataset whenever asked), its width, alignment, colour and font
// (assigned or taken from the grid), its title and its footer. The grid never
// builds columns from the dataset's fields: they come from the stored form.
#pragma once

#include "grid/TGridColumnFooter.h"
#include "grid/TGridColumnOwner.h"
#include "grid/TGridColumnTitle.h"
#include "store/TField.h"

#include <QColor>
#include <QFont>

#include <optional>
#include <string>

namespace vantelo {

class TGridColumn {
public:
    explicit TGridColumn(TGridColumnOwner& grid);
    TGridColumn(const TGridColumn&) = delete;
    TGridColumn& operator=(const TGridColumn&) = delete;

    TGridColumnOwner& Grid() const { return grid_; }
    // Position among the grid's columns (0-based).
    int Index() const;

    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(std::string name);
    // The field of that name in the grid's open dataset; null when the
    // dataset is closed, there is none, or no field has that name.
    TField* Field() const;

    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    // Width in pixels, without the line after the column.
    int Width() const { return width_; }
    void SetWidth(int width);
    // The assigned alignment, else the bound field's, else left.
    TAlignment Alignment() const;
    void SetAlignment(std::optional<TAlignment> alignment);
    // The assigned colour / font, else the grid's Color / Font.
    QColor Color() const;
    void SetColor(std::optional<QColor> color);
    QFont Font() const;
    void SetFont(std::optional<QFont> font);
    // The assigned flag, else true when the grid or the bound field is read-only.
    bool ReadOnly() const;
    void SetReadOnly(std::optional<bool> readOnly) { readOnly_ = readOnly; }

    TGridColumnTitle& Title() { return title_; }
    const TGridColumnTitle& Title() const { return title_; }
    TGridColumnFooter& Footer() { return footer_; }
    const TGridColumnFooter& Footer() const { return footer_; }

    // Takes the settings of one stored column line, "Key=Value" pairs
    // separated by ";" (keys in GridTexts.h); unknown keys and pairs without
    // "=" are skipped.
    void Load(const QString& line);

    // Tells the grid that the column changed: a relayout, or only a repaint.
    void Changed(bool layout);

private:
    TGridColumnOwner& grid_;
    std::string fieldName_;
    bool visible_ = true;
    int width_ = 64;
    std::optional<TAlignment> alignment_;
    std::optional<QColor> color_;
    std::optional<QFont> font_;
    std::optional<bool> readOnly_;
    TGridColumnTitle title_;
    TGridColumnFooter footer_;
};

}  // namespace vantelo
