/* A small in-memory FUSE file system for the tests that models a disk
 * losing power: it keeps, beside what every file and folder holds now, what
 * of it has reached the disk, and on command throws the rest away.
 *
 *   cutfs <mount point> [FUSE options]   (-f -s: foreground, one thread)
 *
 * The model (strict, as a disk that reorders freely would allow):
 *  - every inode has its state now (content, size, mode, owner, times,
 *    extended attributes) and its state on disk. A new inode is on disk as
 *    it was created: its mode and owner, empty. fsync and fdatasync of a
 *    file put its whole state now on disk (content and metadata alike).
 *  - every folder has its entries now and its entries on disk. fsync of the
 *    folder (FUSE_FSYNCDIR) puts its entries now on disk, and with them the
 *    inodes they name come to exist (in their state on disk: a file never
 *    flushed comes back empty). Nothing else makes a name durable: not a
 *    flush of the file, not a flush of another folder.
 *  - a symbolic link's target is part of its creation.
 *  - syncfs() and sync() are no barrier here: the kernel sends FUSE_SYNCFS
 *    only to virtio-fs, never to a file system mounted through /dev/fuse,
 *    so this daemon never learns of them. close() (FUSE_FLUSH) is no
 *    barrier either. What the caller wants on disk must be fsync'ed, file
 *    by file, and then its folder.
 *
 * Control: the file ".cutfs" in the root (reachable by name, never listed,
 * never counted, never cut). Writing a line to it gives a command:
 *   cut N          the Nth mutating call from now never returns (its caller
 *                  is to be killed), and every call after it, whatever it
 *                  is, fails with EIO until "power"
 *   power          power back: every state now is replaced by the state on
 *                  disk, the count starts again, calls are answered again
 *   sync           everything now is put on disk (a clean shutdown)
 *   reset          the count starts again from 0
 *   save           remember the whole file system (it should be all on disk)
 *   restore        back to what "save" remembered, under new inode numbers
 *                  (the kernel may still know the old ones)
 *   norenameflags 0|1  refuse rename with any flag (RENAME_NOREPLACE) with EINVAL
 *   nolinks 0|1    refuse hard links with EPERM
 *   log 0|1        write every call to standard error, numbered
 * Reading it answers "ops <mutating calls counted> cut <N or 0> fired <0|1>".
 * Mutating calls: create, mknod, mkdir, symlink, link, unlink, rmdir,
 * rename, write, setattr (truncate, chmod, chown, utimens), setxattr,
 * removexattr, fallocate, fsync, fsyncdir, and an open with O_TRUNC. A
 * refused call (a rename flag, a link) counts as it reached the disk's door.
 * Inode numbers are stable (never reused), also across a power cut. */
#define FUSE_USE_VERSION 34
#define _GNU_SOURCE

#include <errno.h>
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

/* Answers the request with an error and leaves the handler. */
#define FAIL(req, error)                \
    do {                                \
        fuse_reply_err((req), (error)); \
        return;                         \
    } while (0)

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif
#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

#define CONTROL_NAME ".cutfs"
#define CONTROL_INO 2

struct xattr {
    char* name;
    char* value;
    size_t size;
};

/* What an inode holds, now or on disk. */
struct state {
    mode_t mode;
    uid_t uid;
    gid_t gid;
    struct timespec atime, mtime, ctime;
    char* data;
    size_t size;
    struct xattr* xattrs;
    size_t xattrCount;
};

struct entry {
    char* name;
    fuse_ino_t ino;
};

struct entries {
    struct entry* items;
    size_t count;
};

struct inode {
    bool used;  /* exists now */
    char* link; /* a symbolic link's target */
    struct state now, disk;
    struct entries nowEntries, diskEntries; /* a folder's */
    nlink_t nlink;
};

static struct inode* inodes;
static size_t inodeCount; /* inode numbers in use so far, 1 = root */

static long ops;
static long cutAt;
static bool fired;
static bool refuseRenameFlags;
static bool refuseLinks;
static bool logging;
static char controlReply[128];
#define MAX_HELD 64
static fuse_req_t held[MAX_HELD]; /* calls the cut fell on, not answered */
static size_t heldCount;

static void* xmalloc(size_t size)
{
    void* memory = malloc(size ? size : 1);
    if (!memory)
        abort();
    return memory;
}

static char* xstrdup(const char* text)
{
    const size_t length = strlen(text) + 1;
    return memcpy(xmalloc(length), text, length);
}

