// Posts held back inside a batch. A post whose row the table keeps exactly as
// it is given, to a table where no constraint can refuse a row, need not reach
// the engine at once: it is queued here and written with its neighbours, a
// run of inserts as one INSERT of many rows and a run of the same edit of
// consecutive rows as one UPDATE of a range. The connection writes the queue,
// in order, before anything else runs on it and before it commits, so no
// statement ever sees the table without the rows posted before it.
//
// A row that cannot be written when the queue is written (an edited row
// another process deleted before the batch began, a full disk) fails as its
// own post would have: the rows queued before it are written, it and the rest
// are dropped, and its error is raised.
#pragma once

#include "store/TResultRows.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

struct sqlite3;

namespace vantelo {

class TSqliteStatement;

class TWriteQueue {
public:
    // What a queued post writes: the table, its rowid column and the
    // columns given, quoted as they go into SQL; the table's own name too,
    // as its sequence row names it.
    struct Shape {
        std::string schema;
        std::string table;
        std::string tableName;
        std::string key;
        std::vector<std::string> columns;
        bool insert = false;
        bool operator==(const Shape&) const = default;
    };

    TWriteQueue();
    ~TWriteQueue();
    TWriteQueue(const TWriteQueue&) = delete;
    TWriteQueue& operator=(const TWriteQueue&) = delete;

    // A number for shape, the same for equal shapes while the queue lives.
    int ShapeNumber(const Shape& shape);
    // The rowid the engine would give the next row inserted into the table
    // of shape, counting the inserts queued: read from the table at the
    // first insert after the queue was last written, then counted on. None
    // when the engine would choose one at random (the largest rowid is
    // taken). Only valid while the caller holds the write lock.
    std::optional<int64_t> NextRowId(sqlite3* db, int shape);
    // Queues a post: its rowid (the new row's for an insert) and the values
    // of the shape's columns, in order (their bytes are copied). An edit
    // giving the row after the last one queued the same values joins it, so
    // a walk over consecutive rows is held as one range.
    void Add(int shape, int64_t rowId, const std::vector<TCell>& cells);
    // True when rowId is a row of the shape's table that an insert still
    // held here makes.
    bool Inserts(int shape, int64_t rowId) const;
    bool Empty() const { return rows_.empty(); }
    // True when the queue holds enough to be written now.
    bool Full() const;
    // Writes every queued row in order and empties the queue (also when a
    // row fails, whose error is raised).
    void Write(sqlite3* db);
    // Forgets the queued rows (their transaction is gone).
    void Clear();
    // Drops the prepared statements, before the handle they belong to goes.
    void DropStatements() { statements_.clear(); }

private:
    // Held posts: an insert, or an edit of the `count` rows from rowId on.
    struct Row {
        int shape;
        uint32_t firstCell;
        int64_t rowId;
        int64_t count;
    };
    struct HeldCell {
        TCell::Kind kind = TCell::Kind::Null;
        int64_t integer = 0;
        uint32_t offset = 0;
        uint32_t length = 0;
    };

    // How many rows from `first` on go into one statement.
    size_t RunLength(size_t first) const;
    bool SameValues(const Row& row, const std::vector<TCell>& cells) const;
    // Writes rows [first, first + count) with one statement: false when the
    // engine refused it and undid it, so that the rows are to be written one
    // at a time to find the one that fails.
    bool WriteRun(sqlite3* db, size_t first, size_t count);
    // Writes one row (an edit: of rowId); raises its error.
    void WriteOne(sqlite3* db, size_t index, int64_t rowId);
    void Bind(TSqliteStatement& statement, int& place, const Row& row) const;
    TSqliteStatement& Statement(sqlite3* db, int shape, size_t rows, bool range);

    std::vector<Shape> shapes_;
    std::vector<Row> rows_;
    std::vector<HeldCell> cells_;
    std::string bytes_;
    // Per table, while rows are queued: the rowids its held inserts take.
    struct Given {
        int64_t first = 0;
        int64_t largest = 0;
    };
    std::map<std::pair<std::string, std::string>, Given> given_;
    // Prepared statements per (shape, rows, range).
    std::map<std::tuple<int, size_t, bool>, TSqliteStatement> statements_;
};

}  // namespace vantelo
