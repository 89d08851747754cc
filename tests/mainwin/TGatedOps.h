// Gates that hold a handler's worker part-way until the test releases it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/TFileOps.h"

// Holds the worker at its `at`-th call of Pass until the test releases it,
// or half a minute at most.
class TGate {
public:
    explicit TGate(int at) : at_(at) {}
    // Counts one call; answers true for the `at`-th, once it was let go.
    bool Pass()
    {
        std::unique_lock lock(mutex_);
        if (++seen_ != at_)
            return false;
        reached_ = true;
        released_.wait_for(lock, std::chrono::seconds(30), [this] { return free_; });
        return true;
    }
    // Whether the worker is at (or past) the gate.
    bool Reached()
    {
        const std::lock_guard lock(mutex_);
        return reached_;
    }
    bool Released()
    {
        const std::lock_guard lock(mutex_);
        return free_;
    }
    void Release()
    {
        const std::lock_guard lock(mutex_);
        free_ = true;
        released_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    int at_;
    int seen_ = 0;
    bool reached_ = false;
    bool free_ = false;
};

// The real file system, except that the worker waits at the `at`-th step of
// one kind (a copy given its name, a rename in place) until the test releases
// it, and then fails that step with `error` (0: it goes on).
class TGatedOps : public vantelo::TFileOps {
public:
    TGatedOps(Step step, int at, int error = 0) : gate_(at), step_(step), error_(error) {}
    int Fault(Step step, const std::string&) override { return step == step_ && gate_.Pass() ? error_ : 0; }
    bool Reached() { return gate_.Reached(); }
    void Release() { gate_.Release(); }

private:
    TGate gate_;
    Step step_;
    int error_;
};
