// The dataset cursor: an open result with a current row, a window of B
// buffered rows (B = the largest buffer count among the attached data links,
// at least 1), one field object per result column, the browse/edit/insert
// state machine and the change notifications to the attached data sources.
//
// The rows themselves come from a storage subclass, which overrides the
// protected Storage* operations below. The cursor keeps the window:
//   - buffers_ holds B + 1 record buffers: slots 0..n-1 are the rows held
//     (n = RowsHeld()), slot n is the scratch slot every fetch writes into;
//   - a (ActiveSlot()) is the current row's slot, c (CurrentSlot()) the slot
//     whose row the storage is positioned on, or -1 when unknown;
//   - Bof/Eof are set only by the moves that find no further row.
// Every notification goes to each attached data source in attach order,
// synchronously, unless notifications are disabled (DisableControls).
#pragma once

#include "store/EDatabaseError.h"
#include "store/TComponent.h"
#include "store/TFields.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vantelo {

class TDataSet;
class TDataSource;
class TDataLink;

enum class TDataSetState { Inactive, Browse, Edit, Insert, Opening };

// What the dataset tells its data sources.
enum class TDataEvent {
    FieldChange,          // a field of the active row was set (field given)
    RecordChange,         // the active row changed as a whole (no field)
    DataSetChange,        // the window changed as a whole
    DataSetScroll,        // the window moved by a shift (distance given)
    LayoutChange,         // the fields changed
    UpdateRecord,         // links write their pending input into the fields
    UpdateState,          // the state changed
    CheckBrowseMode,      // a move or a post is about to happen
    DisabledStateChange,  // update-state while notifications are disabled (distance: 1 active, 0 not)
};

// Opaque storage identity of a row. The storage decides what the number
// means (a row id, a rowid); the cursor only copies and compares it through
// the storage.
class TBookmark {
public:
    TBookmark() = default;
    explicit TBookmark(int64_t id) : id_(id) {}
    int64_t Id() const { return id_; }
    bool operator==(const TBookmark&) const = default;

private:
    int64_t id_ = 0;
};

enum class TBookmarkFlag { Current, BeforeFirst, AfterLast, Inserted, NotAvailable };

// One window slot. The storage fills bookmark, flag, status, record number
// and (optionally) storageRow at every successful fetch; values are reset to
// not-fetched by the cursor before each fetch and filled lazily on reads.
struct TRecordBuffer {
    TBookmark bookmark;
    TBookmarkFlag flag = TBookmarkFlag::NotAvailable;
    int32_t recordStatus = 0;   // the storage's own status bits
    bool deleted = false;       // the storage marked the row deleted: no lazy reads
    int64_t recordNumber = -1;  // 1-based; <= 0 when left to be asked later
    int64_t storageRow = -1;    // free for the storage (e.g. its index of the row)
    std::vector<TValue> values; // one slot per field, by TField::Index()
};

enum class TFetchMode { Current, Next, Prior };
enum class TFetchResult { Ok, AtBeginning, AtEnd, Error };

// The replaceable event hooks. A third party may read a slot, keep the
// handler it finds, put its own in place and call the kept one from it.
enum class TDataSetHook {
    BeforeOpen, AfterOpen, BeforeClose, AfterClose,
    BeforeEdit, AfterEdit, BeforeInsert, AfterInsert,
    BeforePost, AfterPost, BeforeCancel, AfterCancel,
    BeforeDelete, AfterDelete, BeforeScroll, AfterScroll,
    OnNewRecord,
};
inline constexpr size_t kDataSetHookCount = static_cast<size_t>(TDataSetHook::OnNewRecord) + 1;

using TDataSetNotifyEvent = std::function<void(TDataSet&)>;

// What an error hook asks for: raise the error, abort silently, or retry.
enum class TDataAction { Fail, Abort, Retry };
using TDataSetErrorEvent = std::function<void(TDataSet&, EDatabaseError&, TDataAction&)>;

class TDataSet : public TComponent {
public:
    explicit TDataSet(TComponent* owner = nullptr, std::string name = {});
    // A storage subclass must call CloseForDestruction() in its own
    // destructor: the storage operations are gone by the time this one runs.
    // Attached data sources are detached (their links become inactive).
    ~TDataSet() override;

