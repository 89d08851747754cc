// The grid's data link: a visual-control link that passes the dataset's
// notifications on to its owner, the grid (layout, scrolling, repainting,
// footer count), through the small interface below.
#pragma once

#include "store/TDataLink.h"

namespace vantelo {

class TGridDataLink : public TDataLink {
public:
    // What the link tells the grid; each call follows the dataset's
    // notification of the same name synchronously.
    class Owner {
    public:
        virtual void LinkActiveChanged() = 0;
        virtual void LinkDataSetChanged() = 0;
        virtual void LinkDataSetScrolled(int distance) = 0;
        virtual void LinkEditingChanged() = 0;
        // field: the field that changed, or null for the whole record.
        virtual void LinkRecordChanged(TField* field) = 0;
        virtual void LinkLayoutChanged() = 0;

    protected:
        ~Owner() = default;
    };

    explicit TGridDataLink(Owner& owner);

protected:
    void ActiveChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled(int distance) override;
    void EditingChanged() override;
    void RecordChanged(TField* field) override;
    void LayoutChanged() override;
    // The grid never holds unsaved input: nothing to write.
    void UpdateData() override {}

private:
    Owner& grid_;
};

}  // namespace vantelo
