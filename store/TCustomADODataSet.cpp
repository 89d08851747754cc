#include "store/TCustomADODataSet.h"

#include "platform/TAsciiCase.h"
#include "platform/TCodePage.h"
#include "store/AdoTexts.h"
#include "store/EDatabaseError.h"
#include "store/EOleException.h"
#include "store/EPostNotHeld.h"
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
    heldShapes_.clear();
    presentScan_.Finalize();
    presentSerial_ = 0;
    readBack_.Finalize();
    // Learned again at the next post: the table may have changed meanwhile.
    tableLearned_ = false;
}

// --- open and close -------------------------------------------------------------

void TCustomADODataSet::StorageOpen()
{
    command_->SetConnectionFlag(TADOCommand::TConnectionUse::Open, true);
    openUse_ = true;
    if (command_->CommandText().empty())
        EDatabaseError::Raise(Format(AdoTexts::kMissingProperty, command_->CommandTextAlias().c_str()), this);
    TADOConnection* connection = command_->ActiveConnection();
    // The rows a batch still holds back are in the table before it is read.
    connection->WriteHeld();
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
        // Anything may have run, a change of the schema too.
        if (connection->InTransaction())
            connection->SchemaMayHaveChanged();
        rest = tail;
    }

    DescribeColumns(db, statement.Get());
    tableLearned_ = false;
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
    autoIncrement_ = false;
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
            autoIncrement_ = autoIncrement != 0;
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
    if (connection_)
        connection_->HeldWrites().ForgetOwner(this);
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

namespace {

// The affinity SQLite gives a column of this declared type (upper case).
char AffinityOf(const std::string& declared)
{
    const auto has = [&](const char* word) { return declared.find(word) != std::string::npos; };
    if (has("INT"))
        return 'I';
    if (has("CHAR") || has("CLOB") || has("TEXT"))
        return 'T';
    if (declared.empty() || has("BLOB"))
        return 'B';
    if (has("REAL") || has("FLOA") || has("DOUB"))
        return 'R';
    return 'N';
}

// True when a column of this affinity stores a bound value of this kind as
// it is: an integer is kept by integer and numeric columns (a real one makes
// it a real, a text one text), text by text columns (the others may make a
// number of it).
bool KeepsAsBound(char affinity, TCell::Kind kind)
{
    switch (kind) {
    case TCell::Kind::Null:
        return affinity != 0;
    case TCell::Kind::Integer:
        return affinity == 'I' || affinity == 'N' || affinity == 'B';
    case TCell::Kind::Text:
        return affinity == 'T' || affinity == 'B';
    default:
        return false;
    }
}

bool Counts(sqlite3* db, const std::string& sql, const std::string& table, const std::string& schema)
{
    TSqliteStatement statement(db, sql);
    statement.BindText(1, table);
    if (sqlite3_bind_parameter_count(statement.Get()) >= 2)
        statement.BindText(2, schema);
    return statement.Step() && sqlite3_column_int64(statement.Get(), 0) > 0;
}

}  // namespace

