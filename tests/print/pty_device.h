#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace testutil {

// A pseudo-terminal standing for a printer port: the device path is its
// terminal side, the test reads what arrives on the other side.
class PtyDevice {
public:
    PtyDevice() {
        char name[256];
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        path_ = name;
    }
    ~PtyDevice() {
        ::close(slave_);
        ::close(master_);
    }
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;

    const std::string &path() const { return path_; }

    // Whether the terminal side turns line feeds into CR LF (its output processing).
    bool outputProcessing() const {
        termios t;
        return tcgetattr(slave_, &t) == 0 && (t.c_oflag & OPOST);
    }

    // Whatever arrives within `quiet` of the last byte (at least `atLeast` bytes if they come).
    std::string read(std::size_t atLeast = 0, std::chrono::milliseconds quiet = std::chrono::milliseconds(100)) {
        std::string got;
        char buf[4096];
        while (true) {
            pollfd p{master_, POLLIN, 0};
            int wait = got.size() < atLeast ? 5000 : static_cast<int>(quiet.count());
            if (poll(&p, 1, wait) <= 0)
                break;
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int master_ = -1, slave_ = -1;
    std::string path_;
};

} // namespace testutil
