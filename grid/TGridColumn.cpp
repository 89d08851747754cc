#include "grid/TGridColumn.h"

#include "grid/TDataGrid.h"
#include "grid/TGridDataLink.h"
#include "store/TDataSet.h"

namespace vantelo {

TGridColumn::TGridColumn(TDataGrid& grid) : grid_(grid), title_(*this), footer_(*this) {}

int TGridColumn::Index() const
{
    for (int i = 0; i < grid_.ColumnCount(); ++i)
        if (&grid_.Column(i) == this)
            return i;
    return -1;
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
    const TDataSet* dataSet = grid_.DataLink().DataSet();
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
    return font_ ? *font_ : grid_.font();
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

}  // namespace vantelo
