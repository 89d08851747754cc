#include "mainwin/TBatchHistory.h"

#include <exception>
#include <memory>
#include <optional>

#include "app/TApplication.h"
#include "jobs/TRecoveryJob.h"
#include "jobs/TUndoJob.h"
#include "mainwin/MainTexts.h"
#include "mainwin/ProgressTexts.h"
#include "mainwin/TBackgroundWork.h"
#include "mainwin/TJobReport.h"
#include "rename/EJournalError.h"
#include "rename/TRenameJournal.h"

namespace vantelo {

void TBatchHistory::Recover(const std::string& databasePath)
{
    const std::string journal = TRenameJournal::DefaultPath();
    if (journal.empty())
        return;
    try {
        // On a worker: a batch's folder on a mount that stopped answering
        // never keeps the window from showing.
        const auto job = std::make_shared<TRecoveryJob>(journal, databasePath, ops_);
        TBackgroundWork work(&window_, texts::kRecovering, TBackgroundWork::StopPolicy::AbandonWork);
        if (work.Run([job](TWorkProgress& progress) { job->Run(progress); }) == TBackgroundWork::Outcome::Completed)
            TJobReport::Recovery(*job);
    } catch (const EJournalError&) {
        // The reset of the list goes on.
        if (Application)
            Application->HandleUncaughtError(&window_, std::current_exception());
    }
}

void TBatchHistory::Undo()
{
    // The question comes from the batch's row alone, so it is asked at once
    // however long the batch; the undo then takes exactly the batch it named.
    TUndoJob job(TRenameJournal::DefaultPath(), ops_);
    const std::optional<TRenameJournal::Summary> last = job.Find();
    if (!last) {
        TJobReport::Tell(texts::kNothingToUndo);
        return;
    }
    if (!TJobReport::AskUndo(*last))
        return;
    TBackgroundWork work(&window_, texts::kUndoing);
    work.Run([&job](TWorkProgress& progress) { job.Run(progress); });
    // Quitting meanwhile: the window closes without a closing box.
    if (!work.CloseDeferred())
        TJobReport::Undo(job);
}

}  // namespace vantelo
