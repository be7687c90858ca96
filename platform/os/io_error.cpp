#include "io_error.h"

#include <cerrno>
#include <cstdio>

namespace os {

namespace {

struct CodeText {
    int code;
    const char *text;
};

constexpr CodeText kMessages[] = {
    {2, "File not found"},          {3, "Invalid filename"},          {4, "Too many open files"},
    {5, "File access denied"},      {100, "Read beyond end of file"}, {101, "Disk full"},
    {106, "Invalid numeric input"},
};

struct ErrnoCode {
    int err;
    int code;
};

// errno -> Windows code. ENOENT of a path whose folder is missing is told
// apart by the caller (it becomes PathNotFound there).
constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, winerr::FileNotFound},
    {ENOTDIR, winerr::PathNotFound},
    {EMFILE, winerr::TooManyOpenFiles},
    {ENFILE, winerr::TooManyOpenFiles},
    {EACCES, winerr::AccessDenied},
    {EPERM, winerr::AccessDenied},
    {EROFS, winerr::AccessDenied},
    {EISDIR, winerr::AccessDenied},
    {EBADF, winerr::InvalidHandle},
    {ENOMEM, winerr::NotEnoughMemory},
    {ENXIO, winerr::NotReady},
    {ENODEV, winerr::NotReady},
    {EWOULDBLOCK, winerr::SharingViolation},
    {ETXTBSY, winerr::SharingViolation},
    {EEXIST, winerr::FileExists},
    {EINVAL, winerr::InvalidParameter},
    {EPIPE, winerr::BrokenPipe},
    {ENOSPC, winerr::DiskFull},
    {EDQUOT, winerr::DiskFull},
    {ETIMEDOUT, winerr::SemTimeout},
    {EBUSY, winerr::Busy},
    {ENAMETOOLONG, winerr::FilenameTooLong},
    {EFBIG, winerr::FileTooLarge},
    {EIO, winerr::IoDevice},
    {ELOOP, winerr::CantResolveFilename},
};

} // namespace

std::string ioErrorMessage(int code) {
    for (const auto &m : kMessages)
        if (m.code == code)
            return m.text;
    char buf[32];
    std::snprintf(buf, sizeof buf, "I/O error %d", code);
    return buf;
}

int windowsErrorFromErrno(int err) {
    for (const auto &e : kErrnoCodes)
        if (e.err == err)
            return e.code;
    return winerr::GenFailure;
}

} // namespace os
