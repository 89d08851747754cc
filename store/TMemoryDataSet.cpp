#include "store/TMemoryDataSet.h"

#include "store/StoreTexts.h"

#include <algorithm>

namespace vantelo {

TMemoryDataSet::TMemoryDataSet(TComponent* owner, std::string name) : TDataSet(owner, std::move(name)) {}

TMemoryDataSet::~TMemoryDataSet()
{
    CloseForDestruction();
}

int64_t TMemoryDataSet::AppendRow(std::vector<TValue> values)
{
    values.resize(columns_.size(), TNull{});
    const int64_t id = nextId_++;
    for (size_t column = 0; column < columns_.size(); ++column)
        if (columns_[column].type == TFieldType::ftAutoInc)
            values[column] = static_cast<int32_t>(id);
    rows_.push_back(Row{id, std::move(values)});
    return id;
}

std::optional<size_t> TMemoryDataSet::IndexOf(int64_t id) const
{
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), id,
                                     [](const Row& row, int64_t wanted) { return row.id < wanted; });
    if (it == rows_.end() || it->id != id)
        return std::nullopt;
    return static_cast<size_t>(it - rows_.begin());
}

void TMemoryDataSet::StorageOpen()
{
    if (openFailure_) {
        std::string message = std::move(*openFailure_);
        openFailure_.reset();
        throw EDatabaseError(message);
    }
    for (size_t column = 0; column < columns_.size(); ++column) {
        const TMemoryColumn& definition = columns_[column];
        AddField(definition.type, definition.name, definition.size, definition.readOnly, static_cast<int>(column) + 1);
    }
    position_ = -1;
}

void TMemoryDataSet::StorageClose()
{
    position_ = -1;
}

TFetchResult TMemoryDataSet::StorageFetch(TRecordBuffer& buffer, TFetchMode mode, bool)
{
    if (fetchFailure_) {
        std::string message = std::move(*fetchFailure_);
        fetchFailure_.reset();
        throw EDatabaseError(message);
    }
    const auto count = static_cast<int64_t>(rows_.size());
    if (const TFetchResult end = StepPosition(position_, mode, count); end != TFetchResult::Ok)
        return end;
    buffer.bookmark = TBookmark(rows_[static_cast<size_t>(position_)].id);
    buffer.flag = TBookmarkFlag::Current;
    buffer.recordStatus = 0;
    buffer.storageRow = position_;
    // Like the database storage, record numbers of rows fetched while the
    // views are switched off are left to be asked later.
    buffer.recordNumber = ControlsDisabled() ? -1 : position_ + 1;
    return TFetchResult::Ok;
}

void TMemoryDataSet::StoragePositionOn(const TRecordBuffer& buffer)
{
    if (buffer.flag != TBookmarkFlag::Current && buffer.flag != TBookmarkFlag::Inserted)
        return;
    StorageGoToBookmark(buffer.bookmark);
}

void TMemoryDataSet::StoragePost()
{
    if (postFailure_) {
        std::string message = std::move(*postFailure_);
        postFailure_.reset();
        throw EDatabaseError(message);
    }
    const TRecordBuffer& buffer = ActiveBuffer();
    size_t index = 0;
    if (State() == TDataSetState::Insert) {
        AppendRow({});
        index = rows_.size() - 1;
    } else {
        const std::optional<size_t> found = IndexOf(buffer.bookmark.Id());
        if (!found)
            throw EDatabaseError(StoreTexts::kMemoryRowMissing);
        index = *found;
    }
    Row& row = rows_[index];
    for (TField* field : ModifiedFields()) {
        const auto column = static_cast<size_t>(field->FieldNo() - 1);
        const TValue& value = buffer.values[static_cast<size_t>(field->Index())];
        if (columns_[column].readOnly || columns_[column].type == TFieldType::ftAutoInc ||
            std::holds_alternative<TNotFetched>(value))
            continue;
        row.values[column] = value;
    }
    ++writeCount_;
    position_ = static_cast<int64_t>(index);
}

int64_t TMemoryDataSet::StorageRecordNumber()
{
    return position_ >= 0 && position_ < static_cast<int64_t>(rows_.size()) ? position_ + 1 : -1;
}

void TMemoryDataSet::StorageSetRecordNumber(int64_t recNo)
{
    const auto count = static_cast<int64_t>(rows_.size());
    position_ = std::clamp<int64_t>(recNo, 1, std::max<int64_t>(count, 1)) - 1;
    if (count == 0)
        position_ = 0;
}

void TMemoryDataSet::StorageGoToBookmark(const TBookmark& bookmark)
{
    const std::optional<size_t> index = IndexOf(bookmark.Id());
    // A row that is gone leaves the position after the last row, where a
    // fetch of the current row answers at-end.
    position_ = index ? static_cast<int64_t>(*index) : static_cast<int64_t>(rows_.size());
}

int TMemoryDataSet::StorageCompareBookmarks(const TBookmark& a, const TBookmark& b)
{
    return a.Id() < b.Id() ? -1 : a.Id() > b.Id() ? 1 : 0;
}

bool TMemoryDataSet::StorageBookmarkValid(const TBookmark& bookmark)
{
    return IndexOf(bookmark.Id()).has_value();
}

TValue TMemoryDataSet::StorageReadValue(const TField& field, const TRecordBuffer& buffer)
{
    ++readCount_;
    std::optional<size_t> index;
    const auto hint = static_cast<size_t>(buffer.storageRow);
    if (buffer.storageRow >= 0 && hint < rows_.size() && rows_[hint].id == buffer.bookmark.Id())
        index = hint;
    else
        index = IndexOf(buffer.bookmark.Id());
    if (!index)
        return TNull{};
    return rows_[*index].values[static_cast<size_t>(field.FieldNo() - 1)];
}

}  // namespace vantelo
