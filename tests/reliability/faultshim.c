/* A fault-injection shim for the reliability suite, loaded with LD_PRELOAD.
 *
 * It sits in front of the C library's file-system calls that the rename
 * engine makes and, while armed, makes the chosen calls of one function
 * fail with an errno, return a short count or nothing, kill the process, or
 * sleep first. It is driven by the environment:
 *
 *   VANTELO_FAULT_CALL    the function to act on: a name of a hook below
 *                         ("open" for open/open64, "pread" for
 *                         pread/pread64 and the like), or "openat_tmpfile"
 *                         for an openat() that asks for an unnamed O_TMPFILE
 *                         file
 *   VANTELO_FAULT_NTH     which calls of it, counting from 1: a number, or a
 *                         list of numbers and ranges ("3", "2,5,9", "4-7",
 *                         "10-" for the 10th on); 0 or unset: none
 *   VANTELO_FAULT_MODE    what a chosen call does:
 *                           errno  fail with VANTELO_FAULT_ERRNO (the default)
 *                           kill   SIGKILL the process at the call
 *                           short  do only part of the work and return its
 *                                  count: half the bytes asked for (at least
 *                                  one), or VANTELO_FAULT_SHORT bytes when set;
 *                                  a call asking for one byte or less goes
 *                                  through whole
 *                           zero   return 0 without doing anything ("nothing
 *                                  copied", or end of file for a read)
 *                           delay  sleep VANTELO_FAULT_DELAY_MS (default 10)
 *                                  milliseconds, then make the call
 *                         short and zero apply to the calls that return a
 *                         count (read, pread, write, pwrite, copy_file_range,
 *                         sendfile, getdents64); any other call goes through
 *   VANTELO_FAULT_ERRNO   the errno of the errno mode, by name (EIO,
 *                         ENOSPC...) or number; EIO when unset
 *   VANTELO_FAULT_KILL    "1": the same as VANTELO_FAULT_MODE=kill
 *   VANTELO_FAULT_SHORT   the byte count of the short mode
 *   VANTELO_FAULT_DELAY_MS  the sleep of the delay mode
 *   VANTELO_FAULT_ALWAYS  "call:ERRNO,call:ERRNO": calls that always fail
 *                         while armed (a kernel or file system without a
 *                         feature), counted apart from the one above
 *   VANTELO_FAULT_DELAY   "call:MS,call:MS": calls that always sleep that
 *                         many milliseconds first while armed (a slow disk),
 *                         counted apart from the one above
 *   VANTELO_FAULT_ARMED   "1": armed from the start
 *
 * A program arms and disarms the shim around the code under test by looking
 * up vantelo_faultshim_arm() with dlsym(), so that the test framework's own
 * output is neither counted nor failed. vantelo_faultshim_calls() tells how
 * many calls of VANTELO_FAULT_CALL were seen while armed: a run in which it
 * stays below the first chosen call never reached the fault, and
 * vantelo_faultshim_fired() tells whether a chosen call was acted on.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

enum Mode { kModeErrno, kModeKill, kModeShort, kModeZero, kModeDelay };

/* What a hook does with the call in front of it. */
enum Action { kPass, kFail, kShort, kZero };

static int g_armed = -1; /* -1: environment not read yet */
static char g_call[64];
static int g_mode = kModeErrno;
static int g_errno = EIO;
static long g_short;    /* 0: half of what is asked */
static long g_delayMs = 10;
static long g_calls;
static int g_fired;

/* The chosen call numbers: ranges first..last, last < 0 for "and on". */
#define MAX_RANGES 16
static struct {
    long first;
    long last;
} g_ranges[MAX_RANGES];
static int g_rangeCount;

#define MAX_LISTED 8
struct Listed {
    char call[64];
    long value;
};
static struct Listed g_always[MAX_LISTED]; /* value: errno */
static int g_alwaysCount;
static struct Listed g_delays[MAX_LISTED]; /* value: milliseconds */
static int g_delayCount;

static const struct {
    const char* name;
    int value;
} kErrnos[] = {
    {"EIO", EIO},         {"ENOSPC", ENOSPC},         {"EDQUOT", EDQUOT}, {"EACCES", EACCES}, {"EPERM", EPERM},
    {"EROFS", EROFS},     {"EINTR", EINTR},           {"ENOMEM", ENOMEM}, {"EMFILE", EMFILE}, {"ENOSYS", ENOSYS},
    {"EINVAL", EINVAL},   {"EOPNOTSUPP", EOPNOTSUPP}, {"EXDEV", EXDEV},   {"EMLINK", EMLINK}, {"ENOENT", ENOENT},
    {"EEXIST", EEXIST},   {"EBADF", EBADF},           {"EFBIG", EFBIG},   {"EBUSY", EBUSY},   {"EAGAIN", EAGAIN},
};

