// The journaled batch: the phases of the rename and what the journal says
// at each of them.
#include "rename/TRenameOperation.h"

#include "rename/EJournalError.h"
#include "rename/TBatchFolder.h"
#include "rename/TRenameConfirmer.h"
#include "platform/TFsRefusal.h"
#include "platform/TOpenFileLimit.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <unistd.h>

namespace vantelo {
namespace {

// The copies built and not yet named, removed again on every way out that
// does not name them.
class TPendingCopies {
public:
    TPendingCopies(TFileOps& ops, int dirFd, size_t most) : ops_(ops), dirFd_(dirFd) { copies_.reserve(most); }
    ~TPendingCopies() { Drop(); }
    TPendingCopies(const TPendingCopies&) = delete;
    TPendingCopies& operator=(const TPendingCopies&) = delete;

    struct Copy {
        size_t row;
        TFileOps::TBuiltCopy built;
    };
    std::vector<Copy>& Copies() { return copies_; }
    void Drop() {
        for (Copy& copy : copies_) ops_.DropCopy(dirFd_, copy.built);
        copies_.clear();
    }

private:
    TFileOps& ops_;
    int dirFd_;
    std::vector<Copy> copies_;
};

}  // namespace

TRenameOperation::TRenameOperation(std::string databasePath, TFileOps& ops, std::string journalPath)
    : databasePath_(std::move(databasePath)), journalPath_(std::move(journalPath)), plan_(ops) {}

int TRenameOperation::Open(const std::string& directory, const TFileIdentity* expected) {
    return plan_.Open(directory, databasePath_, expected);
}

void TRenameOperation::OpenJournalAhead() {
    journalAhead_ = std::async(std::launch::async, [this] { return std::make_unique<TRenameJournal>(journalPath_); });
}

void TRenameOperation::WaitForJournal() {
    if (journalAhead_.valid()) journalAhead_.wait();
}

size_t TRenameOperation::CopiesPerRecord(size_t openFiles) {
    // Half of the descriptors, the rest left to the window, the databases
    // and whatever else the process holds.
    return std::clamp(openFiles / 2, kCopiesPerRecord, kMostCopiesPerRecord);
}

std::string TRenameOperation::StagingName(const std::string& token, size_t index) {
    std::string name;
    WriteStagingName(name, token, index);
    return name;
}

void TRenameOperation::WriteStagingName(std::string& name, const std::string& token, size_t index) {
    name.assign(".vantelo-");
    name += token;
    name += '-';
    name += std::to_string(index);
    name += ".part";
}

std::string TRenameOperation::NewToken() {
    // ".vantelo-<24 hex>.x" gives the random part.
    const std::string name = TFileOps::PrivateName("x");
    return name.substr(9, name.size() - 9 - 2);
}

TRenameJournal::PackedSlices TRenameOperation::PackedBeginning(bool deleteOld) const {
    return TRenameJournal::SlicesOf(plan_.Count(), [this, deleteOld](std::string& packed, size_t index) {
        const TRenamePlan::Row& row = plan_.At(index);
        TRenameJournal::PackFile(packed, plan_.OldName(index), plan_.NewName(index), row.source,
                                 deleteOld ? TFileIdentity(row.source) : plan_.Made(index));
    });
}

TRenameJournal::PackedSlices TRenameOperation::PackedFiles() const {
    return TRenameJournal::SlicesOf(plan_.Count(), [this](std::string& packed, size_t index) {
        const TRenamePlan::Row& row = plan_.At(index);
        TRenameJournal::PackFile(packed, plan_.OldName(index), plan_.NewName(index), row.source, plan_.Made(index));
    });
}

TRenameOperation::Result TRenameOperation::Fail(TRenameJournal& journal, int64_t id, size_t row, int error,
                                                Outcome outcome) {
    plan_.RollBack();
    Result result;
    result.outcome = outcome;
    result.error = error;
    result.failedRow = row;
    result.leftBehind = plan_.MadeCount();
    // A batch that left nothing behind leaves no history, once the folder
    // says so on disk; one whose new files could not all be taken back stays
    // in the journal, and the next start takes back the rest.
    if (result.leftBehind == 0 && plan_.FlushForDelete() == 0) {
        try {
            journal.Forget(id);
        } catch (const EJournalError&) {
            // Left in phase Making: the next start finds nothing to undo.
        }
    }
    return result;
}

std::optional<TRenameOperation::Result> TRenameOperation::MakeAll(TRenameJournal& journal, int64_t id,
                                                                   const std::string& token, bool deleteOld,
                                                                   const Callbacks& callbacks) {
    const size_t total = plan_.Count();
    // A group of copies is held open until the journal has them: the
    // descriptors the largest group wants are asked for, as far as the hard
    // limit allows (a desktop session's soft limit would halve the group
    // four times over, and each group is a durable commit).
    const size_t openFiles = TOpenFileLimit::RaiseTo(2 * std::min(total, kMostCopiesPerRecord));
    const size_t perRecord = std::min(total, CopiesPerRecord(openFiles));
    TPendingCopies pending(plan_.Ops(), plan_.DirectoryFd(), perRecord);
    // Files renamed in place are looked at behind the renames, from the
    // first row on, until a row cannot be renamed in place.
    std::optional<TRenameConfirmer> confirmer;
    if (deleteOld) confirmer.emplace(plan_);
    bool inPlace = deleteOld;
    // A way out: whatever was made is taken back, the earliest failing row
    // reported (a look behind the renames may have found one first).
    const auto fail = [&](size_t row, int error, Outcome outcome) {
        pending.Drop();
        if (confirmer) {
            const TRenamePlan::Failure looked = confirmer->Drain();
            if (looked && (looked.index < row || outcome == Outcome::Stopped)) {
                row = looked.index;
                error = looked.error;
                outcome = Outcome::Failed;
            }
        }
        return Fail(journal, id, row, error, outcome);
    };
    // Every file handed over looked at: the batch goes on unless one failed.
    const auto lookedAtAll = [&]() -> std::optional<Result> {
        if (const TRenamePlan::Failure looked = confirmer->Drain()) return fail(looked.index, looked.error, Outcome::Failed);
        return std::nullopt;
    };
    std::string staging;
    // The copies built so far are recorded, then named, in order.
    const auto nameAll = [&]() -> std::optional<Result> {
        auto& copies = pending.Copies();
        if (copies.empty()) return std::nullopt;
        std::vector<std::pair<size_t, TFileIdentity>> made;
        made.reserve(copies.size());
        for (const auto& copy : copies) made.emplace_back(copy.row, copy.built.made);
        journal.AddMade(id, made);
        for (size_t k = 0; k < copies.size(); ++k) {
            auto& copy = copies[k];
            TFileIdentity recorded = made[k].second;
            const bool wasUnnamed = copy.built.state == TFileOps::TBuiltCopy::State::Unnamed;
            int error = plan_.NameNew(copy.row, copy.built);
            if (error != 0 && wasUnnamed && TFsRefusal::CannotLink(error)) {
                // Unnamed files this file system will not link in: this copy
                // and every later one is built under its staging name, and
                // recorded before it gets its own.
                unnamed_ = false;
                plan_.Ops().DropCopy(plan_.DirectoryFd(), copy.built);
                error = plan_.BuildNew(copy.row, deleteOld, copy.built, StagingName(token, copy.row), flushEachCopy_,
                                       false);
                if (error == 0) {
                    recorded = copy.built.made;
                    journal.AddMade(id, {{copy.row, recorded}});
                    error = plan_.NameNew(copy.row, copy.built);
                }
            }
            if (error != 0) return fail(copy.row, error, Outcome::Failed);
            const TFileIdentity named = plan_.Made(copy.row);
            if (named.SameState(recorded) && named.SameBirth(recorded)) ++copiesAsRecorded_;
        }
        copies.clear();
        return std::nullopt;
    };
    for (size_t i = 0; i < total; ++i) {
        if (callbacks.stopRequested && callbacks.stopRequested()) return fail(i, ECANCELED, Outcome::Stopped);
        if (callbacks.progress)
            callbacks.progress(i, total, std::string(plan_.OldName(i)), static_cast<uint64_t>(plan_.At(i).source.size));
        if (inPlace) {
            if (confirmer->Failed()) return fail(i, 0, Outcome::Failed);
            const int error = plan_.RenameInPlace(i);
            if (error == 0) {
                confirmer->HandNext();
                continue;
            }
            if (!TFsRefusal::CannotRenameInPlace(error)) return fail(i, error, Outcome::Failed);
            // This row (and, as it may be the file system's refusal, every
            // later one) goes the way that links or copies.
            inPlace = false;
            if (std::optional<Result> failed = lookedAtAll()) return failed;
        }
        TFileOps::TBuiltCopy built;
        // Written over in place: the name is needed only where a copy cannot
        // be unnamed, and a fresh string a row costs allocations.
        WriteStagingName(staging, token, i);
        if (const int error = plan_.BuildNew(i, deleteOld, built, staging, flushEachCopy_, unnamed_))
            return fail(i, error, Outcome::Failed);
        if (built.state == TFileOps::TBuiltCopy::State::None) continue;
        pending.Copies().push_back({i, std::move(built)});
        if (pending.Copies().size() == perRecord) {
            if (std::optional<Result> failed = nameAll()) return failed;
        }
    }
    if (confirmer) {
        if (std::optional<Result> failed = lookedAtAll()) return failed;
    }
    return nameAll();
}

TRenameOperation::Result TRenameOperation::Run(bool deleteOld, const Callbacks& callbacks) {
    const size_t total = plan_.Count();
    if (total == 0) return {};
    // The journal opened ahead (or its error) is this batch's alone, closed
    // with it.
    const std::unique_ptr<TRenameJournal> owned =
        journalAhead_.valid() ? journalAhead_.get() : std::make_unique<TRenameJournal>(journalPath_);
    TRenameJournal& journal = *owned;
    const std::string token = NewToken();
    // On disk before the first file operation. A file renamed in place is
    // its own new file, which is how the list starts when the old files go.
    const TRenameJournal::Folder folder = TBatchFolder::Describe(plan_.Directory(), plan_.DirectoryFd());
    const int64_t id = journal.Begin(folder, deleteOld, total, token, PackedBeginning(deleteOld));

    // Kept originals' copies are flushed one by one where a flush of the
    // whole file system never reaches the disk (FUSE), else once at the end.
    flushEachCopy_ = !deleteOld && !TBatchFolder::SyncfsReaches(plan_.DirectoryFd());
    unnamed_ = true;
    copiesAsRecorded_ = 0;

    // Pass one: every new name. A failure or a stop takes the batch back.
    try {
        if (std::optional<Result> failed = MakeAll(journal, id, token, deleteOld, callbacks)) return *failed;
    } catch (...) {
        // An error from the journal or a caller's callback: nothing is
        // deleted yet, so the batch is taken back before the error goes on.
        Fail(journal, id, 0, 0, Outcome::Failed);
        throw;
    }

    Result result;
    bool deleting = false;
    TRenameJournal::Phase phase = TRenameJournal::Phase::Making;
    try {
        // Every new name, and every kept original's copy, on disk before the
        // journal vouches for them: the copies' content first (one flush of
        // the file system), then the folder's entries.
        if (!deleteOld && !flushEachCopy_ && ::syncfs(plan_.DirectoryFd()) != 0)
            return Fail(journal, id, total, errno, Outcome::Failed);
        if (const int error = plan_.FlushForDelete()) return Fail(journal, id, total, error, Outcome::Failed);
        if (deleteOld) {
            std::vector<size_t> toDelete;
            for (size_t i = 0; i < total; ++i)
                if (plan_.At(i).state == TRenamePlan::State::Copied) toDelete.push_back(i);
            if (!toDelete.empty()) {
                // The last moment at which the batch can still be taken back.
                if (callbacks.stopRequested && callbacks.stopRequested())
                    return Fail(journal, id, total, ECANCELED, Outcome::Stopped);
                if (callbacks.noTurningBack) callbacks.noTurningBack();
                journal.SetPhase(id, phase, TRenameJournal::Phase::Deleting, PackedFiles());
                phase = TRenameJournal::Phase::Deleting;
                deleting = true;
                for (const size_t i : toDelete) {
                    if (callbacks.progress) callbacks.progress(i, total, std::string(plan_.OldName(i)), 0);
                    if (const int error = plan_.DeleteOld(i)) {
                        ++result.oldKept;
                        if (std::find(result.oldKeptErrors.begin(), result.oldKeptErrors.end(), error) ==
                            result.oldKeptErrors.end())
                            result.oldKeptErrors.push_back(error);
                    }
                }
                // The deletions on disk before the batch is called done.
                plan_.FlushForDelete();
            }
        }
        // The new files as they now are, so that undo knows them exactly.
        // Where every new file is its old file under the new name (as the
        // list at the start has it) or a copy as it was recorded, only the
        // change times are new.
        size_t asKnown = copiesAsRecorded_;
        if (deleteOld)
            for (size_t i = 0; i < total; ++i) asKnown += plan_.MadeInPlace(i) ? 1 : 0;
        if (asKnown == total)
            journal.SetPhase(id, phase, TRenameJournal::Phase::Done, total,
                             [this](size_t i) { return plan_.Made(i).ctime; });
        else
            journal.SetPhase(id, phase, TRenameJournal::Phase::Done, PackedFiles());
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
