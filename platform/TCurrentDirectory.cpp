#include "platform/TCurrentDirectory.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/EInOutError.h"
#include "platform/TDrives.h"

namespace vantelo {

std::string TCurrentDirectory::Get()
{
    std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
    if (!path)
        throw EInOutError::FromErrno(errno);
    return path.get();
}

std::string TCurrentDirectory::Set(const std::string& path)
{
    if (chdir(path.c_str()) != 0)
        throw EInOutError::FromErrno(errno);
    std::string current = Get();
    TDrives::RememberFolder(current);
    return current;
}

bool TCurrentDirectory::DirectoryExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool TCurrentDirectory::FileExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace vantelo
