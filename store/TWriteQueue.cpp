#include "store/TWriteQueue.h"

#include "store/AdoTexts.h"
#include "store/EDatabaseError.h"
#include "store/EOleException.h"
#include "store/TSqliteStatement.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <tuple>

namespace vantelo {

namespace {

// Written at once when the queue holds this many rows or bytes: it stays
// small however long the batch, and the engine gets its rows in runs long
// enough to pay.
constexpr size_t kFullRows = 4096;
constexpr size_t kFullBytes = size_t{1} << 20;
// Rows in one INSERT: the engine takes at least 999 values in a statement.
constexpr size_t kMaxValues = 999;
constexpr size_t kMaxInsertRows = 64;

size_t InsertRows(const TWriteQueue::Shape& shape)
{
    return std::clamp<size_t>(kMaxValues / (shape.columns.size() + 1), 1, kMaxInsertRows);
}

// The engine still holds the batch's transaction: a refused statement was
// undone alone.
bool TransactionAlive(sqlite3* db)
{
    return sqlite3_get_autocommit(db) == 0;
}

}  // namespace

TWriteQueue::TWriteQueue() = default;
TWriteQueue::~TWriteQueue() = default;

int TWriteQueue::ShapeNumber(const Shape& shape)
{
    const auto found = std::find(shapes_.begin(), shapes_.end(), shape);
    if (found != shapes_.end())
        return static_cast<int>(found - shapes_.begin());
    shapes_.push_back(shape);
    return static_cast<int>(shapes_.size()) - 1;
}

std::optional<int64_t> TWriteQueue::NextRowId(sqlite3* db, int shape)
{
    const Shape& target = shapes_[static_cast<size_t>(shape)];
    const auto key = std::make_pair(target.schema, target.table);
    auto known = given_.find(key);
    if (known == given_.end()) {
        // The engine gives one more than the largest rowid in the table, or
        // than the largest it ever gave when the table counts them
        // (AUTOINCREMENT); 1 in an empty table.
        int64_t largest = 0;
        TSqliteStatement highest(db, "SELECT max(" + target.key + ") FROM " + target.schema + "." + target.table);
        if (highest.Step() && sqlite3_column_type(highest.Get(), 0) != SQLITE_NULL)
            largest = sqlite3_column_int64(highest.Get(), 0);
        try {
            TSqliteStatement sequence(db, "SELECT seq FROM " + target.schema +
                                              ".sqlite_sequence WHERE name = ?1 COLLATE NOCASE");
            sequence.BindText(1, target.tableName);
            if (sequence.Step())
                largest = std::max<int64_t>(largest, sqlite3_column_int64(sequence.Get(), 0));
        } catch (const EOleException&) {
            // No table of the schema counts its rowids.
        }
        known = given_.emplace(key, Given{largest == INT64_MAX ? largest : largest + 1, largest}).first;
    }
    // At the largest rowid the engine picks one at random.
    if (known->second.largest == INT64_MAX)
        return std::nullopt;
    return known->second.largest + 1;
}

bool TWriteQueue::Inserts(int shape, int64_t rowId) const
{
    const Shape& target = shapes_[static_cast<size_t>(shape)];
    const auto known = given_.find(std::make_pair(target.schema, target.table));
    return known != given_.end() && rowId >= known->second.first && rowId <= known->second.largest;
}

void TWriteQueue::Add(int shape, int64_t rowId, const std::vector<TCell>& cells)
{
    const Shape& target = shapes_[static_cast<size_t>(shape)];
    if (!target.insert && !rows_.empty()) {
        Row& last = rows_.back();
        if (last.shape == shape && last.rowId <= INT64_MAX - last.count && last.rowId + last.count == rowId &&
            SameValues(last, cells)) {
            ++last.count;
            return;
        }
    }
    rows_.push_back(Row{shape, static_cast<uint32_t>(cells_.size()), rowId, 1});
    for (const TCell& cell : cells) {
        HeldCell held;
        held.kind = cell.kind;
        held.integer = cell.integer;
        if (cell.kind == TCell::Kind::Text || cell.kind == TCell::Kind::Blob) {
            held.offset = static_cast<uint32_t>(bytes_.size());
            held.length = static_cast<uint32_t>(cell.bytes.size());
            bytes_.append(cell.bytes);
        }
        cells_.push_back(held);
    }
    if (target.insert) {
        // Inserts are queued only with the rowid NextRowId gave.
        Given& given = given_[std::make_pair(target.schema, target.table)];
        given.largest = std::max(given.largest, rowId);
    }
}

bool TWriteQueue::Full() const
{
    return rows_.size() >= kFullRows || bytes_.size() >= kFullBytes;
}

void TWriteQueue::Clear()
{
    rows_.clear();
    cells_.clear();
    bytes_.clear();
    given_.clear();
}

void TWriteQueue::Write(sqlite3* db)
{
    try {
        for (size_t first = 0; first < rows_.size();) {
            const size_t count = RunLength(first);
            const Row& start = rows_[first];
            const bool single = count == 1 && start.count == 1;
            if (single || !WriteRun(db, first, count)) {
                // One at a time, to find the row that fails.
                for (size_t i = first; i < first + count; ++i)
                    for (int64_t k = 0; k < rows_[i].count; ++k)
                        WriteOne(db, i, rows_[i].rowId + k);
            }
            first += count;
        }
    } catch (const Exception& error) {
        Clear();
        // As the post of that row would have failed.
        throw EDatabaseError(error.Message());
    } catch (...) {
        Clear();
        throw;
    }
    Clear();
}

bool TWriteQueue::SameValues(const Row& row, const std::vector<TCell>& cells) const
{
    for (size_t k = 0; k < cells.size(); ++k) {
        const HeldCell& held = cells_[row.firstCell + k];
        const TCell& cell = cells[k];
        if (held.kind != cell.kind)
            return false;
        if (cell.kind == TCell::Kind::Text || cell.kind == TCell::Kind::Blob) {
            if (std::string_view(bytes_).substr(held.offset, held.length) != cell.bytes)
                return false;
        } else if (held.integer != cell.integer) {
            return false;
        }
    }
    return true;
}

size_t TWriteQueue::RunLength(size_t first) const
{
    // Inserts of one shape go together; an edit is a range of its own.
    const Row& start = rows_[first];
    const Shape& shape = shapes_[static_cast<size_t>(start.shape)];
    size_t count = 1;
    if (shape.insert) {
        const size_t most = InsertRows(shape);
        while (first + count < rows_.size() && count < most && rows_[first + count].shape == start.shape)
            ++count;
    }
    return count;
}

TSqliteStatement& TWriteQueue::Statement(sqlite3* db, int shape, size_t rows, bool range)
{
    const auto key = std::make_tuple(shape, rows, range);
    auto found = statements_.find(key);
    if (found != statements_.end())
        return found->second;
    const Shape& target = shapes_[static_cast<size_t>(shape)];
    std::string sql;
    if (target.insert) {
        std::string names = target.key;
        std::string marks = "(?";
        for (const std::string& column : target.columns) {
            names += ", " + column;
            marks += ", ?";
        }
        marks += ")";
        sql = "INSERT INTO " + target.schema + "." + target.table + " (" + names + ") VALUES " + marks;
        for (size_t i = 1; i < rows; ++i)
            sql += ", " + marks;
    } else {
        std::string sets;
        for (const std::string& column : target.columns)
            sets += (sets.empty() ? "" : ", ") + column + " = ?";
        sql = "UPDATE " + target.schema + "." + target.table + " SET " + sets + " WHERE " + target.key +
              (range ? " BETWEEN ? AND ?" : " = ?");
    }
    return statements_.emplace(key, TSqliteStatement(db, sql)).first->second;
}

void TWriteQueue::Bind(TSqliteStatement& statement, int& place, const Row& row) const
{
    const size_t count = shapes_[static_cast<size_t>(row.shape)].columns.size();
    for (size_t k = 0; k < count; ++k) {
        const HeldCell& cell = cells_[row.firstCell + k];
        switch (cell.kind) {
        case TCell::Kind::Integer:
            statement.BindInt(place, cell.integer);
            break;
        case TCell::Kind::Text:
            statement.BindTextInPlace(place, std::string_view(bytes_).substr(cell.offset, cell.length));
            break;
        default:
            statement.BindNull(place);
            break;
        }
        ++place;
    }
}

bool TWriteQueue::WriteRun(sqlite3* db, size_t first, size_t count)
{
    const Row& start = rows_[first];
    const bool insert = shapes_[static_cast<size_t>(start.shape)].insert;
    TSqliteStatement& statement = Statement(db, start.shape, insert ? count : 1, !insert);
    statement.Reset();
    int place = 1;
    if (insert) {
        for (size_t i = first; i < first + count; ++i) {
            statement.BindInt(place++, rows_[i].rowId);
            Bind(statement, place, rows_[i]);
        }
    } else {
        // The rows from rowId on hold exactly the range's rowids.
        count = static_cast<size_t>(start.count);
        Bind(statement, place, start);
        statement.BindInt(place++, start.rowId);
        statement.BindInt(place, start.rowId + start.count - 1);
    }
    // A range that misses a row is undone, and the rows one at a time find
    // the one that is gone.
    const bool checkCount = !insert;
    if (checkCount && sqlite3_exec(db, "SAVEPOINT vantelo_run", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    bool written = false;
    try {
        statement.Run();
        written = !checkCount || sqlite3_changes64(db) == static_cast<int64_t>(count);
    } catch (const EOleException&) {
        if (!TransactionAlive(db))
            throw;
    }
    statement.Reset();
    if (checkCount && TransactionAlive(db)) {
        if (!written)
            sqlite3_exec(db, "ROLLBACK TO vantelo_run", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "RELEASE vantelo_run", nullptr, nullptr, nullptr);
    }
    return written;
}

void TWriteQueue::WriteOne(sqlite3* db, size_t index, int64_t rowId)
{
    const Row& row = rows_[index];
    const bool insert = shapes_[static_cast<size_t>(row.shape)].insert;
    TSqliteStatement& statement = Statement(db, row.shape, 1, false);
    statement.Reset();
    int place = 1;
    if (insert)
        statement.BindInt(place++, rowId);
    Bind(statement, place, row);
    if (!insert)
        statement.BindInt(place, rowId);
    statement.Run();
    const bool missing = !insert && sqlite3_changes64(db) == 0;
    statement.Reset();
    if (missing)
        throw EOleException(AdoTexts::kRowMissing, SQLITE_NOTFOUND, "SQLite");
}

}  // namespace vantelo
