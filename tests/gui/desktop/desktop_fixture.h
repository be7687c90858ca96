#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace desktop_test {

// A child process started with execvp (its output discarded when quiet); killed (SIGTERM, then SIGKILL) and
// reaped when the object goes.
class Child {
public:
    Child() = default;
    Child(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
          const std::string &workDir = {}, int passFd = -1, bool quiet = false);
    ~Child();
    Child(Child &&other) noexcept;
    Child &operator=(Child &&other) noexcept;

    pid_t pid() const { return pid_; }
    bool running();
    // Sends SIGTERM and waits up to `timeout`; the exit code, or -1.
    int terminate(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    void reap(bool force);
    pid_t pid_ = -1;
    int status_ = -1;
};

// The display the tests draw on. Without DISPLAY it starts Xvfb on a display
// number the server picks itself (-displayfd) and a tray host (trayer) when it
// is installed; with neither, Qt draws offscreen and X is unavailable.
struct TestDisplay {
    static TestDisplay &instance();
    bool x11 = false;      // DISPLAY names a running X server
    bool trayHost = false; // a tray host was started here
    std::string name;      // ":N"
    Child xvfb, trayer;
};

// Polls `done` every 20 ms until it holds or `timeout` passes.
bool waitFor(const std::function<bool()> &done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A loopback TCP port that nothing listens on right now.
int freePort();
// Whether something accepts connections on 127.0.0.1:port.
bool listening(int port);



// Runs a command and gives back its standard output.
std::string capture(const std::string &command);

// Where screenshots go: $CORVANE_SCREENSHOT_DIR, else "screenshots" under the
// current folder; created when missing.
std::string screenshotDir();

} // namespace desktop_test
