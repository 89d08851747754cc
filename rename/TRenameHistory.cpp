// Recovery and undo over the journal of the batch rename.
#include "rename/TRenameHistory.h"

#include "rename/TRenameOperation.h"

#include <cerrno>
#include <optional>
#include <unordered_map>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantelo {
namespace {

// A symbolic link's target text, or nothing.
std::optional<std::string> LinkTarget(int dirFd, const std::string& name) {
    std::string target(4096, '\0');
    const ssize_t length = readlinkat(dirFd, name.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<size_t>(length));
    return target;
}

}  // namespace

TRenameHistory::TRenameHistory(std::string journalPath, TFileOps& ops)
    : journalPath_(std::move(journalPath)), ops_(ops) {}

// The journal is opened at the first question asked of it.
TRenameJournal& TRenameHistory::Journal() {
    if (!journal_) journal_.emplace(journalPath_);
    return *journal_;
}

// Making: the new names were being made and nothing was deleted. A new name
// that is the old file itself (renamed in place, or a hard link) or a copy
// the journal recorded, beside its intact original, is taken back. `left`
// tells that the new name holds the batch's file but could not be taken back.
bool TRenameHistory::TakeBackUnfinished(const TBatchFolder& folder, const TRenameJournal::File& file, bool& left) {
    left = false;
    struct stat newSt, oldSt;
    if (ops_.StatAt(folder.Fd(), file.newName, newSt) != 0) return false;
    const bool oldThere = ops_.StatAt(folder.Fd(), file.oldName, oldSt) == 0;
    int error = ESTALE;
    if (folder.SameFile(newSt, file.source) && folder.GetStrength() != TBatchFolder::Strength::Weak) {
        const TFileIdentity source = file.source;
        if (!oldThere) {
            TFileIdentity back;
            error = ops_.RenameIf(folder.Fd(), file.newName, file.oldName,
                                  [&](const struct stat& st) { return folder.SameFile(st, source); }, back);
        } else if (folder.SameFile(oldSt, file.source) && oldSt.st_nlink >= 2) {
            // Both names on the old file: the new one is a link of ours.
            error = ops_.RemoveIf(folder.Fd(), file.newName, [&](const struct stat& st) {
                return folder.SameFile(st, source) && st.st_nlink >= 2;
            });
        } else {
            return false;
        }
    } else if (folder.GetStrength() == TBatchFolder::Strength::Weak && !oldThere &&
               folder.SameState(newSt, file.source) && file.made.SameState(file.source)) {
        // Renamed in place, told by name, size and time.
        TFileIdentity back;
        const TFileIdentity source = file.source;
        error = ops_.RenameIf(folder.Fd(), file.newName, file.oldName,
                              [&](const struct stat& st) { return folder.SameState(st, source); }, back);
    } else if (S_ISLNK(newSt.st_mode) && oldThere && S_ISLNK(oldSt.st_mode) && folder.SameState(oldSt, file.source) &&
               LinkTarget(folder.Fd(), file.newName) && LinkTarget(folder.Fd(), file.newName) == LinkTarget(folder.Fd(), file.oldName)) {
        // A copied symbolic link holds nothing but its target: one beside an
        // intact original with the same target loses nothing when it goes.
        error = ops_.RemoveIf(folder.Fd(), file.newName, [](const struct stat& st) { return S_ISLNK(st.st_mode); });
    } else if (file.made.Known() && !file.made.SameFile(file.source) && folder.SameState(newSt, file.made) &&
               oldThere && folder.SameState(oldSt, file.source)) {
        // A copy the batch recorded before it got its name, beside its
        // intact original; born when the copy was, not a later file that
        // was given the same inode number.
        TFileIdentity found = TFileIdentity::Of(newSt);
        found.AddBirth(folder.Fd(), file.newName.c_str());
        if (!found.SameBirth(file.made)) return false;
        const TFileIdentity made = file.made;
        error = ops_.RemoveIf(folder.Fd(), file.newName, [&](const struct stat& st) { return folder.SameState(st, made); });
    } else {
        return false;
    }
    if (error == 0) return true;
    left = error != ESTALE && error != ENOENT;
    return false;
}

// Deleting: every new name was made and on disk; an old file still there,
// unchanged, beside its unchanged new name, goes.
bool TRenameHistory::FinishDeletion(const TBatchFolder& folder, TRenameJournal::File& file) {
    struct stat newSt, oldSt;
    if (ops_.StatAt(folder.Fd(), file.oldName, oldSt) != 0 || ops_.StatAt(folder.Fd(), file.newName, newSt) != 0)
        return false;
    if (!folder.SameState(oldSt, file.source) || !folder.SameState(newSt, file.made)) return false;
    const TFileIdentity source = file.source;
    const TFileIdentity made = file.made;
    const bool sameFile = folder.GetStrength() != TBatchFolder::Strength::Weak && folder.SameFile(oldSt, made);
    // One file under both names must count both, or they are one entry.
    if (sameFile && oldSt.st_nlink < 2) return false;
    if (ops_.RemoveIf(folder.Fd(), file.oldName, [&](const struct stat& st) {
            return folder.SameState(st, source) && (!sameFile || st.st_nlink >= 2);
        }) != 0)
        return false;
    if (ops_.StatAt(folder.Fd(), file.newName, newSt) == 0 && folder.SameFile(newSt, made))
        file.made = TFileIdentity::Of(newSt);
    return true;
}

