// The posts of a batch's open transaction. A post whose row the table keeps
// exactly as it is given, to a table where no constraint can refuse a row,
// need not reach the engine at once: it is held here and written with its
// neighbours, a run of inserts as one INSERT of many rows and a run of the
// same edit of consecutive rows as one UPDATE of a range. The connection
// writes the held rows, in order, before anything else runs on it and before
// it commits, so no statement ever sees the table without the rows posted
// before it.
//
// Every post of the transaction stays here until it commits, the held ones
// and those written at once alike, so that a failure keeps the per-row
// contract (a held row once written is kept as a reference to the row its
// dataset shows, consecutive rows as one range, so that a long batch costs
// no memory here): when a row is refused as the held rows are written (an edited
// row gone, a rule the table gained, a full disk) the run is written again
// row by row under a savepoint each to find it; when the engine lost the
// whole transaction (a full disk at the commit), the rows are written again
// from the first, committed a stretch at a time, until the one that fails.
// The rows before it are in the table; it and the rest are dropped, and the
// datasets that posted them are told to read them again from the table.
#pragma once

#include "store/TResultRows.h"

#include <cstdint>
#include <functional>
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
    // Whoever posted a row: told the rowids of its rows that did not reach
    // the table as posted, so that it shows them as the table has them.
    class Owner {
    public:
        virtual void RereadRows(const std::vector<int64_t>& rowIds) = 0;
        // The values of the shape's columns as the owner shows the row now
        // (views valid until its rows change); false when it has no such row.
        virtual bool CellsOf(int shape, int64_t rowId, std::vector<TCell>& cells) = 0;

    protected:
        ~Owner() = default;
    };

    // What a queued post writes: the table, its rowid column and the
    // columns given, quoted as they go into SQL; the table's own name too,
    // as its sequence row names it, and whether it counts its rowids
    // (AUTOINCREMENT).
    struct Shape {
        std::string schema;
        std::string table;
        std::string tableName;
        std::string key;
        std::vector<std::string> columns;
        bool insert = false;
        bool autoIncrement = false;
        bool operator==(const Shape&) const = default;
    };

    // A row of the queue: entry `row`, the `k`-th rowid of its range.
    struct Place {
        size_t row = 0;
        int64_t k = 0;
    };
    // A row that could not be written, with the engine's text. lost: the
    // engine rolled the whole transaction back.
    struct Failure {
        Place at;
        std::string text;
        bool lost = false;
    };
    // Runs one of the connection's transaction statements (begin, commit,
    // rollback); raises the engine's error.
    using Step = std::function<void()>;

    TWriteQueue();
    ~TWriteQueue();
    TWriteQueue(const TWriteQueue&) = delete;
    TWriteQueue& operator=(const TWriteQueue&) = delete;

    // A number for shape, the same for equal shapes while the queue lives.
    int ShapeNumber(const Shape& shape);
    // The rowid the engine would give the next row inserted into the table
    // of shape, counting the inserts held: one more than the largest rowid
    // (1 in an empty table, and negative after a negative largest), and for
    // a table that counts its rowids at least one more than its sequence row
    // (0 without one). Read from the table at the first insert after rows
    // were last written, then counted on. None when the engine would choose
    // at random or refuse (the largest rowid is taken). Only valid while the
    // caller holds the write lock.
    std::optional<int64_t> NextRowId(sqlite3* db, int shape);
    // Holds a post: its rowid (the new row's for an insert), the values of
    // the shape's columns in order (their bytes are copied) and who posted
    // it. An edit giving the row after the last one held the same values
    // joins it, so a walk over consecutive rows is held as one range.
    void Add(int shape, int64_t rowId, const std::vector<TCell>& cells, Owner* owner);
    // Keeps a post already written in the open transaction, to be written
    // again should the engine lose the transaction. Nothing may be held.
    void AddWritten(int shape, int64_t rowId, const std::vector<TCell>& cells, Owner* owner);
    // True when rowId is a row of the shape's table that an insert still
    // held here makes.
    bool Inserts(int shape, int64_t rowId) const;
    // True when nothing is held back (posts kept for the commit may be).
    bool Empty() const { return written_ == rows_.size(); }
    // True when nothing at all is kept.
    bool Idle() const { return rows_.empty(); }
    // True when the held rows are enough to be written now.
    bool Full() const;
    // Writes the held rows in order inside the open transaction. Answers
    // the first that failed: the rows before it are then written (unless
    // the transaction was lost), it and the rest are not.
    std::optional<Failure> Write(sqlite3* db);
    // With no transaction open, writes the rows kept before `end` again in
    // order, a stretch per transaction, and a stretch that fails once more
    // one row per transaction. Answers the first row that failed; those
    // before it are committed.
    std::optional<Failure> Replay(sqlite3* db, Place end, const Step& begin, const Step& commit,
                                  const Step& rollback);
    // The place after the last row kept.
    Place End() const { return Place{rows_.size(), 0}; }
    // Tells the owners of the rows from `from` on that those rows did not
    // reach the table as posted, then forgets every row (the transaction is
    // over).
    void DropFrom(Place from);
    // Forgets the rows held back and not yet written; the written ones stay
    // for the commit. The owners are not told.
    void DropHeld();
    // Forgets every row (their transaction is over).
    void Clear();
    // The owner is going: its rows are kept as the values it shows now, and
    // it is not told about them.
    void ForgetOwner(Owner* owner);
    // Drops the prepared statements, before the handle they belong to goes.
    void DropStatements() { statements_.clear(); }

