#include "grid/TGridColumnTitle.h"

#include "grid/TGridColumn.h"

namespace vantelo {

void TGridColumnTitle::SetCaption(QString caption)
{
    caption_ = std::move(caption);
    column_.Changed(false);
}

void TGridColumnTitle::SetAlignment(TAlignment alignment)
{
    alignment_ = alignment;
    column_.Changed(false);
}

QColor TGridColumnTitle::Color() const
{
    return color_ ? *color_ : column_.Grid().FixedColor();
}

void TGridColumnTitle::SetColor(std::optional<QColor> color)
{
    color_ = std::move(color);
    column_.Changed(false);
}

QFont TGridColumnTitle::Font() const
{
    return font_ ? *font_ : column_.Grid().TitleFont();
}

void TGridColumnTitle::SetFont(std::optional<QFont> font)
{
    font_ = std::move(font);
    column_.Changed(true);
}

}  // namespace vantelo
