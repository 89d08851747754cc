#include "rename/TRenameConfirmer.h"

namespace vantelo {

TRenameConfirmer::TRenameConfirmer(TRenamePlan& plan) : plan_(plan), worker_([this] { Run(); }) {}

TRenameConfirmer::~TRenameConfirmer() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    handedCv_.notify_one();
    worker_.join();
}

void TRenameConfirmer::HandNext() {
    const size_t handed = handed_.load(std::memory_order_relaxed) + 1;
    handed_.store(handed, std::memory_order_release);
    if (handed % kStretch == 0) Wake();
}

TRenamePlan::Failure TRenameConfirmer::Drain() {
    Wake();
    std::unique_lock<std::mutex> lock(mutex_);
    confirmedCv_.wait(lock, [this] { return confirmed_ == handed_.load(std::memory_order_relaxed); });
    return failure_;
}

void TRenameConfirmer::Wake() {
    // Taken and let go, so that a thread about to wait sees the rows first.
    { const std::lock_guard<std::mutex> lock(mutex_); }
    handedCv_.notify_one();
}

void TRenameConfirmer::Run() {
    size_t seen = 0;
    for (;;) {
        const size_t handed = handed_.load(std::memory_order_acquire);
        TRenamePlan::Failure failure;
        for (; seen < handed; ++seen) {
            if (const int error = plan_.ConfirmRenamed(seen); error && !failure) failure = {seen, error};
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (failure && !failure_) {
            failure_ = failure;
            failed_.store(true, std::memory_order_release);
        }
        confirmed_ = seen;
        confirmedCv_.notify_all();
        handedCv_.wait(lock, [&] { return stop_ || handed_.load(std::memory_order_acquire) != seen; });
        if (stop_ && handed_.load(std::memory_order_acquire) == seen) return;
    }
}

}  // namespace vantelo
