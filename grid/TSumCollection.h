// The sum items of a grid's sum list. Items are added and removed by the
// footers that need them, inside collection updates; when the outermost
// update ends after a change, the collection says so (the sum list recounts).
#pragma once

#include "grid/TSumItem.h"

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace vantelo {

class TSumCollection {
public:
    TSumCollection() = default;
    TSumCollection(const TSumCollection&) = delete;
    TSumCollection& operator=(const TSumCollection&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    TSumItem& operator[](int index) const { return *items_[static_cast<size_t>(index)]; }

    // Adds an item and answers it (owned by the collection).
    TSumItem& Add(TGroupOperation operation, std::string fieldName);
    // Removes and frees item; an item not in the collection is ignored.
    void Remove(const TSumItem* item);
    // The first item with this operation and field name (compared without
    // regard to case), or null.
    TSumItem* Find(TGroupOperation operation, std::string_view fieldName) const;

    // Nested updates: the change notice goes out once, when the last ends.
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    // Called after the item list changed (outside any update).
    std::function<void()> OnChanged;

private:
    void Changed();

    std::vector<std::unique_ptr<TSumItem>> items_;
    int updateCount_ = 0;
    bool changedInUpdate_ = false;
};

}  // namespace vantelo
