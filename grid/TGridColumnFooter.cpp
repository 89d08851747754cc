#include "grid/TGridColumnFooter.h"

#include "grid/TGridColumn.h"
#include "grid/TSumCollection.h"

namespace vantelo {

TGridColumnFooter::~TGridColumnFooter()
{
    FreeSumItem();
}

void TGridColumnFooter::SetValueType(TFooterValueType type)
{
    valueType_ = type;
    EnsureSumItem();
    column_.Grid().InvalidateFooter();
}

void TGridColumnFooter::SetValue(QString value)
{
    value_ = std::move(value);
    column_.Grid().InvalidateFooter();
}

void TGridColumnFooter::SetFieldName(std::string name)
{
    fieldName_ = std::move(name);
    EnsureSumItem();
}

TAlignment TGridColumnFooter::Alignment() const
{
    if (alignment_)
        return *alignment_;
    if (const TField* field = column_.Field())
        return field->Alignment();
    return TAlignment::Left;
}

void TGridColumnFooter::SetAlignment(std::optional<TAlignment> alignment)
{
    alignment_ = alignment;
    column_.Grid().InvalidateFooter();
}

QColor TGridColumnFooter::Color() const
{
    return color_ ? *color_ : column_.Grid().FooterColor();
}

void TGridColumnFooter::SetColor(std::optional<QColor> color)
{
    color_ = std::move(color);
    column_.Grid().InvalidateFooter();
}

QFont TGridColumnFooter::Font() const
{
    return font_ ? *font_ : column_.Grid().FooterFont();
}

void TGridColumnFooter::SetFont(std::optional<QFont> font)
{
    font_ = std::move(font);
    column_.Grid().InvalidateFooter();
}

void TGridColumnFooter::FreeSumItem()
{
    if (sumItem_ == nullptr)
        return;
    TSumItem* item = sumItem_;
    sumItem_ = nullptr;
    column_.Grid().FooterSums().Remove(item);
}

void TGridColumnFooter::EnsureSumItem()
{
    TGroupOperation operation = TGroupOperation::goCount;
    std::string name;
    switch (valueType_) {
    case TFooterValueType::fvtSum:
    case TFooterValueType::fvtAvg:
        operation = valueType_ == TFooterValueType::fvtSum ? TGroupOperation::goSum : TGroupOperation::goAvg;
        name = fieldName_.empty() ? column_.FieldName() : fieldName_;
        break;
    case TFooterValueType::fvtCount:
        break;
    default:
        FreeSumItem();
        return;
    }
    if (sumItem_ != nullptr && sumItem_->GroupOperation() == operation && sumItem_->FieldName() == name)
        return;
    TSumCollection& collection = column_.Grid().FooterSums();
    collection.BeginUpdate();
    FreeSumItem();
    sumItem_ = &collection.Add(operation, std::move(name));
    collection.EndUpdate();
}

QString TGridColumnFooter::DisplayText() const
{
    switch (valueType_) {
    case TFooterValueType::fvtStaticText:
        return value_;
    case TFooterValueType::fvtCount: {
        if (sumItem_ == nullptr)
            return QStringLiteral("0");
        const int64_t value = sumItem_->Value();
        // Whole numbers as plain digits, no separator, no decimal point.
        if (value % kSumScale == 0)
            return QString::number(value / kSumScale);
        return QString::number(static_cast<double>(value) / kSumScale, 'g', 15);
    }
    default:
        return {};
    }
}

}  // namespace vantelo
