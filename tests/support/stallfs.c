/* A tiny FUSE file system for the tests that can stop answering on command,
 * like a network server or FUSE daemon that hangs.
 *
 *   stallfs <stall file> <mount point> [FUSE options]   (-f -s: foreground, one thread)
 *
 * It holds a folder "inside" and a file "file.txt" ("hello"). While the
 * stall file exists, every call that reaches it waits (statfs and stat of
 * the mount point included); removing the file lets them go on. A file,
 * unlike signals, keeps the order of the commands. SIGTERM ends it once it
 * answers again. */
#define FUSE_USE_VERSION 31

#include <errno.h>
#include <fuse.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static const char* stall_file;

static void wait_while_stalled(void)
{
    const struct timespec step = {0, 10 * 1000 * 1000};
    while (access(stall_file, F_OK) == 0)
        nanosleep(&step, NULL);
}

static const char kContent[] = "hello";

static int do_getattr(const char* path, struct stat* info, struct fuse_file_info* file)
{
    (void)file;
    wait_while_stalled();
    memset(info, 0, sizeof *info);
    if (strcmp(path, "/") == 0 || strcmp(path, "/inside") == 0) {
        info->st_mode = S_IFDIR | 0755;
        info->st_nlink = 2;
        return 0;
    }
    if (strcmp(path, "/file.txt") == 0) {
        info->st_mode = S_IFREG | 0644;
        info->st_nlink = 1;
        info->st_size = sizeof kContent - 1;
        return 0;
    }
    return -ENOENT;
}

static int do_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                      struct fuse_file_info* file, enum fuse_readdir_flags flags)
{
    (void)offset;
    (void)file;
    (void)flags;
    wait_while_stalled();
    if (strcmp(path, "/") != 0 && strcmp(path, "/inside") != 0)
        return -ENOENT;
    fill(buffer, ".", NULL, 0, 0);
    fill(buffer, "..", NULL, 0, 0);
    if (strcmp(path, "/") == 0) {
        fill(buffer, "inside", NULL, 0, 0);
        fill(buffer, "file.txt", NULL, 0, 0);
    }
    return 0;
}

static int do_open(const char* path, struct fuse_file_info* file)
{
    (void)file;
    wait_while_stalled();
    return strcmp(path, "/file.txt") == 0 ? 0 : -ENOENT;
}

static int do_read(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* file)
{
    (void)path;
    (void)file;
    wait_while_stalled();
    const size_t length = sizeof kContent - 1;
    if ((size_t)offset >= length)
        return 0;
    if (size > length - (size_t)offset)
        size = length - (size_t)offset;
    memcpy(buffer, kContent + offset, size);
    return (int)size;
}

static int do_statfs(const char* path, struct statvfs* info)
{
    (void)path;
    wait_while_stalled();
    memset(info, 0, sizeof *info);
    info->f_bsize = 4096;
    info->f_namemax = 255;
    return 0;
}

static int do_access(const char* path, int mask)
{
    (void)path;
    (void)mask;
    wait_while_stalled();
    return 0;
}

static const struct fuse_operations kOperations = {
    .getattr = do_getattr,
    .open = do_open,
    .read = do_read,
    .statfs = do_statfs,
    .readdir = do_readdir,
    .access = do_access,
};

int main(int argc, char* argv[])
{
    if (argc < 3) {
        fprintf(stderr, "usage: stallfs <stall file> <mount point> [FUSE options]\n");
        return 2;
    }
    stall_file = argv[1];
    argv[1] = argv[0];
    return fuse_main(argc - 1, argv + 1, &kOperations, NULL);
}
