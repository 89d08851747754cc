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

// Rows written again in one transaction while looking for the one that fails.
constexpr size_t kReplayStretch = 4096;

constexpr const char* kSavepointSql[] = {"SAVEPOINT vantelo_run", "RELEASE vantelo_run",
                                         "ROLLBACK TO vantelo_run"};
enum { kSavepoint, kRelease, kRollbackTo };

std::string TextOf(const std::exception& error)
{
    if (const auto* own = dynamic_cast<const Exception*>(&error))
        return own->Message();
    return error.what();
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
        // The engine's rule: one more than the largest rowid, 1 in an empty
        // table, at random past the largest possible one; a table that
        // counts its rowids gives at least one more than its sequence row
        // (0 when it has none) and refuses past the largest.
        std::optional<int64_t> next;
        TSqliteStatement highest(db, "SELECT max(" + target.key + ") FROM " + target.schema + "." + target.table);
        if (!highest.Step() || sqlite3_column_type(highest.Get(), 0) == SQLITE_NULL)
            next = 1;
        else if (const int64_t largest = sqlite3_column_int64(highest.Get(), 0); largest < INT64_MAX)
            next = largest + 1;
        if (target.autoIncrement) {
            int64_t sequence = 0;
            try {
                TSqliteStatement counted(db, "SELECT seq FROM " + target.schema +
                                                 ".sqlite_sequence WHERE name = ?1 COLLATE NOCASE");
                counted.BindText(1, target.tableName);
                if (counted.Step())
                    sequence = sqlite3_column_int64(counted.Get(), 0);
            } catch (const EOleException&) {
                // No table of the schema has counted a rowid yet.
            }
            if (sequence == INT64_MAX || !next)
                next.reset();
            else
                next = std::max(*next, sequence + 1);
        }
        // INT64_MIN marks a table whose next rowid the engine chooses.
        known = given_.emplace(key, next ? Given{*next, *next - 1} : Given{INT64_MIN, INT64_MAX}).first;
    }
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

void TWriteQueue::Add(int shape, int64_t rowId, const std::vector<TCell>& cells, Owner* owner)
{
    const Shape& target = shapes_[static_cast<size_t>(shape)];
    if (!target.insert && rows_.size() > written_) {
        Row& last = rows_.back();
        if (last.shape == shape && last.owner == owner && last.rowId <= INT64_MAX - last.count &&
            last.rowId + last.count == rowId && SameValues(last, cells)) {
            ++last.count;
            return;
        }
    }
    Push(shape, rowId, cells, owner);
    if (target.insert) {
        // Inserts are held only with the rowid NextRowId gave.
        Given& given = given_[std::make_pair(target.schema, target.table)];
        given.largest = std::max(given.largest, rowId);
    }
}

void TWriteQueue::AddWritten(int shape, int64_t rowId, const std::vector<TCell>& cells, Owner* owner)
{
    Push(shape, rowId, cells, owner);
    written_ = rows_.size();
    writtenBytes_ = bytes_.size();
}

void TWriteQueue::Push(int shape, int64_t rowId, const std::vector<TCell>& cells, Owner* owner)
{
    rows_.push_back(Row{shape, static_cast<uint32_t>(cells_.size()), rowId, 1, owner});
    for (const TCell& cell : cells) {
        HeldCell held;
        held.kind = cell.kind;
        held.value = cell.integer;
        if (cell.kind == TCell::Kind::Text || cell.kind == TCell::Kind::Blob) {
            held.value = static_cast<int64_t>(bytes_.size());
            held.length = static_cast<uint32_t>(cell.bytes.size());
            bytes_.append(cell.bytes);
        }
        cells_.push_back(held);
    }
}

bool TWriteQueue::Full() const
{
    return rows_.size() - written_ >= kFullRows || bytes_.size() - writtenBytes_ >= kFullBytes;
}

void TWriteQueue::Clear()
{
    rows_.clear();
    cells_.clear();
    bytes_.clear();
    given_.clear();
    written_ = 0;
    writtenBytes_ = 0;
}

void TWriteQueue::DropHeld()
{
    if (written_ < rows_.size()) {
        cells_.resize(rows_[written_].firstCell);
        rows_.resize(written_);
        bytes_.resize(writtenBytes_);
    }
    given_.clear();
}

