#include "grid/TSumCollection.h"

#include "store/TField.h"

#include <algorithm>

namespace vantelo {

TSumItem& TSumCollection::Add(TGroupOperation operation, std::string fieldName)
{
    items_.push_back(std::make_unique<TSumItem>(operation, std::move(fieldName)));
    TSumItem& item = *items_.back();
    Changed();
    return item;
}

void TSumCollection::Remove(const TSumItem* item)
{
    auto it = std::find_if(items_.begin(), items_.end(), [item](const auto& own) { return own.get() == item; });
    if (it == items_.end())
        return;
    items_.erase(it);
    Changed();
}

TSumItem* TSumCollection::Find(TGroupOperation operation, std::string_view fieldName) const
{
    for (const auto& item : items_)
        if (item->GroupOperation() == operation && SameText(item->FieldName(), fieldName))
            return item.get();
    return nullptr;
}

void TSumCollection::EndUpdate()
{
    if (updateCount_ == 0)
        return;
    if (--updateCount_ == 0 && changedInUpdate_) {
        changedInUpdate_ = false;
        Changed();
    }
}

void TSumCollection::Changed()
{
    if (updateCount_ > 0) {
        changedInUpdate_ = true;
        return;
    }
    if (OnChanged)
        OnChanged();
}

}  // namespace vantelo
