// Watches entries arrive one at a time into a list that keeps itself sorted,
// and tells when one lands at a given position: when exactly that many
// entries already in the list sort before it (entries that compare equal
// stay in arrival order, so an equal one lands after them). Only the
// position + 1 smallest entries are kept, so an arrival costs at most that
// many steps however long the list grows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace vantelo {

template <class T, class Less>
class TLandingWatch {
public:
    TLandingWatch(int position, Less less) : position_(static_cast<size_t>(position)), less_(std::move(less)) {}

    // Takes the next entry; true when it lands at the position.
    bool Arrive(const T& entry)
    {
        const auto at = std::upper_bound(smallest_.begin(), smallest_.end(), entry, less_);
        const auto place = static_cast<size_t>(at - smallest_.begin());
        // With every kept entry before it, it lands past the position.
        if (place > position_)
            return false;
        smallest_.insert(at, entry);
        if (smallest_.size() > position_ + 1)
            smallest_.pop_back();
        return place == position_;
    }

private:
    size_t position_;
    Less less_;
    std::vector<T> smallest_;
};

}  // namespace vantelo
