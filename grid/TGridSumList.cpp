#include "grid/TGridSumList.h"

#include <algorithm>

namespace vantelo {

namespace {

size_t SlotOf(TDataSetHook hook)
{
    const auto& events = TGridSumList::kHookedEvents;
    return static_cast<size_t>(std::find(events.begin(), events.end(), hook) - events.begin());
}

}  // namespace

TGridSumList::TGridSumList()
{
    // A footer that gains or loses its item changes what is counted.
    collection_.OnChanged = [this] { RecalcAll(); };
}

TGridSumList::~TGridSumList()
{
    collection_.OnChanged = nullptr;
    OnSumListChanged = nullptr;
    if (hooked_ && dataSet_ != nullptr)
        UnhookEvents();
}

void TGridSumList::SetDataSet(TDataSet* dataSet)
{
    if (dataSet == dataSet_)
        return;
    const bool wasActive = active_;
    SetActive(false);
    dataSet_ = dataSet;
    if (wasActive)
        SetActive(true);
}

void TGridSumList::ForgetDataSet()
{
    dataSet_ = nullptr;
    hooked_ = false;
    saved_ = {};
}

void TGridSumList::SetActive(bool active)
{
    if (active) {
        active_ = true;
        if (dataSet_ != nullptr && !hooked_)
            HookEvents();
        RecalcAll();
    } else {
        active_ = false;
        if (hooked_)
            UnhookEvents();
        ClearValues();
    }
}

void TGridSumList::HookEvents()
{
    for (size_t i = 0; i < kHookedEvents.size(); ++i)
        saved_[i] = dataSet_->Hook(kHookedEvents[i]);
    dataSet_->SetHook(TDataSetHook::AfterEdit, [this](TDataSet& d) { DoAfterEdit(d); });
    dataSet_->SetHook(TDataSetHook::AfterInsert, [this](TDataSet& d) { DoAfterInsert(d); });
    dataSet_->SetHook(TDataSetHook::AfterOpen, [this](TDataSet& d) { DoAfterOpen(d); });
    dataSet_->SetHook(TDataSetHook::AfterPost, [this](TDataSet& d) { DoAfterPost(d); });
    dataSet_->SetHook(TDataSetHook::AfterScroll, [this](TDataSet& d) { DoAfterScroll(d); });
    dataSet_->SetHook(TDataSetHook::BeforeDelete, [this](TDataSet& d) { DoBeforeDelete(d); });
    dataSet_->SetHook(TDataSetHook::AfterClose, [this](TDataSet& d) { DoAfterClose(d); });
    dataSet_->SetHook(TDataSetHook::AfterCancel, [this](TDataSet& d) { DoAfterCancel(d); });
    hooked_ = true;
}

void TGridSumList::UnhookEvents()
{
    for (size_t i = 0; i < kHookedEvents.size(); ++i)
        dataSet_->SetHook(kHookedEvents[i], std::move(saved_[i]));
    saved_ = {};
    hooked_ = false;
}

void TGridSumList::ClearValues()
{
    for (int i = 0; i < collection_.Count(); ++i)
        collection_[i].Clear();
    Changed();
}

void TGridSumList::Changed()
{
    if (OnSumListChanged)
        OnSumListChanged();
}

void TGridSumList::CallSaved(TDataSetHook hook, TDataSet& dataSet)
{
    // A copy: the saved handler may itself replace the hooks.
    TDataSetNotifyEvent handler = saved_[SlotOf(hook)];
    if (handler)
        handler(dataSet);
}

int64_t TGridSumList::Contribution(const TSumItem& item) const
{
    if (item.GroupOperation() != TGroupOperation::goCount)
        return 0;
    if (item.FieldName().empty())
        return kSumScale;
    const TField* field = dataSet_->FindField(item.FieldName());
    return field != nullptr && !field->IsNull() ? kSumScale : 0;
}

void TGridSumList::RecalcAll()
{
    if (!active_ || dataSet_ == nullptr || !dataSet_->Active() || !hooked_)
        return;
    for (int i = 0; i < collection_.Count(); ++i)
        collection_[i].Clear();
    Changed();
    if (OnRecalcStart)
        OnRecalcStart();

    bool walk = false;
    for (int i = 0; i < collection_.Count(); ++i)
        walk = walk || collection_[i].GroupOperation() == TGroupOperation::goCount ||
               !collection_[i].FieldName().empty();

    // Whatever happens in the walk, the list ends its recount: the flag is
    // cleared, the filter remembered and the footer told.
    struct Finish {
        TGridSumList& list;
        ~Finish()
        {
            list.savedFiltered_ = list.dataSet_->Filtered();
            list.savedFilter_ = list.dataSet_->Filter();
            list.changing_ = false;
            list.Changed();
        }
    };

    if (walk) {
        TDataSet& dataSet = *dataSet_;
        dataSet.DisableControls();
        changing_ = true;
        Finish finish{*this};
        try {
            dataSet.First();
            while (!dataSet.Eof()) {
                for (int i = 0; i < collection_.Count(); ++i) {
                    TSumItem& item = collection_[i];
                    item.SetValue(item.Value() + Contribution(item));
                }
                dataSet.Next();
            }
            dataSet.First();
        } catch (...) {
            // The grid must go on following the dataset after a failed walk.
            dataSet.EnableControls();
            throw;
        }
        dataSet.EnableControls();
        if (OnRecalcEnd)
            OnRecalcEnd();
        return;
    }
    Finish finish{*this};
    if (OnRecalcEnd)
        OnRecalcEnd();
}

void TGridSumList::DoAfterOpen(TDataSet& dataSet)
{
    if (active_)
        RecalcAll();
    CallSaved(TDataSetHook::AfterOpen, dataSet);
}

void TGridSumList::DoAfterClose(TDataSet& dataSet)
{
    if (active_) {
        for (int i = 0; i < collection_.Count(); ++i)
            collection_[i].Clear();
        Changed();
        changing_ = false;
    }
    CallSaved(TDataSetHook::AfterClose, dataSet);
}

void TGridSumList::DoAfterEdit(TDataSet& dataSet)
{
    if (active_)
        for (int i = 0; i < collection_.Count(); ++i)
            collection_[i].SetOldContribution(Contribution(collection_[i]));
    CallSaved(TDataSetHook::AfterEdit, dataSet);
}

void TGridSumList::DoAfterInsert(TDataSet& dataSet)
{
    if (active_)
        for (int i = 0; i < collection_.Count(); ++i) {
            TSumItem& item = collection_[i];
            // A new row counted by rows only contributes once it is posted.
            item.SetOldContribution(item.FieldName().empty() ? 0 : Contribution(item));
        }
    CallSaved(TDataSetHook::AfterInsert, dataSet);
}

void TGridSumList::DoAfterPost(TDataSet& dataSet)
{
    if (active_) {
        for (int i = 0; i < collection_.Count(); ++i) {
            TSumItem& item = collection_[i];
            if (item.GroupOperation() == TGroupOperation::goCount)
                item.SetValue(item.Value() - item.OldContribution() + Contribution(item));
        }
        Changed();
    }
    CallSaved(TDataSetHook::AfterPost, dataSet);
}

void TGridSumList::DoBeforeDelete(TDataSet& dataSet)
{
    CallSaved(TDataSetHook::BeforeDelete, dataSet);
    if (!active_)
        return;
    for (int i = 0; i < collection_.Count(); ++i) {
        TSumItem& item = collection_[i];
        if (item.GroupOperation() == TGroupOperation::goCount)
            item.SetValue(item.Value() - Contribution(item));
    }
    Changed();
}

void TGridSumList::DoAfterScroll(TDataSet& dataSet)
{
    CallSaved(TDataSetHook::AfterScroll, dataSet);
    if (!active_ || changing_)
        return;
    if (dataSet.Filtered() != savedFiltered_ || (dataSet.Filtered() && dataSet.Filter() != savedFilter_))
        RecalcAll();
}

void TGridSumList::DoAfterCancel(TDataSet& dataSet)
{
    // Nothing for counts: only a post applies a pending row.
    CallSaved(TDataSetHook::AfterCancel, dataSet);
}

}  // namespace vantelo
