// A wide text column: UTF-16 text of at most Size() characters (UTF-16
// units; 0: no limit). The text accessor converts through the tool's code
// page; longer text is cut to the size without error, never between the two
// halves of a surrogate pair.
#pragma once

#include "store/TStringField.h"

namespace vantelo {

class TWideStringField : public TStringField {
public:
    explicit TWideStringField(std::string fieldName = {}, int size = 0)
        : TStringField(TFieldType::ftWideString, std::move(fieldName), size) {}

    // The value converted to narrow text; empty when the field has no value.
    std::string AsString() const override;
    // Converts to wide text, cuts it to the size, stores it.
    void SetAsString(std::string_view text) override;
    // The wide value; empty when the field has no value.
    std::u16string AsWideString() const;
    // Cuts to the size and stores it.
    void SetAsWideString(std::u16string text);
};

}  // namespace vantelo
