#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.h"
#include "device_file.h"
#include "io_error.h"
#include "temp_dir.h"

using os::DeviceFile;
using os::IoError;
using testutil::readFile;
using testutil::runInChild;
using testutil::TempDir;
using testutil::writeFile;
using namespace std::chrono_literals;

namespace {

// The code of the IoError that `f` raises, or 0 when it raises none.
template <class F> int ioCode(F &&f) {
    try {
        f();
    } catch (const IoError &e) {
        return e.code();
    }
    return 0;
}

void put(DeviceFile &d, const std::string &s) {
    d.write(s.data(), s.size());
}

// Holds an exclusive lock on a file through a descriptor of its own, the way
// another writer does.
struct ForeignWriter {
    explicit ForeignWriter(const std::string &path) : fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0)
            throw std::runtime_error("cannot lock " + path);
    }
    ~ForeignWriter() { ::close(fd); }
    int fd;
};

} // namespace

TEST(DeviceFile, CreatesOrEmptiesAFileAndWritesIt) {
    TempDir dir;
    std::string path = dir.file("out.prn");
    for (const char *before : {"", "previous receipt"}) {
        if (*before)
            writeFile(path, before);
        DeviceFile d;
        d.open(path);
        EXPECT_FALSE(d.isCharDevice());
        put(d, "abc\r\n");
        d.close();
        EXPECT_EQ(readFile(path), "abc\r\n");
    }
}

TEST(DeviceFile, OpenFailuresGiveWindowsCodes) {
    TempDir dir;
    writeFile(dir.file("plain"), "x");
    std::filesystem::create_directory(dir.file("folder"));
    static constexpr struct {
        const char *relative;
        int code;
    } cases[] = {
        {"missing/out.prn", 3}, // a folder of the path does not exist
        {"plain/out.prn", 3},   // a file where a folder should be
        {"folder", 5},          // a folder is no device
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.relative);
        DeviceFile d;
        EXPECT_EQ(ioCode([&] { d.open(dir.file(c.relative)); }), c.code);
        EXPECT_FALSE(d.isOpen());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST(DeviceFile, MissingDeviceNodeIsNotFoundAndNotCreated) {
    const std::string node = "/dev/corvane-test-no-such-printer";
    DeviceFile d;
    int code = ioCode([&] { d.open(node); });
    bool created = std::filesystem::exists(node);
    if (created)
        std::filesystem::remove(node);
    EXPECT_EQ(code, 2);
    EXPECT_FALSE(created);
    EXPECT_EQ(ioCode([&] { d.open("/dev/corvane-test-no-such-folder/lp0"); }), 3); // a missing folder, as anywhere
}

TEST(DeviceFile, ForbiddenFolderIsAccessDenied) {
    TempDir dir;
    std::string locked = dir.file("locked");
    std::filesystem::create_directory(locked);
    chmod(locked.c_str(), 0500);
    chmod(dir.path().c_str(), 0755);
    // Root passes every permission check: try as an ordinary user.
    int code = runInChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 200;
        DeviceFile d;
        return ioCode([&] { d.open(locked + "/out.prn"); });
    });
    chmod(locked.c_str(), 0700);
    EXPECT_EQ(code, 5);
}

TEST(DeviceFile, TooManyOpenFiles) {
    TempDir dir;
    std::string path = dir.file("out.prn");
    int code = runInChild([&] {
        rlimit lim{0, 0};
        getrlimit(RLIMIT_NOFILE, &lim);
        lim.rlim_cur = 64;
        setrlimit(RLIMIT_NOFILE, &lim);
        std::vector<int> fillers;
        for (int fd; (fd = dup(STDERR_FILENO)) >= 0;)
            fillers.push_back(fd);
        DeviceFile d;
        try {
            d.open(path);
        } catch (const IoError &e) {
            for (int fd : fillers) // the sanitizers' runtime needs a descriptor to look at e
                ::close(fd);
            return e.code();
        }
        return 0;
    });
    EXPECT_EQ(code, 4);
}

