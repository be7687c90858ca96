#pragma once

#include <string>

#include "db_params.h"

namespace db {

// A database client library loaded with dlopen. Libraries are loaded once per
// path and stay loaded for the life of the process: client libraries with
// engine threads (Firebird's embedded engine) do not survive being unloaded.
class ClientLibrary {
public:
    // Loads `path` (or finds it loaded). Throws DbError with dlerror()'s text.
    static ClientLibrary &Load(const std::string &path);

    const std::string &Path() const { return path_; }

    // The address of `name`; throws DbError when the library lacks it.
    void *Symbol(const char *name) const;

    template <class Fn> void Bind(Fn &fn, const char *name) const { fn = reinterpret_cast<Fn>(Symbol(name)); }

private:
    ClientLibrary(std::string path, void *handle) : path_(std::move(path)), handle_(handle) {}
    std::string path_;
    void *handle_;
};

} // namespace db
