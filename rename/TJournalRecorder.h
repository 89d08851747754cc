// Writes a batch's groups of made copies to the rename journal on a thread
// of its own. Each group is a durable commit, which waits on the disk: the
// batch builds the next copies meanwhile instead of waiting with it, and so
// can name each group soon after building it (on btrfs, a copy named long
// after it was made costs several times more to name).
//
// One group at a time: the caller names a group's copies only once Wait()
// has returned, and uses the journal itself only while no group is in hand.
#pragma once

#include "platform/TFileIdentity.h"
#include "rename/TRenameJournal.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace vantelo {

class TJournalRecorder {
public:
    using Made = std::vector<std::pair<size_t, TFileIdentity>>;

    TJournalRecorder(TRenameJournal& journal, int64_t id) : journal_(journal), id_(id) {}
    // Waits for the group in hand; its error, if any, goes unheard.
    ~TJournalRecorder();
    TJournalRecorder(const TJournalRecorder&) = delete;
    TJournalRecorder& operator=(const TJournalRecorder&) = delete;

    // Starts writing `made` (no group may be in hand). The thread starts
    // with the first group: a batch that never copies never has one.
    void Hand(Made made);
    // A group is in hand and not written yet.
    bool Busy() const { return busy_.load(std::memory_order_acquire); }
    // Waits until the group in hand is written; throws what writing it threw.
    void Wait();
    // Waits as Wait() does, but drops the group's error: for a batch that is
    // being taken back anyway.
    void Settle() noexcept;

private:
    void Run();

    TRenameJournal& journal_;
    const int64_t id_;
    std::atomic<bool> busy_{false};
    std::mutex mutex_;
    std::condition_variable handedCv_, writtenCv_;
    Made made_;                  // under mutex_
    bool inHand_ = false;        // under mutex_
    bool stop_ = false;          // under mutex_
    std::exception_ptr error_;   // under mutex_
    std::thread worker_;
};

}  // namespace vantelo
