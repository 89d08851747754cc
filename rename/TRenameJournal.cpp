// The rename journal over a connection of its own to the tool's database.
#include "rename/TRenameJournal.h"

#include "rename/EJournalError.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace vantelo {
namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS RenameJournal("
    "BatchId INTEGER PRIMARY KEY AUTOINCREMENT, Directory BLOB NOT NULL, DirDevice INTEGER NOT NULL, "
    "DirInode INTEGER NOT NULL, DeleteOld INTEGER NOT NULL, Phase INTEGER NOT NULL, "
    "FileCount INTEGER NOT NULL, Files BLOB NOT NULL)";
// A batch's files in slices of the packed list, so that no write holds the
// whole list twice and a phase change rewrites none of it. The table's own
// Files column is left empty for such batches; a batch written with its
// files there is still read.
constexpr const char* kCreatePartsTable =
    "CREATE TABLE IF NOT EXISTS RenameJournalFiles(BatchId INTEGER NOT NULL, Part INTEGER NOT NULL, "
    "Files BLOB NOT NULL, PRIMARY KEY(BatchId, Part))";
constexpr const char* kColumns = "SELECT BatchId, Directory, DirDevice, DirInode, DeleteOld, Phase, Files FROM RenameJournal ";
constexpr unsigned char kPackVersion = 2;
// How a file's new identity is kept after its old one.
enum MadeMark : unsigned char { kMadeUnknown = 0, kMadeIsSource = 1, kMadeFollows = 2 };

// One prepared statement, finalized on every path out.
class TStatement {
public:
    TStatement(sqlite3* db, const char* sql) { code_ = sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
    ~TStatement() { sqlite3_finalize(statement_); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;
    bool Ok() const { return code_ == SQLITE_OK; }
    sqlite3_stmt* Get() const { return statement_; }
    void Bind(int at, int64_t value) { sqlite3_bind_int64(statement_, at, value); }
    void BindBlob(int at, const std::string& value) {
        sqlite3_bind_blob64(statement_, at, value.data(), value.size(), SQLITE_STATIC);
    }

private:
    sqlite3_stmt* statement_ = nullptr;
    int code_ = SQLITE_OK;
};

// Whole numbers as little-endian base-128 groups: most take a few bytes.
void PutNumber(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

// A signed number folded so that small negative ones stay short.
uint64_t Fold(int64_t value) { return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63); }
int64_t Unfold(uint64_t value) { return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1); }

void PutIdentity(std::string& out, const TFileIdentity& identity) {
    PutNumber(out, static_cast<uint64_t>(identity.device));
    PutNumber(out, static_cast<uint64_t>(identity.inode));
    PutNumber(out, Fold(identity.size));
    PutNumber(out, Fold(identity.mtime.tv_sec));
    PutNumber(out, static_cast<uint64_t>(identity.mtime.tv_nsec));
}

bool SameIdentity(const TFileIdentity& a, const TFileIdentity& b) {
    return a.SameState(b);
}

bool IsUnknown(const TFileIdentity& identity) { return SameIdentity(identity, TFileIdentity{}); }

// Reads what PutNumber and the names wrote, refusing a value cut short.
class TReader {
public:
    explicit TReader(const std::string& text, size_t at) : text_(text), at_(at) {}
    bool Number(uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at_ >= text_.size()) return false;
            const auto byte = static_cast<unsigned char>(text_[at_++]);
            value |= static_cast<uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80)) return true;
        }
        return false;
    }
    bool Bytes(std::string& value) {
        uint64_t length = 0;
        if (!Number(length) || text_.size() - at_ < length) return false;
        value.assign(text_, at_, length);
        at_ += length;
        return true;
    }
    bool Byte(unsigned char& value) {
        if (at_ >= text_.size()) return false;
        value = static_cast<unsigned char>(text_[at_++]);
        return true;
    }
    bool Identity(TFileIdentity& identity) {
        uint64_t device, inode, size, seconds, nanoseconds;
        if (!Number(device) || !Number(inode) || !Number(size) || !Number(seconds) || !Number(nanoseconds))
            return false;
        identity.device = static_cast<dev_t>(device);
        identity.inode = static_cast<ino_t>(inode);
        identity.size = static_cast<off_t>(Unfold(size));
        identity.mtime.tv_sec = static_cast<time_t>(Unfold(seconds));
        identity.mtime.tv_nsec = static_cast<long>(nanoseconds);
        return true;
    }
    bool AtEnd() const { return at_ == text_.size(); }

private:
    const std::string& text_;
    size_t at_;
};

}  // namespace

void TRenameJournal::CloseDb::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

