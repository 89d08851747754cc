// The journaled batch: the phases of the rename and what the journal says
// at each of them.
#include "rename/TRenameOperation.h"

#include "rename/EJournalError.h"

#include <algorithm>
#include <cerrno>

namespace vantelo {

TRenameOperation::TRenameOperation(std::string databasePath, TFileOps& ops)
    : databasePath_(std::move(databasePath)), plan_(ops) {}

int TRenameOperation::Open(const std::string& directory, const TFileIdentity* expected) {
    return plan_.Open(directory, databasePath_, expected);
}

std::string TRenameOperation::StagingName(int64_t batchId, size_t index) {
    return ".vantelo-" + std::to_string(batchId) + "-" + std::to_string(index) + ".part";
}

TRenameJournal::PackedSlices TRenameOperation::PackedFiles(bool madeIsSource) const {
    return [this, madeIsSource, next = size_t{0}, started = false](std::string& slice) mutable {
        slice.clear();
        if (started && next >= plan_.Count()) return false;
        if (!started) {
            slice = TRenameJournal::PackStart();
            started = true;
        }
        for (; next < plan_.Count() && slice.size() < TRenameJournal::kSliceBytes; ++next) {
            const TRenamePlan::Row& row = plan_.At(next);
            TRenameJournal::PackFile(slice, row.oldName, row.newName, row.source, madeIsSource ? row.source : row.made);
        }
        return true;
    };
}

TRenameOperation::Result TRenameOperation::Fail(TRenameJournal& journal, int64_t id, size_t row, int error,
                                                Outcome outcome) {
    plan_.RollBack();
    // A batch that left nothing behind leaves no history; one whose new
    // files could not all be taken back stays in the journal, and the next
    // start takes back the rest.
    if (plan_.MadeCount() == 0) {
        try {
            journal.Forget(id);
        } catch (const EJournalError&) {
            // Left in phase Making: the next start finds nothing to undo.
        }
    }
    Result result;
    result.outcome = outcome;
    result.error = error;
    result.failedRow = row;
    return result;
}

TRenameOperation::Result TRenameOperation::Run(bool deleteOld, const Callbacks& callbacks) {
    const size_t total = plan_.Count();
    if (total == 0) return {};
    TRenameJournal journal(databasePath_);
    // On disk before the first file operation. A file renamed in place is
    // its own new file: when every file is, the journal needs no second
    // copy of the list once the batch is done.
    const int64_t id = journal.Begin(plan_.Directory(), plan_.DirectoryIdentity(), deleteOld, total,
                                     PackedFiles(/*madeIsSource=*/deleteOld));

    // Pass one: every new name. Kept old files make copies, which a stop
    // takes back; old files that go are renamed in place, past turning back.
    try {
        if (deleteOld && callbacks.noTurningBack) callbacks.noTurningBack();
        for (size_t i = 0; i < total; ++i) {
            if (!deleteOld && callbacks.stopRequested && callbacks.stopRequested())
                return Fail(journal, id, i, ECANCELED, Outcome::Stopped);
            if (callbacks.progress)
                callbacks.progress(i, total, plan_.OldName(i), static_cast<uint64_t>(plan_.At(i).source.size));
            if (const int error = plan_.MakeNew(i, !deleteOld, StagingName(id, i)))
                return Fail(journal, id, i, error, Outcome::Failed);
        }
    } catch (...) {
        // An error from a caller's callback: nothing is deleted yet, so the
        // batch is taken back before the error goes on.
        Fail(journal, id, 0, 0, Outcome::Failed);
        throw;
    }

    Result result;
    bool deleting = false;
    try {
        bool identitiesChanged = !deleteOld;
        if (deleteOld) {
            // Renames, links and copies on disk before any old file goes, and
            // before the journal calls the batch finished.
            if (const int error = plan_.FlushForDelete()) return Fail(journal, id, total, error, Outcome::Failed);
            std::vector<size_t> toDelete;
            for (size_t i = 0; i < total; ++i) {
                const TRenamePlan::Row& row = plan_.At(i);
                if (row.state == TRenamePlan::State::Copied) toDelete.push_back(i);
                if (!row.made.SameState(row.source)) identitiesChanged = true;
            }
            if (!toDelete.empty()) {
                journal.SetPhase(id, TRenameJournal::Phase::Deleting, PackedFiles(false));
                deleting = true;
                identitiesChanged = false;
                for (const size_t i : toDelete) {
                    if (callbacks.progress)
                        callbacks.progress(i, total, plan_.OldName(i), 0);
                    if (const int error = plan_.DeleteOld(i)) {
                        ++result.oldKept;
                        if (std::find(result.oldKeptErrors.begin(), result.oldKeptErrors.end(), error) ==
                            result.oldKeptErrors.end())
                            result.oldKeptErrors.push_back(error);
                    }
                }
            }
        }
        if (identitiesChanged) {
            journal.SetPhase(id, TRenameJournal::Phase::Done, PackedFiles(false));
        } else {
            journal.SetPhase(id, TRenameJournal::Phase::Done);
        }
    } catch (const EJournalError&) {
        // Before any deletion the batch is taken back, as for a failed file;
        // after, the next start finishes it.
        if (!deleting) Fail(journal, id, total, 0, Outcome::Failed);
        throw;
    }
    if (callbacks.progress) callbacks.progress(total, total, std::string(), 0);
    return result;
}

}  // namespace vantelo
