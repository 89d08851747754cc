// The journal of the batch rename: what a batch is about to do, kept on disk
// before its first file operation, so that a batch a crash interrupted is
// brought to one end at the next start and a finished one can be undone.
//
// It lives in the tool's own database file, in a table of its own beside
// the file list (created when missing; the file list is never touched):
//
//   RenameJournal(BatchId   INTEGER PRIMARY KEY AUTOINCREMENT,
//                 Directory BLOB     the searched directory's path, as bytes
//                 DirDevice, DirInode  which directory that was
//                 DeleteOld INTEGER  1 when the old names go
//                 Phase     INTEGER  see Phase
//                 FileCount INTEGER
//                 Files     BLOB     empty; see below)
//   RenameJournalFiles(BatchId, Part, Files BLOB)
//                                    every file's old and new name, the old
//                                    file's identity and the new file's
//
// One row per batch; the files go in one packed list so that a batch of a
// million files costs a few writes, not a million. The list is kept in
// slices of a megabyte beside the batch's row, so that changing the phase
// rewrites none of it and no write holds it whole a second time. (A batch
// recorded with its list in the row's own Files column is read as well.) The journal writes through
// a connection of its own with synchronous=FULL: each phase change is on
// disk when the call returns (in WAL mode a commit is otherwise durable only
// at the next checkpoint). It must not be written while the tool's main
// connection holds a write transaction open: that would wait for its lock.
#pragma once

#include "platform/TFileIdentity.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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
    };
    struct File {
        std::string oldName;
        std::string newName;
        TFileIdentity source;  // the old file
        TFileIdentity made;    // the new file, once made (all zero before)
    };
    struct Batch {
        int64_t id = 0;
        std::string directory;
        TFileIdentity directoryIdentity;
        bool deleteOld = false;
        Phase phase = Phase::Making;
        std::vector<File> files;
    };

    // How many finished batches are kept for undo; older ones are dropped
    // when a new batch begins.
    static constexpr int kKeptBatches = 20;

    // Opens the journal of the database file `databasePath` (never creating
    // the file) and creates its table when missing. Raises EJournalError.
    explicit TRenameJournal(const std::string& databasePath, int busyTimeoutMs = 5000);
    ~TRenameJournal();
    TRenameJournal(const TRenameJournal&) = delete;
    TRenameJournal& operator=(const TRenameJournal&) = delete;

    // Gives the next slice of a packed list in `slice` (cleared first; a
    // slice may end anywhere, the slices together are the list) and answers
    // whether there was one. Lets a long list be written without ever being
    // held whole.
    using PackedSlices = std::function<bool(std::string& slice)>;
    // Records a new batch in phase Making, with its files packed (see
    // Pack), and answers its id; on disk when this returns. Raises
    // EJournalError.
    int64_t Begin(const std::string& directory, const TFileIdentity& directoryIdentity, bool deleteOld,
                  size_t fileCount, const PackedSlices& packedFiles);
    // Moves a batch to `phase`; with `packedFiles`, also replaces its files
    // (the new files' identities) in the same transaction. On disk when this returns. Raises
    // EJournalError.
    void SetPhase(int64_t id, Phase phase);
    void SetPhase(int64_t id, Phase phase, const PackedSlices& packedFiles);
    // Drops a batch: one that left nothing behind, or one fully undone.
    void Forget(int64_t id);

    // The oldest batch a crash left in Making, Deleting or Undoing.
    std::optional<Batch> Unfinished();
    // The newest Done batch (the one Ctrl+Z undoes).
    std::optional<Batch> LastDone();

    // The packed form of the files: a version byte, then per file its old
    // and new name (length and bytes), the old file's identity, and the new
    // file's (or a mark that it is the old file itself, or not known yet);
    // numbers in base-128 groups, so a file takes some 20 bytes beside its
    // names. Built file by file, so that a million files are never held twice.
    static std::string PackStart(size_t expectedFiles = 0);
    // The size of one slice a writer of PackedSlices should aim at.
    static constexpr size_t kSliceBytes = size_t{1} << 20;
    static void PackFile(std::string& packed, const std::string& oldName, const std::string& newName,
                         const TFileIdentity& source, const TFileIdentity& made);
    static std::string Pack(const std::vector<File>& files);
    // A whole packed list, given as slices; it must outlive their reading.
    static PackedSlices SlicesOf(const std::string& packedFiles);
    // Answers false for a value that is not a whole packed list.
    static bool Unpack(const std::string& packed, std::vector<File>& files);

private:
    struct CloseDb {
        void operator()(sqlite3* db) const;
    };
    [[noreturn]] void Raise() const;
    void Exec(const char* sql);
    std::optional<Batch> ReadOne(const char* sql);
    void WriteParts(int64_t id, const PackedSlices& packedFiles);
    void RemoveParts(int64_t id);
    // Runs `body` in one write transaction, rolled back when it raises.
    void InTransaction(const std::function<void()>& body);
    std::string ReadParts(int64_t id);

    std::unique_ptr<sqlite3, CloseDb> db_;
};

}  // namespace vantelo
