#include "store/TWideStringField.h"

#include "platform/TCodePage.h"

namespace vantelo {

namespace {

bool IsHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::string TWideStringField::AsString() const
{
    const TValue& value = Value();
    if (const auto* wide = std::get_if<std::u16string>(&value))
        return TCodePage::Active().ToNarrow(*wide);
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    return {};
}

void TWideStringField::SetAsString(std::string_view text)
{
    SetAsWideString(TCodePage::Active().ToWide(text));
}

std::u16string TWideStringField::AsWideString() const
{
    const TValue& value = Value();
    if (const auto* wide = std::get_if<std::u16string>(&value))
        return *wide;
    if (const auto* text = std::get_if<std::string>(&value))
        return TCodePage::Active().ToWide(*text);
    return {};
}

void TWideStringField::SetAsWideString(std::u16string text)
{
    const size_t size = static_cast<size_t>(Size());
    if (size > 0 && text.size() > size) {
        size_t end = size;
        if (IsHighSurrogate(text[end - 1]) && IsLowSurrogate(text[end]))
            --end;
        text.resize(end);
    }
    SetValue(std::move(text));
}

}  // namespace vantelo
