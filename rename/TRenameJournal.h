// The journal of the batch rename: what a batch is about to do, kept on disk
// before its first file operation, so that a batch a crash interrupted is
// brought to one end at the next start and a finished one can be undone.
//
// It is the tool's own state, kept apart from any database a folder may
// carry: one SQLite file in the user's private state folder
// ($XDG_STATE_HOME/vantelo/journal.db, by default ~/.local/state/vantelo/),
// the folder made with mode 0700 and the file with 0600, and both refused
// when they are not the user's own or others may write them.
//
//   Batches(BatchId   INTEGER PRIMARY KEY AUTOINCREMENT,
//           Directory BLOB     the searched directory's absolute path, as bytes
//           DirDevice, DirInode, FsId  which directory, on which file system
//           DeleteOld INTEGER  1 when the old names go
//           Phase     INTEGER  see Phase
//           FileCount INTEGER
//           Token     TEXT     the random part of the batch's staging names)
//   BatchFiles(BatchId, Part, Files BLOB)
//                            every file's old and new name, the old file's
//                            identity and the new file's, packed, in slices
//   BatchMade(BatchId, Part, Made BLOB)
//                            the identity of every copy the batch built,
//                            written before the copy got its name
//   BatchTimes(BatchId, Part, Times BLOB)
//                            every new file's change time as the batch left
//                            it, in list order: what a batch's end writes
//                            when its new files are otherwise as the list
//                            and BatchMade already say
//
// A batch belongs to the process running it, from its first write to its
// end: that process holds a lock on the batch's byte of journal.lock (an
// open-file-description lock, let go by the kernel when the process dies).
// Recovery and undo take that lock before they touch a batch, so they never
// act on a batch a live process owns, and every phase change checks that
// exactly the one row in the phase expected changed.
//
// Everything read back is checked (names one path component each, the
// folder absolute, the count matching, lengths bounded) and read a slice at
// a time; a batch that fails the checks is set aside (phase SetAside) and
// reported once, and never blocks a later batch.
#pragma once

#include "platform/TFd.h"
#include "platform/TFileIdentity.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;

namespace vantelo {

class TRenameJournal {
public:
    enum class Phase : int {
        Making = 1,    // new names being made; nothing deleted: a crash undoes the batch
        Deleting = 2,  // every new name made and on disk; old files going: a crash finishes it
        Done = 3,      // finished: the batch can be undone
        Undoing = 4,   // being undone: a crash finishes the undo
        SetAside = 5,  // found damaged: kept for the record, never acted on
    };
    struct File {
        std::string oldName;
        std::string newName;
        TFileIdentity source;  // the old file
        TFileIdentity made;    // the new file, once made (all zero before)
    };
    // Which folder a batch worked in: its path, its identity, and the
    // identity of its file system (statfs f_fsid), which survives a
    // re-plugged disk's new device number.
    struct Folder {
        std::string path;
        TFileIdentity identity;
        uint64_t fsid = 0;
    };
    struct Batch {
        int64_t id = 0;
        Folder folder;
        bool deleteOld = false;
        Phase phase = Phase::Making;
        size_t fileCount = 0;
        std::string token;
        std::vector<File> files;
    };
    // A batch as its row tells it, without its files: what a question about
    // it needs.
    struct Summary {
        int64_t id = 0;
        std::string directory;
        size_t fileCount = 0;
        bool deleteOld = false;
    };

    // How many finished batches are kept for undo; older ones are dropped
    // by DropOldBatches.
    static constexpr int kKeptBatches = 20;
    // Bounds of what is read back: a longer value marks the batch damaged.
    static constexpr size_t kMaxNameBytes = 255;
    static constexpr size_t kMaxPathBytes = 4096;
    static constexpr size_t kMaxFiles = size_t{1} << 26;

    // The journal of this user: $XDG_STATE_HOME/vantelo/journal.db, or
    // ~/.local/state/vantelo/journal.db; empty when neither is an absolute path.
    static std::string DefaultPath();

    // Opens (making when missing) the journal at `path`. Its folder is made
    // with mode 0700 when missing. Raises EJournalError when the folder or
    // the file is not this user's own, is writable by others, is not a
    // plain folder or file, or cannot be opened.
    explicit TRenameJournal(const std::string& path, int busyTimeoutMs = 5000);
    ~TRenameJournal();
    TRenameJournal(const TRenameJournal&) = delete;
    TRenameJournal& operator=(const TRenameJournal&) = delete;

    const std::string& Path() const { return path_; }

