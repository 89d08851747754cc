#include "jobs/TRenameJob.h"

#include <algorithm>

#include "rename/TNameRules.h"
#include "rename/TRenamePlan.h"

namespace vantelo {

TRenameJob::TRenameJob(std::string databasePath, TFileOps& ops, std::string journalPath)
    : operation_(std::move(databasePath), ops, std::move(journalPath))
{
}

void TRenameJob::SetFolder(std::string directory, std::optional<TFileIdentity> expected)
{
    directory_ = std::move(directory);
    expected_ = std::move(expected);
}

void TRenameJob::SetNames(std::deque<std::string> oldNames, std::string target, std::string replacement)
{
    oldNames_ = std::move(oldNames);
    target_ = std::move(target);
    replacement_ = std::move(replacement);
}

const TRenameJob::Refusal& TRenameJob::Check(TWorkProgress& progress)
{
    progress.Report(0, Listed(), {});
    refusal_ = {};
    if (const int error = operation_.Open(directory_, expected_ ? &*expected_ : nullptr)) {
        refusal_.error = error;
    } else {
        CheckRows();
    }
    // A journal still opening is waited for here, on the worker a stuck
    // check is left on, not by whoever ends the job.
    operation_.WaitForJournal();
    return refusal_;
}

void TRenameJob::CheckRows()
{
    operation_.ListAhead(Listed());
    operation_.Reserve(Listed());
    if (!oldNames_.empty()) {
        operation_.SetTarget(target_);
        for (; !oldNames_.empty(); oldNames_.pop_front()) {
            std::string newName = ReplaceAllIgnoreCase(oldNames_.front(), target_, replacement_);
            operation_.Add(std::move(oldNames_.front()), std::move(newName));
        }
    }
    for (auto& [oldName, newName] : given_)
        operation_.Add(std::move(oldName), std::move(newName));
    given_.clear();
    if (const TRenamePlan::Failure failure = operation_.Check())
        refusal_ = {failure.error, failure.index};
}

const TRenameOperation::Result& TRenameJob::Run(bool deleteOld, TWorkProgress& progress)
{
    if (progress.StopRequested())
        return result_;
    // Kept originals are copied: a large copy shows its bytes as well.
    uint64_t bytesTotal = 0;
    if (!deleteOld) {
        for (size_t i = 0; i < operation_.Count(); ++i)
            bytesTotal += static_cast<uint64_t>(operation_.Plan().At(i).source.size);
        if (bytesTotal < kLargeCopyBytes)
            bytesTotal = 0;
    }
    uint64_t bytesDone = 0;
    TRenameOperation::Callbacks callbacks;
    callbacks.progress = [&](size_t done, size_t total, const std::string& name, uint64_t bytes) {
        if (fileStep_)
            fileStep_(done, total);
        progress.Report(done, total, name);
        if (bytesTotal > 0) {
            progress.ReportBytes(bytesDone, bytesTotal);
            bytesDone += bytes;
        }
    };
    callbacks.stopRequested = [&progress] { return progress.StopRequested(); };
    callbacks.noTurningBack = [this, &progress] {
        pastTurningBack_ = true;
        progress.SetCancellable(false);
    };
    ran_ = true;
    result_ = operation_.Run(deleteOld, callbacks);
    return result_;
}

std::optional<size_t> TRenameJob::FailedRow() const
{
    const size_t count = operation_.Count();
    if (!ran_ || result_.outcome != TRenameOperation::Outcome::Failed || count == 0)
        return std::nullopt;
    return std::min(result_.failedRow, count - 1);
}

std::vector<size_t> TRenameJob::OldNamesGone() const
{
    std::vector<size_t> gone;
    for (size_t i = 0; i < operation_.Count(); ++i) {
        const TRenamePlan::State state = operation_.Plan().At(i).state;
        if (state == TRenamePlan::State::Renamed || state == TRenamePlan::State::Deleted)
            gone.push_back(i);
    }
    return gone;
}

}  // namespace vantelo