static void Log(const char* format, ...)
{
    if (!logging)
        return;
    va_list args;
    va_start(args, format);
    fprintf(stderr, "[%ld] ", ops);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

/* ---- states and entries ------------------------------------------------ */

static void FreeState(struct state* state)
{
    free(state->data);
    for (size_t i = 0; i < state->xattrCount; ++i) {
        free(state->xattrs[i].name);
        free(state->xattrs[i].value);
    }
    free(state->xattrs);
    memset(state, 0, sizeof *state);
}

static void CopyState(struct state* to, const struct state* from)
{
    FreeState(to);
    *to = *from;
    to->data = xmalloc(from->size);
    memcpy(to->data, from->data, from->size);
    to->xattrs = xmalloc(from->xattrCount * sizeof *from->xattrs);
    for (size_t i = 0; i < from->xattrCount; ++i) {
        to->xattrs[i].name = xstrdup(from->xattrs[i].name);
        to->xattrs[i].size = from->xattrs[i].size;
        to->xattrs[i].value = xmalloc(from->xattrs[i].size);
        memcpy(to->xattrs[i].value, from->xattrs[i].value, from->xattrs[i].size);
    }
}

static void FreeEntries(struct entries* list)
{
    for (size_t i = 0; i < list->count; ++i)
        free(list->items[i].name);
    free(list->items);
    list->items = NULL;
    list->count = 0;
}

static void CopyEntries(struct entries* to, const struct entries* from)
{
    FreeEntries(to);
    to->items = xmalloc(from->count * sizeof *from->items);
    to->count = from->count;
    for (size_t i = 0; i < from->count; ++i) {
        to->items[i].name = xstrdup(from->items[i].name);
        to->items[i].ino = from->items[i].ino;
    }
}

static struct entry* Find(struct entries* list, const char* name)
{
    for (size_t i = 0; i < list->count; ++i) {
        if (strcmp(list->items[i].name, name) == 0)
            return &list->items[i];
    }
    return NULL;
}

static void AddEntry(struct entries* list, const char* name, fuse_ino_t ino)
{
    list->items = realloc(list->items, (list->count + 1) * sizeof *list->items);
    if (!list->items)
        abort();
    list->items[list->count].name = xstrdup(name);
    list->items[list->count].ino = ino;
    ++list->count;
}

static void RemoveEntry(struct entries* list, struct entry* item)
{
    free(item->name);
    *item = list->items[--list->count];
}

static void Now(struct timespec* time) { clock_gettime(CLOCK_REALTIME, time); }

/* An inode made now; on disk it exists (once a flushed folder names it) as
 * it was made: its kind, mode and owner, empty. */
static fuse_ino_t NewInode(fuse_req_t req, mode_t mode, const char* link)
{
    inodes = realloc(inodes, (inodeCount + 1) * sizeof *inodes);
    if (!inodes)
        abort();
    const fuse_ino_t ino = inodeCount++;
    struct inode* node = &inodes[ino];
    memset(node, 0, sizeof *node);
    node->used = true;
    node->link = link ? xstrdup(link) : NULL;
    node->now.mode = mode;
    if (req) {
        const struct fuse_ctx* context = fuse_req_ctx(req);
        node->now.uid = context->uid;
        node->now.gid = context->gid;
    }
    Now(&node->now.mtime);
    node->now.atime = node->now.ctime = node->now.mtime;
    if (link) {
        node->now.data = xstrdup(link);
        node->now.size = strlen(link);
    }
    CopyState(&node->disk, &node->now);
    node->nlink = S_ISDIR(mode) ? 2 : 1;
    return ino;
}

static struct inode* Node(fuse_ino_t ino)
{
    return ino < inodeCount && ino != CONTROL_INO && inodes[ino].used ? &inodes[ino] : NULL;
}

static void Fill(fuse_ino_t ino, struct stat* st)
{
    const struct inode* node = &inodes[ino];
    memset(st, 0, sizeof *st);
    st->st_ino = ino;
    st->st_mode = node->now.mode;
    st->st_nlink = node->nlink;
    st->st_uid = node->now.uid;
    st->st_gid = node->now.gid;
    st->st_size = (off_t)node->now.size;
    st->st_blksize = 4096;
    st->st_blocks = (blkcnt_t)((node->now.size + 511) / 512);
    st->st_atim = node->now.atime;
    st->st_mtim = node->now.mtime;
    st->st_ctim = node->now.ctime;
}

static void FillControl(struct stat* st)
{
    memset(st, 0, sizeof *st);
    st->st_ino = CONTROL_INO;
    st->st_mode = S_IFREG | 0600;
    st->st_nlink = 1;
    st->st_size = 0;
}

/* ---- power ------------------------------------------------------------- */

static void Reach(fuse_ino_t ino, bool* reached)
{
    if (reached[ino])
        return;
    reached[ino] = true;
    const struct entries* list = &inodes[ino].nowEntries;
    for (size_t i = 0; i < list->count; ++i)
        Reach(list->items[i].ino, reached);
}

/* Power back: only what was on disk is there; inodes no folder names any
 * more are gone, link counts are counted again. */
static void PowerBack(void)
{
    for (fuse_ino_t ino = 1; ino < inodeCount; ++ino) {
        struct inode* node = &inodes[ino];
        if (ino == CONTROL_INO)
            continue;
        CopyState(&node->now, &node->disk);
        CopyEntries(&node->nowEntries, &node->diskEntries);
    }
    bool* reached = calloc(inodeCount, sizeof *reached);
    if (!reached)
        abort();
    Reach(1, reached);
    for (fuse_ino_t ino = 1; ino < inodeCount; ++ino) {
        struct inode* node = &inodes[ino];
        if (ino == CONTROL_INO)
            continue;
        node->used = reached[ino];
        node->nlink = S_ISDIR(node->now.mode) ? 2 : 0;
    }
    for (fuse_ino_t ino = 1; ino < inodeCount; ++ino) {
        if (!inodes[ino].used)
            continue;
        const struct entries* list = &inodes[ino].nowEntries;
        for (size_t i = 0; i < list->count; ++i) {
            struct inode* child = &inodes[list->items[i].ino];
            if (S_ISDIR(child->now.mode))
                ++inodes[ino].nlink;
            else
                ++child->nlink;
        }
    }
    free(reached);
    /* Their callers are gone; the kernel ignores a late answer. */
    for (size_t i = 0; i < heldCount; ++i)
        fuse_reply_err(held[i], EIO);
    heldCount = 0;
    ops = 0;
    cutAt = 0;
    fired = false;
}

/* A clean shutdown: everything now is on disk. */
static void SyncAll(void)
{
    for (fuse_ino_t ino = 1; ino < inodeCount; ++ino) {
        struct inode* node = &inodes[ino];
        if (ino == CONTROL_INO || !node->used)
            continue;
        CopyState(&node->disk, &node->now);
        CopyEntries(&node->diskEntries, &node->nowEntries);
    }
}

/* The file system as "save" found it: its inodes and their number. */
static struct inode* saved;
static size_t savedCount;

static void CloneInode(struct inode* to, const struct inode* from)
{
    memset(to, 0, sizeof *to);
    to->used = from->used;
    to->link = from->link ? xstrdup(from->link) : NULL;
    to->nlink = from->nlink;
    CopyState(&to->now, &from->now);
    CopyState(&to->disk, &from->disk);
    CopyEntries(&to->nowEntries, &from->nowEntries);
    CopyEntries(&to->diskEntries, &from->diskEntries);
}

static void FreeInode(struct inode* node)
{
    free(node->link);
    FreeState(&node->now);
    FreeState(&node->disk);
    FreeEntries(&node->nowEntries);
    FreeEntries(&node->diskEntries);
    memset(node, 0, sizeof *node);
}

static void Save(void)
{
    for (size_t i = 0; i < savedCount; ++i)
        FreeInode(&saved[i]);
    free(saved);
    savedCount = inodeCount;
    saved = xmalloc(savedCount * sizeof *saved);
    for (size_t i = 0; i < savedCount; ++i)
        CloneInode(&saved[i], &inodes[i]);
}

static void Renumber(struct entries* list, const fuse_ino_t* number)
{
    for (size_t i = 0; i < list->count; ++i)
        list->items[i].ino = number[list->items[i].ino];
}

/* Every inode of today goes (their numbers are never given again); the
 * saved ones come back under fresh numbers, the root and control kept. */
static void Restore(void)
{
    if (!saved)
        return;
    fuse_ino_t* number = calloc(savedCount, sizeof *number);
    if (!number)
        abort();
    size_t fresh = inodeCount;
    for (fuse_ino_t ino = 1; ino < savedCount; ++ino)
        number[ino] = ino <= CONTROL_INO ? ino : (saved[ino].used ? fresh++ : 0);
    for (fuse_ino_t ino = CONTROL_INO + 1; ino < inodeCount; ++ino)
        FreeInode(&inodes[ino]);
    inodes = realloc(inodes, fresh * sizeof *inodes);
    if (!inodes)
        abort();
    memset(&inodes[inodeCount], 0, (fresh - inodeCount) * sizeof *inodes);
    FreeInode(&inodes[1]);
    for (fuse_ino_t ino = 1; ino < savedCount; ++ino) {
        if (ino == CONTROL_INO || !number[ino])
            continue;
        struct inode* node = &inodes[number[ino]];
        CloneInode(node, &saved[ino]);
        Renumber(&node->nowEntries, number);
        Renumber(&node->diskEntries, number);
    }
    inodeCount = fresh;
    free(number);
}

static void Command(const char* line)
{
    long value = 0;
    if (sscanf(line, "cut %ld", &value) == 1) {
        cutAt = value;
        ops = 0;
        fired = false;
    } else if (strncmp(line, "power", 5) == 0) {
        PowerBack();
    } else if (strncmp(line, "sync", 4) == 0) {
        SyncAll();
    } else if (strncmp(line, "save", 4) == 0) {
        Save();
    } else if (strncmp(line, "restore", 7) == 0) {
        Restore();
        ops = 0;
        cutAt = 0;
        fired = false;
    } else if (strncmp(line, "reset", 5) == 0) {
        ops = 0;
    } else if (sscanf(line, "norenameflags %ld", &value) == 1) {
        refuseRenameFlags = value != 0;
    } else if (sscanf(line, "nolinks %ld", &value) == 1) {
        refuseLinks = value != 0;
    } else if (sscanf(line, "log %ld", &value) == 1) {
        logging = value != 0;
    }
}

/* ---- the cut ------------------------------------------------------------ */

/* Every call asks this first: after the cut, nothing is answered. */
static bool Dead(fuse_req_t req)
{
    if (!fired)
        return false;
    fuse_reply_err(req, EIO);
    return true;
}

/* A held call's caller was killed: the kernel waits for an answer to a
 * call it has handed over before the caller can go, so it gets one. */
static void Interrupted(fuse_req_t req, void* data)
{
    (void)data;
    for (size_t i = 0; i < heldCount; ++i) {
        if (held[i] == req) {
            held[i] = held[--heldCount];
            fuse_reply_err(req, EIO);
            return;
        }
    }
}

/* A mutating call is counted; the one the cut falls on fails, and the power
 * is off from then on. */
static bool CutNow(fuse_req_t req, const char* what, fuse_ino_t ino, const char* name)
{
    if (Dead(req))
        return true;
    ++ops;
    Log("%s %lu %s", what, (unsigned long)ino, name ? name : "");
    if (cutAt > 0 && ops >= cutAt) {
        /* The call the power goes at never returns (the test kills its
         * caller): a caller that went on after an error would reach other
         * disks that in a real power cut would have stopped too. */
        fired = true;
        Log("cut");
        if (heldCount < MAX_HELD) {
            held[heldCount++] = req;
            fuse_req_interrupt_func(req, Interrupted, NULL);
        } else {
            fuse_reply_err(req, EIO);
        }
        return true;
    }
    return false;
}

/* ---- the operations ----------------------------------------------------- */

static void ReplyEntry(fuse_req_t req, fuse_ino_t ino)
{
    struct fuse_entry_param entry;
    memset(&entry, 0, sizeof entry);
    entry.ino = ino;
    entry.generation = 1;
    if (ino == CONTROL_INO)
        FillControl(&entry.attr);
    else
        Fill(ino, &entry.attr);
    fuse_reply_entry(req, &entry);
}

static void DoInit(void* data, struct fuse_conn_info* connection)
{
    (void)data;
    /* Every write reaches the daemon when it is made, in order. */
    connection->want &= ~FUSE_CAP_WRITEBACK_CACHE;
}

static void DoLookup(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    if (parent == 1 && strcmp(name, CONTROL_NAME) == 0) {
        ReplyEntry(req, CONTROL_INO);
        return;
    }
    if (Dead(req))
        return;
    struct inode* dir = Node(parent);
    if (!dir || !S_ISDIR(dir->now.mode))
        FAIL(req, dir ? ENOTDIR : ENOENT);
    const struct entry* found = Find(&dir->nowEntries, name);
    if (!found)
        FAIL(req, ENOENT);
    ReplyEntry(req, found->ino);
}

static void DoGetattr(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    (void)fi;
    struct stat st;
    if (ino == CONTROL_INO) {
        FillControl(&st);
        fuse_reply_attr(req, &st, 0);
        return;
    }
    if (Dead(req))
        return;
    if (!Node(ino))
        FAIL(req, ENOENT);
    Fill(ino, &st);
    fuse_reply_attr(req, &st, 0);
}

static int Resize(struct state* state, size_t size)
{
    char* data = realloc(state->data, size ? size : 1);
    if (!data)
        return ENOSPC;
    if (size > state->size)
        memset(data + state->size, 0, size - state->size);
    state->data = data;
    state->size = size;
    return 0;
}

static void SetTime(struct timespec* field, const struct timespec* given, bool toNow)
{
    if (toNow)
        Now(field);
    else
        *field = *given;
}

static void DoSetattr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int toSet, struct fuse_file_info* fi)
{
    (void)fi;
    if (ino == CONTROL_INO) {
        struct stat st;
        FillControl(&st);
        fuse_reply_attr(req, &st, 0);
        return;
    }
    if (CutNow(req, "setattr", ino, NULL))
        return;
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    if (toSet & FUSE_SET_ATTR_SIZE) {
        if (!S_ISREG(node->now.mode))
            FAIL(req, S_ISDIR(node->now.mode) ? EISDIR : EINVAL);
        const int error = Resize(&node->now, (size_t)attr->st_size);
        if (error)
            FAIL(req, error);
        Now(&node->now.mtime);
    }
    if (toSet & FUSE_SET_ATTR_MODE)
        node->now.mode = (node->now.mode & S_IFMT) | (attr->st_mode & 07777);
    if (toSet & FUSE_SET_ATTR_UID)
        node->now.uid = attr->st_uid;
    if (toSet & FUSE_SET_ATTR_GID)
        node->now.gid = attr->st_gid;
    if (toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_ATIME_NOW))
        SetTime(&node->now.atime, &attr->st_atim, toSet & FUSE_SET_ATTR_ATIME_NOW);
    if (toSet & (FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_MTIME_NOW))
        SetTime(&node->now.mtime, &attr->st_mtim, toSet & FUSE_SET_ATTR_MTIME_NOW);
    Now(&node->now.ctime);
    struct stat st;
    Fill(ino, &st);
    fuse_reply_attr(req, &st, 0);
}

