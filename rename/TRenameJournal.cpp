// The rename journal in the user's private state folder.
#include "rename/TRenameJournal.h"

#include "rename/EJournalError.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantelo {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS Batches("
    "BatchId INTEGER PRIMARY KEY AUTOINCREMENT, Directory BLOB NOT NULL, DirDevice INTEGER NOT NULL, "
    "DirInode INTEGER NOT NULL, FsId INTEGER NOT NULL, DeleteOld INTEGER NOT NULL, Phase INTEGER NOT NULL, "
    "FileCount INTEGER NOT NULL, Token TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS BatchFiles(BatchId INTEGER NOT NULL, Part INTEGER NOT NULL, "
    "Files BLOB NOT NULL, PRIMARY KEY(BatchId, Part));"
    "CREATE TABLE IF NOT EXISTS BatchMade(BatchId INTEGER NOT NULL, Part INTEGER NOT NULL, "
    "Made BLOB NOT NULL, PRIMARY KEY(BatchId, Part));"
    "CREATE TABLE IF NOT EXISTS BatchTimes(BatchId INTEGER NOT NULL, Part INTEGER NOT NULL, "
    "Times BLOB NOT NULL, PRIMARY KEY(BatchId, Part));"
    "CREATE TABLE IF NOT EXISTS TakenOver(Source BLOB PRIMARY KEY);";
constexpr unsigned char kPackVersion = 3;
// The list as the journal wrote it when it lived in the tool's database.
constexpr unsigned char kEarlierPackVersion = 2;
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
    void BindText(int at, const std::string& value) {
        sqlite3_bind_text64(statement_, at, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8);
    }
    std::string Blob(int column) const {
        const void* data = sqlite3_column_blob(statement_, column);
        return std::string(static_cast<const char*>(data),
                           data ? static_cast<size_t>(sqlite3_column_bytes(statement_, column)) : 0);
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
// The difference of two numbers and the number back from it, wrapping
// rather than overflowing, so that any pair read back is harmless.
int64_t Step(int64_t now, int64_t before) {
    return static_cast<int64_t>(static_cast<uint64_t>(now) - static_cast<uint64_t>(before));
}
int64_t Unstep(int64_t before, int64_t step) {
    return static_cast<int64_t>(static_cast<uint64_t>(before) + static_cast<uint64_t>(step));
}

void PutIdentity(std::string& out, const TFileIdentity& identity) {
    PutNumber(out, static_cast<uint64_t>(identity.device));
    PutNumber(out, static_cast<uint64_t>(identity.inode));
    PutNumber(out, Fold(identity.size));
    PutNumber(out, Fold(identity.mtime.tv_sec));
    PutNumber(out, static_cast<uint64_t>(identity.mtime.tv_nsec));
    PutNumber(out, Fold(identity.ctime.tv_sec));
    PutNumber(out, static_cast<uint64_t>(identity.ctime.tv_nsec));
    PutNumber(out, Fold(identity.btime.tv_sec));
    PutNumber(out, static_cast<uint64_t>(identity.btime.tv_nsec));
}

bool SameIdentity(const TFileIdentity& a, const TFileIdentity& b) {
    const auto same = [](const timespec& x, const timespec& y) { return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec; };
    return a.SameState(b) && same(a.ctime, b.ctime) && same(a.btime, b.btime);
}

bool IsUnknown(const TFileIdentity& identity) { return SameIdentity(identity, TFileIdentity{}); }

// Reads what PutNumber and the names wrote. Each read answers false when the
// text ends first; a value out of bounds marks the text malformed.
class TReader {
public:
    // `version`: the packed list's version (the earlier one kept no change
    // or birth times).
    TReader(const std::string& text, size_t at, unsigned char version = kPackVersion)
        : text_(text), at_(at), version_(version) {}
    bool Number(uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at_ >= text_.size()) return false;
            const auto byte = static_cast<unsigned char>(text_[at_++]);
            value |= static_cast<uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80)) return true;
        }
        malformed_ = true;
        return false;
    }
    bool Name(std::string& value) {
        uint64_t length = 0;
        if (!Number(length)) return false;
        if (length == 0 || length > TRenameJournal::kMaxNameBytes) {
            malformed_ = true;
            return false;
        }
        if (text_.size() - at_ < length) return false;
        value.assign(text_, at_, length);
        at_ += length;
        if (!TRenameJournal::IsPlainName(value)) {
            malformed_ = true;
            return false;
        }
        return true;
    }
    bool Byte(unsigned char& value) {
        if (at_ >= text_.size()) return false;
        value = static_cast<unsigned char>(text_[at_++]);
        return true;
    }
    bool Time(timespec& time) {
        uint64_t seconds, nanoseconds;
        if (!Number(seconds) || !Number(nanoseconds)) return false;
        if (nanoseconds >= 1000000000) {
            malformed_ = true;
            return false;
        }
        time.tv_sec = static_cast<time_t>(Unfold(seconds));
        time.tv_nsec = static_cast<long>(nanoseconds);
        return true;
    }
    bool Identity(TFileIdentity& identity) {
        uint64_t device, inode, size;
        if (!Number(device) || !Number(inode) || !Number(size)) return false;
        identity.device = static_cast<dev_t>(device);
        identity.inode = static_cast<ino_t>(inode);
        identity.size = static_cast<off_t>(Unfold(size));
        if (identity.size < 0) {
            malformed_ = true;
            return false;
        }
        if (version_ < kPackVersion) return Time(identity.mtime);
        return Time(identity.mtime) && Time(identity.ctime) && Time(identity.btime);
    }
    bool AtEnd() const { return at_ == text_.size(); }
    size_t At() const { return at_; }
    bool Malformed() const { return malformed_; }

