/* A fault-injection shim for the reliability suite, loaded with LD_PRELOAD.
 *
 * It sits in front of the C library's file-system calls that the rename
 * engine makes and, while armed, makes the Nth call of one chosen function
 * fail with a chosen errno, or kills the process at that call. It is driven
 * by the environment:
 *
 *   VANTELO_FAULT_CALL    the function to fail: one of the names in kCalls
 *                         below, or "openat_tmpfile" for an openat() that
 *                         asks for an unnamed O_TMPFILE file
 *   VANTELO_FAULT_NTH     which call of it fails, counting from 1 (0: none)
 *   VANTELO_FAULT_ERRNO   the errno it fails with, by name (EIO, ENOSPC...)
 *                         or number; EIO when unset
 *   VANTELO_FAULT_KILL    "1": SIGKILL the process at that call instead
 *   VANTELO_FAULT_ALWAYS  "call:ERRNO,call:ERRNO": calls that always fail
 *                         while armed (a kernel or file system without a
 *                         feature), counted apart from the one above
 *   VANTELO_FAULT_ARMED   "1": armed from the start
 *
 * A program arms and disarms the shim around the code under test by looking
 * up vantelo_faultshim_arm() with dlsym(), so that the test framework's own
 * output is neither counted nor failed. vantelo_faultshim_calls() tells how
 * many calls of VANTELO_FAULT_CALL were seen while armed: a run in which it
 * stays below VANTELO_FAULT_NTH never reached the fault.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

static int g_armed = -1; /* -1: environment not read yet */
static char g_call[64];
static long g_nth;
static int g_errno = EIO;
static int g_kill;
static long g_calls;
static int g_fired;

#define MAX_ALWAYS 8
static struct {
    char call[64];
    int error;
} g_always[MAX_ALWAYS];
static int g_alwaysCount;

static const struct {
    const char* name;
    int value;
} kErrnos[] = {
    {"EIO", EIO},         {"ENOSPC", ENOSPC},         {"EDQUOT", EDQUOT}, {"EACCES", EACCES}, {"EPERM", EPERM},
    {"EROFS", EROFS},     {"EINTR", EINTR},           {"ENOMEM", ENOMEM}, {"EMFILE", EMFILE}, {"ENOSYS", ENOSYS},
    {"EINVAL", EINVAL},   {"EOPNOTSUPP", EOPNOTSUPP}, {"EXDEV", EXDEV},   {"EMLINK", EMLINK}, {"ENOENT", ENOENT},
    {"EEXIST", EEXIST},   {"EBADF", EBADF},           {"EFBIG", EFBIG},
};

static int ParseErrno(const char* text) {
    if (!text || !*text) return EIO;
    for (size_t i = 0; i < sizeof kErrnos / sizeof kErrnos[0]; ++i) {
        if (strcmp(text, kErrnos[i].name) == 0) return kErrnos[i].value;
    }
    const int value = atoi(text);
    return value > 0 ? value : EIO;
}

static void ReadEnvironment(void) {
    if (g_armed >= 0) return;
    const char* call = getenv("VANTELO_FAULT_CALL");
    if (call) strncpy(g_call, call, sizeof g_call - 1);
    const char* nth = getenv("VANTELO_FAULT_NTH");
    g_nth = nth ? atol(nth) : 0;
    g_errno = ParseErrno(getenv("VANTELO_FAULT_ERRNO"));
    const char* kill = getenv("VANTELO_FAULT_KILL");
    g_kill = kill && strcmp(kill, "1") == 0;
    const char* always = getenv("VANTELO_FAULT_ALWAYS");
    if (always) {
        char list[512];
        strncpy(list, always, sizeof list - 1);
        list[sizeof list - 1] = '\0';
        char* save = NULL;
        for (char* item = strtok_r(list, ",", &save); item && g_alwaysCount < MAX_ALWAYS;
             item = strtok_r(NULL, ",", &save)) {
            char* colon = strchr(item, ':');
            if (colon) *colon = '\0';
            strncpy(g_always[g_alwaysCount].call, item, sizeof g_always[0].call - 1);
            g_always[g_alwaysCount].error = ParseErrno(colon ? colon + 1 : NULL);
            ++g_alwaysCount;
        }
    }
    const char* armed = getenv("VANTELO_FAULT_ARMED");
    g_armed = armed && strcmp(armed, "1") == 0;
}

void vantelo_faultshim_arm(int on) {
    ReadEnvironment();
    g_armed = on ? 1 : 0;
}

long vantelo_faultshim_calls(void) { return g_calls; }

int vantelo_faultshim_fired(void) { return g_fired; }

/* 0: let the call through; otherwise the errno it must fail with. */
static int Decide(const char* name) {
    ReadEnvironment();
    if (g_armed != 1) return 0;
    for (int i = 0; i < g_alwaysCount; ++i) {
        if (strcmp(g_always[i].call, name) == 0) return g_always[i].error;
    }
    if (strcmp(g_call, name) != 0) return 0;
    ++g_calls;
    if (g_nth <= 0 || g_calls != g_nth) return 0;
    g_fired = 1;
    if (g_kill) {
        kill(getpid(), SIGKILL);
        _exit(137);
    }
    return g_errno;
}

#define REAL(name) \
    static __typeof__(&name) real_##name; \
    if (!real_##name) real_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

#define FAIL_IF(name, failed) \
    do { \
        const int fault_ = Decide(name); \
        if (fault_) { \
            errno = fault_; \
            return failed; \
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
        const int fault = Decide("openat_tmpfile");
        if (fault) return fault;
    }
    return Decide("openat");
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
    const int fault = Decide("close");
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
    FAIL_IF("copy_file_range", -1);
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
    FAIL_IF("pread", -1);
    REAL(pread);
    return real_pread(fd, buffer, size, offset);
}

ssize_t pread64(int fd, void* buffer, size_t size, off64_t offset) {
    FAIL_IF("pread", -1);
    REAL(pread64);
    return real_pread64(fd, buffer, size, offset);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    FAIL_IF("pwrite", -1);
    REAL(pwrite);
    return real_pwrite(fd, buffer, size, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t size, off64_t offset) {
    FAIL_IF("pwrite", -1);
    REAL(pwrite64);
    return real_pwrite64(fd, buffer, size, offset);
}

ssize_t write(int fd, const void* buffer, size_t size) {
    FAIL_IF("write", -1);
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