static void DoReadlink(fuse_req_t req, fuse_ino_t ino)
{
    if (Dead(req))
        return;
    const struct inode* node = Node(ino);
    if (!node || !node->link)
        FAIL(req, node ? EINVAL : ENOENT);
    fuse_reply_readlink(req, node->link);
}

/* The folder `parent` where a new entry `name` may go: 0, or why not. */
static int CanAdd(fuse_ino_t parent, const char* name, struct inode** dir)
{
    *dir = Node(parent);
    if (!*dir)
        return ENOENT;
    if (!S_ISDIR((*dir)->now.mode))
        return ENOTDIR;
    if (strlen(name) > 255)
        return ENAMETOOLONG;
    if (Find(&(*dir)->nowEntries, name) || (parent == 1 && strcmp(name, CONTROL_NAME) == 0))
        return EEXIST;
    return 0;
}

static void Touch(struct inode* node)
{
    Now(&node->now.mtime);
    node->now.ctime = node->now.mtime;
}

static void MakeEntry(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, const char* link,
                      const char* what)
{
    if (CutNow(req, what, parent, name))
        return;
    struct inode* dir;
    const int error = CanAdd(parent, name, &dir);
    if (error)
        FAIL(req, error);
    const fuse_ino_t ino = NewInode(req, mode, link);
    dir = &inodes[parent]; /* the table may have moved */
    AddEntry(&dir->nowEntries, name, ino);
    if (S_ISDIR(mode))
        ++dir->nlink;
    Touch(dir);
    ReplyEntry(req, ino);
}