static int ParseErrno(const char* text) {
    if (!text || !*text) return EIO;
    for (size_t i = 0; i < sizeof kErrnos / sizeof kErrnos[0]; ++i) {
        if (strcmp(text, kErrnos[i].name) == 0) return kErrnos[i].value;
    }
    const int value = atoi(text);
    return value > 0 ? value : EIO;
}

static long ParseDelay(const char* text) {
    const long value = text ? atol(text) : 0;
    return value > 0 ? value : 10;
}

/* "call:value,call:value" into `list`; returns the entries read. */
static int ParseList(const char* text, struct Listed* list, long (*value)(const char*)) {
    if (!text) return 0;
    char copy[512];
    strncpy(copy, text, sizeof copy - 1);
    copy[sizeof copy - 1] = '\0';
    int count = 0;
    char* save = NULL;
    for (char* item = strtok_r(copy, ",", &save); item && count < MAX_LISTED; item = strtok_r(NULL, ",", &save)) {
        char* colon = strchr(item, ':');
        if (colon) *colon = '\0';
        strncpy(list[count].call, item, sizeof list[0].call - 1);
        list[count].value = value(colon ? colon + 1 : NULL);
        ++count;
    }
    return count;
}

static long ErrnoValue(const char* text) { return ParseErrno(text); }

/* "3", "2,5,9", "4-7", "10-" */
static void ParseRanges(const char* text) {
    if (!text) return;
    char copy[256];
    strncpy(copy, text, sizeof copy - 1);
    copy[sizeof copy - 1] = '\0';
    char* save = NULL;
    for (char* item = strtok_r(copy, ",", &save); item && g_rangeCount < MAX_RANGES;
         item = strtok_r(NULL, ",", &save)) {
        char* dash = strchr(item, '-');
        const long first = atol(item);
        if (first <= 0) continue;
        long last = first;
        if (dash) last = dash[1] ? atol(dash + 1) : -1;
        g_ranges[g_rangeCount].first = first;
        g_ranges[g_rangeCount].last = last;
        ++g_rangeCount;
    }
}

static int Chosen(long call) {
    for (int i = 0; i < g_rangeCount; ++i) {
        if (call >= g_ranges[i].first && (g_ranges[i].last < 0 || call <= g_ranges[i].last)) return 1;
    }
    return 0;
}

static void ReadEnvironment(void) {
    if (g_armed >= 0) return;
    const char* call = getenv("VANTELO_FAULT_CALL");
    if (call) strncpy(g_call, call, sizeof g_call - 1);
    ParseRanges(getenv("VANTELO_FAULT_NTH"));
    g_errno = ParseErrno(getenv("VANTELO_FAULT_ERRNO"));
    const char* mode = getenv("VANTELO_FAULT_MODE");
    if (mode && strcmp(mode, "kill") == 0) g_mode = kModeKill;
    if (mode && strcmp(mode, "short") == 0) g_mode = kModeShort;
    if (mode && strcmp(mode, "zero") == 0) g_mode = kModeZero;
    if (mode && strcmp(mode, "delay") == 0) g_mode = kModeDelay;
    const char* kill = getenv("VANTELO_FAULT_KILL");
    if (kill && strcmp(kill, "1") == 0) g_mode = kModeKill;
    const char* shortCount = getenv("VANTELO_FAULT_SHORT");
    g_short = shortCount ? atol(shortCount) : 0;
    g_delayMs = ParseDelay(getenv("VANTELO_FAULT_DELAY_MS"));
    g_alwaysCount = ParseList(getenv("VANTELO_FAULT_ALWAYS"), g_always, ErrnoValue);
    g_delayCount = ParseList(getenv("VANTELO_FAULT_DELAY"), g_delays, ParseDelay);
    const char* armed = getenv("VANTELO_FAULT_ARMED");
    g_armed = armed && strcmp(armed, "1") == 0;
}

void vantelo_faultshim_arm(int on) {
    ReadEnvironment();
    g_armed = on ? 1 : 0;
}

long vantelo_faultshim_calls(void) { return g_calls; }

int vantelo_faultshim_fired(void) { return g_fired; }

