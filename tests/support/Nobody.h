// The unprivileged user and group a test process drops to, to see what the
// tool does without root.
#pragma once

#include <grp.h>
#include <sys/types.h>
#include <unistd.h>

namespace vantelo::test {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

// Gives up root for "nobody" for good: no supplementary groups, and the real,
// effective and saved user and group all nobody's. False when refused.
inline bool BecomeNobody() {
    return setgroups(0, nullptr) == 0 && setresgid(kNoGroup, kNoGroup, kNoGroup) == 0 &&
           setresuid(kNobody, kNobody, kNobody) == 0;
}

}  // namespace vantelo::test
