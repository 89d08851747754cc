// One search of a folder for the entries whose names hold a target: the
// listing, the match rule and the identity of the folder listed, with no
// table and no window. Run() lists on whatever thread calls it; the matches
// are handed over a stretch at a time while it goes on, so that a caller on
// another thread can write them meanwhile (Take, Waiting). The window runs
// it on a worker it may leave behind on a mount that stopped answering, so
// the object is shared (std::shared_ptr) between the two.
#pragma once

#include "jobs/TWorkProgress.h"
#include "platform/TFileIdentity.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantelo {

class TSearchJob {
public:
    // `directory` as the user typed it (relative to the current directory
    // when not absolute); `target` the characters to look for.
    TSearchJob(std::string directory, std::string target);
    TSearchJob(const TSearchJob&) = delete;
    TSearchJob& operator=(const TSearchJob&) = delete;

    // Called after each entry listed, with the number listed so far (tests
    // hold the listing part-way with it).
    void SetListingStep(std::function<void(size_t)> step) { listingStep_ = std::move(step); }

    // Lists the folder, reporting each entry to `progress` and stopping at
    // the next entry once a stop is asked for. A folder that cannot be
    // listed finds nothing and leaves Opened() false.
    void Run(TWorkProgress& progress);

    // True once the folder is open; Folder() and Identity() are set then.
    bool Opened() const { return opened_; }
    // The folder as it resolved (its absolute path), and its identity as its
    // own descriptor gave it, when that could be read.
    const std::string& Folder() const { return listed_; }
    const std::optional<TFileIdentity>& Identity() const { return identity_; }

    // Any thread: the matches handed over and not yet taken, in listing order.
    std::vector<std::string> Take();
    size_t Waiting() const;

    // Matches are handed over in stretches of this many.
    static constexpr size_t kHandOver = 1024;

private:
    void HandOver(std::vector<std::string>& found);

    const std::string directory_;
    const std::string target_;
    std::function<void(size_t)> listingStep_;
    std::atomic<bool> opened_{false};  // set once `listed_` and `identity_` are
    std::string listed_;
    std::optional<TFileIdentity> identity_;
    mutable std::mutex mutex_;
    std::vector<std::string> names_;
};

}  // namespace vantelo
