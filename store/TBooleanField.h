// A yes/no column holding a 16-bit value (0 False, anything else True),
// with a true text and a false text ("True", "False") for the text accessor.
#pragma once

#include "store/TField.h"

namespace vantelo {

class TBooleanField : public TField {
public:
    explicit TBooleanField(std::string fieldName = {});

    // False when the field has no value; else value != 0.
    bool AsBoolean() const override;
    // Stores 1 for true, 0 for false.
    void SetAsBoolean(bool value) override;
    // The true or false text; empty when the field has no value.
    std::string AsString() const override;
    // Empty text: False when the false text is empty, else Null when the
    // true text is not empty, else True. Otherwise the text equal (without
    // regard to case) to the false text cut to its length stores False, to
    // the true text cut likewise True; anything else raises "'%s' is not a
    // valid boolean value for field '%s'".
    void SetAsString(std::string_view text) override;

    const std::string& TrueText() const { return trueText_; }
    const std::string& FalseText() const { return falseText_; }
    void SetTexts(std::string trueText, std::string falseText);
    // The length of the longer of the two texts.
    int DisplayWidth() const override;

private:
    std::string trueText_;
    std::string falseText_;
};

}  // namespace vantelo