    // --- state --------------------------------------------------------------
    TDataSetState State() const { return state_; }
    // True when the state is neither inactive nor opening.
    bool Active() const { return state_ != TDataSetState::Inactive && state_ != TDataSetState::Opening; }
    // Opens (false -> true) or closes (true -> false).
    void SetActive(bool active);
    bool Modified() const { return modified_; }
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }
    // True when the window holds no row (also while closed).
    bool IsEmpty() const { return activeSlot_ >= rowsHeld_; }

    // --- open and close -----------------------------------------------------
    // Opens the result: BeforeOpen, storage open, fields created, first rows
    // read, state browse, AfterOpen, AfterScroll when not empty. Nothing
    // happens when already open. On a storage failure the dataset is left
    // inactive with a cleared window and the error goes on to the caller.
    void Open();
    // Closes: BeforeClose, state inactive, fields destroyed, AfterClose. A
    // pending edit or insert is dropped unwritten. Nothing happens when closed.
    void Close();

    // --- navigation (each raises "Cannot perform this operation on a closed
    // dataset" with the name prefix when closed, and first posts or cancels a
    // pending edit/insert) --------------------------------------------------
    void First();
    void Last();
    // Moves one row forward; at the end sets Eof and keeps the last row current.
    void Next() { MoveBy(1); }
    // Moves one row back; at the start sets Bof and keeps the first row current.
    void Prior() { MoveBy(-1); }
    // Moves distance rows; answers the signed number of rows actually moved.
    int MoveBy(int distance);

    // Raises the closed-dataset error when closed; otherwise the storage's
    // exact number of rows.
    int64_t RecordCount();
    // The 1-based position of the current row; -1 when empty or inserting.
    // Raises the closed-dataset error when closed.
    int64_t RecNo();
    // Moves to the row at recNo (centred in the window). Unchanged position:
    // nothing happens. A pending edit/insert is posted or cancelled first.
    void SetRecNo(int64_t recNo);
    // Whether record numbers and the record count are meaningful.
    bool IsSequenced();

    // --- bookmarks ---------------------------------------------------------
    // The current row's bookmark; none when closed, empty or on a new row.
    std::optional<TBookmark> GetBookmark() const;
    // Makes the bookmarked row current (centred); none: nothing happens.
    // Raises "Record not found" with the name prefix when the row is gone.
    void GotoBookmark(const std::optional<TBookmark>& bookmark);
    void FreeBookmark(std::optional<TBookmark>& bookmark) const { bookmark.reset(); }
    // Three-way comparison: none/none 0, only the first -1, only the second 1.
    int CompareBookmarks(const std::optional<TBookmark>& a, const std::optional<TBookmark>& b);
    // False for none; else asks the storage (its position becomes unknown).
    bool BookmarkValid(const std::optional<TBookmark>& bookmark);

    // --- notifications -----------------------------------------------------
    // Counted. While above 0 nothing reaches the data sources except a
    // disabled-state-change for each state change; EnableControls back to 0
    // sends update-state if the state changed, then the pending event
    // (data-set-change, or layout-change) when the dataset was and is open.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disableCount_ > 0; }

    // --- editing -----------------------------------------------------------
    // Browse -> edit on the current row (insert on an empty dataset); no-op in
    // edit or insert. Raises "Cannot modify a read-only dataset" when the
    // storage cannot modify.
    void Edit();
    // Browse -> insert of a new row (all Null) before the current row.
    void Insert();
    // Writes the pending row; raises "Dataset not in edit or insert mode"
    // outside edit/insert. On a storage failure the row stays pending.
    void Post();
    // Discards the pending row; no-op outside edit/insert.
    void Cancel();
    // Posts or cancels a pending row (posted when modified); raises the
    // closed-dataset error when closed.
    void CheckBrowseMode();
    // Sends update-record (links write their input into the fields); raises
    // "Dataset not in edit or insert mode" outside edit/insert.
    void UpdateRecord();
    // The fields set since edit/insert began, in the order first set.
    const std::vector<TField*>& ModifiedFields() const { return modifiedFields_; }

    // --- fields -------------------------------------------------------------
    TFields& Fields() { return fields_; }
    const TFields& Fields() const { return fields_; }
    // Case-insensitive lookup; raises "Field '%s' not found" with the name
    // prefix when no field has that name (always while closed).
    TField& FieldByName(std::string_view name) const;
    // The same lookup answering null instead of raising.
    TField* FindField(std::string_view name) const { return fields_.Find(name); }
    bool DefaultFields() const { return defaultFields_; }
    // Filters are not supported: never filtered, empty filter text.
    bool Filtered() const { return false; }
    const std::string& Filter() const;

    // --- hooks -------------------------------------------------------------
    const TDataSetNotifyEvent& Hook(TDataSetHook hook) const { return hooks_[static_cast<size_t>(hook)]; }
    void SetHook(TDataSetHook hook, TDataSetNotifyEvent handler) { hooks_[static_cast<size_t>(hook)] = std::move(handler); }
    const TDataSetErrorEvent& OnEditError() const { return onEditError_; }
    void SetOnEditError(TDataSetErrorEvent handler) { onEditError_ = std::move(handler); }
    const TDataSetErrorEvent& OnPostError() const { return onPostError_; }
    void SetOnPostError(TDataSetErrorEvent handler) { onPostError_ = std::move(handler); }

    // --- window (read-only views, for tests and views) ---------------------
    int BufferCount() const { return bufferCount_; }
    int RowsHeld() const { return rowsHeld_; }
    int ActiveSlot() const { return activeSlot_; }
    int CurrentSlot() const { return currentSlot_; }
    const TRecordBuffer& Buffer(int slot) const { return buffers_[static_cast<size_t>(slot)]; }
    size_t DataSourceCount() const { return dataSources_.size(); }

