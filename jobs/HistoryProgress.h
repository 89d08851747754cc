// The journal's recovery and undo report to a worker's progress and ask it
// whether to stop: the one binding the recovery and undo jobs share.
#pragma once

#include "jobs/TWorkProgress.h"
#include "rename/TRenameHistory.h"

namespace vantelo {

inline TRenameHistory::Callbacks HistoryProgress(TWorkProgress& progress)
{
    TRenameHistory::Callbacks callbacks;
    callbacks.progress = [&progress](size_t done, size_t total) { progress.Report(done, total, {}); };
    callbacks.stopRequested = [&progress] { return progress.StopRequested(); };
    return callbacks;
}

}  // namespace vantelo
