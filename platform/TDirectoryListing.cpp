// Directory enumeration over open/fdopendir/readdir.
#include "platform/TDirectoryListing.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vantelo {

TDirectoryListing::~TDirectoryListing() { Close(); }

int TDirectoryListing::OpenFolder(const std::string& path, int flags) {
    flags |= O_DIRECTORY | O_CLOEXEC;
    const int fd = open(path.c_str(), flags);
    if (fd >= 0 || errno != ENAMETOOLONG) return fd;
    // Too long for one call: one folder at a time. The steps on the way only
    // need to be searched, so they are opened as paths.
    int at = open(!path.empty() && path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    size_t start = 0;
    while (at >= 0) {
        while (start < path.size() && path[start] == '/') ++start;
        if (start >= path.size()) {
            // The last step names the folder itself: open it as asked.
            const int last = openat(at, ".", flags);
            const int error = errno;
            close(at);
            errno = error;
            return last;
        }
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(start, end - start);
        const int next = openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        close(at);
        errno = error;
        at = next;
        start = end;
    }
    return -1;
}

int TDirectoryListing::Open(const std::string& path) {
    Close();
    lastError_ = 0;
    entryType_ = DT_UNKNOWN;
    if (path.empty()) {
        lastError_ = ENOENT;
        return lastError_;
    }
    const int fd = OpenFolder(path, O_RDONLY);
    if (fd >= 0) {
        dir_ = fdopendir(fd);
        if (dir_ == nullptr) {
            const int error = errno;
            close(fd);
            errno = error;
        }
    }
    if (dir_ == nullptr) {
        lastError_ = errno != 0 ? errno : ENOENT;
        return lastError_;
    }
    return 0;
}

int TDirectoryListing::Descriptor() const { return dir_ != nullptr ? dirfd(dir_) : -1; }

bool TDirectoryListing::Next(std::string& name) {
    if (dir_ == nullptr) return false;
    errno = 0;
    const dirent* entry = readdir(dir_);
    if (entry == nullptr) {
        lastError_ = errno;  // 0 at the end of the directory
        entryType_ = DT_UNKNOWN;
        return false;
    }
    name.assign(entry->d_name);
    entryType_ = entry->d_type;
    return true;
}

void TDirectoryListing::Close() {
    if (dir_ != nullptr) {
        closedir(dir_);
        dir_ = nullptr;
    }
}

int TDirectoryListing::ReadAll(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    TDirectoryListing listing;
    if (const int error = listing.Open(path)) return error;
    std::string name;
    while (listing.Next(name)) names.push_back(name);
    if (listing.LastError() != 0) {
        names.clear();
        return listing.LastError();
    }
    return 0;
}

}  // namespace vantelo