private:
    const std::string& text_;
    size_t at_;
    unsigned char version_;
    bool malformed_ = false;
};

// Reads one packed file from `reader`: 1 read, 0 the text ended first,
// -1 malformed.
int ReadFile(TReader& reader, TRenameJournal::File& file) {
    unsigned char mark = 0;
    if (!reader.Name(file.oldName) || !reader.Name(file.newName) || !reader.Identity(file.source) ||
        !reader.Byte(mark))
        return reader.Malformed() ? -1 : 0;
    if (mark == kMadeIsSource) {
        file.made = file.source;
    } else if (mark == kMadeFollows) {
        if (!reader.Identity(file.made)) return reader.Malformed() ? -1 : 0;
    } else if (mark == kMadeUnknown) {
        file.made = {};
    } else {
        return -1;
    }
    return 1;
}

// Unpacks a list given a slice at a time, a file possibly cut between two
// slices; memory stays at the files read plus one slice.
class TUnpacker {
public:
    TUnpacker(std::vector<TRenameJournal::File>& files, size_t limit, bool acceptEarlier = false)
        : files_(files), limit_(limit), acceptEarlier_(acceptEarlier) {}
    // False when the text so far is not a packed list.
    bool Feed(const std::string& slice) {
        pending_.append(slice);
        size_t at = 0;
        if (!versionSeen_) {
            if (pending_.empty()) return true;
            version_ = static_cast<unsigned char>(pending_[0]);
            if (version_ != kPackVersion && !(acceptEarlier_ && version_ == kEarlierPackVersion)) return false;
            versionSeen_ = true;
            at = 1;
        }
        for (;;) {
            TReader reader(pending_, at, version_);
            if (reader.AtEnd()) break;
            TRenameJournal::File file;
            const int read = ReadFile(reader, file);
            if (read < 0) return false;
            if (read == 0) break;
            if (files_.size() >= limit_) return false;
            files_.push_back(std::move(file));
            at = reader.At();
        }
        pending_.erase(0, at);
        // An unfinished file never needs more than its two names and two
        // identities.
        return pending_.size() <= 2 * TRenameJournal::kMaxNameBytes + 64;
    }
    bool Finish() const { return versionSeen_ && pending_.empty(); }

private:
    std::vector<TRenameJournal::File>& files_;
    size_t limit_;
    bool acceptEarlier_;
    unsigned char version_ = kPackVersion;
    std::string pending_;
    bool versionSeen_ = false;
};

// Flushes the folder `path`, so that an entry just made in it survives a
// power cut.
void SyncFolder(const std::string& path) {
    const TFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0) ::fsync(fd.Get());
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the folder `path` (mode 0700) when missing, flushing its parent.
void MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0)
        SyncFolder(ParentOf(path));
    else if (errno != EEXIST)
        throw EJournalError(path + ": " + std::strerror(errno));
}

// The folder `path`, made with mode 0700 when missing; refused unless it is
// a folder of this user's that nobody else may write.
void CheckPrivateFolder(const std::string& path) {
    MakeFolder(path);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) throw EJournalError(path + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0)
        throw EJournalError(path + ": not a private folder of this user");
}

