#include "service_process.h"

#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testutil {

ServiceProcess::ServiceProcess(const std::string &folderName) {
    folder_ = dir_.file(folderName);
    std::filesystem::create_directories(folder_);
    std::filesystem::copy_file(SERVICE_EXECUTABLE, executable());
    // Start from this process's environment, without anything that would make
    // the child think systemd started it.
    for (char **e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos)
            env_[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    env_.erase("NOTIFY_SOCKET");
    env_.erase("INVOCATION_ID");
    env_["CORVANE_ERROR_DIR"] = dir_.file("err");
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (notifyFd_ >= 0)
        ::close(notifyFd_);
}

void ServiceProcess::start(const std::vector<std::string> &args) {
    std::vector<std::string> argStore{executable()};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (auto &[k, v] : env_)
        envStore.push_back(k + "=" + v);
    std::vector<char *> envp;
    for (auto &e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    const std::string out = dir_.file("stdout.txt"), err = dir_.file("stderr.txt");
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The child must not inherit this test's blocked signals.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    int rc = posix_spawn(&pid_, executable().c_str(), &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(rc));
}

int ServiceProcess::wait(std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
        pid_t r = ::waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
        }
        if (std::chrono::steady_clock::now() > until)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

void ServiceProcess::signal(int sig) {
    if (pid_ > 0)
        ::kill(pid_, sig);
}

bool ServiceProcess::running() { return pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == 0; }

std::string ServiceProcess::out() const { return readFile(dir_.file("stdout.txt")); }
std::string ServiceProcess::err() const { return readFile(dir_.file("stderr.txt")); }

void ServiceProcess::listenForNotify() {
    notifyFd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = dir_.file("notify.sock");
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::bind(notifyFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        throw std::runtime_error("bind notify socket");
    env_["NOTIFY_SOCKET"] = path;
}

std::string ServiceProcess::nextNotify(std::chrono::milliseconds timeout) {
    pollfd p{notifyFd_, POLLIN, 0};
    if (::poll(&p, 1, int(timeout.count())) != 1)
        return "";
    char buf[256];
    ssize_t n = ::recv(notifyFd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, size_t(n)) : "";
}

bool acceptsConnections(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

} // namespace testutil
