// The search and rename jobs the main window runs (TSearchJob, TRenameJob),
// driven as the window drives them, with what the user would be shown, for
// the reliability suite.
#pragma once

#include "jobs/TRenameJob.h"
#include "jobs/TSearchJob.h"
#include "jobs/TWorkProgress.h"
#include "mainwin/MainTexts.h"
#include "platform/TCodePage.h"
#include "rename/EJournalError.h"
#include "rename/TNameRules.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vantelo::reliability {

using Rows = std::vector<std::pair<std::string, std::string>>;  // old name, new name

// Points at which a test may change the directory behind the job's back.
struct RenameHooks {
    std::function<void(size_t)> beforeCopy;    // before row i's new name is made
    std::function<void(size_t)> beforeDelete;  // before row i's old file is deleted
};

// A kernel or file system that will not rename without replacing: the old
// files that go are linked or copied, then deleted.
class NoRenameInPlace : public TFileOps {
public:
    using TFileOps::TFileOps;

protected:
    int RenameNoReplace(int, const std::string&, const std::string&) override {
        errno = EINVAL;
        return -1;
    }
};

// What the user saw: 0 for "文件名称修改成功", an errno after
// "新文件生成失败，失败号为：", or -1 for the journal's error text.
// `oldKept`: the second box after a success, for old files that could not
// be deleted (empty when every one went).
struct RenameOutcome {
    int shown = 0;
    std::string message;
    std::string oldKept;
};

inline std::string CopyFailedText(int error) {
    return std::string(texts::kCopyFailed) + std::to_string(static_cast<unsigned>(error));
}

// A database file the journal can live in: an empty file is an empty
// database to the engine.
inline void CreateDatabase(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
}

// What the window shows for the rename job's outcome, read off the job.
inline RenameOutcome OutcomeOf(const TRenameJob& job) {
    auto fail = [](int error) { return RenameOutcome{error, CopyFailedText(error), {}}; };
    if (job.Refused()) return fail(job.Refused().error);
    if (!job.Done()) return fail(job.Result().error);
    const TRenameOperation::Result& result = job.Result();
    if (result.oldKept > 0) return {0, texts::kRenameDone, texts::OldFilesKept(result.oldKept, result.oldKeptErrors)};
    return {0, texts::kRenameDone, {}};
}

// Checks and runs `job` as the window does, with `hooks` called before each
// file of the passes. `deleteOld` is the check box.
inline RenameOutcome RunJob(TRenameJob& job, bool deleteOld, const RenameHooks& hooks) {
    TWorkProgress progress;
    if (job.Check(progress)) return OutcomeOf(job);
    // The progress report comes before each new name, and again before each
    // old file's deletion.
    std::vector<bool> made(job.Count());
    job.SetFileStep([&](size_t row, size_t total) {
        if (row >= total) return;
        if (!made[row]) {
            made[row] = true;
            if (hooks.beforeCopy) hooks.beforeCopy(row);
        } else if (hooks.beforeDelete) {
            hooks.beforeDelete(row);
        }
    });
    try {
        job.Run(deleteOld, progress);
    } catch (const EJournalError& error) {
        return {-1, error.Message(), {}};
    }
    return OutcomeOf(job);
}

// The rename job on `rows` (names given as they stand) in `directory`,
// journaled in the user's journal, with `database` the tool's database.
inline RenameOutcome RunRenameJob(const std::string& directory, const std::string& database, const Rows& rows,
                                   bool deleteOld, TFileOps& ops = TFileOps::System(),
                                   const RenameHooks& hooks = {}) {
    if (rows.empty()) return {};
    TRenameJob job(database, ops);
    job.SetFolder(directory);
    for (const auto& [oldName, newName] : rows) job.Add(oldName, newName);
    return RunJob(job, deleteOld, hooks);
}

// The names a search of `directory` for `target` lists, by the search job,
// in the directory's order. Names make the round trip through the
// database's wide text in the active code page.
inline std::deque<std::string> SearchNames(const std::string& directory, const std::string& target) {
    TSearchJob search(directory, target);
    TWorkProgress progress;
    search.Run(progress);
    const TCodePage& codePage = TCodePage::Active();
    std::deque<std::string> names;
    for (const std::string& name : search.Take()) names.push_back(codePage.ToNarrow(codePage.ToWide(name)));
    return names;
}

// The rows a search of `directory` for `target` lists, with the new names the
// replacement rule gives.
inline Rows SearchRows(const std::string& directory, const std::string& target, const std::string& replacement) {
    Rows rows;
    for (const std::string& name : SearchNames(directory, target))
        rows.emplace_back(name, ReplaceAllIgnoreCase(name, target, replacement));
    return rows;
}

// Search, then rename, as the user's two button presses do: the search job's
// names, then the rename job with the folder the search listed and the rule.
inline RenameOutcome SearchAndRename(const std::string& directory, const std::string& database,
                                      const std::string& target, const std::string& replacement, bool deleteOld,
                                      TFileOps& ops = TFileOps::System(), const RenameHooks& hooks = {}) {
    std::deque<std::string> names = SearchNames(directory, target);
    if (names.empty()) return {};
    TRenameJob job(database, ops);
    job.SetFolder(directory);
    job.SetNames(std::move(names), target, replacement);
    return RunJob(job, deleteOld, hooks);
}

}  // namespace vantelo::reliability