static void DoMknod(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, dev_t rdev)
{
    (void)rdev;
    if (!S_ISREG(mode) && !S_ISFIFO(mode)) {
        if (!Dead(req))
            fuse_reply_err(req, EPERM);
        return;
    }
    MakeEntry(req, parent, name, mode, NULL, "mknod");
}

static void DoMkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode)
{
    MakeEntry(req, parent, name, S_IFDIR | (mode & 07777), NULL, "mkdir");
}

static void DoSymlink(fuse_req_t req, const char* link, fuse_ino_t parent, const char* name)
{
    MakeEntry(req, parent, name, S_IFLNK | 0777, link, "symlink");
}

static void DoCreate(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, struct fuse_file_info* fi)
{
    if (CutNow(req, "create", parent, name))
        return;
    struct inode* dir = Node(parent);
    if (dir && S_ISDIR(dir->now.mode)) {
        const struct entry* found = Find(&dir->nowEntries, name);
        if (found) {
            /* O_CREAT of an existing name opens it, unless O_EXCL. */
            if (fi->flags & O_EXCL)
                FAIL(req, EEXIST);
            struct inode* node = &inodes[found->ino];
            if (S_ISDIR(node->now.mode))
                FAIL(req, EISDIR);
            if (fi->flags & O_TRUNC) {
                Resize(&node->now, 0);
                Touch(node);
            }
            struct fuse_entry_param entry;
            memset(&entry, 0, sizeof entry);
            entry.ino = found->ino;
            entry.generation = 1;
            Fill(found->ino, &entry.attr);
            fuse_reply_create(req, &entry, fi);
            return;
        }
    }
    const int error = CanAdd(parent, name, &dir);
    if (error)
        FAIL(req, error);
    const fuse_ino_t ino = NewInode(req, S_IFREG | (mode & 07777), NULL);
    dir = &inodes[parent];
    AddEntry(&dir->nowEntries, name, ino);
    Touch(dir);
    struct fuse_entry_param entry;
    memset(&entry, 0, sizeof entry);
    entry.ino = ino;
    entry.generation = 1;
    Fill(ino, &entry.attr);
    fuse_reply_create(req, &entry, fi);
}

