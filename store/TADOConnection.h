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
// that keeps every row as given and cannot refuse one may be held back and
// written in runs (TWriteQueue): the connection writes them before anything
// else runs on it and before it commits.
//
// Whatever fails, a batch keeps the contract of per-row posts: the rows
// posted before the failing one are in the table, and the failure is told
// with the engine's own text. A held row refused only when it is written is
// told by the post, open or commit that wrote it, and from then on every
// post, open and commit of the batch fails with the same text, so that no
// success is ever reported over a row that was not written; the datasets
// show such rows as the table has them. When the engine loses the whole
// transaction (a full disk, often only at the commit), the batch's posts
// are written again from the first to find the one that fails.
#pragma once

#include "store/TCustomConnection.h"
#include "store/TSqliteStatement.h"
#include "store/TWriteQueue.h"

#include <array>
#include <cstdint>
#include <optional>
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
    // Ends one level; the outermost commits. A commit that fails keeps the
    // rows before the first one that cannot be written and raises that
    // row's error (EDatabaseError), as does a batch that failed before.
    // Unbalanced calls are ignored.
    void CommitBatch();
    // The same for a destructor or an error path: never raises; answers
    // false when the outermost commit failed (CommitFailure() says why). A
    // failure of the batch already raised is not told again.
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
    // before it are committed, its error is raised and the batch has
    // failed. A batch that has failed raises its error here.
    TWriteQueue& HeldWrites() { return held_; }
    void WriteHeld();
    // Raises the batch's failure (EDatabaseError), if it has one.
    void CheckFailure() const;
    // True while the batch has failed.
    bool BatchFailed() const { return failed_; }
    // PRAGMA schema_version as read when the open transaction began, or,
    // when none is open, since anything last ran on the connection: changes
    // when the database's tables, indexes or triggers change.
    int64_t SchemaStamp();
    // Statements that may have changed the schema ran inside the open
    // transaction: the stamp is read again.
    void SchemaMayHaveChanged();
    // While set, a batch's edits are held back without taking the write
    // lock, so that another connection (another thread's) may write
    // meanwhile; a post that could not be held so raises EPostNotHeld and
    // changes nothing. The held rows are written, under the lock, when the
    // mode ends and the batch commits, or dropped by DropHeld.
    void SetHoldWithoutLock(bool on) { holdWithoutLock_ = on; }
    bool HoldsWithoutLock() const { return holdWithoutLock_; }
    // Forgets the held posts: they are not to be written. The datasets that
    // posted them are not told: the caller reads them again.
    void DropHeld() noexcept { held_.DropHeld(); }
    // Changes whenever the table's rows may have changed other than by held
    // posts: a transaction begins (other processes wrote before it), or a
    // statement runs that is not a held post.
    uint64_t ChangeSerial() const { return changeSerial_; }

    // One post's write: opens the transaction (a batch's, or its own), and
    // is undone unless Commit() is called. Raises the engine's error when
    // the transaction cannot begin (another process holds the file).
    class TWriteScope {
    public:
        explicit TWriteScope(TADOConnection& connection);
        ~TWriteScope();
        TWriteScope(const TWriteScope&) = delete;
        TWriteScope& operator=(const TWriteScope&) = delete;
        // Inside a batch, sets a savepoint, so that a write of more than one
        // statement (or one after which something may fail) is undone alone.
        // Without it, the engine's own undo of a failed statement is all.
        void Guard();
        // Makes the write part of the batch, or commits it; raises on failure
        // (then the write is undone).
        void Commit();

    private:
        TADOConnection& connection_;
        bool inBatch_;
        bool savepoint_ = false;
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
    enum Fixed { kBeginImmediate, kCommit, kRollback, kSavepoint, kRelease, kRollbackTo, kSchemaVersion, kFixedCount };
    struct CloseDb {
        void operator()(sqlite3* db) const;
    };

    // Runs one of the fixed statements (prepared once per connect).
    void Run(Fixed which);
    // Begins the write transaction and reads the schema's stamp.
    void Begin();
    // A write of the batch failed at `failure`: the rows before it are
    // committed (written again when the transaction was lost), it and the
    // rest dropped and their datasets told. Answers the text of the row
    // that failed, or none when, written again, every row took. Marks the
    // batch failed. Never raises.
    std::optional<std::string> Salvage(TWriteQueue::Failure failure) noexcept;
    // Commits the open transaction; a commit that fails has the batch's
    // posts written again. Answers the failure's text. Never raises.
    std::optional<std::string> CommitKept() noexcept;

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
    bool failed_ = false;
    std::string failure_;
    int64_t schemaStamp_ = 0;
    uint64_t stampSerial_ = 0;  // changeSerial_ when the stamp was read outside a transaction
    // Writes the held posts inside the write transaction, beginning it if
    // they were held without it.
    void WriteHeldRows();
    std::unique_ptr<sqlite3, CloseDb> db_;
    // Declared after the handle: finalized before it closes.
    std::array<TSqliteStatement, kFixedCount> fixed_;
    TWriteQueue held_;
};

}  // namespace vantelo
