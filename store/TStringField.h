// A narrow text column: bytes in the tool's code page, at most Size() bytes
// (0: no limit). Longer text is cut to the size at a character boundary.
#pragma once

#include "store/TField.h"

namespace vantelo {

class TStringField : public TField {
public:
    explicit TStringField(std::string fieldName = {}, int size = 0)
        : TStringField(TFieldType::ftString, std::move(fieldName), size) {}

    // The text; empty when the field has no value.
    std::string AsString() const override;
    // Stores the text cut to the size; see TField::SetValue for the errors.
    void SetAsString(std::string_view text) override;

protected:
    TStringField(TFieldType type, std::string fieldName, int size) : TField(type, std::move(fieldName), size) {}
};

}  // namespace vantelo
