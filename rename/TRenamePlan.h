// The per-file steps of the batch rename, each safe on its own; the batch
// itself (its order, its journal, recovery and undo) is TRenameOperation's.
// The caller Add()s each listed file's old and new name in order, asks
// Check() before anything is touched, makes each new name with BuildNew()
// and NameNew() (or CopyOne()), and when the old files go flushes with FlushForDelete()
// and deletes them with DeleteOld(). On a failure part-way RollBack() takes
// back exactly what this plan made, so the directory is as it was.
//
// Every name resolves against the directory that was searched (opened once,
// and refused when it is no longer the directory the rows were listed from),
// never against the process's current directory. Nothing is ever
// overwritten, the tool's own database files (by name and by identity, a
// link to them included) are never copied, linked, renamed or deleted, and
// an old file is deleted only while it is still the file that was copied.
//
// Errors are errno values, so the user can look them up:
//   EINVAL        a name that is empty, ".", "..", or holds "/" or a NUL byte
//                 (an old name that is "." or ".." is a directory: EISDIR)
//   ENAMETOOLONG  a new name longer than 255 bytes
//   EEXIST        a new name that already exists in the directory (the old
//                 file itself included: a name left unchanged, a swap a<->b,
//                 a chain a->b while b->c, a case-only change on a
//                 case-insensitive mount), or that another listed file gets
//   EILSEQ        with the target given (SetTarget): a name that holds the
//                 target's bytes, but not as whole characters of the code
//                 page, so nothing in it was replaced (a name the code page
//                 cannot spell, or the target inside a double-byte character)
//   EBUSY         the old or new name is one of the tool's database files
//                 (the database or its -wal, -shm, -journal companions), or
//                 the old entry is that file under another name or a link to it
//   EISDIR        the old entry is a directory
//   EOPNOTSUPP    the old entry is a FIFO, socket or device (never opened)
//   ENOENT        the old entry is missing
//   ESTALE        at Open: the directory at that path is no longer the one
//                 the rows came from; at deletion: the old name no longer
//                 holds the file that was copied, or the new name no longer
//                 holds the copy
//   EALREADY      BuildNew or CopyOne on a row already made
//   ECANCELED     BuildNew or CopyOne before a successful Check()
// plus whatever the file system reports (EACCES, ENOSPC, EROFS, EIO...).
#pragma once

#include "platform/TFd.h"
#include "platform/TFileIdentity.h"
#include "platform/TFileOps.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <future>
#include <optional>
#include <utility>
#include <vector>

namespace vantelo {

class TRenamePlan {
public:
    // The first failure of a batch: the listed row (0-based, in Add order)
    // and its errno. No failure: error 0.
    struct Failure {
        size_t index = 0;
        int error = 0;
        explicit operator bool() const { return error != 0; }
    };

    // What has become of one row.
    enum class State : uint8_t {
        Pending,  // nothing made yet
        Renamed,  // the old file renamed in place: its old name is gone
        Copied,   // a new name made beside the old one (a hard link or a copy)
        Deleted,  // Copied, and then the old name deleted
    };
    // A file's identity as a row keeps it: every fact of TFileIdentity in
    // 56 bytes instead of 72, since a million rows are held at once. The
    // device number is kept as the kernel's own 32 bits (12 for the major,
    // 20 for the minor number), which every device number fits.
    class TRowIdentity {
    public:
        TRowIdentity() = default;
        TRowIdentity(const TFileIdentity& identity) { *this = identity; }
        TRowIdentity& operator=(const TFileIdentity& identity);
        operator TFileIdentity() const { return Get(); }
        TFileIdentity Get() const;

        int64_t size = 0;

    private:
        uint64_t inode_ = 0;
        int64_t mtimeSec_ = 0, ctimeSec_ = 0, btimeSec_ = 0;
        uint32_t device_ = 0;
        uint32_t mtimeNsec_ = 0, ctimeNsec_ = 0, btimeNsec_ = 0;
    };
    struct Row {
        TRowIdentity source;  // the old file as checked, then as copied

    private:
        friend class TRenamePlan;
        // Where the new file (see Made()) is kept.
        enum class MadeKept : uint8_t {
            None,     // nothing made yet: an empty identity
            InPlace,  // `source` under its new name: only its change time
                      // differs, kept in `made` in nanoseconds
            Listed,   // any other file: kept whole in madeList_, `made` its place
        };
        uint64_t made = 0;
        // The two names, one after the other in nameBlocks_[block] from
        // `at`: 16 bytes a row, where two strings would take 64 before their
        // bytes.
        uint32_t block = 0;
        uint32_t at = 0;
        uint32_t oldSize = 0;
        uint32_t newSize = 0;

    public:
        State state = State::Pending;