void TCustomADODataSet::LearnTable(sqlite3* db)
{
    tableLearned_ = true;
    rowMayChange_ = true;
    computedColumns_ = false;
    mayRefuse_ = true;
    for (Column& column : columns_) {
        column.baseColumn = -1;
        column.affinity = 0;
        column.nullDefault = false;
    }
    try {
        const std::string master = Quoted(baseSchema_) + ".sqlite_master";
        // A trigger may sit in the temporary schema over a table of any other.
        const bool triggers =
            Counts(db, "SELECT count(*) FROM " + master + " WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE",
                   baseTable_, baseSchema_) ||
            Counts(db, "SELECT count(*) FROM temp.sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE",
                   baseTable_, baseSchema_);
        const bool isVirtual = Counts(db,
                                      "SELECT count(*) FROM " + master +
                                          " WHERE type = 'table' AND name = ?1 COLLATE NOCASE"
                                          " AND sql LIKE 'CREATE VIRTUAL%'",
                                      baseTable_, baseSchema_);
        // A foreign key on the table itself may change the row it is written
        // to (ON UPDATE CASCADE, SET NULL).
        const bool selfReference = Counts(db,
                                          "SELECT count(*) FROM pragma_foreign_key_list(?1, ?2)"
                                          " WHERE \"table\" = ?1 COLLATE NOCASE",
                                          baseTable_, baseSchema_);
        // Whether the table can refuse a row it is given: an index (UNIQUE,
        // a primary key that is not the rowid), a foreign key, a CHECK, or a
        // NOT NULL column.
        bool refuses = Counts(db, "SELECT count(*) FROM pragma_index_list(?1, ?2)", baseTable_, baseSchema_) ||
                       Counts(db, "SELECT count(*) FROM pragma_foreign_key_list(?1, ?2)", baseTable_, baseSchema_) ||
                       Counts(db,
                              "SELECT count(*) FROM " + master +
                                  " WHERE type = 'table' AND name = ?1 COLLATE NOCASE AND sql LIKE '%CHECK%'",
                              baseTable_, baseSchema_);
        TSqliteStatement info(
            db, "SELECT name, type, dflt_value IS NULL, hidden, \"notnull\", pk FROM pragma_table_xinfo(?1, ?2)");
        info.BindText(1, baseTable_);
        info.BindText(2, baseSchema_);
        for (int place = 0; info.Step(); ++place) {
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info.Get(), 0));
            const int hidden = sqlite3_column_int(info.Get(), 3);
            if (sqlite3_column_int(info.Get(), 4) != 0 && sqlite3_column_int(info.Get(), 5) == 0)
                refuses = true;
            if (hidden == 2 || hidden == 3)
                computedColumns_ = true;
            for (Column& column : columns_) {
                if (!column.inBase || !name || !AsciiEqualIgnoreCase(column.origin, name))
                    continue;
                column.baseColumn = place;
                column.affinity = AffinityOf(Upper(reinterpret_cast<const char*>(sqlite3_column_text(info.Get(), 1))));
                column.nullDefault = sqlite3_column_int(info.Get(), 2) != 0 && hidden == 0;
            }
        }
        rowMayChange_ = triggers || isVirtual || selfReference;
        mayRefuse_ = refuses || rowMayChange_;
    } catch (const EOleException&) {
        // Unknown: every post reads its row back.
        rowMayChange_ = true;
    }
}

TCustomADODataSet::TPostWay TCustomADODataSet::PostWay(bool insert) const
{
    if (rowMayChange_)
        return TPostWay::ReadBack;
    // A table that may refuse a row may also change it or leave it out
    // (a conflict it replaces or ignores): the write returns what it kept.
    if (computedColumns_ || mayRefuse_)
        return TPostWay::Returning;
    for (size_t k = 0; k < postColumns_.size(); ++k) {
        const Column& column = columns_[static_cast<size_t>(postColumns_[k])];
        if (column.baseColumn < 0 || !KeepsAsBound(column.affinity, boundCells_[k].kind))
            return TPostWay::Returning;
    }
    if (insert) {
        // Every column of the table the result shows is known: the rowid,
        // a value written, or a default of Null.
        for (size_t i = 0; i < columns_.size(); ++i) {
            const Column& column = columns_[i];
            if (!column.inBase || static_cast<int>(i) == identityColumn_)
                continue;
            if (column.baseColumn < 0)
                return TPostWay::Returning;
            if (column.baseColumn == columns_[static_cast<size_t>(identityColumn_)].baseColumn)
                continue;
            const bool written = std::any_of(postColumns_.begin(), postColumns_.end(), [&](int c) {
                return columns_[static_cast<size_t>(c)].baseColumn == column.baseColumn;
            });
            if (!written && !column.nullDefault)
                return TPostWay::Returning;
        }
    }
    return TPostWay::Direct;
}

