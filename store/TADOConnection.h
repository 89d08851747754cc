// The database connection over one SQLite handle. The connection string
// names the database file ("Data Source"); the file is opened read-write but
// never created (a missing file fails), relative to the process's current
// directory at the moment of connecting, with the WAL journal,
// synchronous=NORMAL and a busy timeout so that another process holding the
// file makes the tool wait a little before it reports the error.
//
// Posts of the datasets run as write transactions here. A batch
// (BeginBatch/CommitBatch) groups the posts of one handler into one
// transaction, opened by the first post; each post inside it is undone on
// its own when it fails (by the engine, which undoes a failed statement on
// its own, when the post is one statement and nothing can fail after it;
// else by a savepoint around it), the rows posted before it are then
// committed at once, and CommitPendingWrites commits an open batch
// transaction before any box is shown. Inside a batch the posts of a table
// that keeps every row as given may be held back and written in runs
// (TWriteQueue): the connection writes them before anything else runs on it
// and before it commits.
#pragma once

#include "store/TCustomConnection.h"
#include "store/TSqliteStatement.h"
#include "store/TWriteQueue.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;

namespace vantelo {

enum class TConnectMode {
    cmUnknown = 0,
    cmRead = 1,
    cmWrite = 2,
    cmReadWrite = 3,
    cmShareDenyRead = 4,
    cmShareDenyWrite = 8,
    cmShareExclusive = 12,
    cmShareDenyNone = 16,
};

enum class TCursorLocation { clUseServer = 2, clUseClient = 3 };

class TADOConnection : public TCustomConnection {
public:
    explicit TADOConnection(TComponent* owner = nullptr, std::string name = {});
    // Commits an open batch, disconnects, and detaches every command and
    // dataset that still names this connection (an open dataset keeps its
    // rows; a later post through it fails).
    ~TADOConnection() override;

    // --- settings -----------------------------------------------------------
    const std::string& ConnectionString() const { return connectionString_; }
    // Takes effect at the next connect. A "Provider" key also sets Provider.
    void SetConnectionString(std::string text);
    bool LoginPrompt() const { return loginPrompt_; }
    // No login dialog exists: no user name or password is ever asked for.
    void SetLoginPrompt(bool prompt) { loginPrompt_ = prompt; }
    TConnectMode Mode() const { return mode_; }
    // cmRead opens the file read-only; every other mode read-write. The file
    // is always shared with other processes.
    void SetMode(TConnectMode mode) { mode_ = mode; }
    const std::string& Provider() const { return provider_; }
    // Recorded only: every provider name opens an SQLite file.
    void SetProvider(std::string provider) { provider_ = std::move(provider); }
    bool KeepConnection() const { return keepConnection_; }
    // False: the last closing query disconnects.
    void SetKeepConnection(bool keep) { keepConnection_ = keep; }
    TCursorLocation CursorLocation() const { return cursorLocation_; }
    void SetCursorLocation(TCursorLocation location) { cursorLocation_ = location; }
    int BusyTimeout() const { return busyTimeoutMs_; }
    // How long a statement waits for another process's lock, in ms (at the
    // next connect).
    void SetBusyTimeout(int milliseconds) { busyTimeoutMs_ = milliseconds; }

    // The absolute path of the database file opened by the last successful
    // connect; empty before. Its "-wal", "-shm" and "-journal" companions
    // belong to it.
    const std::string& DatabasePath() const { return databasePath_; }
    // Connect attempts made so far, successful or not.
    int OpenAttempts() const { return openAttempts_; }
    // The engine handle while connected, else null.
    sqlite3* Handle() const { return db_.get(); }
    // Rows inserted, updated or deleted by this connection's statements
    // since it connected (those of a transaction rolled back since
    // included); 0 while not connected.
    int64_t RowsChanged() const;

    // Connects when not connected (raising the engine's error).
    void CheckActive();
    // Disconnects when KeepConnection is false, no transaction is open and
    // none of the datasets is active.
    void CheckDisconnect();

