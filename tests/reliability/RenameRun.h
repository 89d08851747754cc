// The batch rename through the one operation the main window runs
// (TRenameOperation), with what the user would be shown, for the reliability
// suite; and the rows a search lists, as the tool makes them.
#pragma once

#include "mainwin/MainTexts.h"
#include "platform/TCodePage.h"
#include "platform/TDirectoryListing.h"
#include "rename/EJournalError.h"
#include "rename/TNameRules.h"
#include "rename/TRenameOperation.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vantelo::reliability {

using Rows = std::vector<std::pair<std::string, std::string>>;  // old name, new name

// Points at which a test may change the directory behind the operation's back.
struct HandlerHooks {
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
struct HandlerOutcome {
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

// Runs the operation on `rows` in `directory`, journaled in `database`.
// `deleteOld` is the check box. A directory that cannot be opened is shown
// like a failed copy.
inline HandlerOutcome RunRenameHandler(const std::string& directory, const std::string& database, const Rows& rows,
                                       bool deleteOld, TFileOps& ops = TFileOps::System(),
                                       const HandlerHooks& hooks = {}) {
    auto fail = [](int error) { return HandlerOutcome{error, CopyFailedText(error), {}}; };
    if (rows.empty()) return {};
    TRenameOperation operation(database, ops);
    if (const int error = operation.Open(directory)) return fail(error);
    for (const auto& [oldName, newName] : rows) operation.Add(oldName, newName);
    if (const TRenamePlan::Failure failure = operation.Check()) return fail(failure.error);
    // The progress report comes before each new name, and again before each
    // old file's deletion.
    std::vector<bool> made(rows.size());
    TRenameOperation::Callbacks callbacks;
    callbacks.progress = [&](size_t row, size_t total, const std::string&, uint64_t) {
        if (row >= total) return;
        if (!made[row]) {
            made[row] = true;
            if (hooks.beforeCopy) hooks.beforeCopy(row);
        } else if (hooks.beforeDelete) {
            hooks.beforeDelete(row);
        }
    };
    try {
        const TRenameOperation::Result result = operation.Run(deleteOld, callbacks);
        if (result.outcome != TRenameOperation::Outcome::Done) return fail(result.error);
        if (result.oldKept > 0) return {0, texts::kRenameDone, texts::OldFilesKept(result.oldKept, result.oldKeptErrors)};
    } catch (const EJournalError& error) {
        return {-1, error.Message(), {}};
    }
    return {0, texts::kRenameDone, {}};
}

// The rows a search of `directory` for `target` lists, with the new names the
// replacement rule gives, in the directory's order. Names make the round trip
// through the database's wide text in the active code page.
inline Rows SearchRows(const std::string& directory, const std::string& target, const std::string& replacement) {
    std::vector<std::string> names;
    TDirectoryListing::ReadAll(directory, names);
    const TCodePage& codePage = TCodePage::Active();
    Rows rows;
    for (const std::string& name : names) {
        if (!NameMatches(name, target)) continue;
        const std::string stored = codePage.ToNarrow(codePage.ToWide(name));
        rows.emplace_back(stored, ReplaceAllIgnoreCase(stored, target, replacement));
    }
    return rows;
}

// Search, then rename, as the user's two button presses do.
inline HandlerOutcome SearchAndRename(const std::string& directory, const std::string& database,
                                      const std::string& target, const std::string& replacement, bool deleteOld,
                                      TFileOps& ops = TFileOps::System(), const HandlerHooks& hooks = {}) {
    return RunRenameHandler(directory, database, SearchRows(directory, target, replacement), deleteOld, ops, hooks);
}

}  // namespace vantelo::reliability
