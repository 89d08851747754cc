#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "dirdlg/TLandingWatch.h"

namespace vantelo {
namespace {

// Where each arrival lands in a list that keeps every entry, sorted, equal
// entries in arrival order.
std::vector<size_t> Landings(const std::vector<int>& arrivals)
{
    std::vector<int> list;
    std::vector<size_t> places;
    for (const int value : arrivals) {
        const auto at = std::upper_bound(list.begin(), list.end(), value);
        places.push_back(static_cast<size_t>(at - list.begin()));
        list.insert(at, value);
    }
    return places;
}

TEST(TLandingWatch, TellsExactlyTheArrivalsThatLandAtThePositionWhileKeepingOnlyTheSmallest)
{
    std::mt19937 random(20261207);
    // Few distinct values give many equal entries; many give almost none.
    for (const int distinct : {3, 40, 100000})
        for (const int position : {0, 1, 5, 100})
            for (int round = 0; round < 40; ++round) {
                std::vector<int> arrivals(std::uniform_int_distribution<size_t>(0, 300)(random));
                for (int& value : arrivals)
                    value = std::uniform_int_distribution<int>(0, distinct - 1)(random);
                const std::vector<size_t> expected = Landings(arrivals);
                TLandingWatch<int, std::less<int>> watch(position, std::less<int>());
                for (size_t i = 0; i < arrivals.size(); ++i)
                    ASSERT_EQ(watch.Arrive(arrivals[i]), expected[i] == static_cast<size_t>(position))
                        << "arrival " << i << " of " << arrivals.size() << ", position " << position;
            }
}

}  // namespace
}  // namespace vantelo
