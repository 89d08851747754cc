#include "store/TStringField.h"

#include "platform/TCodePage.h"

namespace vantelo {

std::string TStringField::AsString() const
{
    const TValue& value = Value();
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    if (const auto* wide = std::get_if<std::u16string>(&value))
        return TCodePage::Active().ToNarrow(*wide);
    return {};
}

void TStringField::SetAsString(std::string_view text)
{
    if (Size() > 0 && text.size() > static_cast<size_t>(Size())) {
        // Cut before the character that would not fit whole.
        const TCodePage& codePage = TCodePage::Active();
        size_t end = 0;
        while (end < text.size()) {
            const size_t next = end + codePage.CharLength(text, end);
            if (next > static_cast<size_t>(Size()))
                break;
            end = next;
        }
        text = text.substr(0, end);
    }
    SetValue(std::string(text));
}

}  // namespace vantelo