    // Gives the next slice of a packed list in `slice` (cleared first; a
    // slice may end anywhere, the slices together are the list) and answers
    // whether there was one. Lets a long list be written without ever being
    // held whole.
    using PackedSlices = std::function<bool(std::string& slice)>;
    // Records a new batch in phase Making, with its files packed (see
    // Pack), owned by this journal object until Release() or its end, and
    // answers its id; on disk when this returns. Raises EJournalError.
    int64_t Begin(const Folder& folder, bool deleteOld, size_t fileCount, const std::string& token,
                  const PackedSlices& packedFiles);
    // Moves an owned batch from phase `from` to `to`; with `packedFiles`, also
    // replaces its files in the same transaction. On disk when this returns.
    // Raises EJournalError, also when the batch is not in phase `from`.
    void SetPhase(int64_t id, Phase from, Phase to);
    void SetPhase(int64_t id, Phase from, Phase to, const PackedSlices& packedFiles);
    // Moves an owned batch from phase `from` to `to` and records, for each
    // of its `fileCount` files in list order, the change time its new file
    // has now (`changeTime` of the file's index): its new file is otherwise
    // as the list and the copies' records say, and from now on reads back
    // with that change time. A few bytes a file, where the list written
    // again would take tens. On disk when this returns. Raises EJournalError.
    using ChangeTimes = std::function<timespec(size_t index)>;
    void SetPhase(int64_t id, Phase from, Phase to, size_t fileCount, const ChangeTimes& changeTime);
    // Records the identities of copies built for rows of an owned batch,
    // before any of them gets its name: one write for the lot.
    void AddMade(int64_t id, const std::vector<std::pair<size_t, TFileIdentity>>& made);
    // Drops the finished batches beyond the newest kKeptBatches, except one
    // a live process is undoing, in one transaction, and answers how many.
    // Freeing a large batch's list takes a while, so this is left to moments
    // nobody waits on (after a batch, at start-up) rather than done as a
    // batch begins. Raises EJournalError.
    size_t DropOldBatches();
    // Drops an owned batch: one that left nothing behind, or one fully
    // undone. Raises EJournalError, also when there was no such batch.
    void Forget(int64_t id);
    // Lets go of an owned batch (it stays as it is in the journal).
    void Release(int64_t id);

    // Takes the oldest batch left in Making, Deleting or Undoing that no
    // live process owns and whose id is not in `skip`, and reads it whole.
    // A damaged one met on the way is set aside and added to SetAsideNow().
    std::optional<Batch> ClaimUnfinished(const std::set<int64_t>& skip = {});
    // The newest Done batch (the one Ctrl+Z undoes), from its row alone.
    std::optional<Summary> LastDone();
    // Takes the batch `id` when no live process owns it and it is in phase
    // `phase`, and reads it whole; nothing when it is not (undone or taken
    // by another process meanwhile). A damaged one is set aside.
    std::optional<Batch> Claim(int64_t id, Phase phase);
    // Takes over, once, the batches a database of the tool's earlier layout
    // kept in its own tables (RenameJournal, RenameJournalFiles), then drops
    // those tables. Only a database that is this user's own regular file,
    // writable by no one else, is read (the caller passes only the per-user
    // data folder's); each batch's names are checked as the journal's own,
    // and one that fails is left out. Answers the number of batches taken.
    size_t TakeOver(const std::string& databasePath);
    // Whether `databasePath` holds the earlier layout's journal table (read
    // only, nothing made).
    static bool HoldsEarlierLayout(const std::string& databasePath);

    // Batches set aside by this object's reads, with their folders when
    // those could be read.
    std::vector<Summary> TakeSetAside() { return std::exchange(setAside_, {}); }

    // The packed form of the files: a version byte, then per file its old
    // and new name (length and bytes), the old file's identity, and the new
    // file's (or a mark that it is the old file itself, or not known yet);
    // numbers in base-128 groups. Built file by file, so that a million
    // files are never held twice.
    static std::string PackStart(size_t expectedFiles = 0);
    // The size of one slice a writer of PackedSlices should aim at; a slice
    // read back may be at most twice this.
    static constexpr size_t kSliceBytes = size_t{1} << 20;
    static void PackFile(std::string& packed, std::string_view oldName, std::string_view newName,
                         const TFileIdentity& source, const TFileIdentity& made);
    static std::string Pack(const std::vector<File>& files);
    // A whole packed list, given as slices; it must outlive their reading.
    static PackedSlices SlicesOf(const std::string& packedFiles);
    // `count` files packed into slices as they are asked for, `packFile`
    // adding file `index` (with PackFile); what it reads must outlive the
    // slices' reading.
    static PackedSlices SlicesOf(size_t count, std::function<void(std::string& packed, size_t index)> packFile);
    // The files of `files`, packed into slices as they are asked for.
    static PackedSlices SlicesOf(const std::vector<File>& files);
    // Answers false for a value that is not a whole, well-formed packed list.
    static bool Unpack(const std::string& packed, std::vector<File>& files);
    // One name as the journal accepts it: one path component, not empty,
    // not "." or "..", no "/" or NUL, at most kMaxNameBytes.
    static bool IsPlainName(const std::string& name);

private:
    struct CloseDb {
        void operator()(sqlite3* db) const;
    };
    [[noreturn]] void Raise() const;
    void Exec(const char* sql);
    void InTransaction(const std::function<void()>& body);
    // Writes the slices as the batch's parts, with `insertSql` (its id,
    // part number and slice bound in that order).
    void WriteParts(int64_t id, const PackedSlices& packedFiles,
                    const char* insertSql = "INSERT INTO BatchFiles(BatchId, Part, Files) VALUES (?, ?, ?)");
    void RemoveParts(int64_t id);
    bool Lock(int64_t id);
    void Unlock(int64_t id);
    // Reads the batch `id` (owned by this object) whole; false when damaged.
    bool ReadBatch(int64_t id, Batch& batch);
    void SetAside(int64_t id);
    std::optional<Batch> ClaimRead(int64_t id, std::initializer_list<Phase> phases);

    std::string path_;
    std::unique_ptr<sqlite3, CloseDb> db_;
    TFd lock_;
    std::set<int64_t> owned_;
    std::vector<Summary> setAside_;
};

}  // namespace vantelo
