// A dataset whose rows live in memory: the rows of a vector, each with a
// stable id (its bookmark, increasing in row order), record numbers by
// position, inserted rows appended at the end of the result, updates of the
// changed fields only. Used by tests and benchmarks of the cursor; faults
// can be injected into open, fetch and post.
#pragma once

#include "store/TDataSet.h"

#include <optional>
#include <string>
#include <vector>

namespace vantelo {

struct TMemoryColumn {
    std::string name;
    TFieldType type = TFieldType::ftInteger;
    int size = 0;           // characters for wide text, bytes for narrow text
    bool readOnly = false;  // auto-increment columns are read-only anyway
};

class TMemoryDataSet : public TDataSet {
public:
    explicit TMemoryDataSet(TComponent* owner = nullptr, std::string name = {});
    ~TMemoryDataSet() override;

    // The result's columns; takes effect at the next open.
    void SetColumns(std::vector<TMemoryColumn> columns) { columns_ = std::move(columns); }
    const std::vector<TMemoryColumn>& Columns() const { return columns_; }
    // Appends a row directly (not through the cursor; an open cursor does
    // not see it until it moves there). Missing values are Null; an
    // auto-increment column takes the row id. Answers the row id.
    int64_t AppendRow(std::vector<TValue> values);
    void ReserveRows(size_t count) { rows_.reserve(count); }
    size_t RowCount() const { return rows_.size(); }
    int64_t RowId(size_t row) const { return rows_[row].id; }
    const TValue& RowValue(size_t row, size_t column) const { return rows_[row].values[column]; }

    // When false, edit and insert raise "Cannot modify a read-only dataset".
    void SetCanModify(bool canModify) { canModify_ = canModify; }
    // The next open / post raises EDatabaseError with this text (no prefix).
    void FailNextOpen(std::string message) { openFailure_ = std::move(message); }
    void FailNextPost(std::string message) { postFailure_ = std::move(message); }
    // The next fetch of a row raises EDatabaseError with this text.
    void FailNextFetch(std::string message) { fetchFailure_ = std::move(message); }
    // Counters for tests: column values read lazily, rows written.
    size_t ReadCount() const { return readCount_; }
    size_t WriteCount() const { return writeCount_; }

protected:
    void StorageOpen() override;
    void StorageClose() override;
    TFetchResult StorageFetch(TRecordBuffer& buffer, TFetchMode mode, bool raiseErrors) override;
    void StoragePositionOn(const TRecordBuffer& buffer) override;
    void StorageBeforeFirst() override { position_ = -1; }
    void StorageAfterLast() override { position_ = static_cast<int64_t>(rows_.size()); }
    void StoragePost() override;
    bool StorageCanModify() const override { return canModify_; }
    int64_t StorageRecordCount() override { return static_cast<int64_t>(rows_.size()); }
    int64_t StorageRecordNumber() override;
    void StorageSetRecordNumber(int64_t recNo) override;
    bool StorageIsSequenced() const override { return true; }
    void StorageGoToBookmark(const TBookmark& bookmark) override;
    int StorageCompareBookmarks(const TBookmark& a, const TBookmark& b) override;
    bool StorageBookmarkValid(const TBookmark& bookmark) override;
    TValue StorageReadValue(const TField& field, const TRecordBuffer& buffer) override;

private:
    struct Row {
        int64_t id;
        std::vector<TValue> values;
    };

    // The index of the row with this id, or none.
    std::optional<size_t> IndexOf(int64_t id) const;

    std::vector<TMemoryColumn> columns_;
    std::vector<Row> rows_;
    int64_t nextId_ = 1;
    int64_t position_ = -1;  // -1 before the first row, rows_.size() after the last
    bool canModify_ = true;
    std::optional<std::string> openFailure_;
    std::optional<std::string> postFailure_;
    std::optional<std::string> fetchFailure_;
    size_t readCount_ = 0;
    size_t writeCount_ = 0;
};

}  // namespace vantelo
