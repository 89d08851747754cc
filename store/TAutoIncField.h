// An auto-increment whole number column: filled in by the database, always
// read-only, so every write raises "Field '%s' cannot be modified".
#pragma once

#include "store/TIntegerField.h"

namespace vantelo {

class TAutoIncField : public TIntegerField {
public:
    explicit TAutoIncField(std::string fieldName = {}) : TIntegerField(TFieldType::ftAutoInc, std::move(fieldName))
    {
        SetReadOnly(true);
    }
};

}  // namespace vantelo
