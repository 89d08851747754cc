// The boundary around every handler of ours (slots, event overrides): an error
// that escapes the handler is caught here, before it could unwind through the
// toolkit's own frames, and handed to the application object, which shows it.
// The handler is abandoned where it stood; what it changed stays changed.
#pragma once

#include <exception>
#include <utility>

#include "app/TApplication.h"

namespace vantelo {

template <class F>
void Guarded(QObject* sender, F&& handler) noexcept
{
    try {
        std::forward<F>(handler)();
    } catch (...) {
        if (Application)
            Application->HandleUncaughtError(sender, std::current_exception());
    }
}

}  // namespace vantelo
