#include "store/TDataSource.h"

#include "store/TDataLink.h"

#include <algorithm>

namespace vantelo {

TDataSource::TDataSource(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {}

TDataSource::~TDataSource()
{
    SetDataSet(nullptr);
    while (!links_.empty())
        links_.back()->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet)
{
    if (dataSet == dataSet_)
        return;
    if (dataSet_ != nullptr) {
        TDataSet* old = dataSet_;
        dataSet_ = nullptr;
        old->DetachDataSource(this);
    }
    if (dataSet != nullptr) {
        dataSet_ = dataSet;
        dataSet->AttachDataSource(this);
    }
    NotifyState();
}

void TDataSource::SetEnabled(bool enabled)
{
    enabled_ = enabled;
    NotifyState();
}

void TDataSource::Edit()
{
    if (autoEdit_ && dataSet_ != nullptr && state_ == TDataSetState::Browse)
        dataSet_->Edit();
}

void TDataSource::NotifyState()
{
    const TDataSetState state =
        (enabled_ && dataSet_ != nullptr) ? dataSet_->State() : TDataSetState::Inactive;
    if (state == state_)
        return;
    const TDataSetState old = state_;
    state_ = state;
    NotifyLinks(TDataEvent::UpdateState, nullptr, 0);
    if (onStateChange_) {
        TDataSourceNotifyEvent handler = onStateChange_;
        handler(*this);
    }
    if (old == TDataSetState::Inactive && onDataChange_) {
        TDataChangeEvent handler = onDataChange_;
        handler(*this, nullptr);
    }
}

void TDataSource::NotifyLinks(TDataEvent event, TField* field, int distance)
{
    // Non-visual links first, then visual ones, each from the last attached
    // to the first. By index: a link may detach while it is told.
    for (int pass = 0; pass < 2; ++pass) {
        const bool visual = pass == 1;
        for (size_t i = links_.size(); i-- > 0;) {
            if (i >= links_.size())
                continue;
            TDataLink* link = links_[i];
            if (link->VisualControl() == visual)
                link->DataEvent(event, field, distance);
        }
    }
}

void TDataSource::DataEvent(TDataEvent event, TField* field, int distance)
{
    if (event == TDataEvent::UpdateState) {
        NotifyState();
        return;
    }
    if (state_ == TDataSetState::Inactive)
        return;
    NotifyLinks(event, field, distance);
    switch (event) {
    case TDataEvent::FieldChange:
    case TDataEvent::RecordChange:
    case TDataEvent::DataSetChange:
    case TDataEvent::DataSetScroll:
    case TDataEvent::LayoutChange:
        if (onDataChange_) {
            TDataChangeEvent handler = onDataChange_;
            handler(*this, event == TDataEvent::FieldChange ? field : nullptr);
        }
        break;
    case TDataEvent::UpdateRecord:
        if (onUpdateData_) {
            TDataSourceNotifyEvent handler = onUpdateData_;
            handler(*this);
        }
        break;
    default:
        break;
    }
}

void TDataSource::AddLink(TDataLink* link)
{
    links_.push_back(link);
    if (dataSet_ != nullptr)
        dataSet_->UpdateBufferCount();
}

void TDataSource::RemoveLink(TDataLink* link)
{
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
    if (dataSet_ != nullptr)
        dataSet_->UpdateBufferCount();
}

}  // namespace vantelo
