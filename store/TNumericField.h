// Base of the number columns: right-aligned by default.
#pragma once

#include "store/TField.h"

namespace vantelo {

class TNumericField : public TField {
protected:
    TNumericField(TFieldType type, std::string fieldName) : TField(type, std::move(fieldName), 0)
    {
        SetAlignment(TAlignment::Right);
    }
};

}  // namespace vantelo
