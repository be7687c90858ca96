#pragma once

#include <string>
#include <vector>

namespace db {

// Where database client libraries are looked for, besides the current
// directory. System() gives the machine's own folders; tests put a tree of
// their own in its place.
struct ClientSearchFolders {
    std::string ExecutableDir;                  // with its trailing '/'
    std::vector<std::string> SystemLibraryDirs; // the system's shared library folders
    std::vector<std::string> FirebirdDirs;      // folders of Firebird installs outside the system's

    static ClientSearchFolders System();
};

// The folders the system keeps its shared libraries in, architecture's own
// first: the folder the C library was loaded from (its /usr twin first when it
// is under /lib), then /usr/lib64, /usr/lib and /usr/local/lib. Without
// trailing '/'.
std::vector<std::string> SystemLibraryDirs();

// The folders of Firebird installs made with Firebird's own installer.
std::vector<std::string> FirebirdInstallDirs();

// True when `path` names a regular file (a link to one counts).
bool IsFile(const std::string &path);

// `dir` joined with `name` by one '/'.
std::string JoinPath(const std::string &dir, const std::string &name);

} // namespace db