protected:
    // ======================================================================
    // Storage operations. A storage subclass overrides these; the cursor
    // calls them at the points its algorithms give and never otherwise.
    // Errors are raised as EDatabaseError (or any vantelo::Exception).
    // ======================================================================

    // Opens the result: must create the fields (AddField, one per column in
    // result order, each bound to its 1-based column number) and position
    // before the first row. A failure may leave things half-made:
    // StorageClose is called afterwards and must cope.
    virtual void StorageOpen() = 0;
    // Releases the result. The cursor destroys default fields itself after.
    virtual void StorageClose() = 0;
    // Fetches the row at the storage position (Current), or moves one row
    // forward (Next) or back (Prior) and fetches it, into buffer. On Ok the
    // storage sets buffer.bookmark, flag (Current, or NotAvailable when the
    // row cannot be repositioned), recordStatus, deleted, recordNumber (may
    // be left -1 while ControlsDisabled(): it is asked later) and may use
    // storageRow; values arrive reset to not-fetched and may be left so.
    // Past the last row answers AtEnd, before the first AtBeginning. A
    // failure raises when raiseErrors is true, else answers Error.
    virtual TFetchResult StorageFetch(TRecordBuffer& buffer, TFetchMode mode, bool raiseErrors) = 0;
    // Positions on buffer's row (flag Current or Inserted: the bookmark).
    virtual void StoragePositionOn(const TRecordBuffer& buffer) = 0;
    // Positions before the first row / after the last row.
    virtual void StorageBeforeFirst() = 0;
    virtual void StorageAfterLast() = 0;
    // Initialises a new row's buffer; it arrives with every value Null.
    virtual void StorageInitNewRecord(TRecordBuffer& buffer) { (void)buffer; }
    // The active row is about to be edited / a new row inserted. The list of
    // modified fields is already empty.
    virtual void StorageBeginEdit() {}
    virtual void StorageBeginInsert() {}
    // Writes the active row (ActiveBuffer(), State() edit or insert, the
    // changed fields in ModifiedFields()) and stays positioned on the
    // written row. Raises on failure, leaving the row pending.
    virtual void StoragePost() = 0;
    // True when a posted edit leaves every row of the result in its place
    // and every other row as it was: while notifications are off, the
    // cursor then refreshes only the posted row instead of its window.
    virtual bool StorageEditKeepsRows() const { return false; }
    // The pending row is discarded.
    virtual void StorageCancel() {}
    // Whether rows may be edited and inserted.
    virtual bool StorageCanModify() const = 0;
    // The exact number of rows of the result.
    virtual int64_t StorageRecordCount() = 0;
    // The 1-based position of the row the storage is positioned on.
    virtual int64_t StorageRecordNumber() = 0;
    // Positions on the row at recNo (out-of-range values are the storage's
    // to clamp or reject).
    virtual void StorageSetRecordNumber(int64_t recNo) = 0;
    virtual bool StorageIsSequenced() const = 0;
    // Positions on the bookmarked row; a row that is gone must not raise but
    // leave the storage where a Current fetch answers not Ok.
    virtual void StorageGoToBookmark(const TBookmark& bookmark) = 0;
    virtual int StorageCompareBookmarks(const TBookmark& a, const TBookmark& b) = 0;
    virtual bool StorageBookmarkValid(const TBookmark& bookmark) = 0;
    // The column value of field for buffer's row, on which the storage is
    // positioned; Null (or TNull) when the column has no value.
    virtual TValue StorageReadValue(const TField& field, const TRecordBuffer& buffer) = 0;
    // Stores a field value into the active buffer (default: its value slot).
    virtual void StorageStoreValue(const TField& field, TRecordBuffer& buffer, TValue value);

    // --- helpers for the storage -------------------------------------------
    // Closes for a storage's destructor: the hooks are dropped first (their
    // owners may be gone already), the links are still told; errors are
    // swallowed, since a destructor cannot report them.
    void CloseForDestruction() noexcept;
    // Creates and appends the field object for a column type (string,
    // wide string, integer, auto-increment, Boolean), bound to column number
    // fieldNo. Answers null for a type without a field class.
    TField* AddField(TFieldType type, std::string name, int size, bool readOnly, int fieldNo);
    // For a storage that holds its rows in order, with `position` -1 before
    // the first row and `count` after the last: moves it for a fetch in
    // `mode` and answers whether a row is there (Ok) or which end was met.
    static TFetchResult StepPosition(int64_t& position, TFetchMode mode, int64_t count);
    TRecordBuffer& ActiveBuffer() { return buffers_[static_cast<size_t>(activeSlot_)]; }
    // Marks the storage position unknown (the next positioning repositions).
    void ForgetStoragePosition() { currentSlot_ = -1; }
    // Rows of the storage changed or went outside the cursor's operations:
    // in browse the window is fetched again around the active row (or the
    // row nearest to it), keeping Bof and Eof; in edit or insert the
    // pending row stays and only the storage position is forgotten.
    void StorageRowsChanged();

