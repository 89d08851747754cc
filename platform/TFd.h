// An owned file descriptor, closed when its owner goes.
#pragma once

#include "platform/TFileIdentity.h"

#include <string>
#include <utility>

namespace vantelo {

class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() { Reset(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    TFd(TFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    TFd& operator=(TFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int Get() const { return fd_; }
    // Closes now and reports the result: a failed close can mean lost data.
    int Close();
    // Closes without asking how it went.
    void Reset();

    // Opens the directory at `path` for calls on its entries by name. With
    // `expected`, another directory standing at that path is refused with
    // ESTALE. Returns 0 with `fd` and `identity` filled, or errno.
    static int OpenDirectory(const std::string& path, const TFileIdentity* expected, TFd& fd,
                             TFileIdentity& identity);

private:
    int fd_;
};

}  // namespace vantelo
