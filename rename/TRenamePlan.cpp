// The batch rename's safety rules, over the steps of TFileOps.
#include "rename/TRenamePlan.h"

#include "platform/TAsciiCase.h"
#include "platform/TFsRefusal.h"
#include "rename/TNameRules.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <malloc.h>
#include <functional>
#include <stdexcept>
#include <thread>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vantelo {
namespace {

constexpr size_t kMaxNameBytes = 255;
// Plans at least this large look their names up on several threads: the
// kernel's lookups of names in one folder run side by side, and at 100,000
// files they are a fair share of the whole batch. Smaller plans keep one
// thread and the plain order of calls.
constexpr size_t kParallelLookupRows = 4096;
constexpr size_t kLookupChunk = 512;
// Plans at least this large list the folder once to answer which new names
// are missing, instead of looking each up.
constexpr size_t kListedLookupRows = 64;
const char* const kDatabaseSuffixes[] = {"", "-wal", "-shm", "-journal"};

bool IsMalformedName(std::string_view name) {
    return name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
           name.find('\0') != std::string_view::npos;
}

// The rows' names are held in blocks of this size (a longer pair of names
// gets a block of its own).
constexpr size_t kNameBlockBytes = size_t{1} << 20;

}  // namespace

// The new names met so far, held as row numbers in a table of open
// addressing: a few bytes a row, where a set of the names would take some
// fifty (a million files are checked at once).
class TRenamePlan::TNewNames {
public:
    explicit TNewNames(size_t rows) {
        size_t capacity = 16;
        while (capacity < rows * 2) capacity <<= 1;
        slots_.assign(capacity, 0);
    }
    // Takes row `index`'s new name; false when an earlier row has it.
    bool Insert(const TRenamePlan& plan, size_t index) {
        const std::string_view name = plan.NewName(index);
        const size_t mask = slots_.size() - 1;
        for (size_t at = std::hash<std::string_view>{}(name) & mask;; at = (at + 1) & mask) {
            const uint32_t slot = slots_[at];
            if (slot == 0) {
                slots_[at] = static_cast<uint32_t>(index + 1);
                return true;
            }
            if (plan.NewName(slot - 1) == name) return false;
        }
    }

private:
    std::vector<uint32_t> slots_;  // row number + 1; 0 is free
};

TRenamePlan::TRenamePlan(TFileOps& ops) : ops_(ops) {}

TRenamePlan::~TRenamePlan() = default;

int TRenamePlan::Open(const std::string& directory, const std::string& databasePath,
                      const TFileIdentity* expected) {
    listing_ = {};
    dir_.Reset();
    directoryPath_ = directory;
    rows_.clear();
    madeList_.clear();
    nameBlocks_.clear();
    checked_ = false;
    databaseHere_ = false;
    databaseName_.clear();
    databaseFiles_.clear();

    if (const int error = TFd::OpenDirectory(directory, expected, dir_, directory_)) return error;

    if (!databasePath.empty()) {
        const size_t slash = databasePath.rfind('/');
        const std::string parent = slash == std::string::npos ? "." : databasePath.substr(0, slash + 1);
        databaseName_ = slash == std::string::npos ? databasePath : databasePath.substr(slash + 1);
        struct stat parentSt;
        if (stat(parent.c_str(), &parentSt) == 0) {
            databaseHere_ = TFileIdentity::Of(parentSt).SameFile(directory_);
        }
        for (const char* suffix : kDatabaseSuffixes) {
            struct stat fileSt;
            if (stat((databasePath + suffix).c_str(), &fileSt) == 0) {
                databaseFiles_.push_back(TFileIdentity::Of(fileSt));
            }
        }
    }
    return 0;
}

void TRenamePlan::Reserve(size_t rows) {
#if defined(__GLIBC__)
    if (rows > rows_.capacity()) malloc_trim(0);
#endif
    rows_.reserve(rows);
}

void TRenamePlan::Add(std::string oldName, std::string newName) {
    const size_t bytes = oldName.size() + newName.size();
    if (bytes > UINT32_MAX || rows_.size() >= UINT32_MAX) throw std::length_error("TRenamePlan::Add");
    if (nameBlocks_.empty() || nameBlocks_.back().capacity() - nameBlocks_.back().size() < bytes) {
        if (nameBlocks_.size() >= UINT32_MAX) throw std::length_error("TRenamePlan::Add");
        nameBlocks_.emplace_back().reserve(std::max(bytes, kNameBlockBytes));
    }
    std::string& block = nameBlocks_.back();
    Row& row = rows_.emplace_back();
    row.block = static_cast<uint32_t>(nameBlocks_.size() - 1);
    row.at = static_cast<uint32_t>(block.size());
    row.oldSize = static_cast<uint32_t>(oldName.size());
    row.newSize = static_cast<uint32_t>(newName.size());
    block += oldName;
    block += newName;
    checked_ = false;
}

