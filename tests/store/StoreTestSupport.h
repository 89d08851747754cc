// Test helpers for the dataset cursor: a file-list shaped in-memory dataset,
// a data link and hook set that write every notification into one log, and
// the window invariants checked after every step.
#pragma once

#include "store/TDataLink.h"
#include "store/TDataSource.h"
#include "store/TMemoryDataSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace vantelo::test {

using Log = std::vector<std::string>;

// The three columns of the file list: FileIndex (auto-increment),
// FileName (wide text of 255 characters), FileEnable (yes/no).
inline std::vector<TMemoryColumn> FileListColumns(int nameSize = 255)
{
    return {{"FileIndex", TFieldType::ftAutoInc, 0, true},
            {"FileName", TFieldType::ftWideString, nameSize, false},
            {"FileEnable", TFieldType::ftBoolean, 0, false}};
}

inline std::u16string RowName(int64_t id)
{
    const std::string text = "file" + std::to_string(id);
    return std::u16string(text.begin(), text.end());
}

// Fills a dataset with rows "file1".."fileN", all enabled.
inline void FillFileList(TMemoryDataSet& dataSet, int rows)
{
    dataSet.SetColumns(FileListColumns());
    for (int i = 1; i <= rows; ++i)
        dataSet.AppendRow({TNull{}, RowName(i), int16_t{1}});
}

inline const char* FieldLabel(const TField* field)
{
    return field ? field->FieldName().c_str() : "-";
}

// Writes each notification method into the log, with a tag.
class RecordingLink : public TDataLink {
public:
    RecordingLink(Log& log, std::string tag = {}) : log_(log), tag_(std::move(tag)) {}
    ~RecordingLink() override { SetDataSource(nullptr); }
    bool recordUpdates = true;

protected:
    void ActiveChanged() override { Write("ActiveChanged"); }
    void EditingChanged() override { Write("EditingChanged"); }
    void RecordChanged(TField* field) override { Write(std::string("RecordChanged(") + FieldLabel(field) + ")"); }
    void DataSetChanged() override { Write("DataSetChanged"); }
    void DataSetScrolled(int distance) override { Write("DataSetScrolled(" + std::to_string(distance) + ")"); }
    void LayoutChanged() override { Write("LayoutChanged"); }
    void UpdateData() override { Write("UpdateData"); }
    void CheckBrowseMode() override { Write("CheckBrowseMode"); }

private:
    void Write(std::string entry)
    {
        if (recordUpdates)
            log_.push_back(tag_.empty() ? entry : tag_ + ":" + entry);
    }
    Log& log_;
    std::string tag_;
};

inline const char* HookName(TDataSetHook hook)
{
    static const char* const names[] = {
        "BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose", "BeforeEdit", "AfterEdit",
        "BeforeInsert", "AfterInsert", "BeforePost", "AfterPost", "BeforeCancel", "AfterCancel",
        "BeforeDelete", "AfterDelete", "BeforeScroll", "AfterScroll", "OnNewRecord"};
    return names[static_cast<size_t>(hook)];
}

// Puts a logging handler on every hook of the dataset.
inline void RecordHooks(TDataSet& dataSet, Log& log)
{
    for (size_t i = 0; i < kDataSetHookCount; ++i) {
        const auto hook = static_cast<TDataSetHook>(i);
        dataSet.SetHook(hook, [&log, hook](TDataSet&) { log.push_back(HookName(hook)); });
    }
}

inline const char* StateName(TDataSetState state)
{
    switch (state) {
    case TDataSetState::Inactive: return "Inactive";
    case TDataSetState::Browse: return "Browse";
    case TDataSetState::Edit: return "Edit";
    case TDataSetState::Insert: return "Insert";
    case TDataSetState::Opening: return "Opening";
    }
    return "?";
}

// Writes the data source's hooks into the log.
inline void RecordSource(TDataSource& source, Log& log)
{
    source.SetOnStateChange([&log](TDataSource& s) { log.push_back(std::string("State(") + StateName(s.State()) + ")"); });
    source.SetOnDataChange([&log](TDataSource&, TField* field) {
        log.push_back(std::string("DataChange(") + FieldLabel(field) + ")");
    });
    source.SetOnUpdateData([&log](TDataSource&) { log.push_back("OnUpdateData"); });
}

// The row ids held in the window, slot by slot (0 for a new row).
inline std::vector<int64_t> WindowIds(const TDataSet& dataSet)
{
    std::vector<int64_t> ids;
    for (int slot = 0; slot < dataSet.RowsHeld(); ++slot) {
        const TRecordBuffer& buffer = dataSet.Buffer(slot);
        ids.push_back(buffer.flag == TBookmarkFlag::Current ? buffer.bookmark.Id() : 0);
    }
    return ids;
}

inline std::vector<int64_t> IdRange(int64_t from, int64_t to)
{
    std::vector<int64_t> ids;
    for (int64_t id = from; id <= to; ++id)
        ids.push_back(id);
    return ids;
}

// The window invariants of an open dataset and one of its active links.
inline void ExpectWindowConsistent(const TDataSet& dataSet, const TDataLink* link)
{
    if (!dataSet.Active()) {
        EXPECT_EQ(dataSet.RowsHeld(), 0);
        EXPECT_EQ(dataSet.BufferCount(), 0);
        EXPECT_TRUE(dataSet.Bof());
        EXPECT_TRUE(dataSet.Eof());
        return;
    }
    EXPECT_GE(dataSet.BufferCount(), 1);
    EXPECT_LE(dataSet.RowsHeld(), dataSet.BufferCount());
    if (dataSet.RowsHeld() == 0)
        EXPECT_EQ(dataSet.ActiveSlot(), 0);
    else
        EXPECT_LT(dataSet.ActiveSlot(), dataSet.RowsHeld());
    EXPECT_GE(dataSet.CurrentSlot(), -1);
    EXPECT_LT(dataSet.CurrentSlot(), std::max(dataSet.RowsHeld(), 1));
    // Held rows are in result order (bookmarks increase in the memory storage).
    int64_t previous = 0;
    for (int slot = 0; slot < dataSet.RowsHeld(); ++slot) {
        const TRecordBuffer& buffer = dataSet.Buffer(slot);
        if (buffer.flag != TBookmarkFlag::Current)
            continue;
        EXPECT_GT(buffer.bookmark.Id(), previous) << "slot " << slot;
        previous = buffer.bookmark.Id();
    }
    if (link != nullptr && link->Active()) {
        EXPECT_GE(link->FirstRecord(), 0);
        EXPECT_LE(link->FirstRecord() + link->RecordCount(), dataSet.RowsHeld())
            << "link of " << link->BufferCount() << " rows, active slot " << dataSet.ActiveSlot();
        EXPECT_GE(link->ActiveRecord(), 0);
        EXPECT_LT(link->ActiveRecord(), std::max(link->RecordCount(), 1));
    }
}

}  // namespace vantelo::test
