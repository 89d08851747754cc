// A 32-bit whole number column.
#pragma once

#include "store/TNumericField.h"

namespace vantelo {

class TIntegerField : public TNumericField {
public:
    explicit TIntegerField(std::string fieldName = {}) : TIntegerField(TFieldType::ftInteger, std::move(fieldName)) {}

    // The value; 0 when the field has no value.
    int32_t AsInteger() const override;
    void SetAsInteger(int32_t value) override;
    // Decimal digits of the value; empty when the field has no value.
    std::string AsString() const override;
    // Empty text stores Null; decimal digits (optional sign) store the
    // number; anything else raises "'%s' is not a valid integer value for
    // field '%s'".
    void SetAsString(std::string_view text) override;
    int DisplayWidth() const override { return 11; }

protected:
    TIntegerField(TFieldType type, std::string fieldName) : TNumericField(type, std::move(fieldName)) {}
};

}  // namespace vantelo