std::string TCustomADODataSet::ResultColumnList() const
{
    std::string list;
    for (const Column& column : columns_) {
        list += list.empty() ? "" : ", ";
        list += column.inBase ? Quoted(column.origin) : std::string("NULL");
    }
    return list;
}

TSqliteStatement& TCustomADODataSet::WriteStatement(sqlite3* db, bool insert, bool returning)
{
    for (const auto& entry : writeStatements_)
        if (entry->insert == insert && entry->returning == returning && entry->columns == postColumns_)
            return entry->statement;
    const std::string table = Quoted(baseSchema_) + "." + Quoted(baseTable_);
    std::string sql;
    if (insert) {
        if (postColumns_.empty()) {
            sql = "INSERT INTO " + table + " DEFAULT VALUES";
        } else {
            std::string names;
            std::string marks;
            for (int column : postColumns_) {
                if (!names.empty())
                    names += ", ";
                names += Quoted(columns_[static_cast<size_t>(column)].origin);
                marks += marks.empty() ? "?" : ", ?";
            }
            sql = "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")";
        }
    } else {
        std::string sets;
        for (int column : postColumns_) {
            if (!sets.empty())
                sets += ", ";
            sets += Quoted(columns_[static_cast<size_t>(column)].origin);
            sets += " = ?";
        }
        sql = "UPDATE " + table + " SET " + sets + " WHERE rowid = ?";
    }
    if (returning)
        sql += " RETURNING " + ResultColumnList();
    writeStatements_.push_back(
        std::make_unique<TWriteStatement>(TWriteStatement{insert, returning, postColumns_, TSqliteStatement(db, sql)}));
    return writeStatements_.back()->statement;
}

int TCustomADODataSet::HeldShape(TADOConnection& connection, bool insert)
{
    for (const THeldShape& entry : heldShapes_)
        if (entry.insert == insert && entry.columns == postColumns_)
            return entry.number;
    TWriteQueue::Shape shape;
    shape.schema = Quoted(baseSchema_);
    shape.table = Quoted(baseTable_);
    shape.tableName = baseTable_;
    shape.key = Quoted(columns_[static_cast<size_t>(identityColumn_)].origin);
    for (int column : postColumns_)
        shape.columns.push_back(Quoted(columns_[static_cast<size_t>(column)].origin));
    shape.insert = insert;
    shape.autoIncrement = autoIncrement_;
    const int number = connection.HeldWrites().ShapeNumber(shape);
    heldShapes_.push_back(THeldShape{insert, postColumns_, number});
    return number;
}

bool TCustomADODataSet::WritesKey() const
{
    const int key = columns_[static_cast<size_t>(identityColumn_)].baseColumn;
    return std::any_of(postColumns_.begin(), postColumns_.end(), [&](int c) {
        return c == identityColumn_ || columns_[static_cast<size_t>(c)].baseColumn == key;
    });
}

bool TCustomADODataSet::StillInTable(sqlite3* db, const TADOConnection& connection, int64_t rowId)
{
    // The table's rowids are read a stretch of values at a time, ahead of
    // the row asked for in the direction the walk goes.
    constexpr int64_t kStretch = 4096;
    if (presentSerial_ != connection.ChangeSerial() || rowId < presentFrom_ || rowId > presentTo_) {
        const bool back = presentSerial_ == connection.ChangeSerial() && rowId < presentFrom_;
        presentFrom_ = back ? (rowId > INT64_MIN + kStretch ? rowId - kStretch + 1 : INT64_MIN) : rowId;
        presentTo_ = back ? rowId : (rowId < INT64_MAX - kStretch ? rowId + kStretch - 1 : INT64_MAX);
        if (!presentScan_) {
            const std::string key = Quoted(columns_[static_cast<size_t>(identityColumn_)].origin);
            presentScan_ = TSqliteStatement(db, "SELECT " + key + " FROM " + Quoted(baseSchema_) + "." +
                                                    Quoted(baseTable_) + " WHERE " + key + " BETWEEN ?1 AND ?2 ORDER BY " +
                                                    key);
        }
        present_.clear();
        presentScan_.Reset();
        presentScan_.BindInt(1, presentFrom_);
        presentScan_.BindInt(2, presentTo_);
        while (presentScan_.Step())
            present_.push_back(sqlite3_column_int64(presentScan_.Get(), 0));
        presentScan_.Reset();
        presentSerial_ = connection.ChangeSerial();
    }
    return std::binary_search(present_.begin(), present_.end(), rowId);
}

