#pragma once

#include <string>

namespace os {

// Folder of the running executable (resolved through /proc/self/exe), with its
// trailing '/'. Throws std::system_error when the link cannot be read.
std::string executableDir();

// Full path of the running executable.
std::string executablePath();

// The process's current directory, without a trailing '/' (except for "/").
// Throws std::system_error when it cannot be read.
std::string currentDir();

// Makes `path` the process's current directory; throws std::system_error.
void changeDir(const std::string &path);

} // namespace os
