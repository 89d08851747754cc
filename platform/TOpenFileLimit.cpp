#include "platform/TOpenFileLimit.h"

#include <algorithm>
#include <cstdint>
#include <sys/resource.h>

namespace vantelo {
namespace {

constexpr size_t kUnreadable = 1024;

size_t AsCount(rlim_t limit) { return limit == RLIM_INFINITY ? SIZE_MAX : static_cast<size_t>(limit); }

}  // namespace

size_t TOpenFileLimit::RaiseTo(size_t wanted) {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return kUnreadable;
    if (AsCount(files.rlim_cur) >= wanted) return AsCount(files.rlim_cur);
    const rlim_t raised = std::min<rlim_t>(static_cast<rlim_t>(wanted), files.rlim_max);
    if (raised <= files.rlim_cur) return AsCount(files.rlim_cur);
    rlimit asked = files;
    asked.rlim_cur = raised;
    // Refused (a sandbox may): the batch works within what it has.
    if (setrlimit(RLIMIT_NOFILE, &asked) != 0) return AsCount(files.rlim_cur);
    return AsCount(raised);
}

}  // namespace vantelo
