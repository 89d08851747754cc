// One prepared SQLite statement, finalized when the object goes. Errors of
// prepare and step are raised as EOleException with the engine's text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace vantelo {

class TSqliteStatement {
public:
    TSqliteStatement() = default;
    // Prepares the first statement of sql on db; raises on a syntax error, a
    // missing table and the like. *tail (when given) receives the rest of
    // the text. An empty text or a bare comment gives an empty statement.
    TSqliteStatement(sqlite3* db, std::string_view sql, std::string_view* tail = nullptr);
    ~TSqliteStatement();
    TSqliteStatement(TSqliteStatement&& other) noexcept;
    TSqliteStatement& operator=(TSqliteStatement&& other) noexcept;
    TSqliteStatement(const TSqliteStatement&) = delete;
    TSqliteStatement& operator=(const TSqliteStatement&) = delete;

    sqlite3_stmt* Get() const { return statement_; }
    explicit operator bool() const { return statement_ != nullptr; }
    int ColumnCount() const;

    // One step: true for a row, false when done; raises on an error (the
    // statement is reset, so no read or write stays open).
    bool Step();
    // Steps to the end, discarding rows.
    void Run();
    // Resets and clears the bindings, ready to run again.
    void Reset();
    void Finalize();

    void BindNull(int index);
    void BindInt(int index, int64_t value);
    void BindText(int index, std::string_view bytes);
    // The same without a copy: bytes must stay as they are until the
    // statement has run and been reset.
    void BindTextInPlace(int index, std::string_view bytes);

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
};

}  // namespace vantelo
