#include "store/TADOConnection.h"

#include "platform/TAsciiCase.h"
#include "store/AdoTexts.h"
#include "store/EDatabaseError.h"
#include "store/EOleException.h"
#include "store/TADOCommand.h"
#include "store/TCustomADODataSet.h"

#include <sqlite3.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>

namespace vantelo {

namespace {

// Every connection of the process, for CommitAllPendingWrites.
std::vector<TADOConnection*>& Connections()
{
    static std::vector<TADOConnection*> connections;
    return connections;
}

// True when the database holds a table of this name (in any letter case, as
// the engine compares table names).
bool HoldsTable(sqlite3* db, const char* table)
{
    TSqliteStatement statement(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
    statement.BindText(1, table);
    return statement.Step();
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

constexpr const char* kFixedSql[] = {
    "BEGIN IMMEDIATE", "COMMIT", "ROLLBACK", "SAVEPOINT vantelo_post", "RELEASE vantelo_post",
    "ROLLBACK TO vantelo_post", "PRAGMA schema_version",
};

// The absolute form of a file name: relative names resolve against the
// current directory now.
std::string AbsolutePath(const std::string& name)
{
    if (!name.empty() && name.front() == '/')
        return name;
    char directory[PATH_MAX];
    if (!getcwd(directory, sizeof directory))
        return name;
    std::string path = directory;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + name;
}

}  // namespace

void TADOConnection::CloseDb::operator()(sqlite3* db) const
{
    // close_v2: a statement someone still holds keeps the handle alive until
    // it is finalized, instead of failing the close.
    sqlite3_close_v2(db);
}

TADOConnection::TADOConnection(TComponent* owner, std::string name)
    : TCustomConnection(owner, std::move(name)), provider_(AdoTexts::kDefaultProvider)
{
    Connections().push_back(this);
}

TADOConnection::~TADOConnection()
{
    // Every handler commits its own batch; what is still pending here has no
    // box left to show a failure in (CommitFailure() keeps its text).
    static_cast<void>(CommitPendingWrites());
    try {
        SetConnected(false);
    } catch (...) {
        // A hook that raises cannot stop the destruction.
        DoDisconnect();
    }
    // Detach whoever still names this connection (each unregisters itself).
    while (ClientCount() > 0) {
        TComponent* client = Client(ClientCount() - 1);
        if (auto* dataSet = dynamic_cast<TCustomADODataSet*>(client))
            dataSet->SetConnection(nullptr);
        else if (auto* command = dynamic_cast<TADOCommand*>(client))
            command->SetConnection(nullptr);
        else
            UnRegisterClient(client);
    }
    auto& connections = Connections();
    connections.erase(std::remove(connections.begin(), connections.end(), this), connections.end());
}

void TADOConnection::SetConnectionString(std::string text)
{
    connectionString_ = std::move(text);
    const auto pairs = ParseConnectionString(connectionString_);
    for (const auto& [key, value] : pairs)
        if (AsciiEqualIgnoreCase(key, "Provider"))
            provider_ = value;
}

std::vector<std::pair<std::string, std::string>> TADOConnection::ParseConnectionString(std::string_view text)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t i = 0;
    while (i < text.size()) {
        const size_t equals = text.find_first_of("=;", i);
        if (equals == std::string_view::npos || text[equals] == ';') {
            // A part without "=" names nothing.
            i = equals == std::string_view::npos ? text.size() : equals + 1;
            continue;
        }
        const std::string key(Trim(text.substr(i, equals - i)));
        i = equals + 1;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        std::string value;
        if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
            const char quote = text[i++];
            while (i < text.size()) {
                if (text[i] == quote) {
                    if (i + 1 < text.size() && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += text[i++];
            }
            // Anything between the closing quote and the separator is dropped.
            const size_t end = text.find(';', i);
            i = end == std::string_view::npos ? text.size() : end + 1;
        } else {
            const size_t end = text.find(';', i);
            const size_t stop = end == std::string_view::npos ? text.size() : end;
            value = std::string(Trim(text.substr(i, stop - i)));
            i = stop + 1;
        }
        if (!key.empty())
            pairs.emplace_back(key, std::move(value));
    }
    return pairs;
}

std::string TADOConnection::ConnectionStringValue(std::string_view text, std::string_view key)
{
    std::string found;
    for (auto& [name, value] : ParseConnectionString(text))
        if (AsciiEqualIgnoreCase(name, key))
            found = std::move(value);
    return found;
}

int64_t TADOConnection::RowsChanged() const
{
    return db_ ? static_cast<int64_t>(sqlite3_total_changes64(db_.get())) : 0;
}

std::string TADOConnection::QuotedValue(std::string_view value)
{
    const bool bare = !value.empty() && value.find_first_of(";\"'") == std::string_view::npos &&
                      Trim(value).size() == value.size();
    if (bare)
        return std::string(value);
    std::string quoted = "\"";
    for (const char c : value) {
        quoted += c;
        if (c == '"')
            quoted += c;
    }
    return quoted + '"';
}

void TADOConnection::DoConnect()
{
    ++openAttempts_;
    const std::string source = ConnectionStringValue(connectionString_, "Data Source");
    if (source.empty())
        throw EOleException(sqlite3_errstr(SQLITE_CANTOPEN), SQLITE_CANTOPEN, "SQLite");
    const std::string path = AbsolutePath(source);
    // Never SQLITE_OPEN_CREATE: the tool does not make its database. The
    // connection is used by the thread that owns it alone, so SQLite need not
    // take its lock on every call (a row's post makes dozens of them).
    const int flags =
        (mode_ == TConnectMode::cmRead ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    std::unique_ptr<sqlite3, CloseDb> db(raw);
    if (code != SQLITE_OK)
        throw EOleException::FromEngine(db.get(), code);
    sqlite3_extended_result_codes(db.get(), 1);
    sqlite3_busy_timeout(db.get(), busyTimeoutMs_);
    // Opening reads nothing yet: read the header now, so that a file that is
    // no database, or one another process keeps locked, fails the connect.
    TSqliteStatement(db.get(), "PRAGMA schema_version").Run();
    if (mode_ != TConnectMode::cmRead) {
        // The journal mode is a wish: a file on a mount without shared memory
        // or that another process holds keeps the one it has. Only the file
        // list's own database is switched; any other file (an empty one, a
        // foreign database) is left byte for byte as it is.
        try {
            if (HoldsTable(db.get(), AdoTexts::kFileListTable))
                TSqliteStatement(db.get(), "PRAGMA journal_mode=WAL").Run();
        } catch (const EOleException&) {
        }
    }
    try {
        TSqliteStatement(db.get(), "PRAGMA synchronous=NORMAL").Run();
    } catch (const EOleException&) {
    }
    const char* opened = sqlite3_db_filename(db.get(), "main");
    databasePath_ = opened && *opened ? opened : path;
    db_ = std::move(db);
}

void TADOConnection::DoDisconnect()
{
    // Rows a batch has posted are kept: what the user saw posted is written.
    // A failure is kept in CommitFailure(); the disconnect goes on.
    static_cast<void>(CommitPendingWrites());
    held_.Clear();
    held_.DropStatements();
    for (TSqliteStatement& statement : fixed_)
        statement.Finalize();
    db_.reset();
}

void TADOConnection::CheckActive()
{
    if (!Connected())
        SetConnected(true);
}

void TADOConnection::CheckDisconnect()
{
    if (keepConnection_ || InTransaction() || !Connected())
        return;
    for (TDataSet* dataSet : DataSets())
        if (dataSet->Active())
            return;
    SetConnected(false);
}

bool TADOConnection::InTransaction() const
{
    return db_ && sqlite3_get_autocommit(db_.get()) == 0;
}

void TADOConnection::Run(Fixed which)
{
    TSqliteStatement& statement = fixed_[which];
    if (!statement)
        statement = TSqliteStatement(db_.get(), kFixedSql[which]);
    statement.Run();
}

void TADOConnection::Begin()
{
    Run(kBeginImmediate);
    ++changeSerial_;
    SchemaMayHaveChanged();
}

void TADOConnection::SchemaMayHaveChanged()
{
    TSqliteStatement& statement = fixed_[kSchemaVersion];
    if (!statement)
        statement = TSqliteStatement(db_.get(), kFixedSql[kSchemaVersion]);
    statement.Reset();
    if (statement.Step())
        schemaStamp_ = sqlite3_column_int64(statement.Get(), 0);
    statement.Reset();
}

int64_t TADOConnection::SchemaStamp()
{
    // Outside a transaction (edits held without the lock) the stamp is read
    // again once anything ran on the connection; a rule another connection
    // makes meanwhile is met when the held rows are written under the lock.
    if (db_ && !InTransaction() && stampSerial_ != changeSerial_) {
        SchemaMayHaveChanged();
        stampSerial_ = changeSerial_;
    }
    return schemaStamp_;
}

void TADOConnection::CheckFailure() const
{
    if (failed_)
        throw EDatabaseError(failure_);
}

void TADOConnection::CommitBatch()
{
    if (batchDepth_ == 0)
        return;
    if (--batchDepth_ > 0)
        return;
    std::optional<std::string> error;
    if (failed_)
        error = failure_;
    if (!CommitPendingWrites() && !error)
        error = CommitFailure();
    failed_ = false;
    failure_.clear();
    if (error)
        throw EDatabaseError(*error);
}

bool TADOConnection::EndBatch() noexcept
{
    if (batchDepth_ == 0)
        return true;
    if (--batchDepth_ > 0)
        return true;
    const bool failedBefore = failed_;
    const bool committed = CommitPendingWrites();
    failed_ = false;
    failure_.clear();
    return committed || failedBefore;
}

void TADOConnection::RollbackBatch() noexcept
{
    if (batchDepth_ == 0)
        return;
    if (--batchDepth_ > 0)
        return;
    held_.Clear();
    failed_ = false;
    failure_.clear();
    ++changeSerial_;
    if (db_ && InTransaction())
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

namespace {

std::string& LastCommitFailure()
{
    static std::string text;
    return text;
}

void Remember(std::string& to, const std::string& text) noexcept
{
    try {
        to = text;
    } catch (...) {
    }
}

}  // namespace

const std::string& TADOConnection::CommitFailure() noexcept
{
    return LastCommitFailure();
}

void TADOConnection::WriteHeld()
{
    ++changeSerial_;
    CheckFailure();
    if (held_.Empty())
        return;
    if (!db_) {
        held_.Clear();
        return;
    }
    WriteHeldRows();
}

void TADOConnection::WriteHeldRows()
{
    std::optional<TWriteQueue::Failure> failure;
    if (!InTransaction()) {
        try {
            Begin();
        } catch (const Exception& error) {
            // Held without the lock, and the lock cannot be had: none of
            // them is written.
            failure = TWriteQueue::Failure{TWriteQueue::Place{}, error.Message(), false};
        }
    }
    if (!failure)
        failure = held_.Write(db_.get());
    if (!failure)
        return;
    if (const std::optional<std::string> text = Salvage(*failure))
        throw EDatabaseError(*text);
}

std::optional<std::string> TADOConnection::Salvage(TWriteQueue::Failure failure) noexcept
{
    std::optional<std::string> text = failure.text;
    TWriteQueue::Place cut = failure.at;
    if (!failure.lost && InTransaction()) {
        // The rows before the failed one are in the open transaction.
        try {
            Run(kCommit);
        } catch (...) {
            failure.lost = true;
        }
    }
    if (failure.lost) {
        if (InTransaction())
            sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        // Lost with the transaction: every row kept is written again, up to
        // the first that cannot be.
        const TWriteQueue::Place end = held_.End();
        try {
            std::optional<TWriteQueue::Failure> again =
                held_.Replay(db_.get(), end, [this] { Begin(); }, [this] { Run(kCommit); },
                             [this] { Run(kRollback); });
            if (again) {
                cut = again->at;
                text = again->text;
            } else {
                cut = end;
                text.reset();
            }
        } catch (...) {
            cut = TWriteQueue::Place{};
        }
    }
    ++changeSerial_;
    try {
        held_.DropFrom(cut);
    } catch (...) {
        held_.Clear();
    }
    if (text) {
        failed_ = true;
        Remember(failure_, *text);
        Remember(LastCommitFailure(), *text);
    }
    return text;
}

std::optional<std::string> TADOConnection::CommitKept() noexcept
{
    if (!InTransaction()) {
        held_.Clear();
        return std::nullopt;
    }
    try {
        Run(kCommit);
        held_.Clear();
        return std::nullopt;
    } catch (const Exception& error) {
        if (held_.Idle()) {
            if (InTransaction())
                sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            Remember(LastCommitFailure(), error.Message());
            return error.Message();
        }
        return Salvage(TWriteQueue::Failure{held_.End(), error.Message(), true});
    } catch (...) {
        if (InTransaction())
            sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        held_.Clear();
        return std::string();
    }
}

bool TADOConnection::CommitPendingWrites() noexcept
{
    if (!db_) {
        held_.Clear();
        return true;
    }
    bool written = true;
    if (!held_.Empty()) {
        try {
            WriteHeldRows();
        } catch (...) {
            // The rows before the failed one are committed; the failure is
            // the one to tell.
            written = false;
        }
    }
    return !CommitKept() && written;
}

bool TADOConnection::CommitAllPendingWrites() noexcept
{
    bool ok = true;
    for (TADOConnection* connection : Connections())
        ok = connection->CommitPendingWrites() && ok;
    return ok;
}

// --- one post's write ----------------------------------------------------------

TADOConnection::TWriteScope::TWriteScope(TADOConnection& connection)
    : connection_(connection), inBatch_(connection.batchDepth_ > 0)
{
    if (!connection_.Connected())
        throw EOleException(AdoTexts::kConnectionClosed, SQLITE_MISUSE, "SQLite");
    if (!connection_.InTransaction())
        connection_.Begin();
}

void TADOConnection::TWriteScope::Guard()
{
    if (inBatch_ && !savepoint_) {
        connection_.Run(kSavepoint);
        savepoint_ = true;
    }
}

void TADOConnection::TWriteScope::Commit()
{
    if (savepoint_)
        connection_.Run(kRelease);
    else if (!inBatch_)
        connection_.Run(kCommit);
    done_ = true;
}

TADOConnection::TWriteScope::~TWriteScope()
{
    if (done_ || !connection_.Connected())
        return;
    sqlite3* db = connection_.Handle();
    if (inBatch_) {
        // Undo this post alone. Without a savepoint the engine has undone
        // the failed statement itself.
        if (savepoint_ && sqlite3_get_autocommit(db) == 0) {
            sqlite3_exec(db, "ROLLBACK TO vantelo_post", nullptr, nullptr, nullptr);
            sqlite3_exec(db, "RELEASE vantelo_post", nullptr, nullptr, nullptr);
        }
        // The engine may have rolled the whole transaction back (a full
        // disk): the batch's posts before this one are written again.
        if (sqlite3_get_autocommit(db) != 0 && !connection_.held_.Idle())
            static_cast<void>(connection_.Salvage(TWriteQueue::Failure{connection_.held_.End(), {}, true}));
        // The rows posted before the failure are written before anyone sees
        // it. Should that commit fail, the post's own error is on its way to
        // the box, and CommitFailure() keeps the commit's text.
        static_cast<void>(connection_.CommitPendingWrites());
    } else if (sqlite3_get_autocommit(db) == 0) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

}  // namespace vantelo
