#include "store/TResultRows.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace vantelo {

namespace {

constexpr size_t kBlockSize = size_t{1} << 20;

void PutVarint(std::string& out, uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<char>(0x80 | (value & 0x7F)));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

uint64_t GetVarint(const unsigned char*& p)
{
    uint64_t value = 0;
    int shift = 0;
    while (*p & 0x80) {
        value |= static_cast<uint64_t>(*p++ & 0x7F) << shift;
        shift += 7;
    }
    value |= static_cast<uint64_t>(*p++) << shift;
    return value;
}

void PutCell(std::string& out, const TCell& cell)
{
    out.push_back(static_cast<char>(cell.kind));
    switch (cell.kind) {
    case TCell::Kind::Null:
        break;
    case TCell::Kind::Integer:
        // Zig-zag, so small negative numbers stay short too.
        PutVarint(out, (static_cast<uint64_t>(cell.integer) << 1) ^ static_cast<uint64_t>(cell.integer >> 63));
        break;
    case TCell::Kind::Real: {
        char bytes[sizeof(double)];
        std::memcpy(bytes, &cell.real, sizeof bytes);
        out.append(bytes, sizeof bytes);
        break;
    }
    case TCell::Kind::Text:
    case TCell::Kind::Blob:
        PutVarint(out, cell.bytes.size());
        out.append(cell.bytes);
        break;
    }
}

TCell GetCell(const unsigned char*& p)
{
    TCell cell;
    cell.kind = static_cast<TCell::Kind>(*p++);
    switch (cell.kind) {
    case TCell::Kind::Null:
        break;
    case TCell::Kind::Integer: {
        const uint64_t raw = GetVarint(p);
        cell.integer = static_cast<int64_t>((raw >> 1) ^ (~(raw & 1) + 1));
        break;
    }
    case TCell::Kind::Real:
        std::memcpy(&cell.real, p, sizeof(double));
        p += sizeof(double);
        break;
    case TCell::Kind::Text:
    case TCell::Kind::Blob: {
        const auto length = static_cast<size_t>(GetVarint(p));
        cell.bytes = std::string_view(reinterpret_cast<const char*>(p), length);
        p += length;
        break;
    }
    }
    return cell;
}

TCell CellOf(sqlite3_stmt* statement, int column)
{
    TCell cell;
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        cell.kind = TCell::Kind::Integer;
        cell.integer = sqlite3_column_int64(statement, column);
        break;
    case SQLITE_FLOAT:
        cell.kind = TCell::Kind::Real;
        cell.real = sqlite3_column_double(statement, column);
        break;
    case SQLITE_TEXT: {
        cell.kind = TCell::Kind::Text;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        cell.bytes = std::string_view(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(statement, column)));
        break;
    }
    case SQLITE_BLOB: {
        cell.kind = TCell::Kind::Blob;
        const auto* blob = static_cast<const char*>(sqlite3_column_blob(statement, column));
        cell.bytes = std::string_view(blob ? blob : "", static_cast<size_t>(sqlite3_column_bytes(statement, column)));
        break;
    }
    default:
        break;
    }
    return cell;
}

}  // namespace

void TResultRows::Encode(sqlite3_stmt* statement, const std::vector<bool>* keep, std::optional<size_t> oldRow)
{
    scratch_.clear();
    const unsigned char* old = oldRow ? RowData(*oldRow) : nullptr;
    for (int column = 0; column < columnCount_; ++column) {
        TCell previous;
        if (old)
            previous = GetCell(old);
        const bool kept = keep && static_cast<size_t>(column) < keep->size() && (*keep)[static_cast<size_t>(column)];
        PutCell(scratch_, kept ? previous : CellOf(statement, column));
    }
}

TResultRows::Entry TResultRows::Store(int64_t identity)
{
    const size_t size = scratch_.size();
    if (blocks_.empty() || used_ + size > blockSizes_.back()) {
        const size_t blockSize = std::max(kBlockSize, size);
        blocks_.push_back(std::make_unique<unsigned char[]>(blockSize));
        blockSizes_.push_back(blockSize);
        used_ = 0;
    }
    std::memcpy(blocks_.back().get() + used_, scratch_.data(), size);
    Entry entry{identity, static_cast<uint32_t>(blocks_.size() - 1), static_cast<uint32_t>(used_)};
    used_ += size;
    return entry;
}

const unsigned char* TResultRows::RowData(size_t row) const
{
    const Entry& entry = index_[row];
    return blocks_[entry.block].get() + entry.offset;
}

