#include "store/TFields.h"

namespace vantelo {

TFields::~TFields()
{
    Clear();
}

TField* TFields::Find(std::string_view name) const
{
    for (const auto& field : fields_)
        if (SameText(field->FieldName(), name))
            return field.get();
    return nullptr;
}

TField& TFields::Add(std::unique_ptr<TField> field)
{
    field->dataSet_ = dataSet_;
    field->index_ = Count();
    fields_.push_back(std::move(field));
    return *fields_.back();
}

void TFields::Clear()
{
    // Last first, each unbound before it dies, so that nothing reached from
    // a dying field finds it still in the list.
    while (!fields_.empty()) {
        std::unique_ptr<TField> last = std::move(fields_.back());
        fields_.pop_back();
        last->dataSet_ = nullptr;
        last->index_ = -1;
        last->fieldNo_ = 0;
    }
}

}  // namespace vantelo