void TWriteQueue::ForgetOwner(Owner* owner)
{
    const auto owns = [&](const Row& row) { return row.owner == owner; };
    if (std::none_of(rows_.begin(), rows_.end(), owns))
        return;
    // Rebuilt in order, the owner's referenced rows as copies of what it
    // shows now, every row without it.
    std::vector<Row> rows = std::move(rows_);
    std::vector<HeldCell> cells = std::move(cells_);
    std::string bytes = std::move(bytes_);
    const size_t written = written_;
    rows_.clear();
    cells_.clear();
    bytes_.clear();
    std::vector<TCell> values;
    for (size_t i = 0; i < rows.size(); ++i) {
        Row row = rows[i];
        if (i == written)
            written_ = rows_.size(), writtenBytes_ = bytes_.size();
        if (row.firstCell == kByReference && row.owner == owner) {
            for (int64_t k = 0; k < row.count; ++k) {
                if (!owner->CellsOf(row.shape, row.rowId + k, values))
                    values.assign(shapes_[static_cast<size_t>(row.shape)].columns.size(), TCell{});
                Push(row.shape, row.rowId + k, values, nullptr);
            }
            continue;
        }
        if (row.firstCell != kByReference) {
            // Its own values, moved along.
            values.clear();
            for (size_t k = 0; k < shapes_[static_cast<size_t>(row.shape)].columns.size(); ++k) {
                const HeldCell& held = cells[row.firstCell + k];
                TCell cell;
                cell.kind = held.kind;
                cell.integer = held.value;
                if (held.kind == TCell::Kind::Text || held.kind == TCell::Kind::Blob)
                    cell.bytes = std::string_view(bytes).substr(static_cast<size_t>(held.value), held.length);
                values.push_back(cell);
            }
            const int64_t count = row.count;
            Push(row.shape, row.rowId, values, owns(row) ? nullptr : row.owner);
            rows_.back().count = count;
            continue;
        }
        rows_.push_back(row);
    }
    if (written >= rows.size())
        written_ = rows_.size(), writtenBytes_ = bytes_.size();
}

void TWriteQueue::DropFrom(Place from)
{
    // Every owner is told once, with its rowids in queue order.
    std::vector<std::pair<Owner*, std::vector<int64_t>>> told;
    for (size_t i = from.row; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        if (!row.owner)
            continue;
        auto entry = std::find_if(told.begin(), told.end(), [&](const auto& e) { return e.first == row.owner; });
        if (entry == told.end())
            entry = told.insert(told.end(), {row.owner, {}});
        for (int64_t k = i == from.row ? from.k : 0; k < row.count; ++k)
            entry->second.push_back(row.rowId + k);
    }
    Clear();
    for (auto& [owner, rowIds] : told)
        owner->RereadRows(rowIds);
}

std::optional<TWriteQueue::Failure> TWriteQueue::Write(sqlite3* db)
{
    for (size_t first = written_; first < rows_.size();) {
        const size_t count = RunLength(first);
        const Row& start = rows_[first];
        std::string text;
        const RunResult result = count == 1 && start.count == 1 ? RunResult::Refused : WriteRun(db, first, count, text);
        if (result == RunResult::Lost)
            return Failure{Place{first, 0}, text, true};
        if (result == RunResult::Refused) {
            // One at a time, to find the row that fails.
            if (std::optional<Failure> failure = WriteRowByRow(db, first, count))
                return failure;
        }
        first += count;
    }
    // Kept from now on as references to the rows their owners show, runs of
    // consecutive rows as one range. The held rows' values are the last
    // ones in cells_ and bytes_.
    if (written_ < rows_.size()) {
        std::vector<Row> tail(rows_.begin() + static_cast<std::ptrdiff_t>(written_), rows_.end());
        cells_.resize(tail.front().firstCell);
        bytes_.resize(writtenBytes_);
        rows_.resize(written_);
        for (Row row : tail) {
            if (!row.owner) {
                rows_.push_back(row);  // cannot happen: held rows have an owner
                continue;
            }
            row.firstCell = kByReference;
            if (!rows_.empty()) {
                Row& last = rows_.back();
                if (last.firstCell == kByReference && last.owner == row.owner && last.shape == row.shape &&
                    last.rowId <= INT64_MAX - last.count && last.rowId + last.count == row.rowId) {
                    last.count += row.count;
                    continue;
                }
            }
            rows_.push_back(row);
        }
    }
    written_ = rows_.size();
    writtenBytes_ = bytes_.size();
    // The next insert reads the table's largest rowid again: anything may
    // write to it before then.
    given_.clear();
    return std::nullopt;
}

std::optional<TWriteQueue::Failure> TWriteQueue::WriteRowByRow(sqlite3* db, size_t first, size_t count)
{
    for (size_t i = first; i < first + count; ++i) {
        for (int64_t k = 0; k < rows_[i].count; ++k) {
            try {
                if (!Savepoint(db, kSavepoint))
                    return Failure{Place{i, k}, sqlite3_errmsg(db), !TransactionAlive(db)};
                WriteOne(db, i, rows_[i].rowId + k);
                Savepoint(db, kRelease);
            } catch (const std::exception& error) {
                const bool alive = TransactionAlive(db);
                if (alive) {
                    Savepoint(db, kRollbackTo);
                    Savepoint(db, kRelease);
                }
                return Failure{Place{i, k}, TextOf(error), !alive};
            }
        }
    }
    return std::nullopt;
}

