#include "platform/TCurrentDirectory.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string_view>

#include "platform/EInOutError.h"
#include "platform/TDirectoryListing.h"
#include "platform/TDrives.h"

namespace vantelo {

std::string TCurrentDirectory::Get()
{
    std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
    if (!path)
        throw EInOutError::FromErrno(errno);
    return path.get();
}

std::string TCurrentDirectory::GetOrNearestParent()
{
    std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
    if (path)
        return path.get();
    if (errno != ENOENT)
        throw EInOutError::FromErrno(errno);
    // The folder is gone. The system still knows where it was.
    std::error_code error;
    const std::string link = std::filesystem::read_symlink("/proc/self/cwd", error).string();
    const std::string_view deleted = " (deleted)";
    std::string_view gone = link;
    if (gone.ends_with(deleted))
        gone.remove_suffix(deleted.size());
    if (error || gone.empty() || gone[0] != '/')
        gone = "/";
    for (std::string parent(gone);;) {
        const size_t slash = parent.find_last_of('/');
        parent = slash == 0 || slash == std::string::npos ? std::string("/") : parent.substr(0, slash);
        if (parent == "/" || DirectoryExists(parent)) {
            try {
                return Set(parent);
            } catch (const EInOutError&) {
                if (parent == "/")
                    throw;
            }
        }
    }
}

std::string TCurrentDirectory::Change(const std::string& path)
{
    if (chdir(path.c_str()) != 0) {
        if (errno != ENAMETOOLONG)
            throw EInOutError::FromErrno(errno);
        // Longer than one call takes: reached one folder at a time.
        const int fd = TDirectoryListing::OpenFolder(path, O_PATH);
        if (fd < 0)
            throw EInOutError::FromErrno(errno);
        const int result = fchdir(fd);
        const int error = errno;
        close(fd);
        if (result != 0)
            throw EInOutError::FromErrno(error);
    }
    return Get();
}

std::string TCurrentDirectory::Set(const std::string& path)
{
    std::string current = Change(path);
    TDrives::RememberFolder(current);
    return current;
}

std::string TCurrentDirectory::SetTemporarily(const std::string& path)
{
    return Change(path);
}

bool TCurrentDirectory::DirectoryExists(const std::string& path)
{
    struct stat info {};
    if (path.empty())
        return false;
    if (stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    if (errno != ENAMETOOLONG)
        return false;
    const int fd = TDirectoryListing::OpenFolder(path, O_PATH);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

bool TCurrentDirectory::FileExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace vantelo
