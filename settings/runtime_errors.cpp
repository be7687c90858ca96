#include "runtime_errors.h"

#include <cerrno>

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
