#include "store/TBooleanField.h"

#include "store/EDatabaseError.h"
#include "store/StoreTexts.h"

#include <algorithm>

namespace vantelo {

TBooleanField::TBooleanField(std::string fieldName)
    : TField(TFieldType::ftBoolean, std::move(fieldName), 0),
      trueText_(StoreTexts::kTrueText),
      falseText_(StoreTexts::kFalseText)
{
}

bool TBooleanField::AsBoolean() const
{
    const TValue& value = Value();
    if (const auto* flag = std::get_if<int16_t>(&value))
        return *flag != 0;
    if (const auto* number = std::get_if<int32_t>(&value))
        return *number != 0;
    return false;
}

void TBooleanField::SetAsBoolean(bool value)
{
    SetValue(static_cast<int16_t>(value ? 1 : 0));
}

std::string TBooleanField::AsString() const
{
    if (IsNull())
        return {};
    return AsBoolean() ? trueText_ : falseText_;
}

void TBooleanField::SetAsString(std::string_view text)
{
    if (text.empty()) {
        if (falseText_.empty())
            SetAsBoolean(false);
        else if (!trueText_.empty())
            SetValue(TNull{});
        else
            SetAsBoolean(true);
        return;
    }
    const auto cut = [&](const std::string& word) {
        return std::string_view(word).substr(0, text.size());
    };
    if (SameText(text, cut(falseText_))) {
        SetAsBoolean(false);
    } else if (SameText(text, cut(trueText_))) {
        SetAsBoolean(true);
    } else {
        EDatabaseError::Raise(Format(StoreTexts::kInvalidBoolValue, std::string(text).c_str(),
                                     DisplayName().c_str()));
    }
}

void TBooleanField::SetTexts(std::string trueText, std::string falseText)
{
    trueText_ = std::move(trueText);
    falseText_ = std::move(falseText);
}

int TBooleanField::DisplayWidth() const
{
    return static_cast<int>(std::max(trueText_.size(), falseText_.size()));
}

}  // namespace vantelo
