// Recovery and undo over the journal of the batch rename.
#include "rename/TRenameHistory.h"

#include "rename/TRenameOperation.h"

#include <cerrno>
#include <optional>
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

// A file the batch copied, told by what a copy keeps of its original (its
// own inode is not known until the journal's next phase): a regular file of
// the same size and modification time, or a link with the same target (a
// link copy gets its time last, so a crash may leave it without).
bool LooksLikeCopyOf(int dirFd, const std::string& newName, const struct stat& st, const std::string& oldName,
                     const struct stat& oldSt) {
    if (TFileIdentity::Of(st).SameFile(TFileIdentity::Of(oldSt))) return false;
    if (S_ISLNK(st.st_mode) && S_ISLNK(oldSt.st_mode)) {
        const std::optional<std::string> made = LinkTarget(dirFd, newName);
        return made && made == LinkTarget(dirFd, oldName);
    }
    return S_ISREG(st.st_mode) && S_ISREG(oldSt.st_mode) && st.st_size == oldSt.st_size &&
           st.st_mtim.tv_sec == oldSt.st_mtim.tv_sec && st.st_mtim.tv_nsec == oldSt.st_mtim.tv_nsec;
}

}  // namespace

TRenameHistory::TRenameHistory(std::string databasePath, TFileOps& ops)
    : databasePath_(std::move(databasePath)), ops_(ops) {}

TFd TRenameHistory::OpenDirectory(const TRenameJournal::Batch& batch) {
    TFd fd;
    TFileIdentity identity;
    TFd::OpenDirectory(batch.directory, &batch.directoryIdentity, fd, identity);
    return fd;
}

// Making: the new names were being made and nothing was deleted. A new name
// that is the old file itself (a hard link, or the old file renamed in
// place) or a copy of it beside its intact original is taken back.
bool TRenameHistory::TakeBackUnfinished(int dirFd, const TRenameJournal::File& file) {
    struct stat newSt, oldSt;
    if (ops_.StatAt(dirFd, file.newName, newSt) != 0) return false;
    const bool oldThere = ops_.StatAt(dirFd, file.oldName, oldSt) == 0;
    if (TFileIdentity::Of(newSt).SameFile(file.source)) {
        if (!oldThere) {
            TFileIdentity back;
            return ops_.RenameAt(dirFd, file.newName, file.oldName, back) == 0;
        }
        // Both names on the old file: the new one is a link of ours.
        return TFileIdentity::Of(oldSt).SameFile(file.source) && oldSt.st_nlink >= 2 &&
               ops_.UnlinkAt(dirFd, file.newName) == 0;
    }
    if (oldThere && TFileIdentity::Of(oldSt).SameState(file.source) &&
        LooksLikeCopyOf(dirFd, file.newName, newSt, file.oldName, oldSt))
        return ops_.UnlinkAt(dirFd, file.newName) == 0;
    return false;
}

// Deleting: every new name was made and on disk; an old file still there,
// unchanged, beside its unchanged new name, goes.
bool TRenameHistory::FinishDeletion(int dirFd, const TRenameJournal::File& file) {
    struct stat newSt, oldSt;
    if (ops_.StatAt(dirFd, file.oldName, oldSt) != 0 || ops_.StatAt(dirFd, file.newName, newSt) != 0) return false;
    const TFileIdentity oldNow = TFileIdentity::Of(oldSt);
    if (!oldNow.SameState(file.source) || !TFileIdentity::Of(newSt).SameState(file.made)) return false;
    // One file under both names must count both, or they are one entry.
    if (oldNow.SameFile(file.made) && oldSt.st_nlink < 2) return false;
    return ops_.UnlinkAt(dirFd, file.oldName) == 0;
}