private:
    friend class TField;
    friend class TDataSource;
    friend class TDataLink;

    void SetState(TDataSetState state);
    void DataEvent(TDataEvent event, TField* field = nullptr, int distance = 0);
    void RunHook(TDataSetHook hook);
    void CheckActive() const;
    void CheckCanModify() const;
    [[noreturn]] void Error(const char* message) const;

    // window primitives
    void ClearWindow();
    void ActivateWindow();
    void SetCurrentSlot(int slot);
    TFetchResult Fetch(TRecordBuffer& buffer, TFetchMode mode, bool raiseErrors);
    bool GetNextRecord();
    bool GetPriorRecord();
    int GetNextRecords();
    int GetPriorRecords();
    void Resync(bool exact, bool centre);
    // After an edit's post: what Resync(false, false) would leave, where
    // the storage keeps its rows and the window is full.
    void ResyncPostedEdit();
    void CloseCursor();
    void AllocateBuffers(int count);

    // buffer count changes from links and sources
    int WantedBufferCount() const;
    void UpdateBufferCount();
    void ResizeWindow(int count);
    void MoveLinkOffsets(int by);
    void AttachDataSource(TDataSource* source);
    void DetachDataSource(TDataSource* source);

    // field access from TField
    const TValue& FieldValue(const TField& field);
    void SetFieldValue(TField& field, TValue value);
    // Raises unless field may be written now (edit or insert, not read-only).
    void CheckFieldWritable(const TField& field) const;

    TDataSetState state_ = TDataSetState::Inactive;
    bool modified_ = false;
    bool bof_ = true;
    bool eof_ = true;
    int bufferCount_ = 0;
    int rowsHeld_ = 0;
    int activeSlot_ = 0;
    int currentSlot_ = -1;
    std::vector<TRecordBuffer> buffers_;
    TFields fields_;
    bool defaultFields_ = false;
    std::vector<TField*> modifiedFields_;
    std::vector<TDataSource*> dataSources_;
    std::array<TDataSetNotifyEvent, kDataSetHookCount> hooks_;
    TDataSetErrorEvent onEditError_;
    TDataSetErrorEvent onPostError_;
    int disableCount_ = 0;
    TDataSetState disableState_ = TDataSetState::Inactive;
    TDataEvent pendingEvent_ = TDataEvent::DataSetChange;
};

}  // namespace vantelo
