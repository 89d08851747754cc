#include "store/TIntegerField.h"

#include "store/EDatabaseError.h"
#include "store/StoreTexts.h"

#include <charconv>

namespace vantelo {

int32_t TIntegerField::AsInteger() const
{
    const TValue& value = Value();
    if (const auto* number = std::get_if<int32_t>(&value))
        return *number;
    if (const auto* small = std::get_if<int16_t>(&value))
        return *small;
    return 0;
}

void TIntegerField::SetAsInteger(int32_t value)
{
    SetValue(value);
}

std::string TIntegerField::AsString() const
{
    if (IsNull())
        return {};
    return std::to_string(AsInteger());
}

void TIntegerField::SetAsString(std::string_view text)
{
    CheckWritable();
    if (text.empty()) {
        SetValue(TNull{});
        return;
    }
    int32_t number = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (*begin == '+' && text.size() > 1)
        ++begin;
    const auto [last, error] = std::from_chars(begin, end, number);
    if (error != std::errc() || last != end)
        EDatabaseError::Raise(Format(StoreTexts::kInvalidIntegerValue, std::string(text).c_str(),
                                     DisplayName().c_str()));
    SetValue(number);
}

}  // namespace vantelo