static void Unlinked(fuse_ino_t ino)
{
    struct inode* node = &inodes[ino];
    if (node->nlink > 0)
        --node->nlink;
    Now(&node->now.ctime);
    /* An inode without a name stays for what holds it open; the next power
     * cut or nothing at all reclaims it (memory is of no concern here). */
}

static void DoUnlink(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    if (CutNow(req, "unlink", parent, name))
        return;
    struct inode* dir = Node(parent);
    struct entry* found = dir && S_ISDIR(dir->now.mode) ? Find(&dir->nowEntries, name) : NULL;
    if (!found)
        FAIL(req, dir ? ENOENT : ENOENT);
    if (S_ISDIR(inodes[found->ino].now.mode))
        FAIL(req, EISDIR);
    const fuse_ino_t ino = found->ino;
    RemoveEntry(&dir->nowEntries, found);
    Unlinked(ino);
    Touch(dir);
    fuse_reply_err(req, 0);
}

static void DoRmdir(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    if (CutNow(req, "rmdir", parent, name))
        return;
    struct inode* dir = Node(parent);
    struct entry* found = dir && S_ISDIR(dir->now.mode) ? Find(&dir->nowEntries, name) : NULL;
    if (!found)
        FAIL(req, ENOENT);
    struct inode* child = &inodes[found->ino];
    if (!S_ISDIR(child->now.mode))
        FAIL(req, ENOTDIR);
    if (child->nowEntries.count > 0)
        FAIL(req, ENOTEMPTY);
    child->nlink = 0;
    RemoveEntry(&dir->nowEntries, found);
    --dir->nlink;
    Touch(dir);
    fuse_reply_err(req, 0);
}

