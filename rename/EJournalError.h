// The error of the rename journal: the database engine's own text for a
// journal that cannot be read or written (a locked, full or failing file).
// It reaches the application's error box like any other error of the tool.
#pragma once

#include "platform/Exception.h"

namespace vantelo {

class EJournalError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EJournalError"; }
};

}  // namespace vantelo
