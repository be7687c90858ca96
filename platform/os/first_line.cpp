#include "first_line.h"

#include "io_error.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace os {

std::string readFirstLine(const std::string &path, size_t maxBytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw IoError::fromErrno(errno);
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
            throw IoError::fromErrno(err);
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