static void DoRename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
                     unsigned int flags)
{
    if (CutNow(req, flags ? "rename2" : "rename", parent, name))
        return;
    if (flags && refuseRenameFlags)
        FAIL(req, EINVAL);
    if (flags & ~(unsigned)(RENAME_NOREPLACE | RENAME_EXCHANGE))
        FAIL(req, EINVAL);
    struct inode* from = Node(parent);
    struct inode* to = Node(newParent);
    if (!from || !to || !S_ISDIR(from->now.mode) || !S_ISDIR(to->now.mode))
        FAIL(req, ENOENT);
    if ((newParent == 1 && strcmp(newName, CONTROL_NAME) == 0) || strlen(newName) > 255)
        FAIL(req, EPERM);
    struct entry* source = Find(&from->nowEntries, name);
    if (!source)
        FAIL(req, ENOENT);
    struct entry* target = Find(&to->nowEntries, newName);
    if (source == target)
        FAIL(req, 0);
    if (flags & RENAME_EXCHANGE) {
        if (!target)
            FAIL(req, ENOENT);
        const fuse_ino_t swap = source->ino;
        source->ino = target->ino;
        target->ino = swap;
        Touch(from);
        Touch(to);
        fuse_reply_err(req, 0);
        return;
    }
    const fuse_ino_t ino = source->ino;
    const bool isDir = S_ISDIR(inodes[ino].now.mode);
    if (target) {
        if (flags & RENAME_NOREPLACE)
            FAIL(req, EEXIST);
        struct inode* replaced = &inodes[target->ino];
        if (S_ISDIR(replaced->now.mode) != isDir)
            FAIL(req, isDir ? ENOTDIR : EISDIR);
        if (isDir && replaced->nowEntries.count > 0)
            FAIL(req, ENOTEMPTY);
        if (isDir) {
            replaced->nlink = 0;
            --to->nlink;
        } else {
            Unlinked(target->ino);
        }
        RemoveEntry(&to->nowEntries, target);
        source = Find(&from->nowEntries, name); /* the list may have been reordered */
    }
    RemoveEntry(&from->nowEntries, source);
    AddEntry(&to->nowEntries, newName, ino);
    if (isDir && from != to) {
        --from->nlink;
        ++to->nlink;
    }
    Now(&inodes[ino].now.ctime);
    Touch(from);
    Touch(to);
    fuse_reply_err(req, 0);
}

static void DoLink(fuse_req_t req, fuse_ino_t ino, fuse_ino_t newParent, const char* newName)
{
    if (CutNow(req, "link", ino, newName))
        return;
    if (refuseLinks)
        FAIL(req, EPERM);
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    if (S_ISDIR(node->now.mode))
        FAIL(req, EPERM);
    struct inode* dir;
    const int error = CanAdd(newParent, newName, &dir);
    if (error)
        FAIL(req, error);
    AddEntry(&dir->nowEntries, newName, ino);
    ++node->nlink;
    Now(&node->now.ctime);
    Touch(dir);
    ReplyEntry(req, ino);
}

static void DoOpen(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    if (ino == CONTROL_INO) {
        fi->direct_io = 1; /* every read asks the daemon */
        fuse_reply_open(req, fi);
        return;
    }
    if ((fi->flags & O_TRUNC) ? CutNow(req, "open O_TRUNC", ino, NULL) : Dead(req))
        return;
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    if (S_ISDIR(node->now.mode))
        FAIL(req, EISDIR);
    if ((fi->flags & O_TRUNC) && node->now.size > 0) {
        Resize(&node->now, 0);
        Touch(node);
    }
    fuse_reply_open(req, fi);
}

static void DoRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, struct fuse_file_info* fi)
{
    (void)fi;
    if (ino == CONTROL_INO) {
        snprintf(controlReply, sizeof controlReply, "ops %ld cut %ld fired %d\n", ops, cutAt, fired ? 1 : 0);
        const size_t length = strlen(controlReply);
        if ((size_t)offset >= length)
            size = 0;
        else if (size > length - (size_t)offset)
            size = length - (size_t)offset;
        fuse_reply_buf(req, controlReply + (size ? offset : 0), size);
        return;
    }
    if (Dead(req))
        return;
    const struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    if ((size_t)offset >= node->now.size) {
        fuse_reply_buf(req, NULL, 0);
        return;
    }
    if (size > node->now.size - (size_t)offset)
        size = node->now.size - (size_t)offset;
    fuse_reply_buf(req, node->now.data + offset, size);
}

