#include "jobs/TUndoJob.h"

#include "jobs/HistoryProgress.h"

namespace vantelo {

TUndoJob::TUndoJob(std::string journalPath, TFileOps& ops) : journalPath_(std::move(journalPath)), ops_(ops) {}

std::optional<TRenameJournal::Summary> TUndoJob::Find()
{
    batch_ = journalPath_.empty() ? std::nullopt : TRenameHistory(journalPath_, ops_).LastBatch();
    return batch_;
}

void TUndoJob::Run(TWorkProgress& progress)
{
    if (!batch_)
        return;
    TRenameHistory history(journalPath_, ops_);
    result_ = history.Undo(batch_->id, HistoryProgress(progress));
}

}  // namespace vantelo
