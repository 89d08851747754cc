// One batch rename, start to end: the only implementation of it. The caller
// (the main window, a test, a benchmark) opens the searched directory, adds
// every listed file's old and new name, checks them all, then runs the file
// passes. The batch is written to the journal (TRenameJournal) before its
// first file operation, and the journal follows it phase by phase, so that
// a crash at any point is brought to one end at the next start
// (TRenameHistory::Recover) and a finished batch can be undone.
//
// Run() touches files only: no dataset, no window. It reports progress and
// asks whether to stop between files, so that it can run on a worker
// thread. When the old files are kept, every new name is a copy. When they
// go, each file is renamed in place with one call that never overwrites (a
// hard link or a copy, and a deletion, where the file system refuses that).
// Until the first old file is deleted, a stop takes the whole batch back
// (an in-place rename is undone by renaming back); from then on the batch
// is finished whatever is asked.
//
// The batch is owned by this object from its first journal write to its
// end, so that no other process's recovery takes it for a crashed one. Every
// copy it builds is recorded in the journal before it gets its name, so
// that recovery removes only files the batch made.
#pragma once

#include "platform/TFileOps.h"
#include "rename/TRenamePlan.h"
#include "rename/TRenameJournal.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <future>
#include <vector>

namespace vantelo {

class TRenameOperation {
public:
    struct Callbacks {
        // Before each file: files done so far, the total, the file's old name
        // and its size in bytes.
        std::function<void(size_t done, size_t total, const std::string& name, uint64_t bytes)> progress;
        // Asked between files while the batch can still be taken back.
        std::function<bool()> stopRequested;
        // Called once, just before the first step that cannot be taken back
        // (the first deletion of an old file): from then on the batch finishes.
        std::function<void()> noTurningBack;
    };

    enum class Outcome {
        Done,     // every new name made (and every old file deleted that could be)
        Failed,   // a file failed: what was made was taken back (see leftBehind)
        Stopped,  // a stop was asked for: what was made was taken back (see leftBehind)
    };
    struct Result {
        Outcome outcome = Outcome::Done;
        int error = 0;         // Failed: the errno shown to the user
        size_t failedRow = 0;  // Failed: the row (Count() for the directory flush)
        // Done with the old files to go: old files that could not be deleted
        // and stay beside their new names, and their distinct errnos in order.
        size_t oldKept = 0;
        std::vector<int> oldKeptErrors;
        // Failed or Stopped: new names that could not be taken back (a file
        // changed meanwhile, a failing disk). The batch then stays pending in
        // the journal, and the next start tries again.
        size_t leftBehind = 0;
    };

    // `databasePath`: the tool's database, whose files the batch never
    // touches. `journalPath`: the rename journal (TRenameJournal), by default
    // the user's own.
    explicit TRenameOperation(std::string databasePath, TFileOps& ops = TFileOps::System(),
                              std::string journalPath = TRenameJournal::DefaultPath());
    const std::string& JournalPath() const { return journalPath_; }

    // Opens the searched directory; with `expected`, refuses (ESTALE) a
    // directory that is no longer the one the rows were listed from.
    // Answers 0 or errno.
    int Open(const std::string& directory, const TFileIdentity* expected = nullptr);
    void Reserve(size_t rows) { plan_.Reserve(rows); }
    void Add(std::string oldName, std::string newName) { plan_.Add(std::move(oldName), std::move(newName)); }
    // The text the new names replaced (see TRenamePlan::SetTarget).
    void SetTarget(std::string target) { plan_.SetTarget(std::move(target)); }
    size_t Count() const { return plan_.Count(); }
    // The check's listing of the folder, read while the rows are given (see
    // TRenamePlan::ListAhead).
    void ListAhead(size_t rows) { plan_.ListAhead(rows); }
    // Every row checked before anything is touched (see TRenamePlan).
    TRenamePlan::Failure Check() { return plan_.Check(); }

    // Opens the journal on a thread of its own, so that Run() finds it open
    // rather than opening it first; WaitForJournal() waits for that. An
    // error opening it is raised by Run(), as it would be there.
    void OpenJournalAhead();
    void WaitForJournal();
    const TRenamePlan& Plan() const { return plan_; }

    // The file passes of a checked batch. Raises EJournalError when the
    // journal cannot be written; the directory is then as before (or, after
    // deletions began, the batch's end is left to the next start).
    Result Run(bool deleteOld, const Callbacks& callbacks = {});

    // The name under which row `index` of the batch with staging token
    // `token` is built where a copy cannot be made unnamed; the recovery
    // removes what it finds there. The token is random, kept in the journal.
    static std::string StagingName(const std::string& token, size_t index);
    // The same name written over `name`, reusing its storage (one a row).
    static void WriteStagingName(std::string& name, const std::string& token, size_t index);
    // A fresh random staging token.
    static std::string NewToken();

    // How many copies are built before their identities are written to the
    // journal in one go and they get their names: each record is a durable
    // commit of the journal (a few flushes), so a group is as large as the
    // open descriptors allow (an unnamed copy is held open until named),
    // between these bounds.
    static constexpr size_t kCopiesPerRecord = 128;
    static constexpr size_t kMostCopiesPerRecord = 4096;
    // The group size for a process that may hold `openFiles` descriptors.
    static size_t CopiesPerRecord(size_t openFiles);

private:
    Result Fail(TRenameJournal& journal, int64_t id, size_t row, int error, Outcome outcome);
    // Pass one: every new name made; answers a Failed or Stopped result, or
    // nothing when every row was made.
    std::optional<Result> MakeAll(TRenameJournal& journal, int64_t id, const std::string& token, bool deleteOld,
                                  const Callbacks& callbacks);
    // The plan's files for the journal, a slice at a time, as the batch
    // begins: when the old files go, each is to be renamed in place and so
    // is noted as its own new file.
    TRenameJournal::PackedSlices PackedBeginning(bool deleteOld) const;
    // The same, each new file as it was made.
    TRenameJournal::PackedSlices PackedFiles() const;

    std::string databasePath_;
    std::string journalPath_;
    TRenamePlan plan_;
    bool flushEachCopy_ = false;
    bool unnamed_ = true;  // copies may be built as unnamed files
    // Copies named as the journal recorded them, but for the change time
    // their naming moved.
    size_t copiesAsRecorded_ = 0;
    // The journal opened ahead, or the error opening it.
    std::future<std::unique_ptr<TRenameJournal>> journalAhead_;
};

}  // namespace vantelo
