// The dataset over an SQLite statement. Opening runs the command's statement
// and reads the whole result into memory (the statement is then finalized,
// so no read stays open while rows are posted); moves, record numbers and
// lazy column reads are served from there. A row's bookmark is its rowid
// when the result carries the rowid column of one table (an INTEGER PRIMARY
// KEY) and no two rows share it; only then can the result be edited. Posting
// writes the changed columns of that table (UPDATE ... WHERE rowid=?, or an
// INSERT whose new row is appended at the end of the result) and reads the
// row back, so that values the engine fills in (the auto-increment number)
// are current.
//
// Column kinds from the declared types: INTEGER PRIMARY KEY AUTOINCREMENT is
// an auto-increment field (read-only), other integer types whole numbers,
// BOOLEAN yes/no, [N]VARCHAR(n)/[N]CHAR(n) wide text of n characters and
// TEXT/CLOB wide text of 255; an expression takes the kind of its first
// non-Null value. Real and blob columns get no field. Text is stored as
// UTF-8 (lone surrogates as WTF-8), so every wide value comes back unit for
// unit; yes/no is stored as 1 and 0 and any non-zero number reads as yes.
#pragma once

#include "store/TADOCommand.h"
#include "store/TDataSet.h"
#include "store/TResultRows.h"
#include "store/TSqliteStatement.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vantelo {

class TADOConnection;

enum class TCursorType { ctUnspecified = -1, ctOpenForwardOnly = 0, ctKeyset = 1, ctDynamic = 2, ctStatic = 3 };
enum class TADOLockType { ltUnspecified = -1, ltReadOnly = 1, ltPessimistic = 2, ltOptimistic = 3, ltBatchOptimistic = 4 };

class TCustomADODataSet : public TDataSet {
public:
    explicit TCustomADODataSet(TComponent* owner = nullptr, std::string name = {});
    ~TCustomADODataSet() override;

    TADOConnection* Connection() const { return connection_; }
    // Registers the dataset and its command as clients of connection (null:
    // none). An open dataset keeps its rows.
    void SetConnection(TADOConnection* connection);
    TADOCommand& Command() { return *command_; }
    const TADOCommand& Command() const { return *command_; }

    // Settings kept for their callers; the engine always works client-side.
    TCursorType CursorType() const { return cursorType_; }
    void SetCursorType(TCursorType type) { cursorType_ = type; }
    TADOLockType LockType() const { return lockType_; }
    // ltReadOnly makes the result read-only at the next open.
    void SetLockType(TADOLockType type) { lockType_ = type; }
    int CacheSize() const { return cacheSize_; }
    void SetCacheSize(int size) { cacheSize_ = size; }
    // At most this many rows are read at open; 0: all.
    int MaxRecords() const { return maxRecords_; }
    void SetMaxRecords(int count) { maxRecords_ = count; }

    // The table that posts write to ("" when the result cannot be edited).
    const std::string& UpdateTable() const { return baseTable_; }
    // Memory held by the open result, in bytes.
    size_t ResultBytes() const { return rows_.BytesHeld(); }

protected:
    void StorageOpen() override;
    void StorageClose() override;
    TFetchResult StorageFetch(TRecordBuffer& buffer, TFetchMode mode, bool raiseErrors) override;
    void StoragePositionOn(const TRecordBuffer& buffer) override;
    void StorageBeforeFirst() override { position_ = -1; }
    void StorageAfterLast() override { position_ = static_cast<int64_t>(rows_.Count()); }
    void StoragePost() override;
    bool StorageCanModify() const override { return canModify_; }
    int64_t StorageRecordCount() override { return static_cast<int64_t>(rows_.Count()); }
    int64_t StorageRecordNumber() override;
    void StorageSetRecordNumber(int64_t recNo) override;
    bool StorageIsSequenced() const override { return true; }
    void StorageGoToBookmark(const TBookmark& bookmark) override;
    int StorageCompareBookmarks(const TBookmark& a, const TBookmark& b) override;
    bool StorageBookmarkValid(const TBookmark& bookmark) override;
    TValue StorageReadValue(const TField& field, const TRecordBuffer& buffer) override;

private:
    struct Column {
        std::string name;
        TFieldType type = TFieldType::ftUnknown;
        int size = 0;
        bool typeFromValues = false;  // an expression or an untyped column
        bool updatable = false;       // a column of the table posts write to
        bool rowIdAlias = false;
        bool inBase = false;          // a column of that table (read back after a post)
        std::string origin;           // the table column it comes from
    };

    // Reads the columns' kinds and origins from the prepared statement.
    void DescribeColumns(sqlite3* db, sqlite3_stmt* statement);
    // The row of buffer: its storage row while that still carries the
    // buffer's bookmark, else the row with that bookmark; none when gone.
    std::optional<size_t> RowOf(const TRecordBuffer& buffer) const;
    TValue ToValue(const TCell& cell, TFieldType type) const;
    TSqliteStatement& WriteStatement(sqlite3* db, bool insert, const std::vector<int>& columns);
    TSqliteStatement& ReadBackStatement(sqlite3* db);
    void DropStatements();

    std::unique_ptr<TADOCommand> command_;
    TADOConnection* connection_ = nullptr;
    TCursorType cursorType_ = TCursorType::ctKeyset;
    TADOLockType lockType_ = TADOLockType::ltOptimistic;
    int cacheSize_ = 1;
    int maxRecords_ = 0;

    bool openUse_ = false;
    std::vector<Column> columns_;
    TResultRows rows_;
    int64_t position_ = -1;  // -1 before the first row, Count() after the last
    bool canModify_ = false;
    int identityColumn_ = -1;
    std::string baseSchema_;
    std::string baseTable_;
    std::vector<bool> keepOnWrite_;  // columns a read-back leaves as they were
    std::map<std::string, TSqliteStatement> writeStatements_;
    TSqliteStatement readBack_;
};

}  // namespace vantelo
