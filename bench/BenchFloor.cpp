// bench-libs:
// The kernel's part of a batch rename and nothing else: the floor the tool's
// own figures are held against (BenchRenameDriver runs it beside the tool).
//
//   BenchFloor rename FROM TO   in the current folder: list it, then give every
//                               name holding FROM the name with its first FROM
//                               replaced by TO, one renameat2(RENAME_NOREPLACE)
//                               a name
//   BenchFloor copy FROM TO     the same names, each file copied under its new
//                               name instead: an exclusive create, one FICLONE
//                               (else copy_file_range), the mode and the times
//
// No check, no journal, no flush: what is left when every safety rule is
// taken away. Exit status 0, or 1 with the first failure on standard error.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& what)
{
    std::fprintf(stderr, "BenchFloor: %s: %s\n", what.c_str(), std::strerror(errno));
    return 1;
}

int CopyOne(int dirFd, const char* from, const char* to)
{
    const int in = openat(dirFd, from, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (in < 0 || fstat(in, &st) != 0)
        return -1;
    const int out = openat(dirFd, to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0)
        return -1;
    if (ioctl(out, FICLONE, in) != 0) {
        for (off_t left = st.st_size; left > 0;) {
            const ssize_t done = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
            if (done <= 0)
                return -1;
            left -= done;
        }
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (fchmod(out, st.st_mode & 07777) != 0 || futimens(out, times) != 0)
        return -1;
    close(out);
    close(in);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || (std::strcmp(argv[1], "rename") != 0 && std::strcmp(argv[1], "copy") != 0)) {
        std::fprintf(stderr, "usage: %s rename|copy FROM TO\n", argv[0]);
        return 2;
    }
    const bool copy = std::strcmp(argv[1], "copy") == 0;
    const std::string from = argv[2], to = argv[3];
    DIR* dir = opendir(".");
    if (!dir)
        return Fail("opendir");
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir))
        if (std::strstr(entry->d_name, from.c_str()))
            names.emplace_back(entry->d_name);
    const int dirFd = dirfd(dir);
    std::string newName;
    for (const std::string& name : names) {
        newName = name;
        newName.replace(newName.find(from), from.size(), to);
        const int result = copy ? CopyOne(dirFd, name.c_str(), newName.c_str())
                                : renameat2(dirFd, name.c_str(), dirFd, newName.c_str(), RENAME_NOREPLACE);
        if (result != 0)
            return Fail(name);
    }
    closedir(dir);
    return 0;
}
