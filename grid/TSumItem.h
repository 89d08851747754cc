// One number the grid's sum list keeps for a footer: a count of rows (or of
// rows where a field is not null), a sum or an average. Values are fixed-point
// with four decimal places, held as 64-bit integers scaled by 10000 (one row
// counts as 10000), so adding and subtracting never accumulates rounding.
#pragma once

#include <cstdint>
#include <string>

namespace vantelo {

enum class TGroupOperation { goSum, goAvg, goCount };

// The scale of every sum item value: 1 is held as 10000.
inline constexpr int64_t kSumScale = 10000;

class TSumItem {
public:
    TSumItem(TGroupOperation operation, std::string fieldName)
        : operation_(operation), fieldName_(std::move(fieldName))
    {
    }

    TGroupOperation GroupOperation() const { return operation_; }
    // Empty for a count of every row.
    const std::string& FieldName() const { return fieldName_; }

    // The value, scaled by kSumScale.
    int64_t Value() const { return value_; }
    void SetValue(int64_t value) { value_ = value; }
    // This item's contribution of the current row, taken when the row went
    // into editing or inserting (scaled).
    int64_t OldContribution() const { return oldContribution_; }
    void SetOldContribution(int64_t value) { oldContribution_ = value; }
    // Used by averages only.
    int64_t NonNullCount() const { return nonNullCount_; }
    int64_t RunningSum() const { return runningSum_; }
    void AddToAverage(int64_t scaled) { ++nonNullCount_; runningSum_ += scaled; }

    // Zeroes value, old contribution, non-null count and running sum.
    void Clear() { value_ = oldContribution_ = nonNullCount_ = runningSum_ = 0; }

private:
    TGroupOperation operation_;
    std::string fieldName_;
    int64_t value_ = 0;
    int64_t oldContribution_ = 0;
    int64_t nonNullCount_ = 0;
    int64_t runningSum_ = 0;
};

}  // namespace vantelo