TRenameHistory::FileUndo TRenameHistory::UndoFile(const TBatchFolder& folder, const TRenameJournal::File& file,
                                                  const std::string& staging, TFileIdentity& restored) {
    restored = {};
    struct stat newSt, oldSt;
    const bool oldThere = ops_.StatAt(folder.Fd(), file.oldName, oldSt) == 0;
    if (ops_.StatAt(folder.Fd(), file.newName, newSt) != 0) {
        // Already back (an undo interrupted after this file), or gone.
        const bool back = oldThere && (folder.SameState(oldSt, file.made) || folder.SameState(oldSt, file.source));
        return back ? FileUndo::AlreadyUndone : FileUndo::Changed;
    }
    if (!folder.Untouched(newSt, file.made)) return FileUndo::Changed;
    const TFileIdentity made = file.made;
    const TFileOps::Check untouched = [&](const struct stat& st) { return folder.Untouched(st, made); };
    if (!oldThere) {
        // Renamed back with the batch's own fallbacks: a link, or a flushed
        // copy, where the file system will not rename without replacing.
        return ops_.RenameIf(folder.Fd(), file.newName, file.oldName, untouched, restored, staging) == 0
                   ? FileUndo::Undone
                   : FileUndo::Changed;
    }
    const bool weak = folder.GetStrength() == TBatchFolder::Strength::Weak;
    const bool linkOfOurs = !weak && folder.SameFile(oldSt, file.made) && oldSt.st_nlink >= 2;
    const bool intactOriginal = (weak || !folder.SameFile(oldSt, file.made)) && folder.SameState(oldSt, file.source) &&
                                !file.made.SameFile(file.source);
    if ((linkOfOurs || intactOriginal) && ops_.RemoveIf(folder.Fd(), file.newName, untouched) == 0)
        return FileUndo::Undone;
    return FileUndo::Changed;
}

TRenameHistory::UndoResult TRenameHistory::UndoFiles(const TBatchFolder& folder, const TRenameJournal::Batch& batch,
                                                     const Callbacks& callbacks,
                                                     std::vector<std::pair<std::string, TFileIdentity>>* restored) {
    UndoResult result;
    result.folder = batch.folder.path;
    result.weakCheck = folder.GetStrength() == TBatchFolder::Strength::Weak;
    const size_t total = batch.files.size();
    for (size_t i = total; i-- > 0;) {
        if (callbacks.stopRequested && callbacks.stopRequested()) {
            result.stopped = true;
            break;
        }
        if (callbacks.progress) callbacks.progress(total - 1 - i, total);
        TFileIdentity back;
        const FileUndo done = UndoFile(folder, batch.files[i], TRenameOperation::StagingName(batch.token, i), back);
        if (restored && back.Known()) restored->emplace_back(batch.files[i].oldName, back);
        if (done == FileUndo::Changed)
            ++result.changed;
        else
            ++result.undone;
    }
    ops_.SyncDir(folder.Fd());
    return result;
}

void TRenameHistory::DropOldBatches() {
    if (JournalExists()) Journal().DropOldBatches();
}

bool TRenameHistory::JournalExists() const {
    struct stat st;
    return journal_ || ::lstat(journalPath_.c_str(), &st) == 0;
}

size_t TRenameHistory::TakeOver(const std::string& databasePath) {
    if (!JournalExists() && !TRenameJournal::HoldsEarlierLayout(databasePath)) return 0;
    return Journal().TakeOver(databasePath);
}