void TCustomADODataSet::RereadRows(const std::vector<int64_t>& rowIds)
{
    TADOConnection* connection = command_->ActiveConnection();
    if (!Active() || identityColumn_ < 0 || !connection || !connection->Handle())
        return;
    sqlite3* db = connection->Handle();
    bool removed = false;
    for (const int64_t rowId : rowIds) {
        const std::optional<size_t> row = rows_.Find(rowId);
        if (!row)
            continue;
        TSqliteStatement& readBack = ReadBackStatement(db);
        readBack.Reset();
        readBack.BindInt(1, rowId);
        if (readBack.Step()) {
            rows_.Stage(readBack.Get(), keepOnWrite_, row);
            rows_.ReplaceWithStaged(*row);
        } else {
            rows_.Remove(*row);
            removed = true;
        }
        readBack.Reset();
    }
    if (removed)
        position_ = std::min<int64_t>(position_, static_cast<int64_t>(rows_.Count()));
    StorageRowsChanged();
}

bool TCustomADODataSet::CellsOf(int shape, int64_t rowId, std::vector<TCell>& cells)
{
    const auto entry = std::find_if(heldShapes_.begin(), heldShapes_.end(),
                                    [&](const THeldShape& held) { return held.number == shape; });
    const std::optional<size_t> row = rows_.Find(rowId);
    if (entry == heldShapes_.end() || !row)
        return false;
    cells.clear();
    for (const int column : entry->columns)
        cells.push_back(rows_.Cell(*row, column));
    return true;
}

TSqliteStatement& TCustomADODataSet::ReadBackStatement(sqlite3* db)
{
    if (!readBack_) {
        readBack_ = TSqliteStatement(db, "SELECT " + ResultColumnList() + " FROM " + Quoted(baseSchema_) + "." +
                                             Quoted(baseTable_) + " WHERE rowid = ?");
    }
    return readBack_;
}

