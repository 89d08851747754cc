#include "store/TSqliteStatement.h"

#include "store/EOleException.h"

#include <sqlite3.h>

#include <utility>

namespace vantelo {

TSqliteStatement::TSqliteStatement(sqlite3* db, std::string_view sql, std::string_view* tail) : db_(db)
{
    const char* rest = nullptr;
    const int code = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, &rest);
    if (code != SQLITE_OK) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
        throw EOleException::FromEngine(db, code);
    }
    if (tail)
        *tail = rest ? sql.substr(static_cast<size_t>(rest - sql.data())) : std::string_view();
}

TSqliteStatement::~TSqliteStatement()
{
    Finalize();
}

TSqliteStatement::TSqliteStatement(TSqliteStatement&& other) noexcept
    : db_(other.db_), statement_(std::exchange(other.statement_, nullptr))
{
}

TSqliteStatement& TSqliteStatement::operator=(TSqliteStatement&& other) noexcept
{
    if (this != &other) {
        Finalize();
        db_ = other.db_;
        statement_ = std::exchange(other.statement_, nullptr);
    }
    return *this;
}

void TSqliteStatement::Finalize()
{
    if (statement_)
        sqlite3_finalize(std::exchange(statement_, nullptr));
}

int TSqliteStatement::ColumnCount() const
{
    return statement_ ? sqlite3_column_count(statement_) : 0;
}

bool TSqliteStatement::Step()
{
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    EOleException error = EOleException::FromEngine(db_, code);
    sqlite3_reset(statement_);
    throw error;
}

void TSqliteStatement::Run()
{
    while (Step()) {
    }
    sqlite3_reset(statement_);
}

void TSqliteStatement::Reset()
{
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

void TSqliteStatement::BindNull(int index)
{
    sqlite3_bind_null(statement_, index);
}

void TSqliteStatement::BindInt(int index, int64_t value)
{
    sqlite3_bind_int64(statement_, index, value);
}

void TSqliteStatement::BindText(int index, std::string_view bytes)
{
    // An empty view may have no data pointer, which would bind Null.
    const char* data = bytes.data() ? bytes.data() : "";
    sqlite3_bind_text(statement_, index, data, static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

void TSqliteStatement::BindTextInPlace(int index, std::string_view bytes)
{
    const char* data = bytes.data() ? bytes.data() : "";
    sqlite3_bind_text(statement_, index, data, static_cast<int>(bytes.size()), SQLITE_STATIC);
}

}  // namespace vantelo
