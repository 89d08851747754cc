// The engine behind the batch rename. The main window walks its list and
// Add()s each file's old and new name in order, then asks Check() before the
// first copy, copies with CopyOne() (or CopyAll()), and on success flushes
// and deletes the old files with FlushForDelete() and DeleteOld(). On a
// failure part-way it calls RollBack(), which removes exactly the new files
// this plan made, so the directory is as it was before the batch.
//
// Every name resolves against the directory that was searched (opened once),
// never against the process's current directory. Nothing is ever
// overwritten, the tool's own database files are never copied, linked or
// deleted, and an old file is deleted only while it is still the file that
// was copied.
//
// Errors are errno values, so the user can look them up:
//   EINVAL        a name that is empty, ".", "..", or holds "/" or a NUL byte
//                 (an old name that is "." or ".." is a directory: EISDIR)
//   ENAMETOOLONG  a new name longer than 255 bytes
//   EEXIST        a new name that already exists in the directory (the old
//                 file itself included: a name left unchanged, a swap a<->b,
//                 a chain a->b while b->c, a case-only change on a
//                 case-insensitive mount), or that another listed file gets
//   EBUSY         the old or new name is one of the tool's database files
//                 (the database or its -wal, -shm, -journal companions)
//   EISDIR        the old entry is a directory
//   EOPNOTSUPP    the old entry is a FIFO, socket or device (never opened)
//   ENOENT        the old entry is missing
//   ESTALE        at deletion: the old name no longer holds the file that
//                 was copied, or the new name no longer holds the copy
//   EALREADY      CopyOne on a file already copied
//   ECANCELED     CopyOne or CopyAll before a successful Check()
// plus whatever the file system reports (EACCES, ENOSPC, EROFS, EIO...).
#pragma once

#include "platform/TFileIdentity.h"
#include "platform/TFileOps.h"

#include <string>
#include <string_view>
#include <unordered_set>
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

    explicit TRenamePlan(TFileOps& ops = TFileOps::System());
    // Closes the directory. Never removes or deletes anything: after a
    // failure the caller decides with RollBack().
    ~TRenamePlan();
    TRenamePlan(const TRenamePlan&) = delete;
    TRenamePlan& operator=(const TRenamePlan&) = delete;

    // Opens `directory` (the directory that was searched; a trailing "/" is
    // fine) and notes the database file `databasePath` with its companions.
    // A relative database path resolves against the current directory now,
    // so pass the absolute path taken at start-up; an empty one protects
    // nothing. Returns 0 or errno (ENOENT, ENOTDIR, EACCES...); the plan is
    // empty afterwards either way.
    int Open(const std::string& directory, const std::string& databasePath);

    // Appends one listed file. Invalidates an earlier Check().
    void Add(std::string oldName, std::string newName);
    size_t Count() const { return rows_.size(); }
    const std::string& OldName(size_t index) const { return rows_[index].oldName; }
    const std::string& NewName(size_t index) const { return rows_[index].newName; }

    // Checks every row, in order, before anything is copied (see the list
    // above) and returns the first failure, or no failure. Touches nothing.
    // A plan that is not open fails at row 0 with EBADF; an empty plan passes.
    Failure Check();

    // Makes row `index`'s new name. With keepOld false (the old file will be
    // deleted) a hard link is made where the file system allows it, else a
    // copy, flushed to disk; with keepOld true always an independent copy,
    // left to the system to write back (its original stays, so nothing can
    // be lost). Returns 0 or errno; a failed row leaves no file behind.
    int CopyOne(size_t index, bool keepOld);

    // Copies every row in order; on the first failure removes what this plan
    // made (RollBack) and returns it. With keepOld false it then flushes
    // (FlushForDelete); a failed flush also rolls back and is reported with
    // index Count().
    Failure CopyAll(bool keepOld);

    // Removes every new file this plan made whose old file it has not
    // deleted, each only while its name still holds the file made. Rows go
    // back to not copied. Returns the number of files removed.
    size_t RollBack();

    // Flushes the directory (the copies were flushed as they were made) so
    // the new names are on disk before any old file goes. Returns 0 or errno.
    int FlushForDelete();

    // Deletes row `index`'s old entry, only when the row was copied, the old
    // name still holds the same file in the same state (device, inode, size,
    // modification time) and the new name still holds the file made (for a
    // hard link: the file still has both names). Returns 0 or errno
    // (ESTALE, ENOENT, ECANCELED for a row not copied...).
    int DeleteOld(size_t index);

private:
    enum class State { Pending, Copied, Deleted };
    struct Row {
        std::string oldName;
        std::string newName;
        State state = State::Pending;
        TFileIdentity source;  // the old file as copied
        TFileIdentity made;    // the new file
    };

    bool IsDatabaseName(const std::string& name) const;
    bool IsDatabaseFile(const TFileIdentity& identity) const;
    int CheckRow(const Row& row, std::unordered_set<std::string_view>& newNames) const;
    void CloseDirectory();

    TFileOps& ops_;
    int dirFd_ = -1;
    TFileIdentity directory_;
    bool databaseHere_ = false;          // the database lives in the searched directory
    std::string databaseName_;           // its base name
    std::vector<TFileIdentity> databaseFiles_;  // the database and companions that exist
    std::vector<Row> rows_;
    bool checked_ = false;
};

}  // namespace vantelo