    // --- batches ------------------------------------------------------------
    // Counted: posts between the outermost BeginBatch and its CommitBatch go
    // into one transaction, opened by the first of them.
    void BeginBatch() { ++batchDepth_; }
    // Ends one level; the outermost commits. A failed commit is rolled back
    // and raised (EOleException). Unbalanced calls are ignored.
    void CommitBatch();
    // The same for a destructor or an error path: never raises; answers
    // false when the outermost commit failed (and was rolled back).
    [[nodiscard]] bool EndBatch() noexcept;
    // Ends the outermost batch taking back what it posted: the held posts
    // are dropped and its open transaction is rolled back, so the table is
    // as it was when the batch began (unless a commit before a box already
    // wrote part of it). A nested level only ends. Never raises.
    void RollbackBatch() noexcept;
    int BatchDepth() const { return batchDepth_; }
    // True while a write transaction is open.
    bool InTransaction() const;
    // Commits the open transaction of a batch, if any; the batch goes on and
    // its next post opens a new one. A commit that fails is rolled back.
    // Answers false when that happened (CommitFailure() then says why).
    // Never raises.
    [[nodiscard]] bool CommitPendingWrites() noexcept;
    // CommitPendingWrites on every connection of the process.
    [[nodiscard]] static bool CommitAllPendingWrites() noexcept;
    // The engine's text for the last commit of any connection that failed
    // and was rolled back; empty when none has.
    static const std::string& CommitFailure() noexcept;

    // Posts a batch holds back (see TWriteQueue). WriteHeld writes them now,
    // before a statement that must see them; when a row fails, the rows
    // before it are committed and its error is raised.
    TWriteQueue& HeldWrites() { return held_; }
    void WriteHeld();
    // While set, a batch's edits are held back without taking the write
    // lock, so that another connection (another thread's) may write
    // meanwhile; a post that could not be held so raises EPostNotHeld and
    // changes nothing. The held rows are written, under the lock, when the
    // mode ends and the batch commits, or dropped by DropHeld.
    void SetHoldWithoutLock(bool on) { holdWithoutLock_ = on; }
    bool HoldsWithoutLock() const { return holdWithoutLock_; }
    // Forgets the held posts: they are not to be written.
    void DropHeld() noexcept { held_.Clear(); }
    // Changes whenever the table's rows may have changed other than by held
    // posts: a transaction begins (other processes wrote before it), or a
    // statement runs that is not a held post.
    uint64_t ChangeSerial() const { return changeSerial_; }

    // One post's write: opens the transaction (a batch's, or its own), and
    // is undone unless Commit() is called. Raises the engine's error when
    // the transaction cannot begin (another process holds the file).
    // oneStatement: the write is a single statement and nothing after it
    // can fail once it succeeded, so that inside a batch the engine's own
    // undo of a failed statement is enough and no savepoint is set.
    class TWriteScope {
    public:
        explicit TWriteScope(TADOConnection& connection, bool oneStatement = false);
        ~TWriteScope();
        TWriteScope(const TWriteScope&) = delete;
        TWriteScope& operator=(const TWriteScope&) = delete;
        // Makes the write part of the batch, or commits it; raises on failure
        // (then the write is undone).
        void Commit();

    private:
        TADOConnection& connection_;
        bool inBatch_;
        bool savepoint_;
        bool done_ = false;
    };

    // --- connection strings -------------------------------------------------
    // The key=value pairs of a connection string, separated by ";", in order.
    // Keys and unquoted values are trimmed; a value in single or double
    // quotes is taken literally (a doubled quote stands for one).
    static std::vector<std::pair<std::string, std::string>> ParseConnectionString(std::string_view text);
    // The value of key (any letter case; the last one wins), or empty.
    static std::string ConnectionStringValue(std::string_view text, std::string_view key);
    // A value written so that ConnectionStringValue gives it back as it is:
    // bare when that is safe, else in double quotes with each one doubled.
    static std::string QuotedValue(std::string_view value);

protected:
    bool GetConnected() const override { return db_ != nullptr; }
    void DoConnect() override;
    void DoDisconnect() override;

private:
    enum Fixed { kBeginImmediate, kCommit, kRollback, kSavepoint, kRelease, kRollbackTo, kFixedCount };
    struct CloseDb {
        void operator()(sqlite3* db) const;
    };

    // Runs one of the fixed statements (prepared once per connect).
    void Run(Fixed which);

    std::string connectionString_;
    bool loginPrompt_ = true;
    TConnectMode mode_ = TConnectMode::cmUnknown;
    std::string provider_;
    bool keepConnection_ = true;
    TCursorLocation cursorLocation_ = TCursorLocation::clUseClient;
    int busyTimeoutMs_ = 5000;
    std::string databasePath_;
    int openAttempts_ = 0;
    int batchDepth_ = 0;
    uint64_t changeSerial_ = 1;
    bool holdWithoutLock_ = false;
    // Writes the held posts inside the write transaction, beginning it if
    // they were held without it.
    void WriteHeldRows();
    std::unique_ptr<sqlite3, CloseDb> db_;
    // Declared after the handle: finalized before it closes.
    std::array<TSqliteStatement, kFixedCount> fixed_;
    TWriteQueue held_;
};

}  // namespace vantelo
