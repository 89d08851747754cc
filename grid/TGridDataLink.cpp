#include "grid/TGridDataLink.h"

namespace vantelo {

TGridDataLink::TGridDataLink(Owner& owner) : grid_(owner)
{
    SetVisualControl(true);
}

void TGridDataLink::ActiveChanged()
{
    grid_.LinkActiveChanged();
}

void TGridDataLink::DataSetChanged()
{
    grid_.LinkDataSetChanged();
}

void TGridDataLink::DataSetScrolled(int distance)
{
    grid_.LinkDataSetScrolled(distance);
}

void TGridDataLink::EditingChanged()
{
    grid_.LinkEditingChanged();
}

void TGridDataLink::RecordChanged(TField* field)
{
    grid_.LinkRecordChanged(field);
}

void TGridDataLink::LayoutChanged()
{
    grid_.LinkLayoutChanged();
}

}  // namespace vantelo
