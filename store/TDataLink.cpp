#include "store/TDataLink.h"

#include "store/TDataSource.h"

#include <algorithm>

namespace vantelo {

TDataLink::~TDataLink()
{
    SetDataSource(nullptr);
}

TDataSet* TDataLink::DataSet() const
{
    return dataSource_ != nullptr ? dataSource_->DataSet() : nullptr;
}

void TDataLink::SetDataSource(TDataSource* source)
{
    if (source == dataSource_)
        return;
    if (dataSource_ != nullptr) {
        TDataSource* old = dataSource_;
        dataSource_ = nullptr;
        old->RemoveLink(this);
    }
    if (source != nullptr) {
        dataSource_ = source;
        source->AddLink(this);
    }
    UpdateState();
}

void TDataLink::SetReadOnly(bool readOnly)
{
    if (readOnly == readOnly_)
        return;
    readOnly_ = readOnly;
    UpdateState();
}

void TDataLink::SetBufferCount(int count)
{
    count = std::max(1, count);
    if (count == bufferCount_)
        return;
    bufferCount_ = count;
    if (active_)
        ApplyRangeRule();
    if (TDataSet* dataSet = DataSet())
        dataSet->UpdateBufferCount();
    if (active_)
        ApplyRangeRule();
}

void TDataLink::UpdateState()
{
    const TDataSetState state = dataSource_ != nullptr ? dataSource_->State() : TDataSetState::Inactive;
    const bool active = state != TDataSetState::Inactive;
    if (active != active_) {
        active_ = active;
        if (active)
            ApplyRangeRule();
        else
            firstRecord_ = 0;
        ActiveChanged();
    }
    const bool editing = (state == TDataSetState::Edit || state == TDataSetState::Insert) && !readOnly_;
    if (editing != editing_) {
        editing_ = editing;
        EditingChanged();
    }
}

void TDataLink::ApplyRangeRule()
{
    const TDataSet* dataSet = DataSet();
    if (dataSet == nullptr)
        return;
    const int active = dataSet->activeSlot_;
    const int held = dataSet->rowsHeld_;
    const int low = std::max(0, active - bufferCount_ + 1);
    const int high = std::min(std::max(0, held - bufferCount_), active);
    if (firstRecord_ < low)
        firstRecord_ = low;
    if (firstRecord_ > high)
        firstRecord_ = high;
    if (firstRecord_ != 0 && active - firstRecord_ < bufferCount_ - 1)
        --firstRecord_;
}

void TDataLink::DataEvent(TDataEvent event, TField* field, int distance)
{
    if (event == TDataEvent::UpdateState) {
        UpdateState();
        return;
    }
    if (!active_)
        return;
    switch (event) {
    case TDataEvent::FieldChange:
    case TDataEvent::RecordChange:
        if (!updating_)
            RecordChanged(field);
        break;
    case TDataEvent::DataSetChange:
    case TDataEvent::DataSetScroll:
    case TDataEvent::LayoutChange: {
        const int first = firstRecord_ + (event == TDataEvent::DataSetScroll ? distance : 0);
        const int last = first + bufferCount_ - 1;
        const TDataSet* dataSet = DataSet();
        const int active = dataSet->activeSlot_;
        int delta = active > last ? active - last : active < first ? active - first : 0;
        // Never show rows past the ones held: when the window lost rows the
        // link's rows would otherwise run into the scratch slot.
        const int highest = std::max(0, dataSet->rowsHeld_ - bufferCount_);
        if (first + delta > highest)
            delta = highest - first;
        firstRecord_ = first + delta;
        if (event == TDataEvent::DataSetChange)
            DataSetChanged();
        else if (event == TDataEvent::DataSetScroll)
            DataSetScrolled(delta);
        else
            LayoutChanged();
        break;
    }
    case TDataEvent::UpdateRecord:
        updating_ = true;
        try {
            UpdateData();
        } catch (...) {
            updating_ = false;
            throw;
        }
        updating_ = false;
        break;
    case TDataEvent::CheckBrowseMode:
        CheckBrowseMode();
        break;
    default:
        break;
    }
}

int TDataLink::ActiveRecord() const
{
    const TDataSet* dataSet = DataSet();
    if (!active_ || dataSet == nullptr)
        return 0;
    return dataSet->activeSlot_ - firstRecord_;
}

void TDataLink::SetActiveRecord(int record)
{
    TDataSet* dataSet = DataSet();
    if (!active_ || dataSet == nullptr)
        return;
    dataSet->activeSlot_ = record + firstRecord_;
}

int TDataLink::RecordCount() const
{
    const TDataSet* dataSet = DataSet();
    if (!active_ || dataSet == nullptr)
        return 0;
    return std::min(dataSet->rowsHeld_, bufferCount_);
}

bool TDataLink::Bof() const
{
    const TDataSet* dataSet = DataSet();
    return dataSet == nullptr || dataSet->Bof();
}

bool TDataLink::Eof() const
{
    const TDataSet* dataSet = DataSet();
    return dataSet == nullptr || dataSet->Eof();
}

int TDataLink::MoveBy(int distance)
{
    TDataSet* dataSet = DataSet();
    if (!active_ || dataSet == nullptr)
        return 0;
    return dataSet->MoveBy(distance);
}

bool TDataLink::Edit()
{
    if (!readOnly_ && dataSource_ != nullptr)
        dataSource_->Edit();
    return editing_;
}

}  // namespace vantelo
