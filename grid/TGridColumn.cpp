#include "grid/TGridColumn.h"

#include "grid/GridTexts.h"
#include "store/TDataSet.h"

#include <QStringList>

namespace vantelo {

namespace {

std::optional<TAlignment> ParseAlignment(const QString& word)
{
    if (word == QLatin1String(gridtexts::kAlignLeft))
        return TAlignment::Left;
    if (word == QLatin1String(gridtexts::kAlignRight))
        return TAlignment::Right;
    if (word == QLatin1String(gridtexts::kAlignCenter))
        return TAlignment::Center;
    return std::nullopt;
}

}  // namespace

TGridColumn::TGridColumn(TGridColumnOwner& grid) : grid_(grid), title_(*this), footer_(*this) {}

int TGridColumn::Index() const
{
    return grid_.IndexOfColumn(*this);
}

void TGridColumn::SetFieldName(std::string name)
{
    fieldName_ = std::move(name);
    footer_.EnsureSumItem();
    Changed(true);
}

TField* TGridColumn::Field() const
{
    // Looked up at every request: the dataset's fields are destroyed at
    // every close, so no pointer to one is kept.
    const TDataSet* dataSet = grid_.ColumnDataSet();
    if (dataSet == nullptr || !dataSet->Active() || fieldName_.empty())
        return nullptr;
    return dataSet->FindField(fieldName_);
}

void TGridColumn::SetVisible(bool visible)
{
    visible_ = visible;
    Changed(true);
}

void TGridColumn::SetWidth(int width)
{
    width_ = width;
    Changed(true);
}

TAlignment TGridColumn::Alignment() const
{
    if (alignment_)
        return *alignment_;
    if (const TField* field = Field())
        return field->Alignment();
    return TAlignment::Left;
}

void TGridColumn::SetAlignment(std::optional<TAlignment> alignment)
{
    alignment_ = alignment;
    Changed(false);
}

QColor TGridColumn::Color() const
{
    return color_ ? *color_ : grid_.Color();
}

void TGridColumn::SetColor(std::optional<QColor> color)
{
    color_ = std::move(color);
    Changed(false);
}

QFont TGridColumn::Font() const
{
    return font_ ? *font_ : grid_.Font();
}

void TGridColumn::SetFont(std::optional<QFont> font)
{
    font_ = std::move(font);
    Changed(false);
}

bool TGridColumn::ReadOnly() const
{
    if (readOnly_)
        return *readOnly_;
    const TField* field = Field();
    return grid_.ReadOnly() || (field != nullptr && field->ReadOnly());
}

void TGridColumn::Changed(bool layout)
{
    grid_.ColumnChanged(layout);
}

void TGridColumn::Load(const QString& line)
{
    for (const QString& pair : line.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = pair.left(eq).trimmed();
        const QString text = pair.mid(eq + 1).trimmed();
        if (key == QLatin1String(gridtexts::kColFieldName)) {
            SetFieldName(text.toStdString());
        } else if (key == QLatin1String(gridtexts::kColWidth)) {
            SetWidth(text.toInt());
        } else if (key == QLatin1String(gridtexts::kColAlignment)) {
            SetAlignment(ParseAlignment(text));
        } else if (key == QLatin1String(gridtexts::kColTitleCaption)) {
            Title().SetCaption(text);
        } else if (key == QLatin1String(gridtexts::kColTitleAlignment)) {
            Title().SetAlignment(ParseAlignment(text).value_or(TAlignment::Left));
        } else if (key == QLatin1String(gridtexts::kColFooterValueType)) {
            for (size_t i = 0; i < std::size(gridtexts::kFooterValueTypeNames); ++i)
                if (text == QLatin1String(gridtexts::kFooterValueTypeNames[i]))
                    Footer().SetValueType(static_cast<TFooterValueType>(i));
        } else if (key == QLatin1String(gridtexts::kColFooterValue)) {
            Footer().SetValue(text);
        } else if (key == QLatin1String(gridtexts::kColFooterFieldName)) {
            Footer().SetFieldName(text.toStdString());
        } else if (key == QLatin1String(gridtexts::kColFooterAlignment)) {
            Footer().SetAlignment(ParseAlignment(text));
        } else if (key == QLatin1String(gridtexts::kColFooterDisplayFormat)) {
            Footer().SetDisplayFormat(text);
        }
    }
}

}  // namespace vantelo
