// The rows of an open query, held in memory in a compact form: one index
// entry per row (its identity and where its cells are) and the cells packed
// into large blocks. A million file-list rows take a few tens of megabytes.
//
// Row identity: the row's rowid when the result carries one that is unique,
// else its 1-based position. Positions are 0-based indexes here; the row
// with a given identity is found by binary search while identities ascend
// in result order (the usual case: the table's natural order), otherwise
// through a sorted side index.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3_stmt;

namespace vantelo {

// One cell as stored: SQLite's storage classes.
struct TCell {
    enum class Kind : uint8_t { Null, Integer, Real, Text, Blob };
    Kind kind = Kind::Null;
    int64_t integer = 0;
    double real = 0;
    std::string_view bytes;  // Text and Blob; valid until the rows change
};

class TResultRows {
public:
    explicit TResultRows(int columnCount = 0) : columnCount_(columnCount) {}

    int ColumnCount() const { return columnCount_; }
    size_t Count() const { return index_.size(); }
    int64_t Identity(size_t row) const { return index_[row].identity; }

    // Appends the current row of statement (columns 0..ColumnCount()-1) with
    // the given identity.
    void Append(int64_t identity, sqlite3_stmt* statement);
    // A post's row in two steps: its cells are staged first, while the write
    // may still fail (the rows do not change), and put in place after.
    // Stages the current row of statement; a column whose keep flag is set
    // keeps oldRow's cell (Null without one).
    void Stage(sqlite3_stmt* statement, const std::vector<bool>& keep, std::optional<size_t> oldRow);
    // Stages the given cells, one per column (their bytes are copied).
    void Stage(const std::vector<TCell>& cells);
    // The staged cells become row's / a new last row's.
    void ReplaceWithStaged(size_t row);
    void AppendStaged(int64_t identity);
    // Takes row out of the result; the rows after it move up one place.
    void Remove(size_t row);
    // All cells of row at once (views valid until the rows change).
    void ReadRow(size_t row, std::vector<TCell>& cells) const;

    // The cell of row at column (0-based).
    TCell Cell(size_t row, int column) const;

    // The row with this identity, or none.
    std::optional<size_t> Find(int64_t identity) const;
    // True when no two rows share an identity.
    bool IdentitiesUnique() const;
    // Gives every row its 1-based position as identity.
    void UsePositions();

    void Clear();
    // Bytes held (index and blocks), for the benchmark.
    size_t BytesHeld() const;

private:
    struct Entry {
        int64_t identity;
        uint32_t block;
        uint32_t offset;
    };

    // Encodes the cells of a row into scratch_.
    void Encode(sqlite3_stmt* statement, const std::vector<bool>* keep, std::optional<size_t> oldRow);
    // Copies scratch_ into the blocks; answers where it went.
    Entry Store(int64_t identity);
    const unsigned char* RowData(size_t row) const;
    void NoteAppended();

    int columnCount_;
    std::vector<Entry> index_;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    std::vector<size_t> blockSizes_;
    size_t used_ = 0;  // bytes used in the last block
    std::string scratch_;
    bool ascending_ = true;
    // (identity, row) sorted by identity; built when identities stop ascending.
    std::vector<std::pair<int64_t, size_t>> sorted_;
};

}  // namespace vantelo
