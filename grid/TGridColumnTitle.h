// The title of one grid column: caption, alignment, and a colour and a font
// that are either assigned or taken from the grid (FixedColor, TitleFont).
#pragma once

#include "store/TField.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <optional>

namespace vantelo {

class TGridColumn;

class TGridColumnTitle {
public:
    explicit TGridColumnTitle(TGridColumn& column) : column_(column) {}

    const QString& Caption() const { return caption_; }
    void SetCaption(QString caption);
    // Left when not assigned.
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);
    // The assigned colour, else the grid's FixedColor.
    QColor Color() const;
    void SetColor(std::optional<QColor> color);
    // The assigned font, else the grid's TitleFont.
    QFont Font() const;
    void SetFont(std::optional<QFont> font);

private:
    TGridColumn& column_;
    QString caption_;
    TAlignment alignment_ = TAlignment::Left;
    std::optional<QColor> color_;
    std::optional<QFont> font_;
};

}  // namespace vantelo
