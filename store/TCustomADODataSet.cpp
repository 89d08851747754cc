#include "store/TCustomADODataSet.h"

#include "platform/TAsciiCase.h"
#include "platform/TCodePage.h"
#include "store/AdoTexts.h"
#include "store/EDatabaseError.h"
#include "store/EOleException.h"
#include "store/StoreTexts.h"
#include "store/TADOConnection.h"
#include "store/Wtf8Text.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>

namespace vantelo {

namespace {

// The width of a text column declared without one (TEXT, CLOB, an
// expression): a Linux file name has at most 255 bytes, so at most 255 units.
constexpr int kDefaultTextSize = 255;

std::string Upper(const char* text)
{
    return AsciiUpperCase(text ? text : "");
}

std::string Quoted(const std::string& name)
{
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

// The field kind a declared column type asks for (see the header).
TFieldType TypeFromDeclaration(const std::string& declared, int& size)
{
    size = 0;
    const auto has = [&](const char* word) { return declared.find(word) != std::string::npos; };
    if (has("BOOL") || declared == "BIT" || declared == "YESNO" || declared == "LOGICAL")
        return TFieldType::ftBoolean;
    if (has("INT"))
        return TFieldType::ftInteger;
    if (has("CHAR") || has("CLOB") || has("TEXT")) {
        size = kDefaultTextSize;
        const size_t open = declared.find('(');
        if (open != std::string::npos) {
            const long declaredSize = std::strtol(declared.c_str() + open + 1, nullptr, 10);
            if (declaredSize > 0 && declaredSize <= 1 << 20)
                size = static_cast<int>(declaredSize);
        }
        return TFieldType::ftWideString;
    }
    return TFieldType::ftUnknown;
}

// How many columns make up the primary key of a table.
int PrimaryKeyColumns(sqlite3* db, const char* schema, const char* table)
{
    try {
        TSqliteStatement count(db, "SELECT count(*) FROM pragma_table_info(?1, ?2) WHERE pk > 0");
        sqlite3_bind_text(count.Get(), 1, table, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(count.Get(), 2, schema, -1, SQLITE_TRANSIENT);
        return count.Step() ? sqlite3_column_int(count.Get(), 0) : 0;
    } catch (const EOleException&) {
        return 0;
    }
}

int64_t TextToInteger(std::string_view bytes)
{
    return std::strtoll(std::string(bytes).c_str(), nullptr, 10);
}

}  // namespace

TCustomADODataSet::TCustomADODataSet(TComponent* owner, std::string name)
    : TDataSet(owner, std::move(name)), command_(std::make_unique<TADOCommand>())
{
}

TCustomADODataSet::~TCustomADODataSet()
{
    // The close hooks may belong to an owner that is already going.
    CloseForDestruction();
    SetConnection(nullptr);
}

void TCustomADODataSet::SetConnection(TADOConnection* connection)
{
    if (connection == connection_)
        return;
    if (connection_)
        connection_->UnRegisterClient(this);
    // Statements prepared on the old connection's handle go with it.
    DropStatements();
    connection_ = connection;
    command_->SetConnection(connection);
    if (connection_)
        connection_->RegisterClient(this, [this](bool connecting) {
            if (!connecting)
                DropStatements();
        });
}

void TCustomADODataSet::DropStatements()
{
    writeStatements_.clear();
    readBack_.Finalize();
}

// --- open and close -------------------------------------------------------------

void TCustomADODataSet::StorageOpen()
{
    command_->SetConnectionFlag(TADOCommand::TConnectionUse::Open, true);
    openUse_ = true;
    if (command_->CommandText().empty())
        EDatabaseError::Raise(Format(AdoTexts::kMissingProperty, command_->CommandTextAlias().c_str()), this);
    TADOConnection* connection = command_->ActiveConnection();
    sqlite3* db = connection->Handle();

    // Statements before the first one that gives rows run as they stand.
    std::string_view rest = command_->EngineText();
    TSqliteStatement statement;
    while (true) {
        std::string_view tail;
        statement = TSqliteStatement(db, rest, &tail);
        if (!statement) {
            if (tail.empty() || tail.size() >= rest.size())
                EDatabaseError::Raise(AdoTexts::kNoResultSet, this);
            rest = tail;
            continue;
        }
        if (statement.ColumnCount() > 0)
            break;
        statement.Run();
        rest = tail;
    }

    DescribeColumns(db, statement.Get());
    rows_ = TResultRows(statement.ColumnCount());
    const auto limit = static_cast<size_t>(maxRecords_ > 0 ? maxRecords_ : 0);
    while (statement.Step()) {
        const int64_t identity = identityColumn_ >= 0 ? sqlite3_column_int64(statement.Get(), identityColumn_)
                                                      : static_cast<int64_t>(rows_.Count()) + 1;
        rows_.Append(identity, statement.Get());
        if (limit > 0 && rows_.Count() >= limit)
            break;
    }
    // The whole result is here: no read stays open.
    statement.Finalize();

    if (identityColumn_ >= 0 && !rows_.IdentitiesUnique()) {
        // A join repeats rows: they can be shown but not told apart for writing.
        rows_.UsePositions();
        identityColumn_ = -1;
    }
    canModify_ = identityColumn_ >= 0 && lockType_ != TADOLockType::ltReadOnly;
    if (!canModify_) {
        baseTable_.clear();
        for (Column& column : columns_)
            column.updatable = column.inBase = false;
    }

    // Kinds of untyped columns from their first value; then the fields.
    std::vector<std::string> taken;
    for (size_t i = 0; i < columns_.size(); ++i) {
        Column& column = columns_[i];
        if (column.typeFromValues) {
            column.type = TFieldType::ftWideString;
            column.size = kDefaultTextSize;
            for (size_t row = 0; row < rows_.Count(); ++row) {
                const TCell cell = rows_.Cell(row, static_cast<int>(i));
                if (cell.kind == TCell::Kind::Null)
                    continue;
                if (cell.kind == TCell::Kind::Integer)
                    column.type = TFieldType::ftInteger, column.size = 0;
                else if (cell.kind != TCell::Kind::Text)
                    column.type = TFieldType::ftUnknown, column.size = 0;
                break;
            }
        }
        if (column.type == TFieldType::ftUnknown)
            continue;
        const int fieldNo = static_cast<int>(i) + 1;
        std::string name = column.name.empty() ? Format("COLUMN%d", fieldNo) : column.name;
        const auto isTaken = [&](const std::string& candidate) {
            return std::any_of(taken.begin(), taken.end(),
                               [&](const std::string& used) { return AsciiEqualIgnoreCase(used, candidate); });
        };
        if (isTaken(name)) {
            std::string candidate;
            for (int counter = 1;; ++counter) {
                candidate = Format("%s_%d", name.c_str(), counter);
                if (!isTaken(candidate))
                    break;
            }
            name = candidate;
        }
        taken.push_back(name);
        const bool readOnly = !column.updatable || column.type == TFieldType::ftAutoInc;
        AddField(column.type, std::move(name), column.size, readOnly, fieldNo);
    }
    keepOnWrite_.assign(columns_.size(), false);
    for (size_t i = 0; i < columns_.size(); ++i)
        keepOnWrite_[i] = !columns_[i].inBase;
    position_ = -1;
}

void TCustomADODataSet::DescribeColumns(sqlite3* db, sqlite3_stmt* statement)
{
    const int count = sqlite3_column_count(statement);
    columns_.assign(static_cast<size_t>(count), Column{});
    identityColumn_ = -1;
    baseSchema_.clear();
    baseTable_.clear();
    struct Origin {
        std::string schema, table;
    };
    std::vector<Origin> origins(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Column& column = columns_[static_cast<size_t>(i)];
        const char* name = sqlite3_column_name(statement, i);
        column.name = name ? name : "";
        const std::string declared = Upper(sqlite3_column_decltype(statement, i));
        const char* schema = sqlite3_column_database_name(statement, i);
        const char* table = sqlite3_column_table_name(statement, i);
        const char* origin = sqlite3_column_origin_name(statement, i);
        if (declared.empty()) {
            column.typeFromValues = true;
        } else {
            column.type = TypeFromDeclaration(declared, column.size);
        }
        if (!schema || !table || !origin)
            continue;
        origins[static_cast<size_t>(i)] = {schema, table};
        column.origin = origin;
        const char* columnType = nullptr;
        int primaryKey = 0;
        int autoIncrement = 0;
        if (sqlite3_table_column_metadata(db, schema, table, origin, &columnType, nullptr, nullptr, &primaryKey,
                                          &autoIncrement) != SQLITE_OK)
            continue;
        // The rowid alias: the one-column INTEGER PRIMARY KEY of a rowid table.
        column.rowIdAlias = primaryKey && Upper(columnType) == "INTEGER" &&
                            sqlite3_table_column_metadata(db, schema, table, "rowid", nullptr, nullptr, nullptr,
                                                          nullptr, nullptr) == SQLITE_OK &&
                            PrimaryKeyColumns(db, schema, table) == 1;
        if (column.rowIdAlias && autoIncrement)
            column.type = TFieldType::ftAutoInc;
        if (column.rowIdAlias && identityColumn_ < 0) {
            identityColumn_ = i;
            baseSchema_ = schema;
            baseTable_ = table;
        }
    }
    std::vector<std::string> written;
    for (int i = 0; i < count; ++i) {
        Column& column = columns_[static_cast<size_t>(i)];
        const Origin& origin = origins[static_cast<size_t>(i)];
        column.inBase = identityColumn_ >= 0 && !column.origin.empty() && origin.schema == baseSchema_ &&
                        origin.table == baseTable_;
        column.updatable = column.inBase && !column.rowIdAlias;
        // A table column selected twice is written through its first occurrence only.
        if (column.updatable) {
            const bool again = std::any_of(written.begin(), written.end(), [&](const std::string& name) {
                return AsciiEqualIgnoreCase(name, column.origin);
            });
            column.updatable = !again;
            written.push_back(column.origin);
        }
    }
}

void TCustomADODataSet::StorageClose()
{
    DropStatements();
    rows_.Clear();
    columns_.clear();
    keepOnWrite_.clear();
    position_ = -1;
    canModify_ = false;
    identityColumn_ = -1;
    baseTable_.clear();
    baseSchema_.clear();
    if (openUse_) {
        openUse_ = false;
        command_->SetConnectionFlag(TADOCommand::TConnectionUse::Open, false);
    }
}

// --- positions ------------------------------------------------------------------

TFetchResult TCustomADODataSet::StorageFetch(TRecordBuffer& buffer, TFetchMode mode, bool)
{
    const auto count = static_cast<int64_t>(rows_.Count());
    if (const TFetchResult end = StepPosition(position_, mode, count); end != TFetchResult::Ok)
        return end;
    const auto row = static_cast<size_t>(position_);
    buffer.bookmark = TBookmark(rows_.Identity(row));
    buffer.flag = TBookmarkFlag::Current;
    buffer.recordStatus = 0;
    buffer.storageRow = position_;
    // Record numbers of rows fetched while the views are switched off are
    // asked later.
    buffer.recordNumber = ControlsDisabled() ? -1 : position_ + 1;
    return TFetchResult::Ok;
}

std::optional<size_t> TCustomADODataSet::RowOf(const TRecordBuffer& buffer) const
{
    const auto hint = static_cast<size_t>(buffer.storageRow);
    if (buffer.storageRow >= 0 && hint < rows_.Count() && rows_.Identity(hint) == buffer.bookmark.Id())
        return hint;
    return rows_.Find(buffer.bookmark.Id());
}

void TCustomADODataSet::StoragePositionOn(const TRecordBuffer& buffer)
{
    if (buffer.flag != TBookmarkFlag::Current && buffer.flag != TBookmarkFlag::Inserted)
        return;
    const std::optional<size_t> row = RowOf(buffer);
    position_ = row ? static_cast<int64_t>(*row) : static_cast<int64_t>(rows_.Count());
}

int64_t TCustomADODataSet::StorageRecordNumber()
{
    return position_ >= 0 && position_ < static_cast<int64_t>(rows_.Count()) ? position_ + 1 : -1;
}

void TCustomADODataSet::StorageSetRecordNumber(int64_t recNo)
{
    const auto count = static_cast<int64_t>(rows_.Count());
    position_ = count == 0 ? 0 : std::clamp<int64_t>(recNo, 1, count) - 1;
}

void TCustomADODataSet::StorageGoToBookmark(const TBookmark& bookmark)
{
    const std::optional<size_t> row = rows_.Find(bookmark.Id());
    // A row that is gone leaves the position after the last row, where a
    // fetch of the current row answers at-end.
    position_ = row ? static_cast<int64_t>(*row) : static_cast<int64_t>(rows_.Count());
}

int TCustomADODataSet::StorageCompareBookmarks(const TBookmark& a, const TBookmark& b)
{
    // By position in the result; bookmarks of rows not there compare as numbers.
    const std::optional<size_t> rowA = rows_.Find(a.Id());
    const std::optional<size_t> rowB = rows_.Find(b.Id());
    if (rowA && rowB)
        return *rowA < *rowB ? -1 : *rowA > *rowB ? 1 : 0;
    if (a.Id() == b.Id())
        return 0;
    return a.Id() > b.Id() ? 1 : -1;
}

bool TCustomADODataSet::StorageBookmarkValid(const TBookmark& bookmark)
{
    const std::optional<size_t> row = rows_.Find(bookmark.Id());
    if (row)
        position_ = static_cast<int64_t>(*row);
    return row.has_value();
}

// --- values ---------------------------------------------------------------------

TValue TCustomADODataSet::ToValue(const TCell& cell, TFieldType type) const
{
    if (cell.kind == TCell::Kind::Null)
        return TNull{};
    switch (type) {
    case TFieldType::ftBoolean: {
        bool yes = false;
        if (cell.kind == TCell::Kind::Integer)
            yes = cell.integer != 0;
        else if (cell.kind == TCell::Kind::Real)
            yes = cell.real != 0;
        else
            yes = AsciiEqualIgnoreCase(cell.bytes, "true") || TextToInteger(cell.bytes) != 0;
        return static_cast<int16_t>(yes ? 1 : 0);
    }
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
        if (cell.kind == TCell::Kind::Integer)
            return static_cast<int32_t>(cell.integer);
        if (cell.kind == TCell::Kind::Real)
            return static_cast<int32_t>(cell.real);
        return static_cast<int32_t>(TextToInteger(cell.bytes));
    case TFieldType::ftWideString:
    case TFieldType::ftString:
        if (cell.kind == TCell::Kind::Integer) {
            const std::string digits = std::to_string(cell.integer);
            return std::u16string(digits.begin(), digits.end());
        }
        if (cell.kind == TCell::Kind::Real) {
            const std::string digits = Format("%.15g", cell.real);
            return std::u16string(digits.begin(), digits.end());
        }
        return DecodeWtf8(cell.bytes);
    case TFieldType::ftUnknown:
        break;
    }
    return TNull{};
}

TValue TCustomADODataSet::StorageReadValue(const TField& field, const TRecordBuffer& buffer)
{
    const std::optional<size_t> row = RowOf(buffer);
    if (!row)
        return TNull{};
    return ToValue(rows_.Cell(*row, field.FieldNo() - 1), field.DataType());
}

// --- posting --------------------------------------------------------------------

TSqliteStatement& TCustomADODataSet::WriteStatement(sqlite3* db, bool insert, const std::vector<int>& columns)
{
    std::string key = insert ? "I" : "U";
    for (int column : columns) {
        key += ',';
        key += std::to_string(column);
    }
    auto found = writeStatements_.find(key);
    if (found != writeStatements_.end())
        return found->second;
    const std::string table = Quoted(baseSchema_) + "." + Quoted(baseTable_);
    std::string sql;
    if (insert) {
        if (columns.empty()) {
            sql = "INSERT INTO " + table + " DEFAULT VALUES";
        } else {
            std::string names;
            std::string marks;
            for (int column : columns) {
                if (!names.empty())
                    names += ", ";
                names += Quoted(columns_[static_cast<size_t>(column)].origin);
                marks += marks.empty() ? "?" : ", ?";
            }
            sql = "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")";
        }
    } else {
        std::string sets;
        for (int column : columns) {
            if (!sets.empty())
                sets += ", ";
            sets += Quoted(columns_[static_cast<size_t>(column)].origin);
            sets += " = ?";
        }
        sql = "UPDATE " + table + " SET " + sets + " WHERE rowid = ?";
    }
    return writeStatements_.emplace(key, TSqliteStatement(db, sql)).first->second;
}

TSqliteStatement& TCustomADODataSet::ReadBackStatement(sqlite3* db)
{
    if (!readBack_) {
        std::string list;
        for (const Column& column : columns_) {
            list += list.empty() ? "" : ", ";
            list += column.inBase ? Quoted(column.origin) : std::string("NULL");
        }
        readBack_ = TSqliteStatement(
            db, "SELECT " + list + " FROM " + Quoted(baseSchema_) + "." + Quoted(baseTable_) + " WHERE rowid = ?");
    }
    return readBack_;
}

void TCustomADODataSet::StoragePost()
{
    try {
        TADOConnection* connection = command_->ActiveConnection();
        if (!connection || !connection->Connected())
            throw EOleException(AdoTexts::kConnectionClosed, SQLITE_MISUSE, "SQLite");
        sqlite3* db = connection->Handle();
        const bool insert = State() == TDataSetState::Insert;
        const TRecordBuffer& buffer = ActiveBuffer();

        // The changed columns, in the order first changed, that the table takes.
        std::vector<int> columns;
        std::vector<const TValue*> values;
        for (const TField* field : ModifiedFields()) {
            const auto column = static_cast<size_t>(field->FieldNo() - 1);
            const TValue& value = buffer.values[static_cast<size_t>(field->Index())];
            if (column >= columns_.size() || !columns_[column].updatable ||
                std::holds_alternative<TNotFetched>(value))
                continue;
            columns.push_back(static_cast<int>(column));
            values.push_back(&value);
        }

        std::optional<size_t> row;
        int64_t rowId = 0;
        if (!insert) {
            row = RowOf(buffer);
            if (!row)
                throw EOleException(AdoTexts::kRowMissing, SQLITE_NOTFOUND, "SQLite");
            rowId = rows_.Identity(*row);
            if (columns.empty()) {
                position_ = static_cast<int64_t>(*row);
                return;
            }
        }

        TADOConnection::TWriteScope scope(*connection);
        TSqliteStatement& write = WriteStatement(db, insert, columns);
        write.Reset();
        int index = 1;
        for (const TValue* value : values) {
            if (const auto* flag = std::get_if<int16_t>(value))
                write.BindInt(index, *flag != 0 ? 1 : 0);
            else if (const auto* number = std::get_if<int32_t>(value))
                write.BindInt(index, *number);
            else if (const auto* wide = std::get_if<std::u16string>(value))
                write.BindText(index, EncodeWtf8(*wide));
            else if (const auto* narrow = std::get_if<std::string>(value))
                write.BindText(index, EncodeWtf8(TCodePage::Active().ToWide(*narrow)));
            else
                write.BindNull(index);
            ++index;
        }
        if (!insert)
            write.BindInt(index, rowId);
        write.Run();
        if (insert) {
            rowId = sqlite3_last_insert_rowid(db);
        } else if (sqlite3_changes(db) == 0) {
            throw EOleException(AdoTexts::kRowMissing, SQLITE_NOTFOUND, "SQLite");
        }

        TSqliteStatement& readBack = ReadBackStatement(db);
        readBack.Reset();
        readBack.BindInt(1, rowId);
        const bool found = readBack.Step();
        try {
            scope.Commit();
        } catch (...) {
            readBack.Reset();
            throw;
        }
        // Written: the result takes the row as the table now has it.
        if (insert) {
            if (found)
                rows_.AppendFrom(rowId, readBack.Get(), keepOnWrite_);
            position_ = static_cast<int64_t>(rows_.Count()) - 1;
        } else {
            if (found)
                rows_.Replace(*row, readBack.Get(), keepOnWrite_);
            position_ = static_cast<int64_t>(*row);
        }
        readBack.Reset();
    } catch (const Exception& error) {
        ForgetStoragePosition();
        throw EDatabaseError(error.Message());
    }
}

}  // namespace vantelo
