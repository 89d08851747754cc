// The process's limit on open descriptors. A desktop session starts programs
// with a soft limit of 1024 under a hard one hundreds of times higher; work
// that holds many files open at once raises its own soft limit rather than
// doing that work in smaller, slower pieces.
#pragma once

#include <cstddef>

namespace vantelo {

class TOpenFileLimit {
public:
    // Raises the soft limit to `wanted`, or to the hard limit where that is
    // lower; never lowers it. Answers the soft limit in force afterwards
    // (SIZE_MAX when there is none; 1024 when it cannot be read).
    static size_t RaiseTo(size_t wanted);
};

}  // namespace vantelo