TRenameHistory::FileUndo TRenameHistory::UndoFile(int dirFd, const TRenameJournal::File& file) {
    struct stat newSt, oldSt;
    const bool oldThere = ops_.StatAt(dirFd, file.oldName, oldSt) == 0;
    if (ops_.StatAt(dirFd, file.newName, newSt) != 0) {
        // Already back (an undo interrupted after this file), or gone.
        const bool back = oldThere && (TFileIdentity::Of(oldSt).SameState(file.made) ||
                                       TFileIdentity::Of(oldSt).SameState(file.source));
        return back ? FileUndo::AlreadyUndone : FileUndo::Changed;
    }
    if (!TFileIdentity::Of(newSt).SameState(file.made)) return FileUndo::Changed;
    if (!oldThere) {
        TFileIdentity back;
        int error = ops_.RenameAt(dirFd, file.newName, file.oldName, back);
        if (error == EINVAL || error == ENOSYS) {
            // No rename without replacing here: a link takes the name as
            // exclusively, then the new name goes.
            error = ops_.LinkAt(dirFd, file.newName, file.oldName, back);
            if (error == 0) error = ops_.UnlinkAt(dirFd, file.newName);
        }
        return error == 0 ? FileUndo::Undone : FileUndo::Changed;
    }
    const TFileIdentity oldNow = TFileIdentity::Of(oldSt);
    const bool linkOfOurs = oldNow.SameFile(file.made) && oldSt.st_nlink >= 2;
    const bool intactOriginal = !oldNow.SameFile(file.made) && oldNow.SameState(file.source);
    if ((linkOfOurs || intactOriginal) && ops_.UnlinkAt(dirFd, file.newName) == 0) return FileUndo::Undone;
    return FileUndo::Changed;
}

TRenameHistory::UndoResult TRenameHistory::UndoFiles(int dirFd, const TRenameJournal::Batch& batch) {
    UndoResult result;
    for (size_t i = batch.files.size(); i-- > 0;) {
        if (UndoFile(dirFd, batch.files[i]) == FileUndo::Changed)
            ++result.changed;
        else
            ++result.undone;
    }
    ops_.SyncDir(dirFd);
    return result;
}

// The journal is opened at the first question asked of it.
TRenameJournal& TRenameHistory::Journal() {
    if (!journal_) journal_.emplace(databasePath_);
    return *journal_;
}

TRenameHistory::Recovery TRenameHistory::RecoverOne() {
    const std::optional<TRenameJournal::Batch> batch = Journal().Unfinished();
    if (!batch) return {};
    Recovery recovery;
    const TFd dir = OpenDirectory(*batch);
    switch (batch->phase) {
    case TRenameJournal::Phase::Making:
        recovery.kind = Recovery::Kind::Undone;
        if (dir.Get() >= 0) {
            for (size_t i = batch->files.size(); i-- > 0;) {
                // A copy that was being built under its staging name.
                const std::string staging = TRenameOperation::StagingName(batch->id, i);
                struct stat st;
                if (ops_.StatAt(dir.Get(), staging, st) == 0 && S_ISREG(st.st_mode))
                    ops_.UnlinkAt(dir.Get(), staging);
                if (TakeBackUnfinished(dir.Get(), batch->files[i])) ++recovery.files;
            }
            ops_.SyncDir(dir.Get());
        }
        journal_->Forget(batch->id);
        break;
    case TRenameJournal::Phase::Deleting:
        recovery.kind = Recovery::Kind::Finished;
        if (dir.Get() >= 0) {
            for (const TRenameJournal::File& file : batch->files)
                if (!file.made.SameState(TFileIdentity{}) && FinishDeletion(dir.Get(), file)) ++recovery.files;
            ops_.SyncDir(dir.Get());
            journal_->SetPhase(batch->id, TRenameJournal::Phase::Done);
        } else {
            journal_->Forget(batch->id);
        }
        break;
    default:
        recovery.kind = Recovery::Kind::UndoFinished;
        if (dir.Get() >= 0) {
            // Files the interrupted undo already gave back count as well:
            // the user is told about the undo as a whole.
            recovery.files = UndoFiles(dir.Get(), *batch).undone;
        }
        journal_->Forget(batch->id);
        break;
    }
    return recovery;
}

std::optional<size_t> TRenameHistory::LastBatchSize() {
    const std::optional<TRenameJournal::Batch> batch = Journal().LastDone();
    if (!batch) return std::nullopt;
    return batch->files.size();
}

std::optional<TRenameHistory::UndoResult> TRenameHistory::UndoLast() {
    const std::optional<TRenameJournal::Batch> batch = Journal().LastDone();
    if (!batch) return std::nullopt;
    const TFd dir = OpenDirectory(*batch);
    if (dir.Get() < 0) {
        // The folder is gone or another one stands at its path: nothing of
        // the batch can be given back.
        journal_->Forget(batch->id);
        return UndoResult{0, batch->files.size()};
    }
    journal_->SetPhase(batch->id, TRenameJournal::Phase::Undoing);
    const UndoResult result = UndoFiles(dir.Get(), *batch);
    journal_->Forget(batch->id);
    return result;
}

}  // namespace vantelo
