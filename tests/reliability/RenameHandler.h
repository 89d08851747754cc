// The batch rename exactly as the main window's handler drives the engine:
// every listed row is Add()ed, Check() runs before anything is copied, the
// rows are copied one by one in order (a failure rolls back and is shown with
// its errno), the directory is flushed when the old files go (a failure rolls
// back), and then every old file is deleted with the result ignored.
//
// The list comes from a search as the tool makes it: the directory's entries
// whose names match the target, each name taken through the database's wide
// text and back, and each new name made by the replacement rule.
#pragma once

#include "mainwin/MainTexts.h"
#include "rename/TNameRules.h"
#include "rename/TRenamePlan.h"
#include "platform/TCodePage.h"
#include "platform/TDirectoryListing.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vantelo::reliability {

using Rows = std::vector<std::pair<std::string, std::string>>;  // old name, new name

// Points at which a test may change the directory behind the engine's back.
struct HandlerHooks {
    std::function<void(size_t)> beforeCopy;    // before row i is copied
    std::function<void(size_t)> beforeDelete;  // before row i's old file is deleted
};

// What the user saw: 0 for "文件名称修改成功", else the errno after
// "新文件生成失败，失败号为：".
struct HandlerOutcome {
    int shown = 0;
    std::string message;
};

inline std::string CopyFailedText(int error) {
    return std::string(texts::kCopyFailed) + std::to_string(static_cast<unsigned>(error));
}

// Runs the handler's sequence on `rows` in `directory`. `deleteOld` is the
// check box. A directory that cannot be opened is shown like a failed copy.
inline HandlerOutcome RunRenameHandler(const std::string& directory, const std::string& database, const Rows& rows,
                                       bool deleteOld, TFileOps& ops = TFileOps::System(),
                                       const HandlerHooks& hooks = {}) {
    auto fail = [](int error) { return HandlerOutcome{error, CopyFailedText(error)}; };
    if (rows.empty()) return {};
    TRenamePlan plan(ops);
    if (const int error = plan.Open(directory, database)) return fail(error);
    for (const auto& [oldName, newName] : rows) plan.Add(oldName, newName);
    if (const TRenamePlan::Failure failure = plan.Check()) return fail(failure.error);
    for (size_t i = 0; i < plan.Count(); ++i) {
        if (hooks.beforeCopy) hooks.beforeCopy(i);
        if (const int error = plan.CopyOne(i, !deleteOld)) {
            plan.RollBack();
            return fail(error);
        }
    }
    if (deleteOld) {
        if (const int error = plan.FlushForDelete()) {
            plan.RollBack();
            return fail(error);
        }
        for (size_t i = 0; i < plan.Count(); ++i) {
            if (hooks.beforeDelete) hooks.beforeDelete(i);
            plan.DeleteOld(i);  // a failed deletion is ignored, as the handler does
        }
    }
    return {0, texts::kRenameDone};
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