TRenameJournal::TRenameJournal(const std::string& databasePath, int busyTimeoutMs) {
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(databasePath.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    db_.reset(raw);
    if (code != SQLITE_OK) {
        const std::string text = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(code);
        throw EJournalError(text);
    }
    sqlite3_busy_timeout(db_.get(), busyTimeoutMs);
    // Every commit of this connection reaches the disk before it returns.
    Exec("PRAGMA synchronous=FULL");
    Exec(kCreateTable);
    Exec(kCreatePartsTable);
}

TRenameJournal::~TRenameJournal() = default;

void TRenameJournal::Raise() const { throw EJournalError(sqlite3_errmsg(db_.get())); }

void TRenameJournal::Exec(const char* sql) {
    if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) Raise();
}

std::string TRenameJournal::PackStart(size_t expectedFiles) {
    std::string packed;
    packed.reserve(1 + expectedFiles * 48);
    packed.push_back(static_cast<char>(kPackVersion));
    return packed;
}

void TRenameJournal::PackFile(std::string& packed, const std::string& oldName, const std::string& newName,
                              const TFileIdentity& source, const TFileIdentity& made) {
    PutNumber(packed, oldName.size());
    packed += oldName;
    PutNumber(packed, newName.size());
    packed += newName;
    PutIdentity(packed, source);
    if (IsUnknown(made)) {
        packed.push_back(static_cast<char>(kMadeUnknown));
    } else if (SameIdentity(made, source)) {
        packed.push_back(static_cast<char>(kMadeIsSource));
    } else {
        packed.push_back(static_cast<char>(kMadeFollows));
        PutIdentity(packed, made);
    }
}

std::string TRenameJournal::Pack(const std::vector<File>& files) {
    std::string packed = PackStart(files.size());
    for (const File& file : files) PackFile(packed, file.oldName, file.newName, file.source, file.made);
    return packed;
}

bool TRenameJournal::Unpack(const std::string& packed, std::vector<File>& files) {
    files.clear();
    if (packed.empty() || static_cast<unsigned char>(packed[0]) != kPackVersion) return false;
    TReader reader(packed, 1);
    while (!reader.AtEnd()) {
        File& file = files.emplace_back();
        unsigned char mark = 0;
        if (!reader.Bytes(file.oldName) || !reader.Bytes(file.newName) || !reader.Identity(file.source) ||
            !reader.Byte(mark))
            return false;
        if (mark == kMadeIsSource)
            file.made = file.source;
        else if (mark == kMadeFollows) {
            if (!reader.Identity(file.made)) return false;
        } else if (mark != kMadeUnknown)
            return false;
    }
    return true;
}

TRenameJournal::PackedSlices TRenameJournal::SlicesOf(const std::string& packedFiles) {
    return [&packedFiles, at = size_t{0}](std::string& slice) mutable {
        slice.clear();
        if (at >= packedFiles.size()) return false;
        const size_t length = std::min(kSliceBytes, packedFiles.size() - at);
        slice.assign(packedFiles, at, length);
        at += length;
        return true;
    };
}

