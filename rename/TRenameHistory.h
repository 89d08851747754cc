// What the journal of the batch rename (TRenameJournal) makes possible after
// a batch: bringing a batch a crash interrupted to one end at start-up, and
// undoing the finished batches one by one, newest first. Every step is
// checked against the identities the journal kept, so that nothing the user
// changed since is touched, and each step is a single rename or removal, so
// that an undo interrupted in turn is finished at the next start.
#pragma once

#include "platform/TFd.h"
#include "platform/TFileOps.h"
#include "rename/TRenameJournal.h"

#include <optional>
#include <string>

namespace vantelo {

class TRenameHistory {
public:
    // `databasePath`: the tool's database, which holds the journal.
    explicit TRenameHistory(std::string databasePath, TFileOps& ops = TFileOps::System());

    // What the start-up did with an unfinished batch.
    struct Recovery {
        enum class Kind {
            None,          // nothing was unfinished
            Undone,        // new names not all made: taken back
            Finished,      // every new name made, deletions begun: deletions finished
            UndoFinished,  // an undo was interrupted: finished
        };
        Kind kind = Kind::None;
        size_t files = 0;  // files taken back, deleted, or given back their old names
    };
    // Brings the oldest unfinished batch to one end and answers what was
    // done; call again until it answers None. Raises EJournalError.
    Recovery RecoverOne();

    // The number of files of the batch Ctrl+Z would undo, if there is one.
    // Raises EJournalError.
    std::optional<size_t> LastBatchSize();

    struct UndoResult {
        size_t undone = 0;   // files back under their old names, copies removed
        size_t changed = 0;  // files changed since the batch, left alone
    };
    // Undoes the newest finished batch: a new name gets its old name back
    // only while it still holds the file the batch made and the old name is
    // free; a copy beside a kept original is removed only while unchanged.
    // Answers nothing when there is no batch to undo. Raises EJournalError.
    std::optional<UndoResult> UndoLast();

private:
    enum class FileUndo { Undone, AlreadyUndone, Changed };
    FileUndo UndoFile(int dirFd, const TRenameJournal::File& file);
    bool TakeBackUnfinished(int dirFd, const TRenameJournal::File& file);
    bool FinishDeletion(int dirFd, const TRenameJournal::File& file);
    UndoResult UndoFiles(int dirFd, const TRenameJournal::Batch& batch);
    // Opens the batch's directory; the descriptor is -1 when it is gone or is
    // another folder now.
    static TFd OpenDirectory(const TRenameJournal::Batch& batch);
    TRenameJournal& Journal();

    std::string databasePath_;
    TFileOps& ops_;
    std::optional<TRenameJournal> journal_;
};

}  // namespace vantelo
