// What the journal of the batch rename (TRenameJournal) makes possible after
// a batch: bringing a batch a crash interrupted to one end at start-up, and
// undoing the finished batches one by one, newest first. Only batches no
// live process owns are touched, and only files whose identity the journal
// recorded: nothing the user made or changed since is removed or renamed.
// Each step is a single guarded rename or removal (see TFileOps::RemoveIf),
// so that an undo interrupted in turn is finished at the next start.
//
// Both run without a window: a worker can drive them, reporting progress
// and asking whether to stop between files.
#pragma once

#include "platform/TFileOps.h"
#include "rename/TBatchFolder.h"
#include "rename/TRenameJournal.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantelo {

class TRenameHistory {
public:
    // `journalPath`: the rename journal, by default the user's own.
    explicit TRenameHistory(std::string journalPath = TRenameJournal::DefaultPath(),
                            TFileOps& ops = TFileOps::System());

    struct Callbacks {
        // Files done so far and the batch's total.
        std::function<void(size_t done, size_t total)> progress;
        // Asked between files; a recovery stopped leaves its batch pending.
        std::function<bool()> stopRequested;
    };

    // What the start-up did with an unfinished batch.
    struct Recovery {
        enum class Kind {
            None,          // nothing (more) was unfinished
            Undone,        // new names not all made: taken back
            Finished,      // every new name made, deletions begun: deletions finished
            UndoFinished,  // an undo was interrupted: finished
            FolderAway,    // the batch's folder cannot be opened: the batch stays pending
            Stopped,       // a stop was asked for: the batch stays pending
        };
        Kind kind = Kind::None;
        size_t files = 0;       // files taken back, deleted, or given back their old names
        size_t left = 0;        // files that could not be: the batch stays pending
        std::string folder;     // the batch's folder
        bool weakCheck = false; // files were told by name, size and time only
    };
    // Brings the oldest unfinished batch that no live process owns to one
    // end and answers what was done; call again until it answers None (a
    // batch left pending is not offered again by this object). Raises
    // EJournalError.
    Recovery RecoverOne(const Callbacks& callbacks = {});

    // Takes over the batches of the tool's database of the earlier layout
    // (see TRenameJournal::TakeOver); pass only the per-user data folder's.
    size_t TakeOver(const std::string& databasePath);

    // Drops the finished batches beyond the kept number (nothing when there
    // is no journal yet). Raises EJournalError.
    void DropOldBatches();

    // Batches found damaged so far and set aside, each to be reported once.
    std::vector<TRenameJournal::Summary> TakeSetAside();

    // The batch Ctrl+Z would undo (its folder and number of files, from the
    // journal's row alone), if there is one. Raises EJournalError.
    std::optional<TRenameJournal::Summary> LastBatch();
    std::optional<size_t> LastBatchSize();

    struct UndoResult {
        size_t undone = 0;        // files back under their old names, copies removed
        size_t changed = 0;       // files changed since the batch, left alone
        bool folderAway = false;  // the folder cannot be opened: nothing done, the batch kept
        bool stopped = false;     // stopped part-way: the rest is finished at the next start
        std::string folder;
        bool weakCheck = false;
    };
    // Undoes the batch `id` (the one a question named): a new name gets its
    // old name back only while it still holds the file the batch made,
    // untouched, and the old name is free; a copy beside a kept original is
    // removed only while untouched. Answers nothing when that batch is no
    // longer there to undo (undone meanwhile, or owned by a live process).
    // Raises EJournalError.
    std::optional<UndoResult> Undo(int64_t id, const Callbacks& callbacks = {});
    // Undoes the newest finished batch.
    std::optional<UndoResult> UndoLast();

private:
    enum class FileUndo { Undone, AlreadyUndone, Changed };
    FileUndo UndoFile(const TBatchFolder& folder, const TRenameJournal::File& file, const std::string& staging,
                      TFileIdentity& restored);
    // After an undo gave files back their old names, the batch before it
    // that made those names learns their new change times, so that its own
    // undo does not take the give-back for a change by the user.
    void UpdateEarlierBatch(const TRenameJournal::Folder& folder,
                            const std::vector<std::pair<std::string, TFileIdentity>>& restored);
    bool TakeBackUnfinished(const TBatchFolder& folder, const TRenameJournal::File& file, bool& left);
    bool FinishDeletion(const TBatchFolder& folder, TRenameJournal::File& file);
    UndoResult UndoFiles(const TBatchFolder& folder, const TRenameJournal::Batch& batch, const Callbacks& callbacks,
                         std::vector<std::pair<std::string, TFileIdentity>>* restored = nullptr);
    TRenameJournal& Journal();
    // Whether the journal exists yet: until a batch has run, nothing is made
    // just to find that there is nothing in it.
    bool JournalExists() const;

    std::string journalPath_;
    TFileOps& ops_;
    std::optional<TRenameJournal> journal_;
    std::set<int64_t> pending_;  // batches left pending by this object
};

}  // namespace vantelo