    private:
        MadeKept madeKept = MadeKept::None;
        // What the check's lookups found (errno 0: the name exists), kept in
        // the row's spare bytes rather than beside it.
        int16_t oldError = 0;
        int16_t newError = ENOENT;
        uint8_t oldType = 0;  // the old entry's S_IFMT bits, shifted down
    };

    explicit TRenamePlan(TFileOps& ops = TFileOps::System());
    // Closes the directory. Never removes or deletes anything: after a
    // failure the caller decides with RollBack().
    ~TRenamePlan();
    TRenamePlan(const TRenamePlan&) = delete;
    TRenamePlan& operator=(const TRenamePlan&) = delete;

    // Opens `directory` (the directory that was searched; a trailing "/" is
    // fine) and notes the database file `databasePath` with its companions.
    // With `expected`, the directory must still be that file (device and
    // inode), else ESTALE: a folder replaced at the same path is not the one
    // whose names were listed. A relative database path resolves against the
    // current directory now, so pass the absolute path taken at start-up; an
    // empty one protects nothing. Returns 0 or errno (ENOENT, ENOTDIR,
    // EACCES, ESTALE...); the plan is empty afterwards either way.
    int Open(const std::string& directory, const std::string& databasePath,
             const TFileIdentity* expected = nullptr);
    const std::string& Directory() const { return directoryPath_; }
    const TFileIdentity& DirectoryIdentity() const { return directory_; }
    int DirectoryFd() const { return dir_.Get(); }
    TFileOps& Ops() const { return ops_; }

    // Room for `rows` files, so that a long list is held once, not grown.
    // Whatever the process freed before (a search's rows) is handed back to
    // the system first, so that a long list's block does not come on top
    // of memory that is free but still held.
    void Reserve(size_t rows);
    // Appends one listed file. Invalidates an earlier Check().
    void Add(std::string oldName, std::string newName);
    // Starts the one listing of the folder that the next Check() uses to
    // tell which new names are missing, on a thread of its own, so that it
    // is read while the caller still gives the rows. Call it once the batch
    // is decided on and the folder is open; `rows`: how many rows will be
    // given (a plan too small to use a listing starts none). Without it,
    // Check() lists the folder itself, alongside its lookups.
    void ListAhead(size_t rows);
    // The text the new names were made by replacing, when known: a name
    // left as it was although it holds that text's bytes is then refused
    // with EILSEQ rather than EEXIST (see above).
    void SetTarget(std::string target) { target_ = std::move(target); }
    size_t Count() const { return rows_.size(); }
    // Row `index`'s names, valid while the plan holds its rows (until Open).
    std::string_view OldName(size_t index) const { return OldOf(rows_[index]); }
    std::string_view NewName(size_t index) const { return NewOf(rows_[index]); }
    const Row& At(size_t index) const { return rows_[index]; }
    // Row `index`'s new file as it was made (and, after DeleteOld, as the
    // batch leaves it); an empty identity while nothing is made.
    TFileIdentity Made(size_t index) const { return MadeOf(rows_[index]); }
    // Whether row `index`'s new file is its old file as checked, only its
    // change time since moved on (a rename or link in place of a file
    // nobody changed meanwhile).
    bool MadeInPlace(size_t index) const { return rows_[index].madeKept == Row::MadeKept::InPlace; }

    // Checks every row, in order, before anything is touched (see the list
    // above), notes each old file's identity, and returns the first failure,
    // or no failure. Touches nothing. A plan that is not open fails at row 0
    // with EBADF; an empty plan passes.
    Failure Check();
    // Checks every row as Check() does, by the same rules and in the same
    // order, without stopping at a failure: answers each row's errno (0: the
    // row passes), in Add order, so that a preview shows every row the batch
    // would refuse. The first non-zero entry is the failure Check() answers.
    // A row whose new name an earlier row already takes is EEXIST. A plan that
    // is not open answers EBADF for every row; an empty plan, no entries.
    // Touches nothing; a plan with no failure counts as checked.
    std::vector<int> CheckEvery();

