// The error of an operation a control cannot carry out as asked, such as
// picking a typed file name that does not exist in a file list.
#pragma once

#include "platform/Exception.h"

namespace vantelo {

class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EInvalidOperation"; }
};

}  // namespace vantelo
