// The dataset over an SQLite statement. Opening runs the command's statement
// and reads the whole result into memory (the statement is then finalized,
// so no read stays open while rows are posted); moves, record numbers and
// lazy column reads are served from there. A row's bookmark is its rowid
// when the result carries the rowid column of one table (an INTEGER PRIMARY
// KEY) and no two rows share it; only then can the result be edited. Posting
// writes the changed columns of that table (UPDATE ... WHERE rowid=?, or an
// INSERT whose new row is appended at the end of the result) and takes the
// row as the table now has it: the values written, the new rowid and Null
// defaults where the table cannot change them (no trigger, no computed
// column, each value of a kind its column keeps as it is); else the row the
// write statement returns; else, for a table with triggers, the row read
// back after the write; a table that may refuse a row has the write return
// it (a conflict may put a default in, or leave the row out). An insert or
// edit that changes no row fails. The table's facts are learned at the
// first post after an open, under the write lock, and again whenever the
// connection's schema stamp changes.
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
#include "store/TWriteQueue.h"

#include <memory>
#include <string>
#include <vector>

namespace vantelo {

class TADOConnection;

enum class TCursorType { ctUnspecified = -1, ctOpenForwardOnly = 0, ctKeyset = 1, ctDynamic = 2, ctStatic = 3 };
enum class TADOLockType { ltUnspecified = -1, ltReadOnly = 1, ltPessimistic = 2, ltOptimistic = 3, ltBatchOptimistic = 4 };

class TCustomADODataSet : public TDataSet, private TWriteQueue::Owner {
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
    // The rows are held in memory: a post changes its own row only.
    bool StorageEditKeepsRows() const override { return true; }
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
        // Of the table column (learned at the first post):
        int baseColumn = -1;          // its place in the table, -1: unknown
        char affinity = 0;            // 'I'nteger, 'N'umeric, 'R'eal, 'T'ext, 'B'lob; 0: unknown
        bool nullDefault = false;     // an insert that leaves it out writes Null
    };

    // How a post learns the row as the table has it.
    enum class TPostWay {
        Direct,     // the values written are the row's
        Returning,  // the write statement returns the row
        ReadBack,   // a savepoint around the write, then a read of the row
    };
    struct TWriteStatement {
        bool insert;
        bool returning;
        std::vector<int> columns;
        TSqliteStatement statement;
    };

    // Reads the columns' kinds and origins from the prepared statement.
    void DescribeColumns(sqlite3* db, sqlite3_stmt* statement);
    // The row of buffer: its storage row while that still carries the
    // buffer's bookmark, else the row with that bookmark; none when gone.
    std::optional<size_t> RowOf(const TRecordBuffer& buffer) const;
    TValue ToValue(const TCell& cell, TFieldType type) const;
    TSqliteStatement& WriteStatement(sqlite3* db, bool insert, bool returning);
    TSqliteStatement& ReadBackStatement(sqlite3* db);
    // The result's columns as an SQL list over the table (Null for the
    // columns of other tables).
    std::string ResultColumnList() const;
    void DropStatements();
    // Learns whether the table can change a row it is given (triggers, a
    // virtual table, a foreign key on itself, computed columns) and each
    // column's affinity and default; once per open.
    void LearnTable(sqlite3* db);
    // The way for the post being made (postColumns_, boundCells_).
    TPostWay PostWay(bool insert) const;
    // The connection's number for what the post being made writes.
    int HeldShape(TADOConnection& connection, bool insert);
    // True when the post being made writes the rowid column.
    bool WritesKey() const;
    // Rows the connection could not write as posted: each is read again
    // from the table, and one the table does not hold leaves the result.
    void RereadRows(const std::vector<int64_t>& rowIds) override;
    // The values a held row of the shape was written with: the row as the
    // result shows it.
    bool CellsOf(int shape, int64_t rowId, std::vector<TCell>& cells) override;
    // Whether the table still has the row, for a held edit.
    bool StillInTable(sqlite3* db, const TADOConnection& connection, int64_t rowId);

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
    std::vector<std::unique_ptr<TWriteStatement>> writeStatements_;
    TSqliteStatement readBack_;
    bool tableLearned_ = false;
    int64_t learnedStamp_ = 0;       // the connection's schema stamp when learned
    bool rowMayChange_ = true;       // triggers and the like: read back, under a savepoint
    bool computedColumns_ = false;   // generated columns: the write returns the row
    bool mayRefuse_ = true;          // a constraint may refuse a row: posts are never held back
    bool autoIncrement_ = false;     // the table counts its rowids
    struct THeldShape {
        bool insert;
        std::vector<int> columns;
        int number;
    };
    std::vector<THeldShape> heldShapes_;
    // The table's rowids between presentFrom_ and presentTo_, while the
    // connection's ChangeSerial() is presentSerial_.
    TSqliteStatement presentScan_;
    std::vector<int64_t> present_;
    uint64_t presentSerial_ = 0;
    int64_t presentFrom_ = 0;
    int64_t presentTo_ = 0;
    // One post's scratch, kept so that a post allocates nothing.
    std::vector<int> postColumns_;         // result columns written, in order first changed
    std::vector<std::string> postTexts_;   // their text values, as bound
    std::vector<TCell> boundCells_;        // their values, as bound
    std::vector<TCell> postCells_;         // the row as the table now has it
};

}  // namespace vantelo
