#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include <sys/wait.h>

#include "temp_dir.h"

namespace testutil {

// Runs an isql-fb script (embedded engine: plain file paths, no server) and
// throws with its output when it fails.
inline void runIsql(const TempDir &dir, const std::string &script) {
    const std::string file = dir.file("script.sql");
    writeFile(file, script);
    const std::string command = "isql-fb -q -b -i '" + file + "' 2>&1";
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        throw std::runtime_error("cannot start isql-fb");
    std::string output;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        output.append(buf, n);
    int status = pclose(p);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("isql-fb failed: " + output);
}

// Creates a Firebird database file `name` in `dir`, runs `ddl` in it and
// returns its path.
inline std::string makeFirebirdDatabase(const TempDir &dir, const std::string &name, const std::string &ddl) {
    const std::string path = dir.file(name);
    runIsql(dir, "CREATE DATABASE '" + path + "' USER 'SYSDBA' DEFAULT CHARACTER SET UTF8;\n" + ddl + "\nCOMMIT;\n");
    return path;
}

} // namespace testutil
