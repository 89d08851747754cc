// One batch rename, from the listed names to its outcome, with no table and
// no window: the window, the tests and the benchmarks hand it the folder the
// names were listed from, the names and the rule that makes the new ones,
// then run its two steps, each on whatever thread they like:
// - Check(): opens the folder (refused when it is no longer the folder that
//   was searched), works out every new name and checks every row. It
//   touches no file, so a worker stuck in it on a mount that stopped
//   answering may be left behind: the window shares the object with it
//   (std::shared_ptr) for that reason.
// - Run(): the journaled file passes of TRenameOperation, reporting each
//   file (and, for large copies, the bytes) and stopping between files when
//   asked, as long as the batch can still be taken back.
// Its results say what the window tells the user and which rows it shows.
#pragma once

#include "jobs/TWorkProgress.h"
#include "platform/TFileIdentity.h"
#include "platform/TFileOps.h"
#include "rename/TRenameJournal.h"
#include "rename/TRenameOperation.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantelo {

class TRenameJob {
public:
    // `databasePath`: the tool's database, whose files the batch never
    // touches; `journalPath`: the rename journal, by default the user's own.
    explicit TRenameJob(std::string databasePath, TFileOps& ops = TFileOps::System(),
                        std::string journalPath = TRenameJournal::DefaultPath());
    TRenameJob(const TRenameJob&) = delete;
    TRenameJob& operator=(const TRenameJob&) = delete;

    // The folder the names were listed from, with its identity when the
    // search could read it (a folder replaced at that path is then refused).
    void SetFolder(std::string directory, std::optional<TFileIdentity> expected = std::nullopt);
    // The listed names, in list order; each new name is the old one with
    // every `target` replaced by `replacement` (ReplaceAllIgnoreCase).
    void SetNames(std::deque<std::string> oldNames, std::string target, std::string replacement);
    // Or a name pair as it stands, with no rule behind it.
    void Add(std::string oldName, std::string newName) { given_.emplace_back(std::move(oldName), std::move(newName)); }
    size_t Listed() const { return oldNames_.size() + given_.size(); }

    // Why the batch was refused before anything was touched: the errno, and
    // the row when one row was at fault (none when the folder itself failed).
    struct Refusal {
        int error = 0;
        std::optional<size_t> row;
        explicit operator bool() const { return error != 0; }
    };
    // Starts opening the journal on a thread of its own, for a caller that
    // has work of its own before Check() (see TRenameOperation).
    void OpenJournalAhead() { operation_.OpenJournalAhead(); }
    // Opens the folder, works out the new names and checks every row.
    // Touches no file. Answers the refusal (error 0: every row passes).
    // Returns once a journal opened ahead is open (or failed to open).
    const Refusal& Check(TWorkProgress& progress);
    const Refusal& Refused() const { return refusal_; }

    // The file passes of a checked batch; `deleteOld` is the check box
    // asking for the old files to go. Does nothing when a stop was asked
    // for before it began (Ran() stays false). Raises EJournalError when the
    // journal cannot be written (see TRenameOperation::Run).
    const TRenameOperation::Result& Run(bool deleteOld, TWorkProgress& progress);
    bool Ran() const { return ran_; }
    // Whether the passes ran to the end: every new name made.
    bool Done() const { return ran_ && result_.outcome == TRenameOperation::Outcome::Done; }
    // Whether a step that cannot be taken back (an old file's deletion) began.
    bool PastTurningBack() const { return pastTurningBack_; }
    const TRenameOperation::Result& Result() const { return result_; }
    size_t Count() const { return operation_.Count(); }
    const std::string& JournalPath() const { return operation_.JournalPath(); }
    // After a failed batch, the row to show: the failed one, or the last
    // when the folder itself failed to be flushed. Nothing otherwise.
    std::optional<size_t> FailedRow() const;
    // The rows whose old name the folder no longer has after a batch that
    // did not finish: renamed in place and not taken back, or deleted.
    std::vector<size_t> OldNamesGone() const;

    // Called on the worker before each file of the passes, with the row and
    // the batch's total (tests change the folder there).
    void SetFileStep(std::function<void(size_t row, size_t total)> step) { fileStep_ = std::move(step); }

    // Copies above this many bytes in all report their bytes too.
    static constexpr uint64_t kLargeCopyBytes = uint64_t{64} << 20;

private:
    // Check()'s work on the open folder: the plan filled and judged.
    void CheckRows();

    TRenameOperation operation_;
    std::string directory_;
    std::optional<TFileIdentity> expected_;
    // The old names, in list order; taken from the front as the plan takes
    // them over, so a long list is not held twice.
    std::deque<std::string> oldNames_;
    std::string target_;
    std::string replacement_;
    std::vector<std::pair<std::string, std::string>> given_;
    std::function<void(size_t, size_t)> fileStep_;
    Refusal refusal_;
    TRenameOperation::Result result_;
    bool ran_ = false;
    bool pastTurningBack_ = false;
};

}  // namespace vantelo
