// The real file system, except that the worker waits at the `at`-th step of
// one kind (a copy given its name, a rename in place) until the test releases
// it, or half a minute at most, and then fails that step with `error` (0: it
// goes on).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/TFileOps.h"

class TGatedOps : public vantelo::TFileOps {
public:
    TGatedOps(Step step, int at, int error = 0) : step_(step), at_(at), error_(error) {}
    int Fault(Step step, const std::string&) override
    {
        std::unique_lock lock(mutex_);
        if (step != step_ || ++seen_ != at_)
            return 0;
        reached_ = true;
        released_.wait_for(lock, std::chrono::seconds(30), [this] { return free_; });
        return error_;
    }
    // Whether the worker is at (or past) the gate.
    bool Reached()
    {
        const std::lock_guard lock(mutex_);
        return reached_;
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
    Step step_;
    int at_;
    int error_;
    int seen_ = 0;
    bool reached_ = false;
    bool free_ = false;
};