void TRenameJournal::InTransaction(const std::function<void()>& body) {
    Exec("BEGIN IMMEDIATE");
    try {
        body();
        Exec("COMMIT");
    } catch (...) {
        if (sqlite3_get_autocommit(db_.get()) == 0) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

int64_t TRenameJournal::Begin(const std::string& directory, const TFileIdentity& directoryIdentity, bool deleteOld,
                              size_t fileCount, const PackedSlices& packedFiles) {
    int64_t id = 0;
    InTransaction([&] {
        // Finished batches beyond the kept number are dropped.
        const std::string prune =
            "DELETE FROM RenameJournal WHERE Phase = 3 AND BatchId <= (SELECT BatchId FROM RenameJournal "
            "WHERE Phase = 3 ORDER BY BatchId DESC LIMIT 1 OFFSET " +
            std::to_string(kKeptBatches - 1) + ")";
        Exec(prune.c_str());
        Exec("DELETE FROM RenameJournalFiles WHERE BatchId NOT IN (SELECT BatchId FROM RenameJournal)");
        TStatement insert(db_.get(),
                          "INSERT INTO RenameJournal(Directory, DirDevice, DirInode, DeleteOld, Phase, FileCount, "
                          "Files) VALUES (?, ?, ?, ?, ?, ?, ?)");
        if (!insert.Ok()) Raise();
        insert.BindBlob(1, directory);
        insert.Bind(2, static_cast<int64_t>(directoryIdentity.device));
        insert.Bind(3, static_cast<int64_t>(directoryIdentity.inode));
        insert.Bind(4, deleteOld ? 1 : 0);
        insert.Bind(5, static_cast<int64_t>(Phase::Making));
        insert.Bind(6, static_cast<int64_t>(fileCount));
        insert.BindBlob(7, std::string());
        if (sqlite3_step(insert.Get()) != SQLITE_DONE) Raise();
        id = sqlite3_last_insert_rowid(db_.get());
        WriteParts(id, packedFiles);
    });
    return id;
}

void TRenameJournal::WriteParts(int64_t id, const PackedSlices& packedFiles) {
    TStatement insert(db_.get(), "INSERT INTO RenameJournalFiles(BatchId, Part, Files) VALUES (?, ?, ?)");
    if (!insert.Ok()) Raise();
    std::string slice;
    for (int64_t part = 0; packedFiles(slice); ++part) {
        sqlite3_reset(insert.Get());
        insert.Bind(1, id);
        insert.Bind(2, part);
        insert.BindBlob(3, slice);
        if (sqlite3_step(insert.Get()) != SQLITE_DONE) Raise();
    }
}

void TRenameJournal::SetPhase(int64_t id, Phase phase) {
    TStatement update(db_.get(), "UPDATE RenameJournal SET Phase = ? WHERE BatchId = ?");
    if (!update.Ok()) Raise();
    update.Bind(1, static_cast<int64_t>(phase));
    update.Bind(2, id);
    if (sqlite3_step(update.Get()) != SQLITE_DONE) Raise();
}

void TRenameJournal::SetPhase(int64_t id, Phase phase, const PackedSlices& packedFiles) {
    // The phase and the files it goes with change together.
    InTransaction([&] {
        TStatement update(db_.get(), "UPDATE RenameJournal SET Phase = ?, Files = ? WHERE BatchId = ?");
        if (!update.Ok()) Raise();
        update.Bind(1, static_cast<int64_t>(phase));
        update.BindBlob(2, std::string());
        update.Bind(3, id);
        if (sqlite3_step(update.Get()) != SQLITE_DONE) Raise();
        RemoveParts(id);
        WriteParts(id, packedFiles);
    });
}

void TRenameJournal::Forget(int64_t id) {
    InTransaction([&] {
        RemoveParts(id);
        TStatement remove(db_.get(), "DELETE FROM RenameJournal WHERE BatchId = ?");
        if (!remove.Ok()) Raise();
        remove.Bind(1, id);
        if (sqlite3_step(remove.Get()) != SQLITE_DONE) Raise();
    });
}

void TRenameJournal::RemoveParts(int64_t id) {
    TStatement remove(db_.get(), "DELETE FROM RenameJournalFiles WHERE BatchId = ?");
    if (!remove.Ok()) Raise();
    remove.Bind(1, id);
    if (sqlite3_step(remove.Get()) != SQLITE_DONE) Raise();
}

std::string TRenameJournal::ReadParts(int64_t id) {
    TStatement select(db_.get(), "SELECT Files FROM RenameJournalFiles WHERE BatchId = ? ORDER BY Part");
    if (!select.Ok()) Raise();
    select.Bind(1, id);
    std::string packed;
    int code;
    while ((code = sqlite3_step(select.Get())) == SQLITE_ROW) {
        const void* data = sqlite3_column_blob(select.Get(), 0);
        packed.append(static_cast<const char*>(data), data ? static_cast<size_t>(sqlite3_column_bytes(select.Get(), 0)) : 0);
    }
    if (code != SQLITE_DONE) Raise();
    return packed;
}

std::optional<TRenameJournal::Batch> TRenameJournal::ReadOne(const char* where) {
    const std::string sql = std::string(kColumns) + where;
    TStatement select(db_.get(), sql.c_str());
    if (!select.Ok()) Raise();
    const int code = sqlite3_step(select.Get());
    if (code == SQLITE_DONE) return std::nullopt;
    if (code != SQLITE_ROW) Raise();
    sqlite3_stmt* row = select.Get();
    auto blob = [row](int column) {
        const void* data = sqlite3_column_blob(row, column);
        return std::string(static_cast<const char*>(data), data ? static_cast<size_t>(sqlite3_column_bytes(row, column)) : 0);
    };
    Batch batch;
    batch.id = sqlite3_column_int64(row, 0);
    batch.directory = blob(1);
    batch.directoryIdentity.device = static_cast<dev_t>(sqlite3_column_int64(row, 2));
    batch.directoryIdentity.inode = static_cast<ino_t>(sqlite3_column_int64(row, 3));
    batch.deleteOld = sqlite3_column_int64(row, 4) != 0;
    batch.phase = static_cast<Phase>(sqlite3_column_int(row, 5));
    std::string packed = blob(6);
    if (packed.empty()) packed = ReadParts(batch.id);
    if (!Unpack(packed, batch.files)) throw EJournalError("rename journal damaged: batch " + std::to_string(batch.id));
    return batch;
}

std::optional<TRenameJournal::Batch> TRenameJournal::Unfinished() {
    return ReadOne("WHERE Phase IN (1, 2, 4) ORDER BY BatchId LIMIT 1");
}

std::optional<TRenameJournal::Batch> TRenameJournal::LastDone() {
    return ReadOne("WHERE Phase = 3 ORDER BY BatchId DESC LIMIT 1");
}

}  // namespace vantelo
