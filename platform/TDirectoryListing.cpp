// Directory enumeration over opendir/readdir.
#include "platform/TDirectoryListing.h"

#include <cerrno>

namespace vantelo {

TDirectoryListing::~TDirectoryListing() { Close(); }

int TDirectoryListing::Open(const std::string& path) {
    Close();
    lastError_ = 0;
    dir_ = opendir(path.c_str());
    if (dir_ == nullptr) {
        lastError_ = errno != 0 ? errno : ENOENT;
        return lastError_;
    }
    return 0;
}

bool TDirectoryListing::Next(std::string& name) {
    if (dir_ == nullptr) return false;
    errno = 0;
    const dirent* entry = readdir(dir_);
    if (entry == nullptr) {
        lastError_ = errno;  // 0 at the end of the directory
        return false;
    }
    name.assign(entry->d_name);
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