TRenameHistory::Recovery TRenameHistory::RecoverOne(const Callbacks& callbacks) {
    if (!JournalExists()) return {};
    std::optional<TRenameJournal::Batch> batch = Journal().ClaimUnfinished(pending_);
    if (!batch) return {};
    TRenameJournal& journal = *journal_;
    Recovery recovery;
    recovery.folder = batch->folder.path;
    TBatchFolder folder;
    if (folder.Open(batch->folder) != 0) {
        // A stick not plugged in, a mount not there: tried again next time.
        recovery.kind = Recovery::Kind::FolderAway;
        pending_.insert(batch->id);
        journal.Release(batch->id);
        return recovery;
    }
    recovery.weakCheck = folder.GetStrength() == TBatchFolder::Strength::Weak;
    const size_t total = batch->files.size();
    const auto stopHere = [&] {
        if (!callbacks.stopRequested || !callbacks.stopRequested()) return false;
        ops_.SyncDir(folder.Fd());
        recovery.kind = Recovery::Kind::Stopped;
        pending_.insert(batch->id);
        journal.Release(batch->id);
        return true;
    };
    switch (batch->phase) {
    case TRenameJournal::Phase::Making:
        recovery.kind = Recovery::Kind::Undone;
        for (size_t i = total; i-- > 0;) {
            if (stopHere()) return recovery;
            if (callbacks.progress) callbacks.progress(total - 1 - i, total);
            // A copy that was being built under its staging name: the name
            // carries the batch's random token, so it is the batch's own.
            const std::string staging = TRenameOperation::StagingName(batch->token, i);
            ops_.RemoveIf(folder.Fd(), staging, [](const struct stat& st) { return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode); });
            bool left = false;
            if (TakeBackUnfinished(folder, batch->files[i], left)) ++recovery.files;
            if (left) ++recovery.left;
        }
        if (ops_.SyncDir(folder.Fd()) != 0 && recovery.left == 0) recovery.left = 1;
        if (recovery.left == 0) {
            journal.Forget(batch->id);
        } else {
            pending_.insert(batch->id);
            journal.Release(batch->id);
        }
        break;
    case TRenameJournal::Phase::Deleting:
        recovery.kind = Recovery::Kind::Finished;
        for (size_t i = 0; i < total; ++i) {
            if (stopHere()) return recovery;
            if (callbacks.progress) callbacks.progress(i, total);
            TRenameJournal::File& file = batch->files[i];
            if (file.made.Known() && FinishDeletion(folder, file))
                ++recovery.files;
        }
        ops_.SyncDir(folder.Fd());
        journal.SetPhase(batch->id, TRenameJournal::Phase::Deleting, TRenameJournal::Phase::Done,
                         TRenameJournal::SlicesOf(batch->files));
        journal.Release(batch->id);
        break;
    default: {
        recovery.kind = Recovery::Kind::UndoFinished;
        // Files the interrupted undo already gave back count as well: the
        // user is told about the undo as a whole.
        const UndoResult undone = UndoFiles(folder, *batch, callbacks);
        recovery.files = undone.undone;
        if (undone.stopped) {
            recovery.kind = Recovery::Kind::Stopped;
            pending_.insert(batch->id);
            journal.Release(batch->id);
        } else {
            journal.Forget(batch->id);
        }
        break;
    }
    }
    return recovery;
}

std::vector<TRenameJournal::Summary> TRenameHistory::TakeSetAside() {
    return journal_ ? journal_->TakeSetAside() : std::vector<TRenameJournal::Summary>{};
}

std::optional<TRenameJournal::Summary> TRenameHistory::LastBatch() {
    if (!JournalExists()) return std::nullopt;
    return Journal().LastDone();
}

std::optional<size_t> TRenameHistory::LastBatchSize() {
    const std::optional<TRenameJournal::Summary> batch = LastBatch();
    if (!batch) return std::nullopt;
    return batch->fileCount;
}

std::optional<TRenameHistory::UndoResult> TRenameHistory::Undo(int64_t id, const Callbacks& callbacks) {
    if (!JournalExists()) return std::nullopt;
    std::optional<TRenameJournal::Batch> batch = Journal().Claim(id, TRenameJournal::Phase::Done);
    if (!batch) return std::nullopt;
    TRenameJournal& journal = *journal_;
    TBatchFolder folder;
    if (folder.Open(batch->folder) != 0) {
        // The folder is away: the batch is kept, to be undone once it is back.
        journal.Release(batch->id);
        UndoResult result;
        result.folderAway = true;
        result.folder = batch->folder.path;
        return result;
    }
    journal.SetPhase(batch->id, TRenameJournal::Phase::Done, TRenameJournal::Phase::Undoing);
    std::vector<std::pair<std::string, TFileIdentity>> restored;
    const UndoResult result = UndoFiles(folder, *batch, callbacks, &restored);
    if (result.stopped) {
        journal.Release(batch->id);
    } else {
        journal.Forget(batch->id);
        UpdateEarlierBatch(batch->folder, restored);
    }
    return result;
}

void TRenameHistory::UpdateEarlierBatch(const TRenameJournal::Folder& folder,
                                        const std::vector<std::pair<std::string, TFileIdentity>>& restored) {
    if (restored.empty()) return;
    const std::optional<TRenameJournal::Summary> earlier = journal_->LastDone();
    if (!earlier || earlier->directory != folder.path) return;
    std::optional<TRenameJournal::Batch> batch = journal_->Claim(earlier->id, TRenameJournal::Phase::Done);
    if (!batch) return;
    std::unordered_map<std::string, TFileIdentity> byName(restored.begin(), restored.end());
    bool changed = false;
    for (TRenameJournal::File& file : batch->files) {
        const auto found = byName.find(file.newName);
        if (found != byName.end() && found->second.SameState(file.made)) {
            file.made = found->second;
            changed = true;
        }
    }
    if (changed)
        journal_->SetPhase(batch->id, TRenameJournal::Phase::Done, TRenameJournal::Phase::Done,
                           TRenameJournal::SlicesOf(batch->files));
    journal_->Release(batch->id);
}

std::optional<TRenameHistory::UndoResult> TRenameHistory::UndoLast() {
    const std::optional<TRenameJournal::Summary> last = LastBatch();
    if (!last) return std::nullopt;
    return Undo(last->id);
}

}  // namespace vantelo
