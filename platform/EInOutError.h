// The I/O error: raised when the file system refuses an operation of the
// directory chooser (making a folder current, reading the current folder).
// It carries the error number shown to the user and a fixed English text for
// the numbers the tool knows; the platform's errno is mapped onto those
// numbers, and any other errno is shown as "I/O error <errno>".
#pragma once

#include <string>

#include "platform/Exception.h"

namespace vantelo {

namespace texts {
inline constexpr const char* kFileNotFound = "File not found";
inline constexpr const char* kInvalidFilename = "Invalid filename";
inline constexpr const char* kTooManyOpenFiles = "Too many open files";
inline constexpr const char* kFileAccessDenied = "File access denied";
inline constexpr const char* kReadBeyondEndOfFile = "Read beyond end of file";
inline constexpr const char* kDiskFull = "Disk full";
inline constexpr const char* kInvalidNumericInput = "Invalid numeric input";
inline constexpr const char* kIoErrorFormat = "I/O error %d";
}  // namespace texts

class EInOutError : public Exception {
public:
    // An error with the tool's error number and the message of that number
    // (MessageForCode).
    explicit EInOutError(int errorCode);
    // The error for a failed system call's errno (ErrorCodeForErrno decides
    // the number; an errno that has no number of its own keeps its value and
    // reads "I/O error <errno>").
    static EInOutError FromErrno(int error);

    const char* ClassName() const noexcept override { return "EInOutError"; }
    // The tool's error number: 2, 3, 4, 5, 101, or the errno itself.
    int ErrorCode() const noexcept { return errorCode_; }

    // The message of a tool error number: the table texts for 2, 3, 4, 5,
    // 100, 101 and 106, "I/O error <n>" for any other number.
    static std::string MessageForCode(int errorCode);
    // The tool's error number for an errno: ENOENT/ENOTDIR 2,
    // ENAMETOOLONG/EINVAL 3, EMFILE/ENFILE 4, EACCES/EPERM 5, ENOSPC 101;
    // 0 for any other errno (it has no number of its own).
    static int ErrorCodeForErrno(int error) noexcept;
    // The message shown for an errno: the mapped number's text, else
    // "I/O error <errno>".
    static std::string MessageForErrno(int error);

private:
    EInOutError(int errorCode, std::string message);
    int errorCode_;
};

}  // namespace vantelo
