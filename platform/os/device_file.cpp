#include "device_file.h"

#include "io_error.h"

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace os {

namespace {

// Devices in use by this process, by file identity (so two spellings of one
// path meet too). An entry lives while someone holds or waits for it.
class DeviceRegistry {
public:
    using Key = std::pair<dev_t, ino_t>;

    static DeviceRegistry &instance() {
        static DeviceRegistry r;
        return r;
    }

    bool acquire(const Key &key, std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        Entry &e = entries_[key];
        ++e.users;
        if (!released_.wait_for(lock, wait, [&] { return !e.held; })) {
            drop(key, e);
            return false;
        }
        e.held = true;
        return true;
    }

    void release(const Key &key) {
        {
            std::lock_guard lock(mutex_);
            auto it = entries_.find(key);
            if (it == entries_.end())
                return;
            it->second.held = false;
            drop(key, it->second);
        }
        released_.notify_all();
    }

private:
    struct Entry {
        bool held = false;
        int users = 0;
    };
    void drop(const Key &key, Entry &e) {
        if (--e.users == 0)
            entries_.erase(key);
    }

    std::mutex mutex_;
    std::condition_variable released_;
    std::map<Key, Entry> entries_;
};

// Closes a descriptor on the way out of a failed open.
struct FdGuard {
    int fd;
    bool owns;
    ~FdGuard() {
        if (fd >= 0 && owns)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

// Whether the path names an entry of the device folder, where nodes come and
// go with their hardware: a missing one is "not found" there, never created
// as a plain file (which would also stand in the way of the real node).
bool inDeviceFolder(const std::string &path) {
    std::size_t slash = path.find_last_of('/');
    std::string parent = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    char *real = realpath(parent.c_str(), nullptr);
    if (!real)
        return false;
    std::string folder = real;
    std::free(real);
    auto under = [&](const char *root) {
        std::size_t n = std::strlen(root);
        return folder.compare(0, n, root) == 0 && (folder.size() == n || folder[n] == '/');
    };
    return under("/dev") && !under("/dev/shm") && !under("/dev/mqueue");
}

// A receipt port must get the bytes as sent; a terminal's output processing
// would turn every line feed into CR LF. Gives the settings to put back at
// close, if any were changed.
std::optional<termios> makeOutputRaw(int fd) {
    termios t;
    if (tcgetattr(fd, &t) != 0 || !(t.c_oflag & OPOST))
        return std::nullopt;
    termios raw = t;
    raw.c_oflag &= ~OPOST;
    if (tcsetattr(fd, TCSANOW, &raw) != 0)
        return std::nullopt;
    return t;
}

// Writing to a pipe whose reader is gone must fail with EPIPE, not kill the
// process: SIGPIPE is held back on this thread for the write and a signal it
// raised is taken away again.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigemptyset(&pipeSet_);
        sigaddset(&pipeSet_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSet_, &old_);
    }
    ~SigpipeBlock() {
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                timespec zero{0, 0};
                sigtimedwait(&pipeSet_, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t pipeSet_, old_;
    bool wasPending_ = false;
};

} // namespace

// This object's turn at a device in the registry.
struct DeviceFile::Lease {
    DeviceRegistry::Key key;
    explicit Lease(DeviceRegistry::Key k) : key(k) {}
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;
    ~Lease() { DeviceRegistry::instance().release(key); }
};

DeviceFile::DeviceFile() = default;

DeviceFile::~DeviceFile() {
    if (fd_ >= 0 && ownsFd_) {
        restoreTerminal();
        ::close(fd_);
    }
}

void DeviceFile::open(const std::string &path, std::chrono::milliseconds sameProcessWait) {
    if (fd_ >= 0)
        throw IoError(winerr::InvalidParameter);

    std::unique_ptr<Lease> lease; // declared first: given back only after the descriptor is closed
    std::optional<termios> savedTerminal;
    FdGuard guard{-1, !path.empty()};
    struct stat st;
    if (path.empty()) {
        // Standard output: it must be there and writable.
        int flags = fcntl(STDOUT_FILENO, F_GETFL);
        if (flags == -1 || (flags & O_ACCMODE) == O_RDONLY || fstat(STDOUT_FILENO, &st) != 0)
            throw IoError(winerr::InvalidHandleType);
        guard.fd = STDOUT_FILENO;
    } else {
        // Non-blocking only for the open itself: a serial port without carrier
        // or a pipe without reader must not hang the caller.
        int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        if (!inDeviceFolder(path))
            flags |= O_CREAT;
        int fd;
        do
            fd = ::open(path.c_str(), flags, 0666);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            int err = errno;
            // With O_CREAT, ENOENT can only mean that a folder of the path is missing.
            throw IoError(err == ENOENT && (flags & O_CREAT) ? winerr::PathNotFound : windowsErrorFromErrno(err));
        }
        guard.fd = fd;
        if (fstat(fd, &st) != 0)
            throw IoError(winerr::InvalidHandleType);
    }

    // The kernel's memory devices (/dev/null, /dev/full, ...) are shared by
    // everyone at once; every other device is taken for exclusive writing.
    bool memoryDevice = S_ISCHR(st.st_mode) && major(st.st_rdev) == 1;
    if (!memoryDevice) {
        DeviceRegistry::Key key{st.st_dev, st.st_ino};
        if (!DeviceRegistry::instance().acquire(key, sameProcessWait))
            throw IoError(winerr::SharingViolation);
        lease = std::make_unique<Lease>(key);
    }

    if (!path.empty()) {
        int fd = guard.fd;
        int r = 0;
        if (!memoryDevice) {
            do
                r = flock(fd, LOCK_EX | LOCK_NB);
            while (r != 0 && errno == EINTR);
            if (r != 0 && errno == EWOULDBLOCK)
                throw IoError(winerr::SharingViolation);
            // Other lock failures (a file system without locks) leave the device unlocked.
        }

        int flags = fcntl(fd, F_GETFL);
        if (flags != -1)
            fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        // Emptied only now that it is ours: a refused second writer leaves
        // the first one's output alone.
        if (S_ISREG(st.st_mode)) {
            do
                r = ftruncate(fd, 0);
            while (r != 0 && errno == EINTR);
            if (r != 0)
                throw IoError::fromErrno(errno);
        }
        if (S_ISCHR(st.st_mode))
            savedTerminal = makeOutputRaw(fd);
    }

    charDevice_ = S_ISCHR(st.st_mode);
    pipe_ = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
    ownsFd_ = !path.empty();
    fd_ = guard.release();
    lease_ = std::move(lease);
    savedTerminal_ = std::move(savedTerminal);
}

void DeviceFile::restoreTerminal() {
    // A terminal someone watches gets its output processing back once the
    // bytes have gone out.
    if (savedTerminal_) {
        tcsetattr(fd_, TCSANOW, &*savedTerminal_); // bytes written so far were processed already
        savedTerminal_.reset();
    }
}

void DeviceFile::write(const char *data, std::size_t n) {
    if (fd_ < 0)
        throw IoError(winerr::InvalidHandle);
    std::unique_ptr<SigpipeBlock> noSigpipe;
    if (pipe_)
        noSigpipe = std::make_unique<SigpipeBlock>();
    while (n > 0) {
        ssize_t w = ::write(fd_, data, n);
        if (w > 0) {
            data += w;
            n -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno == EAGAIN) {
            // A descriptor someone else made non-blocking (standard output): wait for room.
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, -1);
            continue;
        }
        throw w == 0 ? IoError(winerr::IoDevice) : IoError::fromErrno(errno);
    }
}

void DeviceFile::close() {
    if (fd_ < 0)
        return;
    restoreTerminal();
    int fd = std::exchange(fd_, -1);
    int r = 0, err = 0;
    if (ownsFd_) {
        r = ::close(fd); // releases the advisory lock too
        err = errno;
    }
    lease_.reset();
    charDevice_ = pipe_ = false;
    if (r != 0 && err != EINTR)
        throw IoError::fromErrno(err);
}

} // namespace os
