// The grid's data link: a visual-control link that passes the dataset's
// notifications on to the grid (layout, scrolling, repainting, footer count).
#pragma once

#include "store/TDataLink.h"

namespace vantelo {

class TDataGrid;

class TGridDataLink : public TDataLink {
public:
    explicit TGridDataLink(TDataGrid& grid);

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
    TDataGrid& grid_;
};

}  // namespace vantelo
