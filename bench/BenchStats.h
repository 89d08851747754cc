// What the benchmark programs that time a handful of runs report: the
// median of the runs (the upper of the two middle ones for an even count)
// and a steady-clock span in milliseconds.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace vantelo::bench {

inline double Milliseconds(std::chrono::steady_clock::duration span)
{
    return std::chrono::duration<double, std::milli>(span).count();
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace vantelo::bench
