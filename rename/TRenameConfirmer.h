// Looks at the files renamed in place on a thread of its own, a little
// behind the renames: each look (one lstat) then costs the batch nothing
// while the kernel renames the next file. Rows are handed over in order
// from the first; the plan's rows handed over belong to this thread until
// Drain() returns, the others to the caller's thread.
#pragma once

#include "rename/TRenamePlan.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace vantelo {

class TRenameConfirmer {
public:
    explicit TRenameConfirmer(TRenamePlan& plan);
    // Looks at every row handed over first.
    ~TRenameConfirmer();
    TRenameConfirmer(const TRenameConfirmer&) = delete;
    TRenameConfirmer& operator=(const TRenameConfirmer&) = delete;

    // The next row (the first not handed over yet) was renamed.
    void HandNext();
    // A look failed: the caller stops renaming and drains.
    bool Failed() const { return failed_.load(std::memory_order_acquire); }
    // Waits until every row handed over was looked at; answers the first
    // row whose look failed (its file renamed back), if any.
    TRenamePlan::Failure Drain();

private:
    // The thread is woken a stretch of rows at a time, not once a file.
    static constexpr size_t kStretch = 64;

    void Wake();
    void Run();

    TRenamePlan& plan_;
    std::atomic<size_t> handed_{0};
    std::atomic<bool> failed_{false};
    std::mutex mutex_;
    std::condition_variable handedCv_, confirmedCv_;
    size_t confirmed_ = 0;          // under mutex_
    TRenamePlan::Failure failure_;  // under mutex_
    bool stop_ = false;             // under mutex_
    std::thread worker_;
};

}  // namespace vantelo
