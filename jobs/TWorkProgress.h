// What a piece of background work and the window waiting for it share: the
// work's latest progress and the request to stop. The work reports from its
// own thread as often as it likes; each report only overwrites the last one,
// and the window takes the newest at its own pace, so a fast loop of reports
// costs the window one repaint per look. No Qt: the rename and search passes
// report through plain callbacks bound to this object.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace vantelo {

class TWorkProgress {
public:
    struct Snapshot {
        size_t done = 0;
        size_t total = 0;          // 0: not known (a directory still being read)
        std::string current;       // the file being worked on, code-page bytes
        uint64_t bytesDone = 0;
        uint64_t bytesTotal = 0;   // 0: no byte count to show
        bool cancellable = true;   // false once the work can no longer turn back
        uint64_t serial = 0;       // grows with every change
    };

    // Work side: files done so far of `total`, the file now being worked on.
    void Report(size_t done, size_t total, std::string_view current);
    // Work side: bytes done of a large copy (bytesTotal 0 hides the count).
    void ReportBytes(uint64_t bytesDone, uint64_t bytesTotal);
    // Work side: whether a stop request can still be honoured. The window's
    // cancel button follows it.
    void SetCancellable(bool cancellable);

    // Either side; the work checks it between files.
    void RequestStop() noexcept { stop_.store(true, std::memory_order_relaxed); }
    bool StopRequested() const noexcept { return stop_.load(std::memory_order_relaxed); }

    // Window side: the newest state.
    Snapshot Latest() const;
    // Window side: copies the newest state into `into` and answers true when
    // it changed since `into` was taken.
    bool TakeIfChanged(Snapshot& into) const;

private:
    mutable std::mutex mutex_;
    Snapshot latest_;
    std::atomic<bool> stop_{false};
};

}  // namespace vantelo