// Makes every missing folder above `path` (mode 0700), as mkdir -p would.
void MakeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        MakeFolder(path.substr(0, slash));
}

// Opens (making when missing, mode 0600, its folder flushed) the private
// file `path`.
TFd OpenPrivateFile(const std::string& path) {
    TFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.Get() >= 0)
        SyncFolder(ParentOf(path));
    else if (errno == EEXIST)
        fd = TFd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) throw EJournalError(path + ": " + std::strerror(errno));
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) throw EJournalError(path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0)
        throw EJournalError(path + ": not a private file of this user");
    return fd;
}

}  // namespace

void TRenameJournal::CloseDb::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

std::string TRenameJournal::DefaultPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/vantelo/journal.db";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.local/state/vantelo/journal.db";
    return {};
}

bool TRenameJournal::IsPlainName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxNameBytes && name != "." && name != ".." &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

TRenameJournal::TRenameJournal(const std::string& path, int busyTimeoutMs) : path_(path) {
    if (path.empty() || path[0] != '/') throw EJournalError("no folder for the rename journal");
    const std::string folder = path.substr(0, path.rfind('/'));
    MakeParents(folder);
    CheckPrivateFolder(folder);
    OpenPrivateFile(path);  // made 0600 before the engine sees it, and checked
    lock_ = OpenPrivateFile(path + ".lock");
    sqlite3* raw = nullptr;
    const int code =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    db_.reset(raw);
    if (code != SQLITE_OK) {
        const std::string text = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(code);
        throw EJournalError(text);
    }
    sqlite3_busy_timeout(db_.get(), busyTimeoutMs);
    // Every commit of this connection reaches the disk before it returns.
    // The rollback journal stays between commits, its header zeroed and
    // flushed to end one: no file is made, removed and its folder flushed
    // for every commit, and a power cut cannot bring an ended one back.
    Exec("PRAGMA journal_mode=PERSIST");
    Exec("PRAGMA synchronous=EXTRA");
    if (sqlite3_exec(db_.get(), kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) Raise();
}

TRenameJournal::~TRenameJournal() {
    for (const int64_t id : std::set<int64_t>(owned_)) Unlock(id);
}

void TRenameJournal::Raise() const { throw EJournalError(sqlite3_errmsg(db_.get())); }

void TRenameJournal::Exec(const char* sql) {
    if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) Raise();
}

bool TRenameJournal::Lock(int64_t id) {
    if (owned_.count(id)) return true;
    struct flock lock{};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(id);
    lock.l_len = 1;
    if (::fcntl(lock_.Get(), F_OFD_SETLK, &lock) != 0) {
        if (errno == EAGAIN || errno == EACCES) return false;
        throw EJournalError(path_ + ".lock: " + std::strerror(errno));
    }
    owned_.insert(id);
    return true;
}

void TRenameJournal::Unlock(int64_t id) {
    if (!owned_.erase(id)) return;
    struct flock lock{};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(id);
    lock.l_len = 1;
    ::fcntl(lock_.Get(), F_OFD_SETLK, &lock);
}

void TRenameJournal::Release(int64_t id) { Unlock(id); }

std::string TRenameJournal::PackStart(size_t expectedFiles) {
    std::string packed;
    packed.reserve(1 + std::min(expectedFiles, kSliceBytes / 32) * 48);
    packed.push_back(static_cast<char>(kPackVersion));
    return packed;
}