    // Makes row `index`'s new name, or builds the copy that will become it.
    // When the old file is to go (deleteOld) it is renamed in place with
    // one call that never overwrites; where the file system refuses that, a
    // hard link is made; where it refuses that too, and always when the old
    // file is kept, a copy is built into `built` (flushed to disk only when
    // its original is to go) and the row waits for NameNew(). `stagingName`
    // is where a copy is built when unnamed files are missing (see
    // TFileOps::BuildCopy). Returns 0 or errno; a failed row leaves nothing.
    // `flushKept`: flush a kept original's copy too (where the caller cannot
    // flush the whole file system at once).
    int BuildNew(size_t index, bool deleteOld, TFileOps::TBuiltCopy& built, const std::string& stagingName = {},
                 bool flushKept = false, bool unnamed = true);
    // BuildNew's rename in place in two steps, for a caller that looks at
    // what was renamed on another thread while it renames on. RenameInPlace
    // renames row `index` and counts it renamed (0 or errno; a file system
    // that renames nothing in place says so as BuildNew would find it).
    // ConfirmRenamed then keeps the identity of what the new name holds, or,
    // when that is not a regular file or symbolic link, renames it back and
    // counts the row as not made (0 or errno). Rows in between are the
    // caller's to keep apart: one thread renames, the other confirms rows
    // it was handed, and nothing else touches the plan meanwhile.
    int RenameInPlace(size_t index);
    int ConfirmRenamed(size_t index);
    // Gives row `index`'s built copy its new name (never overwriting).
    // Returns 0 or errno; on failure the copy stays in `built` for DropCopy.
    int NameNew(size_t index, TFileOps::TBuiltCopy& built);

    // Makes row `index`'s new name beside the old one in one step: a hard
    // link when the old file is to go and the file system gives one, else a
    // copy (see TFileOps::CopyAt). Returns 0 or errno; a failed row leaves
    // nothing.
    int CopyOne(size_t index, bool deleteOld, const std::string& stagingName = {});

    // Takes back everything this plan made whose old file it has not
    // deleted: a new name beside its old one is removed, and a file renamed
    // in place gets its old name back, each only while the new name still
    // holds the file made (checked so that a file swapped in meanwhile is
    // never the one removed or renamed). Rows taken back go back to Pending; a row that
    // could not be taken back keeps its state. Returns the number taken back.
    size_t RollBack();
    // Rows made and not taken back (Renamed, Copied or Deleted).
    size_t MadeCount() const;

    // Flushes the directory (the copies were flushed as they were made) so
    // the new names are on disk before any old file goes. Returns 0 or errno.
    int FlushForDelete();

    // Deletes row `index`'s old entry, only when the row was Copied, the old
    // name still holds the same file in the same state (device, inode, size,
    // modification time) and the new name still holds the file made (for a
    // hard link: the file still has both names); a file swapped in at the
    // old name meanwhile is never the one deleted. Returns 0 or errno
    // (ESTALE, ENOENT, ECANCELED for a row not copied...).
    int DeleteOld(size_t index);

private:
    // A file renamed or linked in place is the old file under a new name:
    // for those (nearly every row of a batch that deletes) only the change
    // time is kept in the row, and only other new files take a whole
    // identity in madeList_. Nothing is lost either way: a made file that
    // differs from `source` in anything but its change time is listed.
    TFileIdentity MadeOf(const Row& row) const;
    void SetMade(Row& row, const TFileIdentity& made);
    // Room in madeList_ for every row, before the first copy is listed, so
    // that a batch of copies does not grow the list step by step.
    void ReserveMadeList();
    std::string_view OldOf(const Row& row) const {
        return {nameBlocks_[row.block].data() + row.at, row.oldSize};
    }
    std::string_view NewOf(const Row& row) const {
        return {nameBlocks_[row.block].data() + row.at + row.oldSize, row.newSize};
    }
    // Makes a pending row's new name a hard link of its old file.
    int LinkRow(Row& row);
    bool IsDatabaseName(std::string_view name) const;
    bool IsDatabaseFile(const TFileIdentity& identity) const;
    bool LooksUpOld(const Row& row) const;
    bool LooksUpNew(const Row& row) const;
    // Looks up row `index`'s old name, then (once every old name is looked
    // up) its new name, into the row. `present`: the hashes of the names the
    // directory holds (see TFileOps::ListExactNames), or null when every new
    // name is looked up.
    void LookUpOld(size_t index);
    void LookUpNew(size_t index, const std::vector<uint32_t>* present);
    void LookUpAll();
    class TNewNames;
    int CheckRow(size_t index, TNewNames& newNames);
    // Judges the rows in order; with `every`, each row's errno goes there and
    // the walk goes on past a failure. Answers the first failure.
    Failure Judge(std::vector<int>* every);

    TFileOps& ops_;
    TFd dir_;
    std::string directoryPath_;
    TFileIdentity directory_;
    bool databaseHere_ = false;          // the database lives in the searched directory
    std::string databaseName_;           // its base name
    std::vector<TFileIdentity> databaseFiles_;  // the database and companions that exist
    std::vector<Row> rows_;
    std::vector<TRowIdentity> madeList_;  // the new files not made in place
    // The rows' names, appended in blocks that never grow past the room
    // they were given, so a name stays where its row says.
    std::vector<std::string> nameBlocks_;
    bool checked_ = false;
    std::string target_;
    // The listing started by ListAhead: the names' hashes, or nothing where
    // the folder could not be listed name for name.
    std::future<std::optional<std::vector<uint32_t>>> listing_;
};

}  // namespace vantelo
