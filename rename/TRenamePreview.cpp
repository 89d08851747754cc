// The batch's check over every row, kept for reading.
#include "rename/TRenamePreview.h"

#include "rename/TNameRules.h"

namespace vantelo {

TRenamePreview::TRenamePreview(std::string databasePath, TFileOps& ops)
    : databasePath_(std::move(databasePath)), plan_(ops) {}

void TRenamePreview::Run(const std::string& directory, const TFileIdentity* expected, std::deque<std::string>& names,
                         std::string_view target, std::string_view replacement) {
    openError_ = plan_.Open(directory, databasePath_, expected);
    plan_.Reserve(names.size());
    for (; !names.empty(); names.pop_front()) {
        std::string newName = ReplaceAllIgnoreCase(names.front(), target, replacement);
        plan_.Add(std::move(names.front()), std::move(newName));
    }
    if (openError_)
        errors_.assign(plan_.Count(), openError_);
    else
        errors_ = plan_.CheckEvery();
    refused_.clear();
    for (size_t i = 0; i < errors_.size(); ++i)
        if (errors_[i]) refused_.push_back(static_cast<uint32_t>(i));
}

}  // namespace vantelo
