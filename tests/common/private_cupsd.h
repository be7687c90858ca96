#pragma once

// A CUPS scheduler of the test's own, with no printers until the test adds
// some, listening only on a socket in a temporary folder. It shares nothing with the machine's scheduler
// (its own configuration, spool, state and log folders) and stops with the object.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "temp_dir.h"

extern char **environ;

namespace testutil {

class PrivateCupsd {
public:
    PrivateCupsd() {
        for (const char *sub : {"spool", "cache", "state", "log", "tmp"})
            std::filesystem::create_directories(dir_.path() / sub);
        const std::string root = dir_.path().string();
        writeFile(dir_.file("cupsd.conf"), "Listen " + socket() +
                                               "\nLogLevel warn\nBrowsing No\nWebInterface No\n"
                                               "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n");
        writeFile(dir_.file("cups-files.conf"),
                  "ServerRoot " + root + "\nRequestRoot " + root + "/spool\nCacheDir " + root + "/cache\nStateDir " +
                      root + "/state\nTempDir " + root + "/tmp\nErrorLog " + root + "/log/error_log\nAccessLog " +
                      root + "/log/access_log\nPageLog " + root + "/log/page_log\nFileDevice Yes\n");
        std::string conf = dir_.file("cupsd.conf"), files = dir_.file("cups-files.conf");
        const char *argv[] = {"cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), nullptr};
        if (posix_spawnp(&pid_, "cupsd", nullptr, nullptr, const_cast<char **>(argv), environ) != 0) {
            pid_ = -1;
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!std::filesystem::exists(socket()) && std::chrono::steady_clock::now() < deadline) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~PrivateCupsd() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    PrivateCupsd(const PrivateCupsd &) = delete;
    PrivateCupsd &operator=(const PrivateCupsd &) = delete;

    // Adds a queue that discards what it prints; not the default destination.
    bool addQueue(const std::string &name) const {
        std::string command =
            "lpadmin -h '" + socket() + "' -p '" + name + "' -E -v file:///dev/null -m raw >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    bool running() const { return pid_ > 0 && std::filesystem::exists(socket()); }
    std::string socket() const { return dir_.file("cups.sock"); }

private:
    TempDir dir_;
    pid_t pid_ = -1;
};

} // namespace testutil
