// Serves one dataset to any number of data links: keeps its own copy of the
// dataset's state and passes the dataset's notifications on to its links,
// first to the links that are not visual controls, then to the visual ones,
// each group from the last attached link to the first.
#pragma once

#include "store/TComponent.h"
#include "store/TDataSet.h"

#include <functional>
#include <vector>

namespace vantelo {

class TDataLink;
class TDataSource;

using TDataChangeEvent = std::function<void(TDataSource&, TField*)>;
using TDataSourceNotifyEvent = std::function<void(TDataSource&)>;

class TDataSource : public TComponent {
public:
    explicit TDataSource(TComponent* owner = nullptr, std::string name = {});
    // Detaches from the dataset and from every link (links become inactive).
    ~TDataSource() override;

    TDataSet* DataSet() const { return dataSet_; }
    // Attaches to dataSet (null detaches); the dataset's window follows the
    // buffer counts of this source's links, and the links take the new state.
    void SetDataSet(TDataSet* dataSet);
    // The copy of the dataset's state: inactive when disabled or without dataset.
    TDataSetState State() const { return state_; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool AutoEdit() const { return autoEdit_; }
    void SetAutoEdit(bool autoEdit) { autoEdit_ = autoEdit; }
    // Runs the dataset's edit when AutoEdit is on and the state is browse.
    void Edit();

    size_t LinkCount() const { return links_.size(); }
    TDataLink* Link(size_t index) const { return links_[index]; }

    const TDataChangeEvent& OnDataChange() const { return onDataChange_; }
    void SetOnDataChange(TDataChangeEvent handler) { onDataChange_ = std::move(handler); }
    const TDataSourceNotifyEvent& OnStateChange() const { return onStateChange_; }
    void SetOnStateChange(TDataSourceNotifyEvent handler) { onStateChange_ = std::move(handler); }
    const TDataSourceNotifyEvent& OnUpdateData() const { return onUpdateData_; }
    void SetOnUpdateData(TDataSourceNotifyEvent handler) { onUpdateData_ = std::move(handler); }

private:
    friend class TDataSet;
    friend class TDataLink;

    void DataEvent(TDataEvent event, TField* field, int distance);
    void NotifyState();
    void NotifyLinks(TDataEvent event, TField* field, int distance);
    void AddLink(TDataLink* link);
    void RemoveLink(TDataLink* link);

    TDataSet* dataSet_ = nullptr;
    TDataSetState state_ = TDataSetState::Inactive;
    bool enabled_ = true;
    bool autoEdit_ = true;
    std::vector<TDataLink*> links_;
    TDataChangeEvent onDataChange_;
    TDataSourceNotifyEvent onStateChange_;
    TDataSourceNotifyEvent onUpdateData_;
};

}  // namespace vantelo
