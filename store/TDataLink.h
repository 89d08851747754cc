// A consumer's view of a data source: its own window of BufferCount() rows
// inside the dataset's window, starting at the first-record offset. The
// consumer (a grid) sets the buffer count, addresses its rows through
// ActiveRecord, and overrides the notification methods, which default to
// nothing unless stated.
#pragma once

#include "store/TDataSet.h"

namespace vantelo {

class TDataSource;

class TDataLink {
public:
    TDataLink() = default;
    // Detaches from the data source.
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return dataSource_; }
    // Attaches to source (null detaches) and takes its state.
    void SetDataSource(TDataSource* source);
    // The source's dataset, or null.
    TDataSet* DataSet() const;

    bool Active() const { return active_; }
    // True while the dataset edits or inserts and the link is not read-only.
    bool Editing() const { return editing_; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);
    bool VisualControl() const { return visualControl_; }
    void SetVisualControl(bool visual) { visualControl_ = visual; }

    // Rows the consumer wants buffered (at least 1). Changing it while the
    // dataset is open resizes the dataset's window.
    int BufferCount() const { return bufferCount_; }
    void SetBufferCount(int count);
    // The dataset slot that is the consumer's first row.
    int FirstRecord() const { return firstRecord_; }

    // The dataset's active slot relative to this link's window; 0 when inactive.
    int ActiveRecord() const;
    // Makes record (relative to this link's window) the dataset's active row;
    // a grid sets it to paint each row and restores it. Ignored when inactive.
    void SetActiveRecord(int record);
    // Rows in this link's window: the smaller of the rows held and BufferCount.
    int RecordCount() const;
    bool Bof() const;
    bool Eof() const;
    // The dataset's MoveBy; 0 when inactive.
    int MoveBy(int distance);
    // Asks the data source to edit (unless read-only); answers Editing().
    bool Edit();

protected:
    virtual void ActiveChanged() {}
    virtual void EditingChanged() {}
    // A field of the current row changed (field), or the whole row (null).
    virtual void RecordChanged(TField* field) { (void)field; }
    // Default: RecordChanged(nullptr).
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    // The window moved by distance rows. Default: DataSetChanged().
    virtual void DataSetScrolled(int distance) { (void)distance; DataSetChanged(); }
    virtual void LayoutChanged() {}
    // Write pending consumer input into the fields.
    virtual void UpdateData() {}
    virtual void CheckBrowseMode() {}
    virtual void FocusControl(TField* field) { (void)field; }

private:
    friend class TDataSource;
    friend class TDataSet;

    void DataEvent(TDataEvent event, TField* field, int distance);
    void UpdateState();
    void ApplyRangeRule();

    TDataSource* dataSource_ = nullptr;
    bool active_ = false;
    bool editing_ = false;
    bool readOnly_ = false;
    bool visualControl_ = false;
    bool updating_ = false;
    int bufferCount_ = 1;
    int firstRecord_ = 0;
};

}  // namespace vantelo
