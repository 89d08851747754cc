// Test helpers for the store over SQLite: a fresh folder holding a
// "FileName.mdb" made from resources/schema.sql, entered as the current
// directory for the test and left afterwards, and a second, independent
// connection to the same file for looking at what was really written.
#pragma once

#include "platform/Exception.h"
#include "store/TADOQuery.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantelo::test {

inline std::string SchemaSql()
{
    // ctest names the source tree; run by hand, this header's place does.
    const char* source = std::getenv("VANTELO_SOURCE_DIR");
    const std::string root = source ? source : std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/tests/"));
    std::ifstream in(root + "/resources/schema.sql");
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().empty())
        throw std::runtime_error("resources/schema.sql not found");
    return text.str();
}

// An independent connection to a database file (the other process's view).
class TRawDb {
public:
    explicit TRawDb(const std::string& path, bool create = false)
    {
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + path);
        sqlite3_busy_timeout(db_, 2000);
    }
    ~TRawDb() { sqlite3_close_v2(db_); }
    TRawDb(const TRawDb&) = delete;
    TRawDb& operator=(const TRawDb&) = delete;

    sqlite3* Get() const { return db_; }
    // Runs sql; answers the engine's error text, or empty on success.
    std::string Exec(const std::string& sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK)
            return {};
        std::string text = error ? error : "error";
        sqlite3_free(error);
        return text;
    }
    // The first column of every row of sql, as bytes ("<null>" for Null).
    std::vector<std::string> Column(const std::string& sql)
    {
        std::vector<std::string> values;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db_));
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, 0));
            values.push_back(sqlite3_column_type(statement, 0) == SQLITE_NULL
                                 ? "<null>"
                                 : std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(statement, 0))));
        }
        sqlite3_finalize(statement);
        return values;
    }
    std::string Scalar(const std::string& sql)
    {
        const std::vector<std::string> values = Column(sql);
        return values.empty() ? std::string() : values.front();
    }

private:
    sqlite3* db_ = nullptr;
};

// A fresh folder with FileName.mdb (unless told not to), entered for the test.
class TDatabaseFolder {
public:
    explicit TDatabaseFolder(bool withDatabase = true)
    {
        char previous[PATH_MAX];
        previous_ = getcwd(previous, sizeof previous) ? previous : "/";
        if (withDatabase) {
            TRawDb db(DatabasePath(), true);
            const std::string error = db.Exec(SchemaSql());
            if (!error.empty())
                throw std::runtime_error(error);
        }
        if (chdir(dir_.Path().c_str()) != 0)
            throw std::runtime_error("chdir failed");
    }
    ~TDatabaseFolder() { (void)chdir(previous_.c_str()); }

    const std::string& Path() const { return dir_.Path(); }
    std::string DatabasePath() const { return dir_ / "FileName.mdb"; }
    // A second connection to the database.
    std::unique_ptr<TRawDb> Open() const { return std::make_unique<TRawDb>(DatabasePath()); }
    // Appends rows (name, enabled) directly.
    void AddRows(const std::vector<std::pair<std::string, bool>>& rows) const
    {
        TRawDb db(DatabasePath());
        for (const auto& [name, enabled] : rows) {
            sqlite3_stmt* statement = nullptr;
            sqlite3_prepare_v2(db.Get(), "INSERT INTO Tellarin (FileName, FileEnable) VALUES (?, ?)", -1, &statement,
                               nullptr);
            sqlite3_bind_text(statement, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(statement, 2, enabled ? 1 : 0);
            sqlite3_step(statement);
            sqlite3_finalize(statement);
        }
    }

private:
    TTempDir dir_;
    std::string previous_;
};

// Opens query on sql afresh.
inline void OpenOn(TADOQuery& query, const std::string& sql)
{
    query.Close();
    query.SQL().Clear();
    query.SQL().Add(sql);
    query.Open();
}

// The error `action` raises as "Class: message", or "no error".
inline std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Exception& error) {
        return std::string(error.ClassName()) + ": " + error.Message();
    }
    return "no error";
}

}  // namespace vantelo::test
