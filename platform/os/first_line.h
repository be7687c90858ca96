#pragma once

#include <cstddef>
#include <string>

namespace os {

// The first line of the file at `path` without its line end (LF or CR LF),
// cut to its first `maxBytes` bytes; the rest of the file is not kept. An empty
// file gives an empty line. Throws IoError when the file cannot be opened or
// read.
std::string readFirstLine(const std::string &path, size_t maxBytes);

} // namespace os