static void DoWrite(fuse_req_t req, fuse_ino_t ino, const char* buffer, size_t size, off_t offset,
                    struct fuse_file_info* fi)
{
    if (ino == CONTROL_INO) {
        char line[128];
        const size_t length = size < sizeof line - 1 ? size : sizeof line - 1;
        memcpy(line, buffer, length);
        line[length] = '\0';
        Command(line);
        fuse_reply_write(req, size);
        return;
    }
    if (CutNow(req, "write", ino, NULL))
        return;
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    if (fi->flags & O_APPEND)
        offset = (off_t)node->now.size;
    if ((size_t)offset + size > node->now.size) {
        const int error = Resize(&node->now, (size_t)offset + size);
        if (error)
            FAIL(req, error);
    }
    memcpy(node->now.data + offset, buffer, size);
    Touch(node);
    fuse_reply_write(req, size);
}

static void DoFallocate(fuse_req_t req, fuse_ino_t ino, int mode, off_t offset, off_t length,
                        struct fuse_file_info* fi)
{
    (void)fi;
    if (CutNow(req, "fallocate", ino, NULL))
        return;
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    if (mode != 0)
        FAIL(req, EOPNOTSUPP);
    const size_t end = (size_t)(offset + length);
    fuse_reply_err(req, end > node->now.size ? Resize(&node->now, end) : 0);
}

/* fsync and fdatasync alike: the file's whole state now goes on disk. */
static void DoFsync(fuse_req_t req, fuse_ino_t ino, int datasync, struct fuse_file_info* fi)
{
    (void)fi;
    if (ino == CONTROL_INO)
        FAIL(req, 0);
    if (CutNow(req, datasync ? "fdatasync" : "fsync", ino, NULL))
        return;
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    CopyState(&node->disk, &node->now);
    fuse_reply_err(req, 0);
}

/* The folder's entries now go on disk (not the files they name). */
static void DoFsyncdir(fuse_req_t req, fuse_ino_t ino, int datasync, struct fuse_file_info* fi)
{
    (void)datasync;
    (void)fi;
    if (CutNow(req, "fsyncdir", ino, NULL))
        return;
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    CopyEntries(&node->diskEntries, &node->nowEntries);
    CopyState(&node->disk, &node->now);
    fuse_reply_err(req, 0);
}

static void DoFlush(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    (void)ino;
    (void)fi;
    if (ino != CONTROL_INO && Dead(req))
        return;
    fuse_reply_err(req, 0);
}

static void DoRelease(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    (void)ino;
    (void)fi;
    fuse_reply_err(req, 0);
}

static void DoOpendir(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    if (Dead(req))
        return;
    const struct inode* node = Node(ino);
    if (!node || !S_ISDIR(node->now.mode))
        FAIL(req, node ? ENOTDIR : ENOENT);
    fuse_reply_open(req, fi);
}

static void DoReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, struct fuse_file_info* fi)
{
    (void)fi;
    if (Dead(req))
        return;
    const struct inode* node = Node(ino);
    if (!node || !S_ISDIR(node->now.mode))
        FAIL(req, ENOENT);
    char* buffer = xmalloc(size);
    size_t used = 0;
    /* Offsets: 1 ".", 2 "..", then 3 + the entry's index. */
    for (off_t at = offset; at < (off_t)node->nowEntries.count + 2; ++at) {
        struct stat st;
        memset(&st, 0, sizeof st);
        const char* name;
        if (at < 2) {
            name = at == 0 ? "." : "..";
            st.st_ino = ino;
            st.st_mode = S_IFDIR;
        } else {
            const struct entry* item = &node->nowEntries.items[at - 2];
            name = item->name;
            st.st_ino = item->ino;
            st.st_mode = inodes[item->ino].now.mode;
        }
        const size_t need = fuse_add_direntry(req, buffer + used, size - used, name, &st, at + 1);
        if (need > size - used)
            break;
        used += need;
    }
    fuse_reply_buf(req, buffer, used);
    free(buffer);
}

static void DoReleasedir(fuse_req_t req, fuse_ino_t ino, struct fuse_file_info* fi)
{
    (void)ino;
    (void)fi;
    fuse_reply_err(req, 0);
}

static void DoStatfs(fuse_req_t req, fuse_ino_t ino)
{
    (void)ino;
    if (Dead(req))
        return;
    struct statvfs info;
    memset(&info, 0, sizeof info);
    info.f_bsize = info.f_frsize = 4096;
    info.f_blocks = info.f_bfree = info.f_bavail = 1 << 20;
    info.f_files = info.f_ffree = 1 << 20;
    info.f_namemax = 255;
    fuse_reply_statfs(req, &info);
}

static struct xattr* FindXattr(struct state* state, const char* name)
{
    for (size_t i = 0; i < state->xattrCount; ++i) {
        if (strcmp(state->xattrs[i].name, name) == 0)
            return &state->xattrs[i];
    }
    return NULL;
}

