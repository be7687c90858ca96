#include "executable_dir.h"

#include <cerrno>
#include <system_error>
#include <vector>

#include <limits.h>
#include <unistd.h>

namespace os {

std::string executablePath() {
    std::vector<char> buf(PATH_MAX);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            throw std::system_error(errno, std::generic_category(), "readlink /proc/self/exe");
        if (static_cast<size_t>(n) < buf.size())
            return std::string(buf.data(), static_cast<size_t>(n));
        buf.resize(buf.size() * 2); // the link may be longer than PATH_MAX
    }
}

std::string executableDir() {
    std::string path = executablePath();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string currentDir() {
    std::vector<char> buf(PATH_MAX);
    for (;;) {
        if (::getcwd(buf.data(), buf.size()))
            return std::string(buf.data());
        if (errno != ERANGE)
            throw std::system_error(errno, std::generic_category(), "getcwd");
        buf.resize(buf.size() * 2);
    }
}

void changeDir(const std::string &path) {
    if (::chdir(path.c_str()) != 0)
        throw std::system_error(errno, std::generic_category(), "chdir " + path);
}

} // namespace os