void TResultRows::NoteAppended()
{
    const size_t row = index_.size() - 1;
    const int64_t identity = index_[row].identity;
    if (ascending_) {
        if (row == 0 || index_[row - 1].identity < identity)
            return;
        // Identities stop ascending: from here on, look rows up in a side index.
        ascending_ = false;
        sorted_.reserve(index_.size());
        for (size_t i = 0; i < index_.size(); ++i)
            sorted_.emplace_back(index_[i].identity, i);
        std::stable_sort(sorted_.begin(), sorted_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        return;
    }
    const auto at = std::upper_bound(sorted_.begin(), sorted_.end(), identity,
                                     [](int64_t value, const auto& entry) { return value < entry.first; });
    sorted_.insert(at, {identity, row});
}

void TResultRows::Append(int64_t identity, sqlite3_stmt* statement)
{
    Encode(statement, nullptr, std::nullopt);
    index_.push_back(Store(identity));
    NoteAppended();
}

void TResultRows::Stage(sqlite3_stmt* statement, const std::vector<bool>& keep, std::optional<size_t> oldRow)
{
    Encode(statement, &keep, oldRow);
}

void TResultRows::Stage(const std::vector<TCell>& cells)
{
    scratch_.clear();
    for (int column = 0; column < columnCount_; ++column)
        PutCell(scratch_, static_cast<size_t>(column) < cells.size() ? cells[static_cast<size_t>(column)] : TCell{});
}

void TResultRows::ReplaceWithStaged(size_t row)
{
    // The old cells stay in their block (a little waste per edit), so views
    // of them remain valid while the new ones were staged.
    const Entry stored = Store(index_[row].identity);
    index_[row].block = stored.block;
    index_[row].offset = stored.offset;
}

void TResultRows::AppendStaged(int64_t identity)
{
    index_.push_back(Store(identity));
    NoteAppended();
}

void TResultRows::Remove(size_t row)
{
    index_.erase(index_.begin() + static_cast<std::ptrdiff_t>(row));
    if (ascending_)
        return;
    sorted_.clear();
    for (size_t i = 0; i < index_.size(); ++i)
        sorted_.emplace_back(index_[i].identity, i);
    std::stable_sort(sorted_.begin(), sorted_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

void TResultRows::ReadRow(size_t row, std::vector<TCell>& cells) const
{
    cells.resize(static_cast<size_t>(columnCount_));
    const unsigned char* p = RowData(row);
    for (TCell& cell : cells)
        cell = GetCell(p);
}

TCell TResultRows::Cell(size_t row, int column) const
{
    const unsigned char* p = RowData(row);
    TCell cell = GetCell(p);
    for (int i = 0; i < column; ++i)
        cell = GetCell(p);
    return cell;
}

std::optional<size_t> TResultRows::Find(int64_t identity) const
{
    if (ascending_) {
        const auto it = std::lower_bound(index_.begin(), index_.end(), identity,
                                         [](const Entry& entry, int64_t value) { return entry.identity < value; });
        if (it == index_.end() || it->identity != identity)
            return std::nullopt;
        return static_cast<size_t>(it - index_.begin());
    }
    const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), identity,
                                     [](const auto& entry, int64_t value) { return entry.first < value; });
    if (it == sorted_.end() || it->first != identity)
        return std::nullopt;
    return it->second;
}

bool TResultRows::IdentitiesUnique() const
{
    if (ascending_)
        return true;  // strictly ascending
    for (size_t i = 1; i < sorted_.size(); ++i)
        if (sorted_[i - 1].first == sorted_[i].first)
            return false;
    return true;
}

void TResultRows::UsePositions()
{
    for (size_t i = 0; i < index_.size(); ++i)
        index_[i].identity = static_cast<int64_t>(i) + 1;
    ascending_ = true;
    sorted_.clear();
    sorted_.shrink_to_fit();
}

void TResultRows::Clear()
{
    index_.clear();
    index_.shrink_to_fit();
    blocks_.clear();
    blockSizes_.clear();
    used_ = 0;
    ascending_ = true;
    sorted_.clear();
    sorted_.shrink_to_fit();
}

size_t TResultRows::BytesHeld() const
{
    size_t bytes = index_.capacity() * sizeof(Entry) + sorted_.capacity() * sizeof(sorted_[0]);
    for (size_t size : blockSizes_)
        bytes += size;
    return bytes;
}

}  // namespace vantelo
