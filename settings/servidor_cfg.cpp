#include "servidor_cfg.h"

#include "executable_dir.h"

#include <cerrno>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex folderMutex;
std::string folderOverride;

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

[[noreturn]] void ThrowErrno() {
    throw EInOutError(InOutErrorCode(errno));
}

} // namespace

std::string ExecutableFolder() {
    {
        std::lock_guard lock(folderMutex);
        if (!folderOverride.empty())
            return folderOverride;
    }
    return os::executableDir();
}

void SetExecutableFolder(const std::string &folder) {
    std::lock_guard lock(folderMutex);
    folderOverride = folder;
    if (!folderOverride.empty() && folderOverride.back() != '/')
        folderOverride.push_back('/');
}

bool ServidorCfgExists(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return true;
    if (errno == ENOENT || errno == ENOTDIR)
        return false;
    ThrowErrno();
}

ServidorCfgLines ReadServidorCfg(const std::string &path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        ThrowErrno();
    ServidorCfgLines lines;
    size_t line = 0;
    bool pendingCr = false; // a CR whose meaning depends on the next byte
    char buffer[4096];
    while (line < lines.size()) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno();
        }
        if (n == 0)
            break;
        bool endOfFile = false;
        for (ssize_t i = 0; i < n && line < lines.size(); ++i) {
            const char c = buffer[i];
            if (c == 26) {
                endOfFile = true;
                break;
            }
            if (c == '\n') {
                pendingCr = false;
                ++line;
                continue;
            }
            if (pendingCr)
                lines[line].push_back('\r');
            pendingCr = (c == '\r');
            if (!pendingCr)
                lines[line].push_back(c);
        }
        if (endOfFile)
            break;
    }
    if (pendingCr && line < lines.size())
        lines[line].push_back('\r');
    return lines;
}

void WriteServidorCfg(const std::string &path, const ServidorCfgLines &lines) {
    std::string bytes;
    for (const auto &l : lines) {
        bytes += l;
        bytes += "\r\n";
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temp = path + ".XXXXXX";
    // mkstemp creates the file with mode 0600: only the owner may read the credentials.
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) // the folder itself is missing
            throw EInOutError(3);
        ThrowErrno();
    }
    try {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                ThrowErrno();
            }
            done += static_cast<size_t>(n);
        }
        if (::fsync(fd.get()) != 0)
            ThrowErrno();
        if (::close(fd.release()) != 0)
            ThrowErrno();
        if (::rename(temp.c_str(), path.c_str()) != 0)
            ThrowErrno();
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    // Make the rename itself durable; a failure here loses nothing already written.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}
