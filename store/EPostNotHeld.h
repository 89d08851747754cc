// Raised by a post that would have to take the database's write lock while
// its connection holds posts back without it (TADOConnection::
// SetHoldWithoutLock): nothing was written or changed, and the caller makes
// the post again once the lock may be taken. Never shown: the caller that
// asked for the mode catches it.
#pragma once

#include "platform/Exception.h"

namespace vantelo {

class EPostNotHeld : public Exception {
public:
    EPostNotHeld() : Exception("post not held") {}
    const char* ClassName() const noexcept override { return "EPostNotHeld"; }
};

}  // namespace vantelo
