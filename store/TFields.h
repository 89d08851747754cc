// The ordered list of a dataset's field objects, in result-column order.
// The list owns its fields; a field's Index() is its position here.
#pragma once

#include "store/TField.h"

#include <memory>
#include <string_view>
#include <vector>

namespace vantelo {

class TFields {
public:
    explicit TFields(TDataSet* dataSet) : dataSet_(dataSet) {}
    ~TFields();
    TFields(const TFields&) = delete;
    TFields& operator=(const TFields&) = delete;

    int Count() const { return static_cast<int>(fields_.size()); }
    // The field at index (0-based, must be in range).
    TField& operator[](int index) const { return *fields_[static_cast<size_t>(index)]; }
    // The first field whose name equals name without regard to case, or null.
    TField* Find(std::string_view name) const;
    // Appends a field, binds it to the dataset and returns it.
    TField& Add(std::unique_ptr<TField> field);
    // Destroys every field (the list is empty afterwards).
    void Clear();

private:
    TDataSet* dataSet_;
    std::vector<std::unique_ptr<TField>> fields_;
};

}  // namespace vantelo