bool TRenamePlan::IsDatabaseName(std::string_view name) const {
    if (!databaseHere_ || databaseName_.empty()) return false;
    for (const char* suffix : kDatabaseSuffixes) {
        if (AsciiEqualIgnoreCase(name, databaseName_ + suffix)) return true;
    }
    return false;
}

bool TRenamePlan::IsDatabaseFile(const TFileIdentity& identity) const {
    for (const TFileIdentity& file : databaseFiles_) {
        if (file.SameFile(identity)) return true;
    }
    return false;
}

bool TRenamePlan::LooksUpOld(const Row& row) const {
    const std::string_view name = OldOf(row);
    return !IsMalformedName(name) || name == "." || name == "..";
}

bool TRenamePlan::LooksUpNew(const Row& row) const {
    const std::string_view name = NewOf(row);
    return !IsMalformedName(name) && name.size() <= kMaxNameBytes && !IsDatabaseName(name);
}

// A million rows are held at once: where the two names are, the old file's
// identity, the new file's change time, the state and what the check found,
// in as few bytes as that takes.
static_assert(sizeof(TRenamePlan::Row) <= 88);

namespace {
// A change time as nanoseconds since 1970 where it fits 64 bits (until the
// year 2262); a time before 1970 or after that does not.
constexpr int64_t kNsPerSec = 1'000'000'000;
bool FitsNanoseconds(const timespec& time) {
    return time.tv_sec >= 0 && time.tv_sec < INT64_MAX / kNsPerSec - 1 && time.tv_nsec >= 0 &&
           time.tv_nsec < kNsPerSec;
}
}  // namespace

TFileIdentity TRenamePlan::MadeOf(const Row& row) const {
    switch (row.madeKept) {
    case Row::MadeKept::None: return TFileIdentity{};
    case Row::MadeKept::Listed: return madeList_[row.made].Get();
    case Row::MadeKept::InPlace: break;
    }
    TFileIdentity made = row.source.Get();
    made.ctime = {static_cast<time_t>(row.made / kNsPerSec), static_cast<long>(row.made % kNsPerSec)};
    return made;
}

void TRenamePlan::SetMade(Row& row, const TFileIdentity& made) {
    TFileIdentity inPlace = row.source.Get();
    inPlace.ctime = made.ctime;
    // Compared field by field against what the row would give back, so that
    // anything the compact form cannot say sends the file to the list.
    const TFileIdentity kept = TRowIdentity(made).Get();
    if (FitsNanoseconds(made.ctime) && kept.SameState(inPlace) && kept.btime.tv_sec == inPlace.btime.tv_sec &&
        kept.btime.tv_nsec == inPlace.btime.tv_nsec && kept.ctime.tv_sec == made.ctime.tv_sec &&
        kept.ctime.tv_nsec == made.ctime.tv_nsec) {
        row.made = static_cast<uint64_t>(made.ctime.tv_sec) * kNsPerSec + static_cast<uint64_t>(made.ctime.tv_nsec);
        row.madeKept = Row::MadeKept::InPlace;
        return;
    }
    // A row made again after a rollback takes its old place.
    if (row.madeKept != Row::MadeKept::Listed) {
        row.made = madeList_.size();
        madeList_.emplace_back();
        row.madeKept = Row::MadeKept::Listed;
    }
    madeList_[row.made] = made;
}

void TRenamePlan::ReserveMadeList() {
    if (madeList_.capacity() < rows_.size()) madeList_.reserve(rows_.size());
}

TRenamePlan::TRowIdentity& TRenamePlan::TRowIdentity::operator=(const TFileIdentity& identity) {
    size = identity.size;
    inode_ = identity.inode;
    device_ = static_cast<uint32_t>((major(identity.device) << 20) | (minor(identity.device) & 0xFFFFF));
    mtimeSec_ = identity.mtime.tv_sec;
    ctimeSec_ = identity.ctime.tv_sec;
    btimeSec_ = identity.btime.tv_sec;
    mtimeNsec_ = static_cast<uint32_t>(identity.mtime.tv_nsec);
    ctimeNsec_ = static_cast<uint32_t>(identity.ctime.tv_nsec);
    btimeNsec_ = static_cast<uint32_t>(identity.btime.tv_nsec);
    return *this;
}