void TCustomADODataSet::StoragePost()
{
    try {
        TADOConnection* connection = command_->ActiveConnection();
        if (!connection || !connection->Connected())
            throw EOleException(AdoTexts::kConnectionClosed, SQLITE_MISUSE, "SQLite");
        // A batch that lost a row posted before fails every post after.
        connection->CheckFailure();
        sqlite3* db = connection->Handle();
        const bool insert = State() == TDataSetState::Insert;
        const TRecordBuffer& buffer = ActiveBuffer();

        // The changed columns, in the order first changed, that the table
        // takes, with their values as they will be bound.
        postColumns_.clear();
        boundCells_.clear();
        for (const TField* field : ModifiedFields()) {
            const auto column = static_cast<size_t>(field->FieldNo() - 1);
            const TValue& value = buffer.values[static_cast<size_t>(field->Index())];
            if (column >= columns_.size() || !columns_[column].updatable ||
                std::holds_alternative<TNotFetched>(value))
                continue;
            const size_t k = postColumns_.size();
            if (postTexts_.size() <= k)
                postTexts_.resize(k + 1);
            TCell cell;
            if (const auto* flag = std::get_if<int16_t>(&value)) {
                cell.kind = TCell::Kind::Integer;
                cell.integer = *flag != 0 ? 1 : 0;
            } else if (const auto* number = std::get_if<int32_t>(&value)) {
                cell.kind = TCell::Kind::Integer;
                cell.integer = *number;
            } else if (const auto* wide = std::get_if<std::u16string>(&value)) {
                cell.kind = TCell::Kind::Text;
                postTexts_[k] = EncodeWtf8(*wide);
            } else if (const auto* narrow = std::get_if<std::string>(&value)) {
                cell.kind = TCell::Kind::Text;
                postTexts_[k] = EncodeWtf8(TCodePage::Active().ToWide(*narrow));
            }
            postColumns_.push_back(static_cast<int>(column));
            boundCells_.push_back(cell);
        }
        // The texts are all in place now: their views stay valid.
        for (size_t k = 0; k < boundCells_.size(); ++k)
            if (boundCells_[k].kind == TCell::Kind::Text)
                boundCells_[k].bytes = postTexts_[k];

        std::optional<size_t> row;
        int64_t rowId = 0;
        if (!insert) {
            row = RowOf(buffer);
            if (!row)
                throw EOleException(AdoTexts::kRowMissing, SQLITE_NOTFOUND, "SQLite");
            rowId = rows_.Identity(*row);
            if (postColumns_.empty()) {
                position_ = static_cast<int64_t>(*row);
                return;
            }
        }

        // What may be held is decided under the write lock, which no other
        // connection can change the schema under, and again whenever the
        // schema has changed. Without the lock (the batch holds edits while
        // another connection writes) the table is learned as it is now.
        const bool unlocked = connection->HoldsWithoutLock();
        std::optional<TADOConnection::TWriteScope> scope;
        if (!unlocked)
            scope.emplace(*connection);
        const int64_t stamp = connection->SchemaStamp();
        if (!tableLearned_ || stamp != learnedStamp_) {
            LearnTable(db);
            learnedStamp_ = stamp;
        }
        const TPostWay way = PostWay(insert);
        // Inside a batch, a row the table keeps as given and cannot refuse
        // is held back and written with its neighbours. A new row's rowid is
        // the one the engine would give it, known while the batch holds the
        // write lock; without the lock, only edits are held.
        const bool inBatch = connection->BatchDepth() > 0;
        bool hold = way == TPostWay::Direct && !mayRefuse_ && inBatch && !WritesKey() && !(unlocked && insert);
        if (unlocked && !hold)
            throw EPostNotHeld();
        int shape = -1;
        if (hold) {
            TWriteQueue& queue = connection->HeldWrites();
            if (queue.Full() && !unlocked)
                connection->WriteHeld();
            shape = HeldShape(*connection, insert);
            if (insert) {
                const std::optional<int64_t> next = queue.NextRowId(db, shape);
                hold = next.has_value();
                rowId = next.value_or(0);
            } else if (!queue.Inserts(shape, rowId) && !StillInTable(db, *connection, rowId)) {
                if (unlocked)
                    throw EPostNotHeld();
                // A row deleted elsewhere fails its own post, as an edit
                // written at once would.
                throw EOleException(AdoTexts::kRowMissing, SQLITE_NOTFOUND, "SQLite");
            }
        }
        if (!hold) {
            connection->WriteHeld();
            // A read-back is more than one statement: undone as a whole.
            if (way == TPostWay::ReadBack)
                scope->Guard();
        }
        TSqliteStatement& write = WriteStatement(db, insert, way == TPostWay::Returning);
        write.Reset();
        int index = 1;
        for (const TCell& cell : boundCells_) {
            if (cell.kind == TCell::Kind::Integer)
                write.BindInt(index, cell.integer);
            else if (cell.kind == TCell::Kind::Text)
                write.BindTextInPlace(index, cell.bytes);
            else
                write.BindNull(index);
            ++index;
        }
        if (!insert)
            write.BindInt(index, rowId);

        // The row as the table now has it is staged; the rows change only
        // once the write is committed.
        bool staged = false;
        switch (way) {
        case TPostWay::Direct: {
            if (hold) {
                connection->HeldWrites().Add(shape, rowId, boundCells_, this);
            } else {
                write.Run();
                // A row the table ignored (ON CONFLICT IGNORE) is not written:
                // the last rowid is then another row's.
                if (sqlite3_changes(db) == 0)
                    throw EOleException(insert ? AdoTexts::kRowNotWritten : AdoTexts::kRowMissing, SQLITE_NOTFOUND,
                                        "SQLite");
                if (insert)
                    rowId = sqlite3_last_insert_rowid(db);
            }
            if (insert)
                postCells_.assign(columns_.size(), TCell{});
            else
                rows_.ReadRow(*row, postCells_);
            const int identityPlace = columns_[static_cast<size_t>(identityColumn_)].baseColumn;
            for (size_t i = 0; i < columns_.size(); ++i) {
                const Column& column = columns_[i];
                if (!column.inBase)
                    continue;
                if (insert && (static_cast<int>(i) == identityColumn_ || column.baseColumn == identityPlace)) {
                    postCells_[i].kind = TCell::Kind::Integer;
                    postCells_[i].integer = rowId;
                    continue;
                }
                // Every occurrence of a column written takes its value.
                for (size_t k = 0; k < postColumns_.size(); ++k)
                    if (columns_[static_cast<size_t>(postColumns_[k])].baseColumn == column.baseColumn)
                        postCells_[i] = boundCells_[k];
            }
            rows_.Stage(postCells_);
            staged = true;
            break;
        }
        case TPostWay::Returning:
            staged = write.Step();
            if (staged)
                rows_.Stage(write.Get(), keepOnWrite_, row);
            // The write was made by the first step; the rest only hands out
            // what it returned.
            while (write.Step()) {
            }
            write.Reset();
            // No row returned: none was written (an ignored conflict, a row gone).
            if (!staged)
                throw EOleException(insert ? AdoTexts::kRowNotWritten : AdoTexts::kRowMissing, SQLITE_NOTFOUND,
                                    "SQLite");
            if (insert)
                rowId = sqlite3_last_insert_rowid(db);
            break;
        case TPostWay::ReadBack: {
            write.Run();
            if (sqlite3_changes(db) == 0)
                throw EOleException(insert ? AdoTexts::kRowNotWritten : AdoTexts::kRowMissing, SQLITE_NOTFOUND,
                                    "SQLite");
            if (insert)
                rowId = sqlite3_last_insert_rowid(db);
            TSqliteStatement& readBack = ReadBackStatement(db);
            readBack.Reset();
            readBack.BindInt(1, rowId);
            staged = readBack.Step();
            if (staged)
                rows_.Stage(readBack.Get(), keepOnWrite_, row);
            readBack.Reset();
            break;
        }
        }
        if (!staged)
            throw EOleException(AdoTexts::kRowMissing, SQLITE_NOTFOUND, "SQLite");
        if (scope)
            scope->Commit();
        // Kept until the batch commits, to be written again should the
        // engine lose the transaction.
        if (!hold && inBatch)
            connection->HeldWrites().AddWritten(HeldShape(*connection, insert), rowId, boundCells_, this);
        // Written: the result takes the row as the table now has it.
        if (insert) {
            rows_.AppendStaged(rowId);
            position_ = static_cast<int64_t>(rows_.Count()) - 1;
        } else {
            rows_.ReplaceWithStaged(*row);
            position_ = static_cast<int64_t>(*row);
        }
    } catch (const EPostNotHeld&) {
        ForgetStoragePosition();
        throw;
    } catch (const Exception& error) {
        ForgetStoragePosition();
        throw EDatabaseError(error.Message());
    }
}

}  // namespace vantelo
