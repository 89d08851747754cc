// Ctrl+Z: the newest finished batch, named from its journal row alone (so
// the question is asked at once however long the batch), then undone on a
// worker, exactly the batch the question named. No window.
#pragma once

#include "jobs/TWorkProgress.h"
#include "platform/TFileOps.h"
#include "rename/TRenameHistory.h"
#include "rename/TRenameJournal.h"

#include <optional>
#include <string>

namespace vantelo {

class TUndoJob {
public:
    // `journalPath`: the rename journal, by default the user's own.
    explicit TUndoJob(std::string journalPath = TRenameJournal::DefaultPath(), TFileOps& ops = TFileOps::System());

    // The batch Ctrl+Z would undo (its folder and number of files), or
    // nothing when there is none. Raises EJournalError.
    std::optional<TRenameJournal::Summary> Find();
    // Undoes the batch Find() named, stopping between files when asked (the
    // rest is finished at the next start). Nothing without a batch found.
    // Raises EJournalError.
    void Run(TWorkProgress& progress);
    // What the undo did; nothing when the batch was no longer there to undo.
    const std::optional<TRenameHistory::UndoResult>& Result() const { return result_; }

private:
    std::string journalPath_;
    TFileOps& ops_;
    std::optional<TRenameJournal::Summary> batch_;
    std::optional<TRenameHistory::UndoResult> result_;
};

}  // namespace vantelo
