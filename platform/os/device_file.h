#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include <termios.h>

namespace os {

// A device path (file, printer port, terminal, pipe) opened for writing the way
// a receipt printer is driven: created if absent, emptied if present, and held
// so that other processes may read it but nobody else may write it (an
// exclusive advisory lock). Within this process, openers of the same device
// wait for each other instead of being refused. An empty path stands for the
// process's standard output, which is written but never closed.
// Failures raise IoError with Windows error codes.
class DeviceFile {
public:
    // How long an opener waits for another user of the same device in this
    // process before it is refused like a foreign writer (code 32).
    static constexpr std::chrono::milliseconds kDefaultSameProcessWait{std::chrono::seconds(30)};

    DeviceFile();
    ~DeviceFile(); // releases quietly whatever is still held
    DeviceFile(const DeviceFile &) = delete;
    DeviceFile &operator=(const DeviceFile &) = delete;

    void open(const std::string &path, std::chrono::milliseconds sameProcessWait = kDefaultSameProcessWait);
    bool isOpen() const { return fd_ >= 0; }
    // A character device (a port, a terminal, /dev/null): written through at every step.
    bool isCharDevice() const { return charDevice_; }

    // Writes all `n` bytes or fails with IoError.
    void write(const char *data, std::size_t n);
    // Releases the device; a failed release raises IoError (the device counts as released).
    void close();

private:
    struct Lease;
    void restoreTerminal();

    int fd_ = -1;
    bool ownsFd_ = false;
    bool charDevice_ = false;
    bool pipe_ = false;
    std::unique_ptr<Lease> lease_;
    std::optional<termios> savedTerminal_; // a terminal's settings from before the open
};

} // namespace os