static void DoSetxattr(fuse_req_t req, fuse_ino_t ino, const char* name, const char* value, size_t size, int flags)
{
    if (CutNow(req, "setxattr", ino, name))
        return;
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    if (strncmp(name, "user.", 5) != 0 && strncmp(name, "trusted.", 8) != 0)
        FAIL(req, EOPNOTSUPP);
    struct xattr* found = FindXattr(&node->now, name);
    if ((flags & XATTR_CREATE) && found)
        FAIL(req, EEXIST);
    if ((flags & XATTR_REPLACE) && !found)
        FAIL(req, ENODATA);
    if (!found) {
        node->now.xattrs = realloc(node->now.xattrs, (node->now.xattrCount + 1) * sizeof *node->now.xattrs);
        if (!node->now.xattrs)
            abort();
        found = &node->now.xattrs[node->now.xattrCount++];
        found->name = xstrdup(name);
    } else {
        free(found->value);
    }
    found->value = xmalloc(size);
    memcpy(found->value, value, size);
    found->size = size;
    Now(&node->now.ctime);
    fuse_reply_err(req, 0);
}

static void DoGetxattr(fuse_req_t req, fuse_ino_t ino, const char* name, size_t size)
{
    if (ino == CONTROL_INO)
        FAIL(req, ENODATA);
    if (Dead(req))
        return;
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    const struct xattr* found = FindXattr(&node->now, name);
    if (!found)
        fuse_reply_err(req, ENODATA);
    else if (size == 0)
        fuse_reply_xattr(req, found->size);
    else if (size < found->size)
        fuse_reply_err(req, ERANGE);
    else
        fuse_reply_buf(req, found->value, found->size);
}

static void DoListxattr(fuse_req_t req, fuse_ino_t ino, size_t size)
{
    if (ino == CONTROL_INO) {
        fuse_reply_xattr(req, 0);
        return;
    }
    if (Dead(req))
        return;
    const struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    size_t total = 0;
    for (size_t i = 0; i < node->now.xattrCount; ++i)
        total += strlen(node->now.xattrs[i].name) + 1;
    if (size == 0) {
        fuse_reply_xattr(req, total);
        return;
    }
    if (size < total)
        FAIL(req, ERANGE);
    char* list = xmalloc(total);
    size_t at = 0;
    for (size_t i = 0; i < node->now.xattrCount; ++i) {
        const size_t length = strlen(node->now.xattrs[i].name) + 1;
        memcpy(list + at, node->now.xattrs[i].name, length);
        at += length;
    }
    fuse_reply_buf(req, list, total);
    free(list);
}

static void DoRemovexattr(fuse_req_t req, fuse_ino_t ino, const char* name)
{
    if (CutNow(req, "removexattr", ino, name))
        return;
    struct inode* node = Node(ino);
    if (!node)
        FAIL(req, ENOENT);
    struct xattr* found = FindXattr(&node->now, name);
    if (!found)
        FAIL(req, ENODATA);
    free(found->name);
    free(found->value);
    *found = node->now.xattrs[--node->now.xattrCount];
    Now(&node->now.ctime);
    fuse_reply_err(req, 0);
}

static const struct fuse_lowlevel_ops kOperations = {
    .init = DoInit,
    .lookup = DoLookup,
    .getattr = DoGetattr,
    .setattr = DoSetattr,
    .readlink = DoReadlink,
    .mknod = DoMknod,
    .mkdir = DoMkdir,
    .unlink = DoUnlink,
    .rmdir = DoRmdir,
    .symlink = DoSymlink,
    .rename = DoRename,
    .link = DoLink,
    .open = DoOpen,
    .read = DoRead,
    .write = DoWrite,
    .flush = DoFlush,
    .release = DoRelease,
    .fsync = DoFsync,
    .opendir = DoOpendir,
    .readdir = DoReaddir,
    .releasedir = DoReleasedir,
    .fsyncdir = DoFsyncdir,
    .statfs = DoStatfs,
    .setxattr = DoSetxattr,
    .getxattr = DoGetxattr,
    .listxattr = DoListxattr,
    .removexattr = DoRemovexattr,
    .create = DoCreate,
    .fallocate = DoFallocate,
};

int main(int argc, char* argv[])
{
    /* Inode 0 is no inode; 1 is the root, 2 the control file. */
    inodeCount = 1;
    inodes = calloc(1, sizeof *inodes);
    NewInode(NULL, S_IFDIR | 0755, NULL);
    NewInode(NULL, S_IFREG | 0600, NULL);
    inodes[CONTROL_INO].used = false;

    struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
    struct fuse_cmdline_opts options;
    if (fuse_parse_cmdline(&args, &options) != 0)
        return 2;
    if (!options.mountpoint) {
        fprintf(stderr, "usage: cutfs <mount point> [FUSE options]\n");
        return 2;
    }
    int status = 1;
    struct fuse_session* session = fuse_session_new(&args, &kOperations, sizeof kOperations, NULL);
    if (session && fuse_set_signal_handlers(session) == 0) {
        if (fuse_session_mount(session, options.mountpoint) == 0) {
            status = fuse_session_loop(session) == 0 ? 0 : 1;
            fuse_session_unmount(session);
        }
        fuse_remove_signal_handlers(session);
    }
    if (session)
        fuse_session_destroy(session);
    free(options.mountpoint);
    fuse_opt_free_args(&args);
    return status;
}
