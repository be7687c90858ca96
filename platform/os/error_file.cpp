#include "error_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

[[noreturn]] void fail(const std::string &what, const std::string &path, int err) {
    throw ErrorFileFailure(what + " " + path + ": " + std::strerror(err));
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

std::string errorFolder() {
    const char *dir = std::getenv("CORVANE_ERROR_DIR");
    return dir && *dir ? dir : "/var/lib/CorvaneDSPrinterService";
}

void writeErrorFile(const std::string &folder, const std::string &name, const std::string &bytes) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        fail("Cannot create the error folder", folder, errno);
    Fd dir;
    dir.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir.fd < 0)
        fail("Cannot open the error folder", folder, errno == ELOOP ? ENOTDIR : errno);
    struct stat st {};
    if (::fstat(dir.fd, &st) != 0)
        fail("Cannot inspect the error folder", folder, errno);
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)))
        throw ErrorFileFailure("The error folder " + folder +
                               " must belong to the service's account and be writable by it alone");

    Fd file;
    file.fd = ::openat(dir.fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    const std::string path = folder + "/" + name;
    if (file.fd < 0)
        fail("Cannot write the error file", path, errno);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(file.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("Cannot write the error file", path, n < 0 ? errno : EIO);
        done += size_t(n);
    }
    if (::close(file.fd) != 0) {
        file.fd = -1;
        fail("Cannot write the error file", path, errno);
    }
    file.fd = -1;
}

} // namespace os
