#include "jobs/TWorkProgress.h"

namespace vantelo {

void TWorkProgress::Report(size_t done, size_t total, std::string_view current)
{
    const std::lock_guard lock(mutex_);
    latest_.done = done;
    latest_.total = total;
    latest_.current.assign(current);
    ++latest_.serial;
}

void TWorkProgress::ReportBytes(uint64_t bytesDone, uint64_t bytesTotal)
{
    const std::lock_guard lock(mutex_);
    latest_.bytesDone = bytesDone;
    latest_.bytesTotal = bytesTotal;
    ++latest_.serial;
}

void TWorkProgress::SetCancellable(bool cancellable)
{
    const std::lock_guard lock(mutex_);
    if (latest_.cancellable == cancellable)
        return;
    latest_.cancellable = cancellable;
    ++latest_.serial;
}

TWorkProgress::Snapshot TWorkProgress::Latest() const
{
    const std::lock_guard lock(mutex_);
    return latest_;
}

bool TWorkProgress::TakeIfChanged(Snapshot& into) const
{
    const std::lock_guard lock(mutex_);
    if (latest_.serial == into.serial)
        return false;
    into = latest_;
    return true;
}

}  // namespace vantelo