TFileIdentity TRenamePlan::TRowIdentity::Get() const {
    TFileIdentity identity;
    identity.device = makedev(device_ >> 20, device_ & 0xFFFFF);
    identity.inode = static_cast<ino_t>(inode_);
    identity.size = static_cast<off_t>(size);
    identity.mtime = {static_cast<time_t>(mtimeSec_), static_cast<long>(mtimeNsec_)};
    identity.ctime = {static_cast<time_t>(ctimeSec_), static_cast<long>(ctimeNsec_)};
    identity.btime = {static_cast<time_t>(btimeSec_), static_cast<long>(btimeNsec_)};
    return identity;
}

void TRenamePlan::LookUpOld(size_t index) {
    Row& row = rows_[index];
    row.oldError = 0;
    row.newError = ENOENT;
    row.oldType = 0;
    if (!LooksUpOld(row)) return;
    struct stat st;
    row.oldError = static_cast<int16_t>(ops_.StatAt(dir_.Get(), std::string(OldOf(row)), st));
    if (row.oldError == 0) {
        row.oldType = static_cast<uint8_t>((st.st_mode & S_IFMT) >> 12);
        row.source = TFileIdentity::Of(st);
    }
}

void TRenamePlan::LookUpNew(size_t index, const std::vector<uint32_t>* present) {
    Row& row = rows_[index];
    if (row.oldError != 0 || !LooksUpNew(row)) return;
    // A name the listing does not hold is missing: only one it may hold is
    // looked up.
    const std::string_view newName = NewOf(row);
    if (present && !std::binary_search(present->begin(), present->end(), TFileOps::NameHash(newName))) {
        row.newError = ENOENT;
        return;
    }
    struct stat st;
    row.newError = static_cast<int16_t>(ops_.StatAt(dir_.Get(), std::string(newName), st));
}

void TRenamePlan::LookUpAll() {
    const size_t threads = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), 4);
    const bool parallel = rows_.size() >= kParallelLookupRows && threads >= 2;
    // Runs `look` on every row, a large plan's on several threads (each
    // taking the next chunk of rows, each row written by one thread only),
    // and `alongside` on this thread meanwhile.
    const auto everyRow = [&](const std::function<void(size_t)>& look, const std::function<void()>& alongside) {
        std::atomic<size_t> next{0};
        const auto work = [&] {
            for (;;) {
                const size_t from = next.fetch_add(kLookupChunk);
                if (from >= rows_.size()) return;
                const size_t to = std::min(rows_.size(), from + kLookupChunk);
                for (size_t i = from; i < to; ++i) look(i);
            }
        };
        std::vector<std::jthread> helpers;
        for (size_t t = 1; parallel && t < threads; ++t) helpers.emplace_back(work);
        if (alongside) alongside();
        work();
    };
    // The old names first. Meanwhile one listing of the folder, read once
    // the batch was decided on (here, or ahead while the rows were given),
    // tells which new names are missing; only the others are looked up after.
    std::vector<uint32_t> names;
    bool listed = false;
    if (listing_.valid()) {
        everyRow([this](size_t i) { LookUpOld(i); }, {});
        if (std::optional<std::vector<uint32_t>> ahead = listing_.get()) {
            listed = rows_.size() >= kListedLookupRows;
            names = std::move(*ahead);
        }
    } else {
        everyRow([this](size_t i) { LookUpOld(i); },
                 [&] { listed = rows_.size() >= kListedLookupRows && ops_.ListExactNames(dir_.Get(), names); });
    }
    const std::vector<uint32_t>* present = listed ? &names : nullptr;
    everyRow([this, present](size_t i) { LookUpNew(i, present); }, {});
}

void TRenamePlan::ListAhead(size_t rows) {
    listing_ = {};
    if (dir_.Get() < 0 || rows < kListedLookupRows) return;
    listing_ = std::async(std::launch::async, [this, rows]() -> std::optional<std::vector<uint32_t>> {
        // The folder holds at least the listed files, "." and "..": room for
        // them at once rather than a list that doubles on the way.
        std::vector<uint32_t> names;
        names.reserve(rows + 2);
        if (!ops_.ListExactNames(dir_.Get(), names)) return std::nullopt;
        return names;
    });
}

