// What a batch would do with every listed file, before anything is touched:
// each row's old name, its new name by the replacement rule, and the errno
// the batch's own check gives it (TRenamePlan::CheckEvery). The plan is
// opened on the same directory with the same identity and database guard as
// the batch's, and judged by the same rules, so that a preview and the batch
// that follows it cannot disagree about a row. Display-free: it runs on a
// worker and is then only read.
#pragma once

#include "platform/TFileOps.h"
#include "rename/TRenamePlan.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace vantelo {

class TRenamePreview {
public:
    // `databasePath`: the tool's database, whose files no batch touches.
    explicit TRenamePreview(std::string databasePath, TFileOps& ops = TFileOps::System());

    // Opens `directory` (refused as TRenamePlan::Open refuses it, ESTALE
    // when it is no longer `expected`), takes the names from the front of
    // `names` (which ends empty, so a long list is not held twice), works out
    // each new name with ReplaceAllIgnoreCase and checks every row. When the
    // directory cannot be opened every row carries that errno, as the batch
    // would fail on it before its first row. Touches no file.
    void Run(const std::string& directory, const TFileIdentity* expected, std::deque<std::string>& names,
             std::string_view target, std::string_view replacement);

    // 0, or the errno with which the directory could not be opened.
    int OpenError() const { return openError_; }
    size_t Count() const { return plan_.Count(); }
    std::string_view OldName(size_t index) const { return plan_.OldName(index); }
    std::string_view NewName(size_t index) const { return plan_.NewName(index); }
    // Row `index`'s errno: 0 when the batch would make it.
    int Error(size_t index) const { return errors_[index]; }
    // The rows the batch would refuse, in list order.
    const std::vector<uint32_t>& Refused() const { return refused_; }

private:
    std::string databasePath_;
    TRenamePlan plan_;
    std::vector<int> errors_;
    std::vector<uint32_t> refused_;
    int openError_ = 0;
};

}  // namespace vantelo
