#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

#include "temp_dir.h"

namespace testutil {

// A copy of the service program in a folder of its own (its settings files sit
// beside it), run as a child process with an environment the test chooses and
// its standard output and error captured to files.
class ServiceProcess {
public:
    explicit ServiceProcess(const std::string &folderName = "bin");
    ~ServiceProcess();

    const TempDir &dir() const { return dir_; }
    std::string folder() const { return folder_; }
    std::string executable() const { return folder_ + "/CorvaneDSPrinterService"; }
    std::map<std::string, std::string> &env() { return env_; }

    void start(const std::vector<std::string> &args);
    // Waits for the child to end; returns its exit status, or -1 on timeout.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void signal(int sig);
    bool running();

    std::string out() const;
    std::string err() const;

    // A datagram socket standing for systemd's notify socket; NOTIFY_SOCKET is set to it.
    void listenForNotify();
    // The next notify message, or "" after the timeout.
    std::string nextNotify(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    TempDir dir_;
    std::string folder_;
    std::map<std::string, std::string> env_;
    pid_t pid_ = -1;
    int notifyFd_ = -1;
    int status_ = 0;
};

// Whether something accepts TCP connections on 127.0.0.1:port.
bool acceptsConnections(int port);


} // namespace testutil
