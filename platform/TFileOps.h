// The file-system steps of the batch rename, each resolved against an open
// directory (never the process's current directory) and each unable to
// overwrite anything: a hard link, a copy that appears under its new name
// only when complete, a removal, a flush. Every step returns 0 or an errno
// value and never throws for a file-system failure.
//
// A test can derive from this class and override Fault() to make any step
// fail, can switch off the faster paths (hard links, O_TMPFILE, reflink,
// copy_file_range, hole skipping) through Options to exercise the fallbacks,
// and can override the few system calls whose odd answers matter
// (copy_file_range, ftruncate, renameat2, flistxattr, fgetxattr) to present
// a file system that gives them.
#pragma once

#include "platform/TFd.h"
#include "platform/TFileIdentity.h"

#include <functional>

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace vantelo {

class TFileOps {
public:
    struct Options {
        bool tmpFile = true;    // build copies as unnamed O_TMPFILE files, then link them in
        bool clone = true;      // try a reflink (FICLONE) first
        bool copyRange = true;  // copy_file_range before plain read/write
        bool sparse = true;     // copy only the data regions (SEEK_DATA / SEEK_HOLE)
    };

    // The points at which Fault() is asked.
    enum class Step {
        Link,        // before linkat of an existing file to its new name
        CopyData,    // after a copy's content was written, before it is given its name
        CopyCommit,  // just before a finished copy is given its name
        Unlink,      // before an entry is removed
        SyncDir,     // before the directory is flushed
        Rename,      // before an existing file is renamed in place
    };

    TFileOps() = default;
    explicit TFileOps(Options options) : options_(options) {}
    virtual ~TFileOps() = default;
    TFileOps(const TFileOps&) = delete;
    TFileOps& operator=(const TFileOps&) = delete;

    // The real file system with every fast path on.
    static TFileOps& System();

    // Test seam: 0 lets `step` on entry `name` go ahead, any other value
    // makes the step fail with that errno. The real file system says 0.
    virtual int Fault(Step step, const std::string& name);

    // lstat of `name` in the directory: 0 and `st` filled, or errno.
    // Virtual so that a test can present a file system it cannot mount
    // (say, a case-insensitive one).
    virtual int StatAt(int dirFd, const std::string& name, struct stat& st) const;

    // The names the directory holds now, each as its NameHash (sorted,
    // duplicates kept), answered only where a name missing from
    // them is missing in the directory: a file system that keeps names byte
    // for byte, with no case or form folding, in a directory that does not
    // fold ASCII case (asked of StatAt with one listed name's case turned
    // round). Answers false (and nothing) anywhere else, or when the
    // directory cannot be read. A batch's check looks a new name up only
    // when its hash is among them.
    virtual bool ListExactNames(int dirFd, std::vector<uint32_t>& hashes) const;
    // A 32-bit hash of a name's bytes: two names may share one, so a name
    // whose hash is listed still has to be looked up.
    static uint32_t NameHash(std::string_view name);

    // Makes `to` a second name of the regular file or symbolic link `from`.
    // Returns 0 and the identity of the linked file, or errno: EEXIST when
    // `to` exists, EPERM/EMLINK/EOPNOTSUPP/EXDEV when the file system will
    // not link (the caller may copy instead). Anything other than a regular
    // file or symbolic link linked meanwhile is taken back (EOPNOTSUPP).
    int LinkAt(int dirFd, const std::string& from, const std::string& to, TFileIdentity& made);

    // Copies the regular file or symbolic link `from` to the new entry `to`
    // of the same directory. A symbolic link is copied as a link (its target
    // text), dangling or not. A regular file keeps its content (holes where
    // cheap), mode, access and modification times and extended attributes
    // where the file system takes them (a real failure to keep them, such as
    // EIO or ENOSPC, fails the copy; attributes that change while they are
    // read are read again), and, with `flush`, is flushed to disk
    // before it gets its name (needed only when the original will be deleted;
    // without it the original stays, so nothing can be lost).
    //
    // A copy keeps the source's owner and group wherever the process may
    // give them (as root; a group the user belongs to). A copy that cannot
    // keep the owner loses the set-user-ID and set-group-ID bits and any file
    // capabilities, one that cannot keep the group loses set-group-ID, as cp
    // does: a copy of another user's set-user-ID program must not become one
    // that runs as whoever made the copy. A symbolic link keeps its owner
    // and group where the process may give them.
    //
    // A copy is whole or absent: every byte the source holds is copied (a
    // copy_file_range that moves nothing falls back to read/write), and a
    // source that ends before its size fails the copy with EIO instead of
    // being padded; where ftruncate cannot extend a file (FAT over FUSE) a
    // hole at the end is written out as the zeros it reads as. No partial
    // file is ever visible under `to`: the copy is built as an unnamed
    // O_TMPFILE file and linked in when complete; where unnamed files are
    // unavailable it is written under `stagingName` (a name the caller has
    // recorded, so that a crash leaves a file it knows to remove) and given
    // its name only when complete, without overwriting: renameat2 with
    // RENAME_NOREPLACE, else a hard link and the staging name's removal,
    // else (neither on this file system) a rename once `to` is seen free;
    // with no `stagingName` it is written under `to` itself, created
    // exclusively and removed again on failure. A failure removes the
    // staging file. Returns 0 with `source` (the copied file as it was when
    // opened) and `made` (the new file), or errno: EEXIST when `to` (or the
    // staging name) exists, EISDIR for a directory, EOPNOTSUPP for a FIFO,
    // socket or device (never opened), ENOENT when `from` is missing.
    int CopyAt(int dirFd, const std::string& from, const std::string& to, TFileIdentity& source,
               TFileIdentity& made, bool flush = true, const std::string& stagingName = {});

    // A copy built by BuildCopy and not yet given its name: an unnamed file
    // (its descriptor held open) or a file under the caller's staging name.
    // DropCopy removes what it holds; so does its owner's BuildCopy again.
    struct TBuiltCopy {
        enum class State { None, Unnamed, Named };
        State state = State::None;
        TFd fd;              // Unnamed: the open copy
        std::string named;   // Named: where it was built
        TFileIdentity made;  // the copy as built

        // Built under `name` in the directory `dirFd`, found as `st`.
        void BuiltUnder(const std::string& name, const struct stat& st, int dirFd) {
            made = TFileIdentity::Of(st);
            made.AddBirth(dirFd, name.c_str());
            named = name;
            state = State::Named;
        }
        // The copy found again as `st` (naming moved its change time); its
        // birth time stays.
        void Restated(const struct stat& st) {
            const timespec birth = made.btime;
            made = TFileIdentity::Of(st);
            made.btime = birth;
        }
    };
    // The two halves of CopyAt, so that a caller can record the identity of
    // the copy (`built.made`) before the copy appears under its name. A
    // symbolic link is built under `stagingName` (never unnamed); without a
    // staging name a copy that cannot be unnamed is built under `to`
    // itself. NameCopy gives the copy its name without overwriting and
    // answers the named file's identity; on failure the built copy stays
    // for DropCopy. Both return 0 or errno, as CopyAt.
    // With `unnamed` false the copy is always built under a name (for a file
    // system that builds unnamed files but will not link them in).
    int BuildCopy(int dirFd, const std::string& from, const std::string& to, TFileIdentity& source,
                  TBuiltCopy& built, bool flush = true, const std::string& stagingName = {}, bool unnamed = true);
    int NameCopy(int dirFd, TBuiltCopy& built, const std::string& to, TFileIdentity& made);
    void DropCopy(int dirFd, TBuiltCopy& built);

    // Every step below that acts on a file only while it is the file
    // expected checks, acts and checks again so that a file swapped in at
    // the name in between is never the one acted on. `isIt` judges the
    // entry found at the name.
    using Check = std::function<bool(const struct stat& found)>;

    // Removes `name` only while it holds a file `isIt` accepts: the entry is
    // moved to a private name (a rename that never replaces), what moved is
    // checked to be what was judged, then removed, or put back when it is
    // not. Where the file system renames only by replacing, the entry is
    // linked to the private name instead; where it has neither, it is judged
    // and removed by name. Returns 0, or ESTALE when the name holds another
    // or a changed file, or errno (ENOENT...).
    int RemoveIf(int dirFd, const std::string& name, const Check& isIt);

    // Renames `from` to `to`, never replacing, only while `from` holds a file
    // `isIt` accepts; what arrived at `to` is checked and sent back when it
    // is not what was judged. Where the file system will not rename without
    // replacing: a hard link and the old name's guarded removal, else a copy
    // (built under `stagingName`, flushed) and the old name's guarded
    // removal, the same fallbacks as the batch's. Returns 0 with the
    // identity of the file now at `to`, ESTALE, or errno.
    int RenameIf(int dirFd, const std::string& from, const std::string& to, const Check& isIt, TFileIdentity& made,
                 const std::string& stagingName = {});

    // A name of the form ".vantelo-<random>.<suffix>": private to this
    // process, never a name a user's file has by chance.
    static std::string PrivateName(const char* suffix);

    // Renames `from` to `to` in the directory with renameat2(RENAME_NOREPLACE):
    // one atomic step that never overwrites, in two calls, so that a caller
    // may look at what was renamed on another thread while it renames on.
    // RenameOnly answers 0 or errno: EEXIST when `to` exists, ENOENT when
    // `from` is missing, EINVAL or ENOSYS when the file system or kernel
    // refuses the flag (the caller then links or copies instead).
    // ConfirmRenamed then answers 0 and the identity of the renamed file, or
    // errno; anything other than a regular file or symbolic link renamed
    // meanwhile is renamed back (EISDIR for a directory, EOPNOTSUPP
    // otherwise).
    int RenameOnly(int dirFd, const std::string& from, const std::string& to);
    int ConfirmRenamed(int dirFd, const std::string& from, const std::string& to, TFileIdentity& made);

    // Removes `name` from the directory: 0 or errno.
    int UnlinkAt(int dirFd, const std::string& name);

    // Flushes the directory's entries to disk: 0 or errno.
    int SyncDir(int dirFd);

protected:
    // The system calls behind the copy and the rename, as the kernel answers
    // them (a count, or -1 with errno set).
    virtual ssize_t CopyFileRange(int in, off_t* inOffset, int out, off_t* outOffset, size_t length);
    virtual int Truncate(int fd, off_t size);
    // renameat2(..., RENAME_NOREPLACE) within the directory: 0 or -1 with errno.
    virtual int RenameNoReplace(int dirFd, const std::string& from, const std::string& to);
    // flistxattr and fgetxattr on a descriptor: a length, or -1 with errno set.
    virtual ssize_t ListXattr(int fd, char* list, size_t size);
    virtual ssize_t GetXattr(int fd, const char* name, void* value, size_t size);

private:
    int BuildSymlink(int dirFd, const std::string& from, const std::string& to, const struct stat& st,
                     TBuiltCopy& built, const std::string& stagingName);
    int BuildRegular(int dirFd, const std::string& from, const std::string& to, TFileIdentity& source,
                     TBuiltCopy& built, bool flush, const std::string& stagingName, bool unnamed);
    static bool UnnamedFilesLinkable();
    int CommitStaging(int dirFd, const std::string& staging, const std::string& to, const TFileIdentity& made);
    // Content, times, owner, attributes and mode of the copy open as `out`;
    // `made`, when given, gets the copy's identity as it is left.
    int FillCopy(int in, int out, const struct stat& st, const std::string& to, bool flush,
                 TFileIdentity* made = nullptr);
    int CopyXattrs(int in, int out, bool ownerKept, bool& anySet);
    int ReadXattrNames(int in, std::vector<char>& names);
    int ReadXattr(int in, const char* name, std::vector<char>& value);
    // Copies `size` bytes (the caller checks the copy's size).
    int CopyContent(int in, int out, off_t size);
    int CopyRange(int in, int out, off_t offset, off_t length, bool& useRange);
    int ExtendTo(int out, off_t from, off_t size);

    Options options_;
};

}  // namespace vantelo
