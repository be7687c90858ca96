#include "inout_error.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace os {

InOutError::InOutError(int code) : std::runtime_error(inOutMessage(code)), code_(code) {}

int inOutCodeFromErrno(int err) {
    switch (err) {
    case ENOENT:
        return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return 5;
    case ENOSPC:
        return 101;
    default:
        return err;
    }
}

std::string inOutMessage(int code) {
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

std::string readFirstLine(const std::string &path, size_t maxBytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw InOutError(inOutCodeFromErrno(errno));
    std::string line;
    char buf[4096];
    bool done = false;
    bool lastWasCr = false; // a CR just before the LF belongs to the line end
    while (!done) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            ::close(fd);
            throw InOutError(inOutCodeFromErrno(err));
        }
        if (n == 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n') {
                done = true;
                break;
            }
            if (lastWasCr && line.size() < maxBytes)
                line += '\r';
            lastWasCr = buf[i] == '\r';
            if (!lastWasCr && line.size() < maxBytes)
                line += buf[i];
        }
    }
    if (lastWasCr && !done && line.size() < maxBytes)
        line += '\r'; // a CR at the very end of the file is text, not a line end
    ::close(fd);
    return line;
}

} // namespace os
