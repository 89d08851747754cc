#include "store/TField.h"

#include "platform/TAsciiCase.h"
#include "platform/TCodePage.h"
#include "store/EDatabaseError.h"
#include "store/StoreTexts.h"
#include "store/TDataSet.h"

namespace vantelo {

namespace {

const TValue kNoValue{TNull{}};

}  // namespace

bool SameText(std::string_view a, std::string_view b)
{
    // Upper-casing keeps the byte length, so texts of other lengths differ.
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) == AsciiUpper(b[i]))
            continue;
        if (static_cast<unsigned char>(a[i]) < 0x80 && static_cast<unsigned char>(b[i]) < 0x80)
            return false;
        const TCodePage& codePage = TCodePage::Active();
        return codePage.UpperCase(a) == codePage.UpperCase(b);
    }
    return true;
}

TField::TField(TFieldType type, std::string fieldName, int size)
    : fieldName_(std::move(fieldName)), dataType_(type), size_(size)
{
}

TField::~TField() = default;

const TValue& TField::Value() const
{
    if (dataSet_ == nullptr)
        return kNoValue;
    return dataSet_->FieldValue(*this);
}

void TField::SetValue(TValue value)
{
    if (dataSet_ == nullptr)
        EDatabaseError::Raise(Format(StoreTexts::kFieldNoDataSet, DisplayName().c_str()));
    dataSet_->SetFieldValue(*this, std::move(value));
}

void TField::CheckWritable() const
{
    if (dataSet_ == nullptr)
        EDatabaseError::Raise(Format(StoreTexts::kFieldNoDataSet, DisplayName().c_str()));
    dataSet_->CheckFieldWritable(*this);
}

void TField::AccessError(const char* typeWord) const
{
    EDatabaseError::Raise(Format(StoreTexts::kFieldAccess, DisplayName().c_str(), typeWord));
}

bool TField::AsBoolean() const
{
    AccessError(StoreTexts::kTypeBoolean);
}

void TField::SetAsBoolean(bool)
{
    AccessError(StoreTexts::kTypeBoolean);
}

std::string TField::AsString() const
{
    AccessError(StoreTexts::kTypeString);
}

void TField::SetAsString(std::string_view)
{
    AccessError(StoreTexts::kTypeString);
}

int32_t TField::AsInteger() const
{
    AccessError(StoreTexts::kTypeInteger);
}

void TField::SetAsInteger(int32_t)
{
    AccessError(StoreTexts::kTypeInteger);
}

}  // namespace vantelo
