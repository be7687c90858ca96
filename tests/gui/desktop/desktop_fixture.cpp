#include "desktop_fixture.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>


namespace desktop_test {

Child::Child(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &workDir,
             int passFd, bool quiet) {
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        for (const auto &e : env)
            putenv(const_cast<char *>(e.c_str()));
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(126);
        if (passFd >= 0)
            fcntl(passFd, F_SETFD, 0);
        // Helpers end with the tests, also when these crash.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (quiet) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
}

Child::~Child() {
    reap(true);
}

Child::Child(Child &&other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

Child &Child::operator=(Child &&other) noexcept {
    if (this != &other) {
        reap(true);
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

bool Child::running() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return false;
    }
    return true;
}

int Child::terminate(std::chrono::milliseconds timeout) {
    if (running())
        kill(pid_, SIGTERM);
    waitFor([this] { return !running(); }, timeout);
    reap(true);
    return status_;
}

void Child::reap(bool force) {
    if (pid_ <= 0)
        return;
    if (force && running()) {
        kill(pid_, SIGTERM);
        if (!waitFor([this] { return !running(); }, std::chrono::seconds(3)))
            kill(pid_, SIGKILL);
    }
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_)
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
}

bool waitFor(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

namespace {

bool commandExists(const char *name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

TestDisplay &TestDisplay::instance() {
    static TestDisplay d = [] {
        TestDisplay d;
        if (const char *existing = std::getenv("DISPLAY"); existing && *existing) {
            d.x11 = true;
            d.name = existing;
            return d;
        }
        if (!commandExists("Xvfb"))
            return d;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return d;
        d.xvfb =
            Child({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {},
                  {}, fds[1], true);
        close(fds[1]);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return d;
        d.name = ":" + number;
        setenv("DISPLAY", d.name.c_str(), 1);
        d.x11 = true;
        if (commandExists("trayer")) {
            d.trayer =
                Child({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "24"},
                      {}, {}, -1, true);
            d.trayHost = true;
        }
        return d;
    }();
    return d;
}

int freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        close(s);
        throw std::runtime_error("no free port");
    }
    close(s);
    return ntohs(a.sin_port);
}

bool listening(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

std::string capture(const std::string &command) {
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

std::string screenshotDir() {
    const char *dir = std::getenv("CORVANE_SCREENSHOT_DIR");
    std::filesystem::path p = dir && *dir ? dir : "screenshots";
    std::filesystem::create_directories(p);
    return std::filesystem::absolute(p).string();
}

} // namespace desktop_test