std::optional<TWriteQueue::Failure> TWriteQueue::Replay(sqlite3* db, Place end, const Step& begin,
                                                        const Step& commit, const Step& rollback)
{
    // The places before `end`, in order.
    std::vector<Place> places;
    for (size_t i = 0; i < rows_.size() && i <= end.row; ++i)
        for (int64_t k = 0; k < rows_[i].count && (i < end.row || k < end.k); ++k)
            places.push_back(Place{i, k});
    const auto writeStretch = [&](size_t from, size_t to) -> std::optional<Failure> {
        try {
            begin();
            for (size_t p = from; p < to; ++p)
                WriteOne(db, places[p].row, rows_[places[p].row].rowId + places[p].k);
            commit();
            return std::nullopt;
        } catch (const std::exception& error) {
            if (TransactionAlive(db)) {
                try {
                    rollback();
                } catch (...) {
                }
            }
            return Failure{from < places.size() ? places[from] : end, TextOf(error), true};
        }
    };
    for (size_t from = 0; from < places.size(); from += kReplayStretch) {
        const size_t to = std::min(places.size(), from + kReplayStretch);
        if (!writeStretch(from, to))
            continue;
        for (size_t p = from; p < to; ++p) {
            if (std::optional<Failure> failure = writeStretch(p, p + 1)) {
                failure->at = places[p];
                return failure;
            }
        }
    }
    return std::nullopt;
}

bool TWriteQueue::SameValues(const Row& row, const std::vector<TCell>& cells) const
{
    for (size_t k = 0; k < cells.size(); ++k) {
        const HeldCell& held = cells_[row.firstCell + k];
        const TCell& cell = cells[k];
        if (held.kind != cell.kind)
            return false;
        if (cell.kind == TCell::Kind::Text || cell.kind == TCell::Kind::Blob) {
            if (std::string_view(bytes_).substr(static_cast<size_t>(held.value), held.length) != cell.bytes)
                return false;
        } else if (held.value != cell.integer) {
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

void TWriteQueue::BindValues(TSqliteStatement& statement, int& place, const Row& row, int64_t rowId)
{
    if (row.firstCell != kByReference) {
        Bind(statement, place, row);
        return;
    }
    if (!row.owner || !row.owner->CellsOf(row.shape, rowId, scratch_))
        throw EOleException(AdoTexts::kRowMissing, SQLITE_NOTFOUND, "SQLite");
    for (const TCell& cell : scratch_) {
        if (cell.kind == TCell::Kind::Integer)
            statement.BindInt(place, cell.integer);
        else if (cell.kind == TCell::Kind::Text)
            statement.BindTextInPlace(place, cell.bytes);
        else
            statement.BindNull(place);
        ++place;
    }
}

void TWriteQueue::Bind(TSqliteStatement& statement, int& place, const Row& row) const
{
    const size_t count = shapes_[static_cast<size_t>(row.shape)].columns.size();
    for (size_t k = 0; k < count; ++k) {
        const HeldCell& cell = cells_[row.firstCell + k];
        switch (cell.kind) {
        case TCell::Kind::Integer:
            statement.BindInt(place, cell.value);
            break;
        case TCell::Kind::Text:
            statement.BindTextInPlace(place, std::string_view(bytes_).substr(static_cast<size_t>(cell.value), cell.length));
            break;
        default:
            statement.BindNull(place);
            break;
        }
        ++place;
    }
}

bool TWriteQueue::Savepoint(sqlite3* db, int which)
{
    TSqliteStatement& statement = statements_[std::make_tuple(-1 - which, size_t{0}, false)];
    if (!statement)
        statement = TSqliteStatement(db, kSavepointSql[which]);
    statement.Reset();
    const int code = sqlite3_step(statement.Get());
    sqlite3_reset(statement.Get());
    return code == SQLITE_DONE;
}

TWriteQueue::RunResult TWriteQueue::WriteRun(sqlite3* db, size_t first, size_t count, std::string& text)
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
    // A range that misses a row (an edited row gone) is undone, and the rows
    // one at a time find it. Inserts go to a table that had nothing to
    // refuse or leave out a row when they were held: no savepoint for them;
    // should a rule made since leave one out, the transaction is taken back
    // and the batch written again from its first post to find it.
    if (!insert && !Savepoint(db, kSavepoint)) {
        text = sqlite3_errmsg(db);
        return TransactionAlive(db) ? RunResult::Refused : RunResult::Lost;
    }
    bool written = false;
    try {
        statement.Run();
        written = sqlite3_changes64(db) == static_cast<int64_t>(count);
    } catch (const std::exception& error) {
        text = TextOf(error);
    }
    statement.Reset();
    if (!TransactionAlive(db))
        return RunResult::Lost;
    if (insert) {
        if (written || !text.empty())
            return written ? RunResult::Written : RunResult::Refused;
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        text = AdoTexts::kRowNotWritten;
        return RunResult::Lost;
    }
    if (!written)
        Savepoint(db, kRollbackTo);
    Savepoint(db, kRelease);
    return written ? RunResult::Written : RunResult::Refused;
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
    BindValues(statement, place, row, rowId);
    if (!insert)
        statement.BindInt(place, rowId);
    statement.Run();
    const bool missing = sqlite3_changes64(db) == 0;
    statement.Reset();
    if (missing)
        throw EOleException(insert ? AdoTexts::kRowNotWritten : AdoTexts::kRowMissing, SQLITE_NOTFOUND, "SQLite");
}

}  // namespace vantelo
