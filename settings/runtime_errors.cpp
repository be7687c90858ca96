#include "runtime_errors.h"

#include <cerrno>

namespace {

std::string InOutMessage(int code) {
    switch (code) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 100:
        return "Read beyond end of file";
    case 101:
        return "Disk full";
    case 106:
        return "Invalid numeric input";
    default:
        return "I/O error " + std::to_string(code);
    }
}

} // namespace

EInOutError::EInOutError(int code) : std::runtime_error(InOutMessage(code)), ErrorCode(code) {}

int InOutErrorCode(int e) {
    switch (e) {
    case ENOENT:
        return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
        return 5;
    case ENOSPC:
    case EDQUOT:
        return 101;
    case EAGAIN:
        return 32; // held by another process
    case EIO:
        return 1117; // the device's own failure
    default:
        return e;
    }
}
