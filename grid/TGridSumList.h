// The grid's sum list: keeps the numbers its footers show (here the record
// count) by hooking eight event slots of the grid's dataset. It saves the
// handlers it finds there, puts its own in their place and calls the saved
// ones from its own, so whoever set them before still runs.
//
// After every open it recounts by walking the whole result with the
// dataset's controls disabled (the grid sees no scrolling meanwhile) and
// leaves the cursor on the first row; afterwards it adjusts by one on post
// and delete without walking. After every change of the values it calls
// OnSumListChanged (the grid repaints its footer).
//
// Sums, averages and field-value footers are not maintained: only count
// items carry numbers (sum and average items stay 0).
#pragma once

#include "grid/TSumCollection.h"
#include "store/TDataSet.h"

#include <array>
#include <functional>
#include <string>

namespace vantelo {

class TGridSumList {
public:
    TGridSumList();
    // Gives the dataset its saved handlers back when they are still hooked.
    ~TGridSumList();
    TGridSumList(const TGridSumList&) = delete;
    TGridSumList& operator=(const TGridSumList&) = delete;

    TDataSet* DataSet() const { return dataSet_; }
    // Points the list at dataSet (null: none). The same dataset: nothing
    // happens. Otherwise an active list unhooks the old dataset (restoring
    // its handlers, zeroing the values), then hooks the new one and recounts.
    void SetDataSet(TDataSet* dataSet);
    // Drops the dataset without touching it (for when it is known to be gone).
    void ForgetDataSet();

    bool Active() const { return active_; }
    // On: hooks the dataset's events (when there is a dataset) and recounts.
    // Off: restores the saved handlers and zeroes the values.
    void SetActive(bool active);
    bool EventsHooked() const { return hooked_; }
    // True while a recount walks the dataset.
    bool Changing() const { return changing_; }

    TSumCollection& SumCollection() { return collection_; }
    const TSumCollection& SumCollection() const { return collection_; }

    // Recounts every item by walking the dataset from its first row; leaves
    // the cursor on the first row. Does nothing when inactive, without a
    // dataset, on a closed dataset or while not hooked. A dataset error
    // during the walk ends the recount (values as far as the walk got,
    // controls enabled again) and goes on to the caller.
    void RecalcAll();

    std::function<void()> OnSumListChanged;
    std::function<void()> OnRecalcStart;
    std::function<void()> OnRecalcEnd;

    // The eight slots the list hooks, in the order it saves them.
    static constexpr std::array<TDataSetHook, 8> kHookedEvents = {
        TDataSetHook::AfterEdit,  TDataSetHook::AfterInsert,  TDataSetHook::AfterOpen,  TDataSetHook::AfterPost,
        TDataSetHook::AfterScroll, TDataSetHook::BeforeDelete, TDataSetHook::AfterClose, TDataSetHook::AfterCancel,
    };

private:
    void HookEvents();
    void UnhookEvents();
    void ClearValues();
    void Changed();
    // The scaled contribution of the current row to a count item.
    int64_t Contribution(const TSumItem& item) const;
    void CallSaved(TDataSetHook hook, TDataSet& dataSet);

    void DoAfterOpen(TDataSet& dataSet);
    void DoAfterClose(TDataSet& dataSet);
    void DoAfterEdit(TDataSet& dataSet);
    void DoAfterInsert(TDataSet& dataSet);
    void DoAfterPost(TDataSet& dataSet);
    void DoBeforeDelete(TDataSet& dataSet);
    void DoAfterScroll(TDataSet& dataSet);
    void DoAfterCancel(TDataSet& dataSet);

    TDataSet* dataSet_ = nullptr;
    bool active_ = false;
    bool hooked_ = false;
    bool changing_ = false;
    std::array<TDataSetNotifyEvent, kHookedEvents.size()> saved_;
    TSumCollection collection_;
    bool savedFiltered_ = false;
    std::string savedFilter_;
};

}  // namespace vantelo
