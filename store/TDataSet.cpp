#include "store/TDataSet.h"

#include "store/StoreTexts.h"
#include "store/TAutoIncField.h"
#include "store/TBooleanField.h"
#include "store/TDataLink.h"
#include "store/TDataSource.h"
#include "store/TIntegerField.h"
#include "store/TWideStringField.h"

#include <algorithm>
#include <exception>

namespace vantelo {

namespace {

// Runs body, then always finish; an error of body goes on after finish ran
// (an error of finish itself replaces it).
template <class Body, class Finish>
void TryFinally(Body&& body, Finish&& finish)
{
    try {
        body();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

bool Editing(TDataSetState state)
{
    return state == TDataSetState::Edit || state == TDataSetState::Insert;
}

const TValue kNullValue{TNull{}};

}  // namespace

TDataSet::TDataSet(TComponent* owner, std::string name) : TComponent(owner, std::move(name)), fields_(this)
{
    ClearWindow();
}

TDataSet::~TDataSet()
{
    // The storage is gone already; release what the cursor holds itself.
    state_ = TDataSetState::Inactive;
    ClearWindow();
    buffers_.clear();
    fields_.Clear();
    while (!dataSources_.empty())
        dataSources_.back()->SetDataSet(nullptr);
}

void TDataSet::SetActive(bool active)
{
    if (active)
        Open();
    else
        Close();
}

// --- notifications and hooks -------------------------------------------------

void TDataSet::SetState(TDataSetState state)
{
    if (state_ == state)
        return;
    state_ = state;
    modified_ = false;
    DataEvent(TDataEvent::UpdateState);
}

void TDataSet::DataEvent(TDataEvent event, TField* field, int distance)
{
    if (event == TDataEvent::FieldChange)
        modified_ = true;
    if (disableCount_ > 0) {
        if (event == TDataEvent::UpdateState) {
            event = TDataEvent::DisabledStateChange;
            distance = Active() ? 1 : 0;
        } else {
            if (event == TDataEvent::LayoutChange)
                pendingEvent_ = TDataEvent::LayoutChange;
            return;
        }
    }
    // By index: a handler may attach or detach a source meanwhile.
    for (size_t i = 0; i < dataSources_.size(); ++i)
        dataSources_[i]->DataEvent(event, field, distance);
}

void TDataSet::RunHook(TDataSetHook hook)
{
    const TDataSetNotifyEvent& slot = hooks_[static_cast<size_t>(hook)];
    if (!slot)
        return;
    // A copy: the handler may replace itself while it runs.
    TDataSetNotifyEvent handler = slot;
    handler(*this);
}

void TDataSet::DisableControls()
{
    if (disableCount_ == 0) {
        disableState_ = state_;
        pendingEvent_ = TDataEvent::DataSetChange;
    }
    ++disableCount_;
}

void TDataSet::EnableControls()
{
    if (disableCount_ == 0)
        return;
    if (--disableCount_ > 0)
        return;
    if (state_ != disableState_)
        DataEvent(TDataEvent::UpdateState);
    if (disableState_ != TDataSetState::Inactive && state_ != TDataSetState::Inactive)
        DataEvent(pendingEvent_);
}

void TDataSet::Error(const char* message) const
{
    EDatabaseError::Raise(message, this);
}

void TDataSet::CheckActive() const
{
    if (state_ == TDataSetState::Inactive)
        Error(StoreTexts::kDataSetClosed);
}

void TDataSet::CheckCanModify() const
{
    if (!StorageCanModify())
        Error(StoreTexts::kDataSetReadOnly);
}

const std::string& TDataSet::Filter() const
{
    static const std::string empty;
    return empty;
}

// --- window primitives -------------------------------------------------------

void TDataSet::ClearWindow()
{
    rowsHeld_ = 0;
    activeSlot_ = 0;
    currentSlot_ = -1;
    bof_ = true;
    eof_ = true;
}

void TDataSet::ActivateWindow()
{
    rowsHeld_ = 1;
    activeSlot_ = 0;
    currentSlot_ = 0;
    bof_ = false;
    eof_ = false;
}

void TDataSet::SetCurrentSlot(int slot)
{
    if (slot == currentSlot_)
        return;
    const TRecordBuffer& buffer = buffers_[static_cast<size_t>(slot)];
    switch (buffer.flag) {
    case TBookmarkFlag::BeforeFirst:
        StorageBeforeFirst();
        break;
    case TBookmarkFlag::AfterLast:
        StorageAfterLast();
        break;
    case TBookmarkFlag::NotAvailable:
        break;
    case TBookmarkFlag::Current:
    case TBookmarkFlag::Inserted:
        StoragePositionOn(buffer);
        break;
    }
    currentSlot_ = slot;
}

TFetchResult TDataSet::Fetch(TRecordBuffer& buffer, TFetchMode mode, bool raiseErrors)
{
    for (TValue& value : buffer.values)
        value = TNotFetched{};
    buffer.deleted = false;
    buffer.recordNumber = -1;
    // The fetch moves the storage; until it answers, its position is unknown.
    currentSlot_ = -1;
    return StorageFetch(buffer, mode, raiseErrors);
}

bool TDataSet::GetNextRecord()
{
    TFetchMode mode = TFetchMode::Next;
    if (rowsHeld_ > 0) {
        SetCurrentSlot(rowsHeld_ - 1);
        if (state_ == TDataSetState::Insert && currentSlot_ == activeSlot_ &&
            ActiveBuffer().flag == TBookmarkFlag::Current)
            mode = TFetchMode::Current;
    }
    if (Fetch(buffers_[static_cast<size_t>(rowsHeld_)], mode, true) != TFetchResult::Ok)
        return false;
    if (rowsHeld_ == 0) {
        ActivateWindow();
    } else if (rowsHeld_ < bufferCount_) {
        ++rowsHeld_;
    } else {
        // The first row leaves the window; its buffer becomes the scratch slot.
        std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.end());
    }
    currentSlot_ = rowsHeld_ - 1;
    return true;
}

bool TDataSet::GetPriorRecord()
{
    if (rowsHeld_ > 0)
        SetCurrentSlot(0);
    if (Fetch(buffers_[static_cast<size_t>(rowsHeld_)], TFetchMode::Prior, true) != TFetchResult::Ok)
        return false;
    if (rowsHeld_ == 0) {
        ActivateWindow();
    } else {
        // The fetched row goes to slot 0; in a full window the last row
        // becomes the scratch slot.
        std::rotate(buffers_.begin(), buffers_.begin() + rowsHeld_, buffers_.begin() + rowsHeld_ + 1);
        if (rowsHeld_ < bufferCount_) {
            ++rowsHeld_;
            ++activeSlot_;
        }
    }
    currentSlot_ = 0;
    return true;
}

int TDataSet::GetNextRecords()
{
    int added = 0;
    while (rowsHeld_ < bufferCount_ && GetNextRecord())
        ++added;
    return added;
}

int TDataSet::GetPriorRecords()
{
    int added = 0;
    while (rowsHeld_ < bufferCount_ && GetPriorRecord())
        ++added;
    return added;
}

void TDataSet::Resync(bool exact, bool centre)
{
    TRecordBuffer& scratch = buffers_[static_cast<size_t>(rowsHeld_)];
    if (exact) {
        if (Fetch(scratch, TFetchMode::Current, true) != TFetchResult::Ok)
            Error(StoreTexts::kRecordNotFound);
    } else if (Fetch(scratch, TFetchMode::Current, false) != TFetchResult::Ok &&
               Fetch(scratch, TFetchMode::Next, false) != TFetchResult::Ok &&
               Fetch(scratch, TFetchMode::Prior, false) != TFetchResult::Ok) {
        ClearWindow();
        DataEvent(TDataEvent::DataSetChange);
        return;
    }
    int before = centre ? (bufferCount_ - 1) / 2 : activeSlot_;
    std::swap(buffers_[0], scratch);
    ActivateWindow();
    TryFinally(
        [&] {
            while (before > 0) {
                --before;
                if (!GetPriorRecord())
                    break;
            }
            GetNextRecords();
            GetPriorRecords();
        },
        [&] { DataEvent(TDataEvent::DataSetChange); });
}

void TDataSet::StorageRowsChanged()
{
    ForgetStoragePosition();
    if (state_ != TDataSetState::Browse || rowsHeld_ == 0)
        return;
    const bool bof = bof_;
    const bool eof = eof_;
    StoragePositionOn(ActiveBuffer());
    Resync(false, false);
    bof_ = bof_ || bof;
    eof_ = eof_ || eof;
}

void TDataSet::ResyncPostedEdit()
{
    // A full window of consecutive rows that all stay where they are would
    // be refetched as the same rows in the same slots: only the posted one
    // is read afresh, the others keep what they hold (their rows did not
    // change). With notifications on, the views get the whole refetch.
    if (disableCount_ == 0 || rowsHeld_ != bufferCount_ || !StorageEditKeepsRows() ||
        Fetch(ActiveBuffer(), TFetchMode::Current, false) != TFetchResult::Ok) {
        Resync(false, false);
        return;
    }
    currentSlot_ = activeSlot_;
    bof_ = false;
    eof_ = false;
    DataEvent(TDataEvent::DataSetChange);
}

void TDataSet::AllocateBuffers(int count)
{
    bufferCount_ = count;
    buffers_.resize(static_cast<size_t>(count) + 1);
    for (TRecordBuffer& buffer : buffers_)
        buffer.values.resize(static_cast<size_t>(fields_.Count()), TNotFetched{});
}

void TDataSet::CloseCursor()
{
    ClearWindow();
    buffers_.clear();
    modifiedFields_.clear();
    try {
        StorageClose();
    } catch (...) {
        if (defaultFields_)
            fields_.Clear();
        bufferCount_ = 0;
        throw;
    }
    if (defaultFields_)
        fields_.Clear();
    bufferCount_ = 0;
}

// --- open and close ----------------------------------------------------------

void TDataSet::Open()
{
    if (Active())
        return;
    RunHook(TDataSetHook::BeforeOpen);
    bool complete = false;
    TryFinally(
        [&] {
            defaultFields_ = fields_.Count() == 0;
            StorageOpen();
            complete = true;
            AllocateBuffers(WantedBufferCount());
            GetNextRecords();
            bof_ = true;
        },
        [&] {
            if (complete) {
                SetState(TDataSetState::Browse);
                RunHook(TDataSetHook::AfterOpen);
                if (!IsEmpty())
                    RunHook(TDataSetHook::AfterScroll);
            } else {
                SetState(TDataSetState::Inactive);
                CloseCursor();
            }
        });
}

void TDataSet::Close()
{
    if (!Active())
        return;
    RunHook(TDataSetHook::BeforeClose);
    SetState(TDataSetState::Inactive);
    CloseCursor();
    RunHook(TDataSetHook::AfterClose);
}

void TDataSet::CloseForDestruction() noexcept
{
    hooks_ = {};
    onEditError_ = nullptr;
    onPostError_ = nullptr;
    try {
        Close();
    } catch (...) {
        // Nothing to report to; the cursor below is released regardless.
    }
}

TFetchResult TDataSet::StepPosition(int64_t& position, TFetchMode mode, int64_t count)
{
    switch (mode) {
    case TFetchMode::Current:
        break;
    case TFetchMode::Next:
        if (position < count)
            ++position;
        break;
    case TFetchMode::Prior:
        if (position >= 0)
            --position;
        break;
    }
    if (position >= count)
        return TFetchResult::AtEnd;
    if (position < 0)
        return TFetchResult::AtBeginning;
    return TFetchResult::Ok;
}

TField* TDataSet::AddField(TFieldType type, std::string name, int size, bool readOnly, int fieldNo)
{
    std::unique_ptr<TField> field;
    switch (type) {
    case TFieldType::ftString:
        field = std::make_unique<TStringField>(std::move(name), size);
        break;
    case TFieldType::ftWideString:
        field = std::make_unique<TWideStringField>(std::move(name), size);
        break;
    case TFieldType::ftInteger:
        field = std::make_unique<TIntegerField>(std::move(name));
        break;
    case TFieldType::ftAutoInc:
        field = std::make_unique<TAutoIncField>(std::move(name));
        break;
    case TFieldType::ftBoolean:
        field = std::make_unique<TBooleanField>(std::move(name));
        break;
    case TFieldType::ftUnknown:
        return nullptr;
    }
    field->SetReadOnly(readOnly || type == TFieldType::ftAutoInc);
    field->fieldNo_ = fieldNo;
    return &fields_.Add(std::move(field));
}

// --- navigation --------------------------------------------------------------

void TDataSet::CheckBrowseMode()
{
    CheckActive();
    DataEvent(TDataEvent::CheckBrowseMode);
    if (Editing(state_)) {
        UpdateRecord();
        if (modified_)
            Post();
        else
            Cancel();
    }
}

void TDataSet::First()
{
    CheckBrowseMode();
    RunHook(TDataSetHook::BeforeScroll);
    TryFinally(
        [&] {
            ClearWindow();
            StorageBeforeFirst();
            GetNextRecord();
            GetNextRecords();
        },
        [&] {
            bof_ = true;
            DataEvent(TDataEvent::DataSetChange);
            RunHook(TDataSetHook::AfterScroll);
        });
}

void TDataSet::Last()
{
    CheckBrowseMode();
    RunHook(TDataSetHook::BeforeScroll);
    TryFinally(
        [&] {
            ClearWindow();
            StorageAfterLast();
            GetPriorRecord();
            GetPriorRecords();
        },
        [&] {
            eof_ = true;
            DataEvent(TDataEvent::DataSetChange);
            RunHook(TDataSetHook::AfterScroll);
        });
}

int TDataSet::MoveBy(int distance)
{
    CheckBrowseMode();
    RunHook(TDataSetHook::BeforeScroll);
    if (distance == 0 || (distance > 0 && eof_) || (distance < 0 && bof_))
        return 0;
    bof_ = false;
    eof_ = false;
    const int heldBefore = rowsHeld_;
    int shift = 0;
    int moved = 0;
    TryFinally(
        [&] {
            while (distance > 0) {
                if (activeSlot_ < rowsHeld_ - 1) {
                    ++activeSlot_;
                } else {
                    const bool full = rowsHeld_ >= bufferCount_;
                    if (!GetNextRecord()) {
                        eof_ = true;
                        break;
                    }
                    if (full)
                        --shift;
                    else
                        ++activeSlot_;
                }
                --distance;
                ++moved;
            }
            while (distance < 0) {
                if (activeSlot_ > 0) {
                    --activeSlot_;
                } else {
                    const bool full = rowsHeld_ >= bufferCount_;
                    if (!GetPriorRecord()) {
                        bof_ = true;
                        break;
                    }
                    if (full)
                        ++shift;
                    // The fetched row took slot 0 and is the current one.
                    activeSlot_ = 0;
                }
                ++distance;
                --moved;
            }
        },
        // The views follow the window also when a fetch failed part-way.
        [&] {
            if (rowsHeld_ == heldBefore)
                DataEvent(TDataEvent::DataSetScroll, nullptr, shift);
            else
                DataEvent(TDataEvent::DataSetChange);
        });
    RunHook(TDataSetHook::AfterScroll);
    return moved;
}

int64_t TDataSet::RecordCount()
{
    CheckActive();
    return StorageRecordCount();
}

int64_t TDataSet::RecNo()
{
    CheckActive();
    if (state_ == TDataSetState::Insert || IsEmpty())
        return -1;
    const TRecordBuffer& buffer = ActiveBuffer();
    if (buffer.recordNumber > 0)
        return buffer.recordNumber;
    // Fetched while notifications were disabled: ask the storage now.
    SetCurrentSlot(activeSlot_);
    return StorageRecordNumber();
}

void TDataSet::SetRecNo(int64_t recNo)
{
    // A pending row would otherwise be replaced by the resync while the
    // state still says edit or insert, and its changes silently lost.
    if (Editing(state_))
        CheckBrowseMode();
    if (recNo == RecNo())
        return;
    RunHook(TDataSetHook::BeforeScroll);
    StorageSetRecordNumber(recNo);
    currentSlot_ = -1;
    Resync(false, true);
    RunHook(TDataSetHook::AfterScroll);
}

bool TDataSet::IsSequenced()
{
    return StorageIsSequenced();
}

// --- bookmarks ---------------------------------------------------------------

std::optional<TBookmark> TDataSet::GetBookmark() const
{
    if (!Active() || IsEmpty())
        return std::nullopt;
    const TRecordBuffer& buffer = buffers_[static_cast<size_t>(activeSlot_)];
    if (buffer.flag != TBookmarkFlag::Current)
        return std::nullopt;
    return buffer.bookmark;
}

void TDataSet::GotoBookmark(const std::optional<TBookmark>& bookmark)
{
    if (!bookmark)
        return;
    CheckBrowseMode();
    RunHook(TDataSetHook::BeforeScroll);
    currentSlot_ = -1;
    StorageGoToBookmark(*bookmark);
    Resync(true, true);
    RunHook(TDataSetHook::AfterScroll);
}

int TDataSet::CompareBookmarks(const std::optional<TBookmark>& a, const std::optional<TBookmark>& b)
{
    if (!a && !b)
        return 0;
    if (!b)
        return -1;
    if (!a)
        return 1;
    return StorageCompareBookmarks(*a, *b);
}

bool TDataSet::BookmarkValid(const std::optional<TBookmark>& bookmark)
{
    if (!bookmark || !Active())
        return false;
    currentSlot_ = -1;
    return StorageBookmarkValid(*bookmark);
}

// --- editing -----------------------------------------------------------------

namespace {

// Runs operation; an EDatabaseError goes to the error hook, which may ask to
// fail (the error goes on), abort (silently) or retry.
template <class Operation>
void WithErrorHook(TDataSet& dataSet, const TDataSetErrorEvent& hook, Operation&& operation)
{
    for (;;) {
        try {
            operation();
            return;
        } catch (EDatabaseError& error) {
            if (!hook)
                throw;
            TDataAction action = TDataAction::Fail;
            TDataSetErrorEvent handler = hook;
            handler(dataSet, error, action);
            if (action == TDataAction::Fail)
                throw;
            if (action == TDataAction::Abort)
                throw EAbort();
        }
    }
}

}  // namespace

void TDataSet::Edit()
{
    if (Editing(state_))
        return;
    if (rowsHeld_ == 0) {
        Insert();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    RunHook(TDataSetHook::BeforeEdit);
    WithErrorHook(*this, onEditError_, [&] {
        SetCurrentSlot(activeSlot_);
        modifiedFields_.clear();
        StorageBeginEdit();
    });
    SetState(TDataSetState::Edit);
    DataEvent(TDataEvent::RecordChange);
    RunHook(TDataSetHook::AfterEdit);
}

void TDataSet::Insert()
{
    CheckBrowseMode();
    CheckCanModify();
    RunHook(TDataSetHook::BeforeInsert);
    RunHook(TDataSetHook::BeforeScroll);
    const bool hadRows = rowsHeld_ > 0;
    const TBookmark standsBefore = hadRows ? ActiveBuffer().bookmark : TBookmark{};
    // The scratch buffer moves into the active slot; the rows from there on
    // move down one slot (in a full window the last one leaves it).
    std::rotate(buffers_.begin() + activeSlot_, buffers_.begin() + rowsHeld_,
                buffers_.begin() + rowsHeld_ + 1);
    // The slots moved under the storage's position.
    currentSlot_ = -1;
    TRecordBuffer& buffer = ActiveBuffer();
    for (TValue& value : buffer.values)
        value = TNull{};
    buffer.deleted = false;
    buffer.recordNumber = -1;
    buffer.recordStatus = 0;
    StorageInitNewRecord(buffer);
    if (hadRows) {
        buffer.flag = TBookmarkFlag::Inserted;
        buffer.bookmark = standsBefore;
    } else {
        buffer.flag = TBookmarkFlag::BeforeFirst;
    }
    if (rowsHeld_ < bufferCount_)
        ++rowsHeld_;
    modifiedFields_.clear();
    StorageBeginInsert();
    SetState(TDataSetState::Insert);
    try {
        RunHook(TDataSetHook::OnNewRecord);
    } catch (...) {
        SetCurrentSlot(activeSlot_);
        StorageCancel();
        SetState(TDataSetState::Browse);
        modifiedFields_.clear();
        Resync(false, false);
        throw;
    }
    modified_ = false;
    DataEvent(TDataEvent::DataSetChange);
    RunHook(TDataSetHook::AfterInsert);
    RunHook(TDataSetHook::AfterScroll);
}

void TDataSet::UpdateRecord()
{
    if (!Editing(state_))
        Error(StoreTexts::kNotEditing);
    DataEvent(TDataEvent::UpdateRecord);
}

void TDataSet::Post()
{
    UpdateRecord();
    DataEvent(TDataEvent::CheckBrowseMode);
    RunHook(TDataSetHook::BeforePost);
    WithErrorHook(*this, onPostError_, [&] {
        SetCurrentSlot(activeSlot_);
        StoragePost();
    });
    const bool edited = state_ == TDataSetState::Edit;
    modifiedFields_.clear();
    SetState(TDataSetState::Browse);
    if (edited)
        ResyncPostedEdit();
    else
        Resync(false, false);
    RunHook(TDataSetHook::AfterPost);
}

void TDataSet::Cancel()
{
    if (!Editing(state_))
        return;
    DataEvent(TDataEvent::CheckBrowseMode);
    RunHook(TDataSetHook::BeforeCancel);
    const bool wasInsert = state_ == TDataSetState::Insert;
    if (wasInsert)
        RunHook(TDataSetHook::BeforeScroll);
    SetCurrentSlot(activeSlot_);
    StorageCancel();
    modifiedFields_.clear();
    SetState(TDataSetState::Browse);
    Resync(false, false);
    RunHook(TDataSetHook::AfterCancel);
    if (wasInsert)
        RunHook(TDataSetHook::AfterScroll);
}

// --- fields ------------------------------------------------------------------

TField& TDataSet::FieldByName(std::string_view name) const
{
    if (TField* field = fields_.Find(name))
        return *field;
    EDatabaseError::Raise(Format(StoreTexts::kFieldNotFound, std::string(name).c_str()), this);
}

const TValue& TDataSet::FieldValue(const TField& field)
{
    if (!Active() || IsEmpty() || field.Index() < 0)
        return kNullValue;
    TRecordBuffer& buffer = ActiveBuffer();
    TValue& slot = buffer.values[static_cast<size_t>(field.Index())];
    if (std::holds_alternative<TNotFetched>(slot)) {
        if (buffer.deleted)
            return kNullValue;
        SetCurrentSlot(activeSlot_);
        slot = StorageReadValue(field, buffer);
        if (std::holds_alternative<TNotFetched>(slot))
            slot = TNull{};
    }
    return slot;
}

void TDataSet::CheckFieldWritable(const TField& field) const
{
    if (!Editing(state_))
        Error(StoreTexts::kNotEditing);
    if (field.ReadOnly())
        EDatabaseError::Raise(Format(StoreTexts::kFieldReadOnly, field.DisplayName().c_str()));
}

void TDataSet::SetFieldValue(TField& field, TValue value)
{
    CheckFieldWritable(field);
    if (std::find(modifiedFields_.begin(), modifiedFields_.end(), &field) == modifiedFields_.end())
        modifiedFields_.push_back(&field);
    if (std::holds_alternative<TNotFetched>(value))
        value = TNull{};
    StorageStoreValue(field, ActiveBuffer(), std::move(value));
    DataEvent(TDataEvent::FieldChange, &field);
}

void TDataSet::StorageStoreValue(const TField& field, TRecordBuffer& buffer, TValue value)
{
    buffer.values[static_cast<size_t>(field.Index())] = std::move(value);
}

// --- data sources and the buffer count ---------------------------------------

void TDataSet::AttachDataSource(TDataSource* source)
{
    dataSources_.push_back(source);
    UpdateBufferCount();
}

void TDataSet::DetachDataSource(TDataSource* source)
{
    dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source), dataSources_.end());
    UpdateBufferCount();
}

int TDataSet::WantedBufferCount() const
{
    int wanted = 1;
    for (const TDataSource* source : dataSources_)
        for (const TDataLink* link : source->links_)
            wanted = std::max(wanted, link->BufferCount());
    return wanted;
}

void TDataSet::UpdateBufferCount()
{
    // Only an open window is resized; an open computes B afresh.
    if (buffers_.empty())
        return;
    ResizeWindow(WantedBufferCount());
}

void TDataSet::MoveLinkOffsets(int by)
{
    for (TDataSource* source : dataSources_)
        for (TDataLink* link : source->links_)
            if (link->active_)
                link->firstRecord_ += by;
}

void TDataSet::ResizeWindow(int count)
{
    if (count == bufferCount_)
        return;
    if (count < bufferCount_) {
        // Keep the rows from the top-most of the active row and the first
        // rows the active links show, as far as room for count rows allows.
        int top = activeSlot_;
        for (const TDataSource* source : dataSources_)
            for (const TDataLink* link : source->links_)
                if (link->active_)
                    top = std::min(top, link->firstRecord_);
        top = std::max(0, std::min(top, rowsHeld_ - count));
        if (top > 0) {
            std::rotate(buffers_.begin(), buffers_.begin() + top, buffers_.end());
            activeSlot_ -= top;
            rowsHeld_ -= top;
            currentSlot_ = currentSlot_ >= top ? currentSlot_ - top : -1;
            MoveLinkOffsets(-top);
        }
        if (rowsHeld_ > count)
            rowsHeld_ = count;
        if (currentSlot_ >= rowsHeld_)
            currentSlot_ = -1;
        // Never cut the active row away, whatever the links said.
        activeSlot_ = std::min(activeSlot_, std::max(0, rowsHeld_ - 1));
        // A link whose rows started below the new top would now run past the
        // rows held (into the scratch slot): its rows end at the last one.
        for (TDataSource* source : dataSources_)
            for (TDataLink* link : source->links_)
                if (link->active_)
                    link->firstRecord_ = std::min(link->firstRecord_, std::max(0, rowsHeld_ - link->bufferCount_));
        buffers_.resize(static_cast<size_t>(count) + 1);
        bufferCount_ = count;
        return;
    }
    AllocateBuffers(count);
    if (rowsHeld_ == 0)
        return;
    GetNextRecords();
    const int inFront = GetPriorRecords();
    MoveLinkOffsets(inFront);
}

}  // namespace vantelo
