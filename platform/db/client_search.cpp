#include "client_search.h"

#include <algorithm>

#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <sys/stat.h>

#include "executable_dir.h"

namespace db {

ClientSearchFolders ClientSearchFolders::System() {
    return {os::executableDir(), db::SystemLibraryDirs(), db::FirebirdInstallDirs()};
}

std::vector<std::string> SystemLibraryDirs() {
    std::vector<std::string> dirs;
    auto add = [&](const std::string &d) {
        if (!d.empty() && std::find(dirs.begin(), dirs.end(), d) == dirs.end())
            dirs.push_back(d);
    };
    // gnu_get_libc_version lives in the C library itself and is not wrapped by
    // sanitizer runtimes, so its address tells where the C library came from.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&gnu_get_libc_version), &info) && info.dli_fname) {
        std::string libc = info.dli_fname;
        auto slash = libc.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            std::string dir = libc.substr(0, slash);
            if (dir.rfind("/lib", 0) == 0)
                add("/usr" + dir);
            add(dir);
        }
    }
    add("/usr/lib64");
    add("/usr/lib");
    add("/usr/local/lib");
    return dirs;
}

std::vector<std::string> FirebirdInstallDirs() {
    return {"/opt/firebird/lib", "/usr/local/firebird/lib"};
}

bool IsFile(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string JoinPath(const std::string &dir, const std::string &name) {
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

} // namespace db