int TRenamePlan::CheckRow(size_t index, TNewNames& newNames) {
    Row& row = rows_[index];
    const std::string_view oldName = OldOf(row), newName = NewOf(row);
    const mode_t oldMode = static_cast<mode_t>(row.oldType) << 12;
    // The old entry: something we may copy.
    if (!LooksUpOld(row)) return EINVAL;
    if (row.oldError) return row.oldError;
    if (S_ISDIR(oldMode)) return EISDIR;
    if (!S_ISREG(oldMode) && !S_ISLNK(oldMode)) return EOPNOTSUPP;
    if (IsDatabaseName(oldName) || IsDatabaseFile(row.source)) return EBUSY;
    if (S_ISLNK(oldMode) && !databaseFiles_.empty()) {
        // A link to the database is refused like the file itself.
        struct stat target;
        if (fstatat(dir_.Get(), std::string(oldName).c_str(), &target, 0) == 0 &&
            IsDatabaseFile(TFileIdentity::Of(target)))
            return EBUSY;
    }

    // The new name: a fresh, well-formed name of its own. One left as it
    // was because the target's bytes are in the name but not as characters
    // is no name taken: the name is not text the replacement can read.
    if (!target_.empty() && newName == oldName && NameMatches(oldName, target_) &&
        ReplaceAllIgnoreCase(oldName, target_, {}) == oldName)
        return EILSEQ;
    if (IsMalformedName(newName)) return EINVAL;
    if (newName.size() > kMaxNameBytes) return ENAMETOOLONG;
    if (IsDatabaseName(newName)) return EBUSY;
    if (!newNames.Insert(*this, index)) return EEXIST;
    if (row.newError == 0) return EEXIST;
    if (row.newError != ENOENT) return row.newError;
    return 0;
}

TRenamePlan::Failure TRenamePlan::Check() { return Judge(nullptr); }

std::vector<int> TRenamePlan::CheckEvery() {
    std::vector<int> every(rows_.size(), 0);
    Judge(&every);
    return every;
}

TRenamePlan::Failure TRenamePlan::Judge(std::vector<int>* every) {
    checked_ = false;
    if (dir_.Get() < 0) {
        if (every) std::fill(every->begin(), every->end(), EBADF);
        return {0, EBADF};
    }
    // Every name is looked up first (on several threads for a large plan),
    // then the rows are judged in order, so the first failure is the first
    // failing row whatever the threads did.
    LookUpAll();
    TNewNames newNames(rows_.size());
    Failure first;
    for (size_t i = 0; i < rows_.size(); ++i) {
        const int error = CheckRow(i, newNames);
        if (!error) continue;
        if (!first) first = {i, error};
        if (!every) return first;
        (*every)[i] = error;
    }
    checked_ = !first;
    return first;
}

int TRenamePlan::BuildNew(size_t index, bool deleteOld, TFileOps::TBuiltCopy& built, const std::string& stagingName,
                          bool flushKept, bool unnamed) {
    ops_.DropCopy(dir_.Get(), built);
    if (!checked_ || index >= rows_.size()) return ECANCELED;
    Row& row = rows_[index];
    if (row.state != State::Pending) return EALREADY;
    int error = EPERM;
    if (deleteOld) {
        error = RenameInPlace(index);
        if (error == 0) error = ConfirmRenamed(index);
        if (error == 0) return 0;
        if (!TFsRefusal::CannotRenameInPlace(error)) return error;
        error = LinkRow(row);
        if (error == 0 || !TFsRefusal::CannotLink(error)) return error;
    }
    // A copy is flushed only when its original is to go: a kept original is
    // the safe copy until then.
    ReserveMadeList();
    TFileIdentity source;
    error = ops_.BuildCopy(dir_.Get(), std::string(OldOf(row)), std::string(NewOf(row)), source, built,
                           /*flush=*/deleteOld || flushKept,
                           stagingName, unnamed);
    if (error == 0) row.source = source;
    return error;
}

int TRenamePlan::RenameInPlace(size_t index) {
    if (!checked_ || index >= rows_.size()) return ECANCELED;
    Row& row = rows_[index];
    if (row.state != State::Pending) return EALREADY;
    if (const int error = ops_.RenameOnly(dir_.Get(), std::string(OldOf(row)), std::string(NewOf(row)))) return error;
    row.state = State::Renamed;
    return 0;
}

int TRenamePlan::ConfirmRenamed(size_t index) {
    if (index >= rows_.size()) return ECANCELED;
    Row& row = rows_[index];
    if (row.state != State::Renamed) return EALREADY;
    TFileIdentity made;
    if (const int error = ops_.ConfirmRenamed(dir_.Get(), std::string(OldOf(row)), std::string(NewOf(row)), made)) {
        row.state = State::Pending;
        return error;
    }
    SetMade(row, made);
    return 0;
}