static void SleepMs(long ms) {
    struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

/* What the call `name` does; *error is the errno of kFail. */
static int Decide(const char* name, int* error) {
    ReadEnvironment();
    if (g_armed != 1) return kPass;
    const int saved = errno;
    for (int i = 0; i < g_delayCount; ++i) {
        if (strcmp(g_delays[i].call, name) == 0) SleepMs(g_delays[i].value);
    }
    errno = saved;
    for (int i = 0; i < g_alwaysCount; ++i) {
        if (strcmp(g_always[i].call, name) == 0) {
            *error = (int)g_always[i].value;
            return kFail;
        }
    }
    if (strcmp(g_call, name) != 0) return kPass;
    ++g_calls;
    if (!Chosen(g_calls)) return kPass;
    g_fired = 1;
    switch (g_mode) {
    case kModeKill:
        kill(getpid(), SIGKILL);
        _exit(137);
    case kModeShort:
        return kShort;
    case kModeZero:
        return kZero;
    case kModeDelay:
        SleepMs(g_delayMs);
        errno = saved;
        return kPass;
    default:
        *error = g_errno;
        return kFail;
    }
}

/* 0: let the call through (a short or zero answer does not apply to it);
   otherwise the errno it must fail with. */
static int FaultOf(const char* name) {
    int error = 0;
    return Decide(name, &error) == kFail ? error : 0;
}

/* The byte count a short call may move out of `size`. */
static size_t ShortOf(size_t size) {
    if (g_short > 0) return (size_t)g_short < size ? (size_t)g_short : size;
    return size > 1 ? size / 2 : size;
}

#define REAL(name) \
    static __typeof__(&name) real_##name; \
    if (!real_##name) real_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

#define FAIL_IF(name, failed) \
    do { \
        const int fault_ = FaultOf(name); \
        if (fault_) { \
            errno = fault_; \
            return failed; \
        } \
    } while (0)

/* For a call that moves `size` units and returns how many it moved: fails,
   returns 0, or shrinks `size` before the real call is made. */
#define COUNT_IF(name, size) \
    do { \
        int error_ = 0; \
        switch (Decide(name, &error_)) { \
        case kFail: \
            errno = error_; \
            return -1; \
        case kZero: \
            return 0; \
        case kShort: \
            size = ShortOf(size); \
            break; \
        default: \
            break; \
        } \
    } while (0)

static mode_t ModeArg(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE ? (mode_t)va_arg(args, int) : 0;
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    FAIL_IF("open", -1);
    REAL(open);
    return real_open(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    FAIL_IF("open", -1);
    REAL(open64);
    return real_open64(path, flags, mode);
}

static int OpenAtFault(int flags) {
    if ((flags & __O_TMPFILE) == __O_TMPFILE) {
        const int fault = FaultOf("openat_tmpfile");
        if (fault) return fault;
    }
    return FaultOf("openat");
}

int openat(int dirFd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    const int fault = OpenAtFault(flags);
    if (fault) {
        errno = fault;
        return -1;
    }
    REAL(openat);
    return real_openat(dirFd, path, flags, mode);
}

int openat64(int dirFd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    const int fault = OpenAtFault(flags);
    if (fault) {
        errno = fault;
        return -1;
    }
    REAL(openat64);
    return real_openat64(dirFd, path, flags, mode);
}

/* Linux releases the descriptor even when close() reports an error. */
int close(int fd) {
    REAL(close);
    const int fault = FaultOf("close");
    const int result = real_close(fd);
    if (fault) {
        errno = fault;
        return -1;
    }
    return result;
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    FAIL_IF("linkat", -1);
    REAL(linkat);
    return real_linkat(fromDir, from, toDir, to, flags);
}

int unlinkat(int dirFd, const char* path, int flags) {
    FAIL_IF("unlinkat", -1);
    REAL(unlinkat);
    return real_unlinkat(dirFd, path, flags);
}

int symlinkat(const char* target, int dirFd, const char* path) {
    FAIL_IF("symlinkat", -1);
    REAL(symlinkat);
    return real_symlinkat(target, dirFd, path);
}

ssize_t readlinkat(int dirFd, const char* path, char* buffer, size_t size) {
    FAIL_IF("readlinkat", -1);
    REAL(readlinkat);
    return real_readlinkat(dirFd, path, buffer, size);
}

int fsync(int fd) {
    FAIL_IF("fsync", -1);
    REAL(fsync);
    return real_fsync(fd);
}

/* The database syncs its files with fdatasync and removes its journals with
   unlink, so both are swept as well. */
int fdatasync(int fd) {
    FAIL_IF("fdatasync", -1);
    REAL(fdatasync);
    return real_fdatasync(fd);
}

int unlink(const char* path) {
    FAIL_IF("unlink", -1);
    REAL(unlink);
    return real_unlink(path);
}

ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t length,
                        unsigned int flags) {
    COUNT_IF("copy_file_range", length);
    REAL(copy_file_range);
    return real_copy_file_range(in, inOffset, out, outOffset, length, flags);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    FAIL_IF("ioctl", -1);
    REAL(ioctl);
    return real_ioctl(fd, request, argument);
}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
    COUNT_IF("pread", size);
    REAL(pread);
    return real_pread(fd, buffer, size, offset);
}

ssize_t pread64(int fd, void* buffer, size_t size, off64_t offset) {
    COUNT_IF("pread", size);
    REAL(pread64);
    return real_pread64(fd, buffer, size, offset);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    COUNT_IF("pwrite", size);
    REAL(pwrite);
    return real_pwrite(fd, buffer, size, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t size, off64_t offset) {
    COUNT_IF("pwrite", size);
    REAL(pwrite64);
    return real_pwrite64(fd, buffer, size, offset);
}

ssize_t write(int fd, const void* buffer, size_t size) {
    COUNT_IF("write", size);
    REAL(write);
    return real_write(fd, buffer, size);
}

int ftruncate(int fd, off_t length) {
    FAIL_IF("ftruncate", -1);
    REAL(ftruncate);
    return real_ftruncate(fd, length);
}

int ftruncate64(int fd, off64_t length) {
    FAIL_IF("ftruncate", -1);
    REAL(ftruncate64);
    return real_ftruncate64(fd, length);
}

off_t lseek(int fd, off_t offset, int whence) {
    FAIL_IF("lseek", -1);
    REAL(lseek);
    return real_lseek(fd, offset, whence);
}

off64_t lseek64(int fd, off64_t offset, int whence) {
    FAIL_IF("lseek", -1);
    REAL(lseek64);
    return real_lseek64(fd, offset, whence);
}

int fstat(int fd, struct stat* st) {
    FAIL_IF("fstat", -1);
    REAL(fstat);
    return real_fstat(fd, st);
}

int fstat64(int fd, struct stat64* st) {
    FAIL_IF("fstat", -1);
    REAL(fstat64);
    return real_fstat64(fd, st);
}

int fstatat(int dirFd, const char* path, struct stat* st, int flags) {
    FAIL_IF("fstatat", -1);
    REAL(fstatat);
    return real_fstatat(dirFd, path, st, flags);
}

int fstatat64(int dirFd, const char* path, struct stat64* st, int flags) {
    FAIL_IF("fstatat", -1);
    REAL(fstatat64);
    return real_fstatat64(dirFd, path, st, flags);
}

int fchmod(int fd, mode_t mode) {
    FAIL_IF("fchmod", -1);
    REAL(fchmod);
    return real_fchmod(fd, mode);
}

int futimens(int fd, const struct timespec times[2]) {
    FAIL_IF("futimens", -1);
    REAL(futimens);
    return real_futimens(fd, times);
}

int utimensat(int dirFd, const char* path, const struct timespec times[2], int flags) {
    FAIL_IF("utimensat", -1);
    REAL(utimensat);
    return real_utimensat(dirFd, path, times, flags);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    FAIL_IF("fsetxattr", -1);
    REAL(fsetxattr);
    return real_fsetxattr(fd, name, value, size, flags);
}

ssize_t read(int fd, void* buffer, size_t size) {
    COUNT_IF("read", size);
    REAL(read);
    return real_read(fd, buffer, size);
}

ssize_t sendfile(int out, int in, off_t* offset, size_t count) {
    COUNT_IF("sendfile", count);
    REAL(sendfile);
    return real_sendfile(out, in, offset, count);
}

ssize_t sendfile64(int out, int in, off64_t* offset, size_t count) {
    COUNT_IF("sendfile", count);
    REAL(sendfile64);
    return real_sendfile64(out, in, offset, count);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    FAIL_IF("renameat", -1);
    REAL(renameat);
    return real_renameat(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
    FAIL_IF("renameat2", -1);
    REAL(renameat2);
    return real_renameat2(fromDir, from, toDir, to, flags);
}

ssize_t getdents64(int fd, void* buffer, size_t size) {
    COUNT_IF("getdents64", size);
    REAL(getdents64);
    return real_getdents64(fd, buffer, size);
}

/* A failed readdir returns NULL with errno set; the end of the directory
   leaves errno alone. */
struct dirent* readdir(DIR* dir) {
    FAIL_IF("readdir", NULL);
    REAL(readdir);
    return real_readdir(dir);
}

struct dirent64* readdir64(DIR* dir) {
    FAIL_IF("readdir", NULL);
    REAL(readdir64);
    return real_readdir64(dir);
}
