#include "client_library.h"

#include <map>
#include <memory>
#include <mutex>

#include <dlfcn.h>

namespace db {

ClientLibrary &ClientLibrary::Load(const std::string &path) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<ClientLibrary>> loaded;
    std::lock_guard lock(mutex);
    auto it = loaded.find(path);
    if (it != loaded.end())
        return *it->second;
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        const char *err = dlerror();
        throw DbError("Cannot load client library " + path + ": " + (err ? err : "unknown error"));
    }
    auto lib = std::unique_ptr<ClientLibrary>(new ClientLibrary(path, handle));
    return *loaded.emplace(path, std::move(lib)).first->second;
}

void *ClientLibrary::Symbol(const char *name) const {
    void *sym = dlsym(handle_, name);
    if (!sym)
        throw DbError("Client library " + path_ + " lacks " + name);
    return sym;
}

} // namespace db
