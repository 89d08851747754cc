#include "rename/TJournalRecorder.h"

namespace vantelo {

TJournalRecorder::~TJournalRecorder() {
    if (!worker_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    handedCv_.notify_one();
    worker_.join();
}

void TJournalRecorder::Hand(Made made) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        made_ = std::move(made);
        inHand_ = true;
        busy_.store(true, std::memory_order_release);
    }
    if (!worker_.joinable())
        worker_ = std::thread([this] { Run(); });
    else
        handedCv_.notify_one();
}

void TJournalRecorder::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    writtenCv_.wait(lock, [this] { return !inHand_; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void TJournalRecorder::Settle() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    writtenCv_.wait(lock, [this] { return !inHand_; });
    error_ = nullptr;
}

void TJournalRecorder::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        handedCv_.wait(lock, [this] { return stop_ || inHand_; });
        // A group in hand is written even when the owner is going: it waits.
        if (!inHand_) return;
        Made made = std::move(made_);
        lock.unlock();
        std::exception_ptr error;
        try {
            journal_.AddMade(id_, made);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        error_ = error;
        inHand_ = false;
        busy_.store(false, std::memory_order_release);
        writtenCv_.notify_all();
    }
}

}  // namespace vantelo
