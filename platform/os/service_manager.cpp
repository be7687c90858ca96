#include "service_manager.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

extern char **environ;

namespace os {

namespace {

std::string envOr(const char *name, const char *fallback) {
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}

// systemd command lines expand % specifiers and $ variables: double them, and
// escape what a quoted word treats specially.
std::string execStartWord(const std::string &path) {
    std::string out;
    for (char c : path) {
        if (c == '%' || c == '$')
            out += c;
        else if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return path.find(' ') != std::string::npos ? "\"" + out + "\"" : out;
}

// A path in a path-list setting: % specifiers are expanded there (but not $),
// and the optional "-" prefix goes inside the quotes.
std::string pathListWord(const std::string &prefix, const std::string &path) {
    std::string out = prefix;
    for (char c : path) {
        if (c == '%')
            out += c;
        else if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return path.find_first_of(" \t") != std::string::npos ? "\"" + out + "\"" : out;
}

// Runs systemctl with `args`; throws with its output when it fails.
void systemctl(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    std::string prog = "systemctl";
    argv.push_back(prog.data());
    std::vector<std::string> copy(args);
    for (auto &a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0)
        throw ServiceManagerError(std::string("Cannot run systemctl: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 2);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "systemctl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipefd[1]);
    std::string output;
    if (rc == 0) {
        char buf[512];
        ssize_t n;
        while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0)
                output.append(buf, size_t(n));
    }
    ::close(pipefd[0]);
    std::string command = "systemctl";
    for (const auto &a : args)
        command += " " + a;
    if (rc != 0)
        throw ServiceManagerError("Cannot run " + command + ": " + std::strerror(rc));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
            output.pop_back();
        throw ServiceManagerError(command + " failed" + (output.empty() ? std::string() : ": " + output));
    }
}

std::string unitPath(const std::string &name) { return systemdUnitFolder() + "/" + name + ".service"; }

void requireSystemd() {
    if (!systemdRunning())
        throw ServiceManagerError("systemd is not running on this machine, so the service cannot be registered; "
                                  "run the program with /FOREGROUND instead");
}

} // namespace

std::string renderSystemdUnit(const ServiceDefinition &service) {
    std::string unit;
    unit += "[Unit]\n";
    unit += "Description=" + service.displayName + "\n";
    unit += "After=network.target cups.service\n";
    unit += "\n[Service]\n";
    unit += "Type=notify\n";
    unit += "NotifyAccess=main\n";
    unit += "ExecStart=" + execStartWord(service.executable) + "\n";
    unit += "User=root\n";
    unit += "Restart=on-failure\n";
    unit += "RestartSec=5\n";
    // Error files go to the state folder, which systemd creates as root's own.
    unit += "StateDirectory=" + service.name + "\n";
    unit += "StateDirectoryMode=0700\n";
    // Hardening that keeps what the program needs: printer devices (no device
    // list or private /dev), the CUPS socket and the network, receipts and
    // databases under /var, /srv or /opt, and the program's own folder (its
    // settings) writable even when it lies under /usr or a home folder.
    // ProtectClock= and DeviceAllow= are left out: either closes the device list.
    unit += "NoNewPrivileges=yes\n";
    unit += "ProtectSystem=full\n";
    unit += "ProtectHome=read-only\n";
    unit += "PrivateTmp=yes\n";
    unit +=
        "ReadWritePaths=" + pathListWord("-", std::filesystem::path(service.executable).parent_path().string()) + "\n";
    unit += "ProtectKernelTunables=yes\n";
    unit += "ProtectKernelModules=yes\n";
    unit += "ProtectControlGroups=yes\n";
    unit += "ProtectHostname=yes\n";
    unit += "RestrictNamespaces=yes\n";
    unit += "RestrictRealtime=yes\n";
    unit += "RestrictSUIDSGID=yes\n";
    unit += "LockPersonality=yes\n";
    unit += "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n";
    if (service.startAutomatically)
        unit += "\n[Install]\nWantedBy=multi-user.target\n";
    return unit;
}

bool systemdRunning() {
    struct stat st {};
    return ::lstat(envOr("CORVANE_SYSTEMD_RUNTIME_DIR", "/run/systemd/system").c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

std::string systemdUnitFolder() { return envOr("CORVANE_SYSTEMD_UNIT_DIR", "/etc/systemd/system"); }

void installService(const ServiceDefinition &service) {
    requireSystemd();
    const std::string path = unitPath(service.name);
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << renderSystemdUnit(service);
        out.close();
        if (!out) {
            std::filesystem::remove(temp);
            throw ServiceManagerError("Cannot write " + path + ": " + std::strerror(errno));
        }
    }
    ::chmod(temp.c_str(), 0644);
    std::error_code ec;
    const bool existed = std::filesystem::exists(path, ec);
    std::string previous;
    if (existed) {
        std::ifstream in(path, std::ios::binary);
        previous.assign(std::istreambuf_iterator<char>(in), {});
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        std::filesystem::remove(temp, ec);
        throw ServiceManagerError("Cannot write " + path + ": " + std::strerror(err));
    }
    try {
        systemctl({"daemon-reload"});
        systemctl({"enable", service.name + ".service"});
    } catch (...) {
        // Leave the machine as it was.
        if (existed) {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << previous;
        } else {
            std::filesystem::remove(path, ec);
        }
        try {
            systemctl({"daemon-reload"});
        } catch (...) {
        }
        throw;
    }
}

void uninstallService(const std::string &name) {
    requireSystemd();
    const std::string path = unitPath(name);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        throw ServiceManagerError("The service " + name + " is not installed (" + path + " does not exist)");
    systemctl({"disable", "--now", name + ".service"});
    if (!std::filesystem::remove(path, ec) && ec)
        throw ServiceManagerError("Cannot remove " + path + ": " + ec.message());
    systemctl({"daemon-reload"});
}

bool startedByServiceManager() { return std::getenv("NOTIFY_SOCKET") || std::getenv("INVOCATION_ID"); }

void notifyReady() { sd_notify(0, "READY=1"); }
void notifyStopping() { sd_notify(0, "STOPPING=1"); }

} // namespace os
