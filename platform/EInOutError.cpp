#include "platform/EInOutError.h"

#include <cerrno>

namespace vantelo {

EInOutError::EInOutError(int errorCode) : EInOutError(errorCode, MessageForCode(errorCode)) {}

EInOutError::EInOutError(int errorCode, std::string message) : Exception(std::move(message)), errorCode_(errorCode) {}

EInOutError EInOutError::FromErrno(int error)
{
    const int code = ErrorCodeForErrno(error);
    // Without a number of its own the errno is shown as it is; it must not be
    // read through the table, where e.g. EIO (5) would say "File access denied".
    if (code == 0)
        return EInOutError(error, Format(texts::kIoErrorFormat, error));
    return EInOutError(code);
}

std::string EInOutError::MessageForCode(int errorCode)
{
    switch (errorCode) {
    case 2:
        return texts::kFileNotFound;
    case 3:
        return texts::kInvalidFilename;
    case 4:
        return texts::kTooManyOpenFiles;
    case 5:
        return texts::kFileAccessDenied;
    case 100:
        return texts::kReadBeyondEndOfFile;
    case 101:
        return texts::kDiskFull;
    case 106:
        return texts::kInvalidNumericInput;
    default:
        return Format(texts::kIoErrorFormat, errorCode);
    }
}

int EInOutError::ErrorCodeForErrno(int error) noexcept
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return 2;
    case ENAMETOOLONG:
    case EINVAL:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
        return 5;
    case ENOSPC:
        return 101;
    default:
        return 0;
    }
}

std::string EInOutError::MessageForErrno(int error)
{
    return FromErrno(error).Message();
}

}  // namespace vantelo