int TRenamePlan::NameNew(size_t index, TFileOps::TBuiltCopy& built) {
    if (index >= rows_.size()) return ECANCELED;
    Row& row = rows_[index];
    if (row.state != State::Pending) return EALREADY;
    TFileIdentity made;
    if (const int error = ops_.NameCopy(dir_.Get(), built, std::string(NewOf(row)), made)) return error;
    SetMade(row, made);
    row.state = State::Copied;
    return 0;
}

int TRenamePlan::LinkRow(Row& row) {
    TFileIdentity made;
    const int error = ops_.LinkAt(dir_.Get(), std::string(OldOf(row)), std::string(NewOf(row)), made);
    if (error != 0) return error;
    row.source = made;
    SetMade(row, made);
    row.state = State::Copied;
    return 0;
}

int TRenamePlan::CopyOne(size_t index, bool deleteOld, const std::string& stagingName) {
    if (!checked_ || index >= rows_.size()) return ECANCELED;
    Row& row = rows_[index];
    if (row.state != State::Pending) return EALREADY;
    if (deleteOld) {
        // Any failure but a refusal to link (a taken name, a vanished file,
        // EIO, ENOSPC...) is final and shown as it is; a copy attempted after
        // it could only hide it behind a second error.
        const int error = LinkRow(row);
        if (error == 0 || !TFsRefusal::CannotLink(error)) return error;
    }
    ReserveMadeList();
    TFileIdentity source, made;
    const int error = ops_.CopyAt(dir_.Get(), std::string(OldOf(row)), std::string(NewOf(row)), source, made,
                                  /*flush=*/deleteOld,
                                  stagingName);
    if (error == 0) {
        row.source = source;
        SetMade(row, made);
        row.state = State::Copied;
    }
    return error;
}

size_t TRenamePlan::RollBack() {
    size_t undone = 0;
    for (size_t i = rows_.size(); i-- > 0;) {
        Row& row = rows_[i];
        // Once its old file is gone, the new file is the only copy: keep it.
        if (row.state != State::Copied && row.state != State::Renamed) continue;
        const TFileIdentity made = MadeOf(row);
        const TFileOps::Check isMade = [&made](const struct stat& st) {
            return TFileIdentity::Of(st).SameState(made);
        };
        if (row.state == State::Copied) {
            if (ops_.RemoveIf(dir_.Get(), std::string(NewOf(row)), isMade) != 0) continue;
        } else {
            TFileIdentity back;
            if (ops_.RenameIf(dir_.Get(), std::string(NewOf(row)), std::string(OldOf(row)), isMade, back) != 0)
                continue;
        }
        row.state = State::Pending;
        ++undone;
    }
    return undone;
}

size_t TRenamePlan::MadeCount() const {
    size_t made = 0;
    for (const Row& row : rows_)
        if (row.state != State::Pending) ++made;
    return made;
}

int TRenamePlan::FlushForDelete() {
    if (dir_.Get() < 0) return EBADF;
    return ops_.SyncDir(dir_.Get());
}

int TRenamePlan::DeleteOld(size_t index) {
    if (index >= rows_.size() || rows_[index].state != State::Copied) return ECANCELED;
    Row& row = rows_[index];
    const std::string oldName(OldOf(row)), newName(NewOf(row));
    struct stat newSt;
    if (const int error = ops_.StatAt(dir_.Get(), newName, newSt)) return error == ENOENT ? ESTALE : error;
    const TFileIdentity source = row.source;
    const TFileIdentity made = MadeOf(row);
    if (!TFileIdentity::Of(newSt).SameState(made)) return ESTALE;
    const int error = ops_.RemoveIf(dir_.Get(), oldName, [&source, &made](const struct stat& oldSt) {
        const TFileIdentity oldNow = TFileIdentity::Of(oldSt);
        if (!oldNow.SameState(source)) return false;
        // Both names on one file: a hard link of ours, which must still count
        // both names. On a case-insensitive mount the "two" names may be one
        // entry, and deleting it would delete the only copy.
        return !oldNow.SameFile(made) || oldSt.st_nlink >= 2;
    });
    if (error != 0) return error;
    row.state = State::Deleted;
    // The new file lost a name: its change time moved, and undo compares
    // with the file as the batch leaves it.
    if (ops_.StatAt(dir_.Get(), newName, newSt) == 0 && TFileIdentity::Of(newSt).SameFile(made))
        SetMade(row, TFileIdentity::Of(newSt));
    return 0;
}

}  // namespace vantelo