void TRenameJournal::PackFile(std::string& packed, std::string_view oldName, std::string_view newName,
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
    TUnpacker unpacker(files, kMaxFiles);
    return unpacker.Feed(packed) && unpacker.Finish();
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

TRenameJournal::PackedSlices TRenameJournal::SlicesOf(size_t count,
                                                     std::function<void(std::string& packed, size_t index)> packFile) {
    return [count, packFile = std::move(packFile), next = size_t{0}, started = false](std::string& slice) mutable {
        slice.clear();
        if (started && next >= count) return false;
        if (!started) {
            slice = PackStart();
            started = true;
        }
        for (; next < count && slice.size() < kSliceBytes; ++next) packFile(slice, next);
        return true;
    };
}

TRenameJournal::PackedSlices TRenameJournal::SlicesOf(const std::vector<File>& files) {
    return SlicesOf(files.size(), [&files](std::string& packed, size_t index) {
        const File& file = files[index];
        PackFile(packed, file.oldName, file.newName, file.source, file.made);
    });
}

void TRenameJournal::InTransaction(const std::function<void()>& body) {
    // Inside a transaction already (taking batches over): part of it.
    if (sqlite3_get_autocommit(db_.get()) == 0) {
        body();
        return;
    }
    Exec("BEGIN IMMEDIATE");
    try {
        body();
        Exec("COMMIT");
    } catch (...) {
        if (sqlite3_get_autocommit(db_.get()) == 0) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

int64_t TRenameJournal::Begin(const Folder& folder, bool deleteOld, size_t fileCount, const std::string& token,
                              const PackedSlices& packedFiles) {
    int64_t id = 0;
    InTransaction([&] {
        TStatement insert(db_.get(),
                          "INSERT INTO Batches(Directory, DirDevice, DirInode, FsId, DeleteOld, Phase, FileCount, "
                          "Token) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        if (!insert.Ok()) Raise();
        insert.BindBlob(1, folder.path);
        insert.Bind(2, static_cast<int64_t>(folder.identity.device));
        insert.Bind(3, static_cast<int64_t>(folder.identity.inode));
        insert.Bind(4, static_cast<int64_t>(folder.fsid));
        insert.Bind(5, deleteOld ? 1 : 0);
        insert.Bind(6, static_cast<int64_t>(Phase::Making));
        insert.Bind(7, static_cast<int64_t>(fileCount));
        insert.BindText(8, token);
        if (sqlite3_step(insert.Get()) != SQLITE_DONE) Raise();
        id = sqlite3_last_insert_rowid(db_.get());
        // Owned before any other process can see the row.
        if (!Lock(id)) throw EJournalError("rename journal: batch " + std::to_string(id) + " is taken");
        try {
            WriteParts(id, packedFiles);
        } catch (...) {
            Unlock(id);
            throw;
        }
    });
    return id;
}

size_t TRenameJournal::DropOldBatches() {
    size_t count = 0;
    InTransaction([&] {
        // Unless a process is undoing one of them right now.
        TStatement old(db_.get(),
                       "SELECT BatchId FROM Batches WHERE Phase = 3 ORDER BY BatchId DESC LIMIT -1 OFFSET ?");
        if (!old.Ok()) Raise();
        old.Bind(1, kKeptBatches);
        std::vector<int64_t> dropped;
        int code;
        while ((code = sqlite3_step(old.Get())) == SQLITE_ROW) dropped.push_back(sqlite3_column_int64(old.Get(), 0));
        if (code != SQLITE_DONE) Raise();
        for (const int64_t oldId : dropped) {
            if (!Lock(oldId)) continue;
            TStatement remove(db_.get(), "DELETE FROM Batches WHERE BatchId = ? AND Phase = 3");
            if (!remove.Ok()) Raise();
            remove.Bind(1, oldId);
            if (sqlite3_step(remove.Get()) != SQLITE_DONE) Raise();
            count += static_cast<size_t>(sqlite3_changes(db_.get()));
            RemoveParts(oldId);
            Unlock(oldId);
        }
    });
    return count;
}

void TRenameJournal::WriteParts(int64_t id, const PackedSlices& packedFiles, const char* insertSql) {
    TStatement insert(db_.get(), insertSql);
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

void TRenameJournal::SetPhase(int64_t id, Phase from, Phase to) {
    if (!owned_.count(id)) throw EJournalError("rename journal: batch " + std::to_string(id) + " is not ours");
    TStatement update(db_.get(), "UPDATE Batches SET Phase = ? WHERE BatchId = ? AND Phase = ?");
    if (!update.Ok()) Raise();
    update.Bind(1, static_cast<int64_t>(to));
    update.Bind(2, id);
    update.Bind(3, static_cast<int64_t>(from));
    if (sqlite3_step(update.Get()) != SQLITE_DONE) Raise();
    if (sqlite3_changes(db_.get()) != 1)
        throw EJournalError("rename journal: batch " + std::to_string(id) + " is no longer where it was");
}

void TRenameJournal::SetPhase(int64_t id, Phase from, Phase to, const PackedSlices& packedFiles) {
    // The phase and the files it goes with change together.
    InTransaction([&] {
        SetPhase(id, from, to);
        RemoveParts(id);
        WriteParts(id, packedFiles);
    });
}

void TRenameJournal::SetPhase(int64_t id, Phase from, Phase to, size_t fileCount, const ChangeTimes& changeTime) {
    // Change times in list order, a slice a part: the slice's first index,
    // then per file its seconds and nanoseconds as folded differences from
    // the file before (from zero at a slice's start). A batch's times lie
    // close together, so most files take two or three bytes.
    size_t next = 0;
    const PackedSlices times = [&](std::string& slice) {
        slice.clear();
        if (next >= fileCount) return false;
        PutNumber(slice, next);
        for (timespec previous{}; next < fileCount && slice.size() < kSliceBytes; ++next) {
            const timespec time = changeTime(next);
            PutNumber(slice, Fold(Step(time.tv_sec, previous.tv_sec)));
            PutNumber(slice, Fold(Step(time.tv_nsec, previous.tv_nsec)));
            previous = time;
        }
        return true;
    };
    InTransaction([&] {
        SetPhase(id, from, to);
        WriteParts(id, times, "INSERT INTO BatchTimes(BatchId, Part, Times) VALUES (?, ?, ?)");
    });
}

void TRenameJournal::AddMade(int64_t id, const std::vector<std::pair<size_t, TFileIdentity>>& made) {
    if (made.empty()) return;
    if (!owned_.count(id)) throw EJournalError("rename journal: batch " + std::to_string(id) + " is not ours");
    std::string packed;
    for (const auto& [row, identity] : made) {
        PutNumber(packed, row);
        PutIdentity(packed, identity);
    }
    TStatement insert(db_.get(),
                      "INSERT INTO BatchMade(BatchId, Part, Made) VALUES (?, "
                      "(SELECT COALESCE(MAX(Part), -1) + 1 FROM BatchMade WHERE BatchId = ?), ?)");
    if (!insert.Ok()) Raise();
    insert.Bind(1, id);
    insert.Bind(2, id);
    insert.BindBlob(3, packed);
    if (sqlite3_step(insert.Get()) != SQLITE_DONE) Raise();
}

void TRenameJournal::Forget(int64_t id) {
    if (!owned_.count(id)) throw EJournalError("rename journal: batch " + std::to_string(id) + " is not ours");
    InTransaction([&] {
        RemoveParts(id);
        TStatement remove(db_.get(), "DELETE FROM Batches WHERE BatchId = ?");
        if (!remove.Ok()) Raise();
        remove.Bind(1, id);
        if (sqlite3_step(remove.Get()) != SQLITE_DONE) Raise();
        if (sqlite3_changes(db_.get()) != 1)
            throw EJournalError("rename journal: batch " + std::to_string(id) + " is no longer where it was");
    });
    Unlock(id);
}

void TRenameJournal::RemoveParts(int64_t id) {
    for (const char* sql : {"DELETE FROM BatchFiles WHERE BatchId = ?", "DELETE FROM BatchMade WHERE BatchId = ?",
                            "DELETE FROM BatchTimes WHERE BatchId = ?"}) {
        TStatement remove(db_.get(), sql);
        if (!remove.Ok()) Raise();
        remove.Bind(1, id);
        if (sqlite3_step(remove.Get()) != SQLITE_DONE) Raise();
    }
}

void TRenameJournal::SetAside(int64_t id) {
    TStatement select(db_.get(), "SELECT Directory, FileCount, DeleteOld FROM Batches WHERE BatchId = ?");
    Summary summary;
    summary.id = id;
    if (select.Ok()) {
        select.Bind(1, id);
        if (sqlite3_step(select.Get()) == SQLITE_ROW) {
            // Only as much of the folder as a path can be.
            if (sqlite3_column_bytes(select.Get(), 0) <= static_cast<int>(kMaxPathBytes))
                summary.directory = select.Blob(0);
            summary.fileCount = static_cast<size_t>(std::max<int64_t>(0, sqlite3_column_int64(select.Get(), 1)));
            summary.deleteOld = sqlite3_column_int64(select.Get(), 2) != 0;
        }
    }
    TStatement update(db_.get(), "UPDATE Batches SET Phase = 5 WHERE BatchId = ?");
    if (!update.Ok()) Raise();
    update.Bind(1, id);
    if (sqlite3_step(update.Get()) != SQLITE_DONE) Raise();
    setAside_.push_back(std::move(summary));
    Unlock(id);
}

bool TRenameJournal::ReadBatch(int64_t id, Batch& batch) {
    TStatement select(db_.get(),
                      "SELECT length(Directory), Directory, DirDevice, DirInode, FsId, DeleteOld, Phase, FileCount, "
                      "Token FROM Batches WHERE BatchId = ?");
    if (!select.Ok()) Raise();
    select.Bind(1, id);
    if (sqlite3_step(select.Get()) != SQLITE_ROW) return false;
    sqlite3_stmt* row = select.Get();
    const int64_t pathBytes = sqlite3_column_int64(row, 0);
    if (pathBytes <= 0 || pathBytes > static_cast<int64_t>(kMaxPathBytes)) return false;
    batch.id = id;
    batch.folder.path = select.Blob(1);
    if (batch.folder.path.empty() || batch.folder.path[0] != '/' ||
        batch.folder.path.find('\0') != std::string::npos)
        return false;
    batch.folder.identity.device = static_cast<dev_t>(sqlite3_column_int64(row, 2));
    batch.folder.identity.inode = static_cast<ino_t>(sqlite3_column_int64(row, 3));
    batch.folder.fsid = static_cast<uint64_t>(sqlite3_column_int64(row, 4));
    batch.deleteOld = sqlite3_column_int64(row, 5) != 0;
    const int64_t phase = sqlite3_column_int64(row, 6);
    if (phase < 1 || phase > 5) return false;
    batch.phase = static_cast<Phase>(phase);
    const int64_t count = sqlite3_column_int64(row, 7);
    if (count < 0 || static_cast<uint64_t>(count) > kMaxFiles) return false;
    batch.fileCount = static_cast<size_t>(count);
    if (sqlite3_column_bytes(row, 8) > 64) return false;
    const unsigned char* token = sqlite3_column_text(row, 8);
    batch.token = token ? reinterpret_cast<const char*>(token) : "";
    for (const char c : batch.token)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;

    // The files, a slice at a time; a slice longer than any writer makes is
    // not read at all.
    batch.files.clear();
    batch.files.reserve(batch.fileCount);
    TStatement parts(db_.get(), "SELECT length(Files), Files FROM BatchFiles WHERE BatchId = ? ORDER BY Part");
    if (!parts.Ok()) Raise();
    parts.Bind(1, id);
    TUnpacker unpacker(batch.files, batch.fileCount);
    int code;
    while ((code = sqlite3_step(parts.Get())) == SQLITE_ROW) {
        if (sqlite3_column_int64(parts.Get(), 0) > static_cast<int64_t>(2 * kSliceBytes)) return false;
        if (!unpacker.Feed(parts.Blob(1))) return false;
    }
    if (code != SQLITE_DONE) Raise();
    if (!unpacker.Finish() || batch.files.size() != batch.fileCount) return false;

    // The copies built before they were named.
    TStatement made(db_.get(), "SELECT length(Made), Made FROM BatchMade WHERE BatchId = ? ORDER BY Part");
    if (!made.Ok()) Raise();
    made.Bind(1, id);
    // A copy built again (its first could not be named) is recorded again:
    // the later record is the file that got the name.
    std::vector<bool> recorded(batch.files.size());
    while ((code = sqlite3_step(made.Get())) == SQLITE_ROW) {
        if (sqlite3_column_int64(made.Get(), 0) > static_cast<int64_t>(2 * kSliceBytes)) return false;
        const std::string packed = made.Blob(1);
        TReader reader(packed, 0);
        while (!reader.AtEnd()) {
            uint64_t index = 0;
            TFileIdentity identity;
            if (!reader.Number(index) || !reader.Identity(identity) || index >= batch.files.size()) return false;
            // The list's own entry wins once it names the copy; before that it
            // is unknown, or the old file itself as a rename in place expects.
            File& file = batch.files[index];
            if (recorded[index] || !file.made.Known() || file.made.SameFile(file.source)) {
                file.made = identity;
                recorded[index] = true;
            }
        }
    }
    if (code != SQLITE_DONE) Raise();

    // The change times the batch's end left, when it wrote them apart: one
    // for every file, each file's new file known.
    TStatement times(db_.get(), "SELECT length(Times), Times FROM BatchTimes WHERE BatchId = ? ORDER BY Part");
    if (!times.Ok()) Raise();
    times.Bind(1, id);
    size_t next = 0;
    bool timed = false;
    while ((code = sqlite3_step(times.Get())) == SQLITE_ROW) {
        if (sqlite3_column_int64(times.Get(), 0) > static_cast<int64_t>(2 * kSliceBytes)) return false;
        const std::string packed = times.Blob(1);
        TReader reader(packed, 0);
        uint64_t first = 0;
        if (!reader.Number(first) || first != next) return false;
        timed = true;
        uint64_t seconds = 0, nanoseconds = 0;
        for (timespec previous{}; !reader.AtEnd(); ++next) {
            if (!reader.Number(seconds) || !reader.Number(nanoseconds) || next >= batch.files.size()) return false;
            const timespec time{static_cast<time_t>(Unstep(previous.tv_sec, Unfold(seconds))),
                                static_cast<long>(Unstep(previous.tv_nsec, Unfold(nanoseconds)))};
            if (time.tv_nsec < 0 || time.tv_nsec >= 1000000000) return false;
            File& file = batch.files[next];
            if (!file.made.Known()) return false;
            file.made.ctime = time;
            previous = time;
        }
    }
    if (code != SQLITE_DONE) Raise();
    return !timed || next == batch.files.size();
}

std::optional<TRenameJournal::Batch> TRenameJournal::ClaimRead(int64_t id, std::initializer_list<Phase> phases) {
    if (!Lock(id)) return std::nullopt;
    // Owned now: read again what the row says, since its owner may have
    // moved it on before letting go.
    TStatement phase(db_.get(), "SELECT Phase FROM Batches WHERE BatchId = ?");
    if (!phase.Ok()) Raise();
    phase.Bind(1, id);
    const int code = sqlite3_step(phase.Get());
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        Unlock(id);
        Raise();
    }
    const bool found = code == SQLITE_ROW;
    const int now = found ? sqlite3_column_int(phase.Get(), 0) : 0;
    if (!found || std::none_of(phases.begin(), phases.end(), [now](Phase p) { return static_cast<int>(p) == now; })) {
        Unlock(id);
        return std::nullopt;
    }
    Batch batch;
    if (!ReadBatch(id, batch)) {
        batch.files.clear();
        batch.files.shrink_to_fit();
        SetAside(id);
        return std::nullopt;
    }
    return batch;
}

std::optional<TRenameJournal::Batch> TRenameJournal::ClaimUnfinished(const std::set<int64_t>& skip) {
    std::vector<int64_t> candidates;
    {
        TStatement select(db_.get(), "SELECT BatchId FROM Batches WHERE Phase IN (1, 2, 4) ORDER BY BatchId");
        if (!select.Ok()) Raise();
        int code;
        while ((code = sqlite3_step(select.Get())) == SQLITE_ROW) {
            const int64_t id = sqlite3_column_int64(select.Get(), 0);
            if (!skip.count(id) && !owned_.count(id)) candidates.push_back(id);
        }
        if (code != SQLITE_DONE) Raise();
    }
    for (const int64_t id : candidates) {
        if (std::optional<Batch> batch = ClaimRead(id, {Phase::Making, Phase::Deleting, Phase::Undoing}))
            return batch;
    }
    return std::nullopt;
}

std::optional<TRenameJournal::Summary> TRenameJournal::LastDone() {
    TStatement select(db_.get(),
                      "SELECT BatchId, Directory, FileCount, DeleteOld FROM Batches WHERE Phase = 3 "
                      "AND length(Directory) BETWEEN 1 AND 4096 ORDER BY BatchId DESC LIMIT 1");
    if (!select.Ok()) Raise();
    const int code = sqlite3_step(select.Get());
    if (code == SQLITE_DONE) return std::nullopt;
    if (code != SQLITE_ROW) Raise();
    Summary summary;
    summary.id = sqlite3_column_int64(select.Get(), 0);
    summary.directory = select.Blob(1);
    summary.fileCount = static_cast<size_t>(std::max<int64_t>(0, sqlite3_column_int64(select.Get(), 2)));
    summary.deleteOld = sqlite3_column_int64(select.Get(), 3) != 0;
    return summary;
}

std::optional<TRenameJournal::Batch> TRenameJournal::Claim(int64_t id, Phase phase) { return ClaimRead(id, {phase}); }

bool TRenameJournal::HoldsEarlierLayout(const std::string& databasePath) {
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(databasePath.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr);
    const std::unique_ptr<sqlite3, CloseDb> db(raw);
    if (code != SQLITE_OK) return false;
    TStatement table(db.get(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'RenameJournal'");
    return table.Ok() && sqlite3_step(table.Get()) == SQLITE_ROW;
}

size_t TRenameJournal::TakeOver(const std::string& databasePath) {
    // Only a database that is this user's own file, which no one else may
    // write, is ever read for batches.
    struct stat st;
    if (::lstat(databasePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 022) != 0)
        return 0;
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(databasePath.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    const std::unique_ptr<sqlite3, CloseDb> old(raw);
    if (code != SQLITE_OK) return 0;
    sqlite3_busy_timeout(old.get(), 5000);
    {
        TStatement table(old.get(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'RenameJournal'");
        if (!table.Ok() || sqlite3_step(table.Get()) != SQLITE_ROW) return 0;
    }
    // Taken over once: a source already taken over only loses its tables.
    bool taken = false;
    {
        TStatement seen(db_.get(), "SELECT 1 FROM TakenOver WHERE Source = ?");
        if (!seen.Ok()) Raise();
        seen.BindBlob(1, databasePath);
        taken = sqlite3_step(seen.Get()) == SQLITE_ROW;
    }
    size_t batches = 0;
    if (!taken) {
        const bool parts = [&] {
            TStatement table(old.get(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'RenameJournalFiles'");
            return table.Ok() && sqlite3_step(table.Get()) == SQLITE_ROW;
        }();
        TStatement rows(old.get(),
                        "SELECT BatchId, Directory, DirDevice, DirInode, DeleteOld, Phase, FileCount, Files FROM "
                        "RenameJournal WHERE Phase BETWEEN 1 AND 4 AND length(Directory) BETWEEN 1 AND 4096 "
                        "ORDER BY BatchId");
        if (!rows.Ok()) return 0;
        InTransaction([&] {
            while (sqlite3_step(rows.Get()) == SQLITE_ROW) {
                Folder folder;
                folder.path = rows.Blob(1);
                if (folder.path[0] != '/' || folder.path.find('\0') != std::string::npos) continue;
                folder.identity.device = static_cast<dev_t>(sqlite3_column_int64(rows.Get(), 2));
                folder.identity.inode = static_cast<ino_t>(sqlite3_column_int64(rows.Get(), 3));
                const int64_t count = sqlite3_column_int64(rows.Get(), 6);
                if (count < 0 || static_cast<uint64_t>(count) > kMaxFiles) continue;
                // The list: in the row itself, or in its slices; every name
                // checked as the journal checks its own.
                std::vector<File> files;
                files.reserve(static_cast<size_t>(count));
                TUnpacker unpacker(files, static_cast<size_t>(count), /*acceptEarlier=*/true);
                bool sound = true;
                if (sqlite3_column_bytes(rows.Get(), 7) > 0) {
                    sound = sqlite3_column_bytes(rows.Get(), 7) <= static_cast<int>(2 * kSliceBytes) &&
                            unpacker.Feed(rows.Blob(7));
                } else if (parts) {
                    TStatement slices(old.get(),
                                      "SELECT length(Files), Files FROM RenameJournalFiles WHERE BatchId = ? ORDER BY Part");
                    if (!slices.Ok()) continue;
                    slices.Bind(1, sqlite3_column_int64(rows.Get(), 0));
                    while (sound && sqlite3_step(slices.Get()) == SQLITE_ROW)
                        sound = sqlite3_column_int64(slices.Get(), 0) <= static_cast<int64_t>(2 * kSliceBytes) &&
                                unpacker.Feed(slices.Blob(1));
                }
                if (!sound || !unpacker.Finish() || files.size() != static_cast<size_t>(count)) continue;
                const int64_t id =
                    Begin(folder, sqlite3_column_int64(rows.Get(), 4) != 0, files.size(), "", SlicesOf(files));
                const Phase phase = static_cast<Phase>(sqlite3_column_int(rows.Get(), 5));
                if (phase != Phase::Making) SetPhase(id, Phase::Making, phase);
                Unlock(id);
                ++batches;
            }
            TStatement mark(db_.get(), "INSERT INTO TakenOver(Source) VALUES (?)");
            if (!mark.Ok()) Raise();
            mark.BindBlob(1, databasePath);
            if (sqlite3_step(mark.Get()) != SQLITE_DONE) Raise();
        });
    }
    // The tables go from the database, which gains nothing of ours again.
    sqlite3_exec(old.get(), "DROP TABLE IF EXISTS RenameJournalFiles; DROP TABLE IF EXISTS RenameJournal", nullptr,
                 nullptr, nullptr);
    return batches;
}

}  // namespace vantelo