private:
    // Kept posts: an insert, or an edit of the `count` rows from rowId on;
    // firstCell kByReference: the values are the owner's (CellsOf).
    static constexpr uint32_t kByReference = UINT32_MAX;
    struct Row {
        int shape;
        uint32_t firstCell;
        int64_t rowId;
        int64_t count;
        Owner* owner;
    };
    // A value: the integer, or where its bytes are in bytes_.
    struct HeldCell {
        int64_t value = 0;
        uint32_t length = 0;
        TCell::Kind kind = TCell::Kind::Null;
    };
    enum class RunResult { Written, Refused, Lost };

    void Push(int shape, int64_t rowId, const std::vector<TCell>& cells, Owner* owner);
    // How many rows from `first` on go into one statement.
    size_t RunLength(size_t first) const;
    bool SameValues(const Row& row, const std::vector<TCell>& cells) const;
    // Writes rows [first, first + count) with one statement, undone as a
    // whole unless every row took.
    RunResult WriteRun(sqlite3* db, size_t first, size_t count, std::string& text);
    // Writes rows [first, first + count) one at a time, a savepoint each;
    // answers the one that failed.
    std::optional<Failure> WriteRowByRow(sqlite3* db, size_t first, size_t count);
    // Writes one row (an edit: of rowId); raises its error, also when the
    // row changed nothing.
    void WriteOne(sqlite3* db, size_t index, int64_t rowId);
    void Bind(TSqliteStatement& statement, int& place, const Row& row) const;
    // The same for any kept row, referenced ones through their owner.
    void BindValues(TSqliteStatement& statement, int& place, const Row& row, int64_t rowId);
    TSqliteStatement& Statement(sqlite3* db, int shape, size_t rows, bool range);
    // Runs a savepoint statement of the queue's own (prepared once).
    bool Savepoint(sqlite3* db, int which);

    std::vector<Shape> shapes_;
    std::vector<Row> rows_;
    std::vector<HeldCell> cells_;
    std::string bytes_;
    std::vector<TCell> scratch_;  // a referenced row's values while it is bound
    // rows_[0, written_) are in the open transaction; the rest are held.
    size_t written_ = 0;
    size_t writtenBytes_ = 0;
    // Per table, while rows are held: the rowids its held inserts take.
    struct Given {
        int64_t first = 0;
        int64_t largest = 0;
    };
    std::map<std::pair<std::string, std::string>, Given> given_;
    // Prepared statements per (shape, rows, range), and the savepoints.
    std::map<std::tuple<int, size_t, bool>, TSqliteStatement> statements_;
};

}  // namespace vantelo