TEST(DeviceFile, AnotherWriterRefusesTheOpenAndKeepsItsOutput) {
    TempDir dir;
    std::string path = dir.file("out.prn");
    writeFile(path, "being printed");
    {
        ForeignWriter other(path);
        DeviceFile d;
        EXPECT_EQ(ioCode([&] { d.open(path); }), 32);
        EXPECT_EQ(readFile(path), "being printed");
    }
    DeviceFile d;
    d.open(path);
    d.close();
    EXPECT_EQ(readFile(path), "");
}

TEST(DeviceFile, AnotherProcessHoldingTheDeviceRefusesTheOpen) {
    TempDir dir;
    std::string path = dir.file("out.prn");
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = fork();
    if (pid == 0) {
        DeviceFile d;
        d.open(path);
        put(d, "child");
        char c = 1;
        (void)!::write(ready[1], &c, 1);
        (void)!::read(done[0], &c, 1);
        d.close();
        _exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    DeviceFile d;
    int code = ioCode([&] { d.open(path, 10ms); });
    (void)!::write(done[1], &c, 1);
    int status = 0;
    waitpid(pid, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        ::close(fd);
    EXPECT_EQ(code, 32);
    EXPECT_EQ(readFile(path), "child");
}

TEST(DeviceFile, OpenersInThisProcessTakeTurns) {
    TempDir dir;
    std::string path = dir.file("out.prn");
    DeviceFile first;
    first.open(path);
    put(first, "first");
    std::atomic<bool> firstClosed{false};
    auto second = std::async(std::launch::async, [&] {
        DeviceFile d;
        d.open(dir.file("./out.prn")); // another spelling of the same file
        bool waited = firstClosed.load();
        put(d, "second");
        d.close();
        return waited;
    });
    std::this_thread::sleep_for(50ms);
    firstClosed = true;
    first.close();
    EXPECT_TRUE(second.get());
    EXPECT_EQ(readFile(path), "second");
}

TEST(DeviceFile, SameProcessWaitIsBounded) {
    TempDir dir;
    std::string path = dir.file("out.prn");
    DeviceFile first;
    first.open(path);
    std::thread t([&] {
        DeviceFile d;
        EXPECT_EQ(ioCode([&] { d.open(path, 20ms); }), 32);
    });
    t.join();
    first.close();
    DeviceFile again;
    again.open(path, 20ms);
}

TEST(DeviceFile, CharacterDevicesAreFlaggedAndDiskFullIs112) {
    // /dev/null is everyone's at once: neither another holder nor a second
    // opener in this process keeps it from us.
    ForeignWriter other("/dev/null");
    DeviceFile null, again;
    null.open("/dev/null");
    again.open("/dev/null", 0ms);
    EXPECT_TRUE(null.isCharDevice());
    put(null, "discarded");
    null.close();
    again.close();

    DeviceFile full;
    full.open("/dev/full");
    EXPECT_TRUE(full.isCharDevice());
    EXPECT_EQ(ioCode([&] { put(full, "x"); }), 112);
    full.close();
}

TEST(DeviceFile, PipeWithoutReaderFailsWithoutKillingTheProcess) {
    TempDir dir;
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    {
        DeviceFile d; // no reader: refused, not blocked
        EXPECT_EQ(ioCode([&] { d.open(fifo); }), 21);
    }
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    DeviceFile d;
    d.open(fifo);
    ::close(reader);
    EXPECT_EQ(ioCode([&] { put(d, "lost"); }), 109);
    d.close();
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(DeviceFile, EmptyPathIsStandardOutput) {
    TempDir dir;
    std::string captured = dir.file("stdout");
    int code = runInChild([&] {
        int fd = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        DeviceFile d;
        d.open("");
        put(d, "to stdout");
        d.close();
        d.open(""); // still there: standard output is never closed
        put(d, "!");
        d.close();
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readFile(captured), "to stdout!");

    static constexpr int kClosed = 0, kReadOnly = 1;
    for (int how : {kClosed, kReadOnly}) {
        SCOPED_TRACE(how);
        EXPECT_EQ(runInChild([&] {
                      ::close(STDOUT_FILENO);
                      if (how == kReadOnly)
                          ::open("/dev/null", O_RDONLY); // takes descriptor 1
                      DeviceFile d;
                      return ioCode([&] { d.open(""); });
                  }),
                  105);
    }
}
