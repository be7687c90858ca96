#pragma once

#include <stdexcept>
#include <string>

namespace os {

// A failed file operation, carrying a Windows-style error code (2 file not
// found, 3 path not found, 5 access denied, ...) and the runtime's message for
// it ("File not found", "I/O error 32").
class InOutError : public std::runtime_error {
public:
    explicit InOutError(int code);
    int code() const { return code_; }

private:
    int code_;
};

// The Windows-style code for an errno value.
int inOutCodeFromErrno(int err);

// The runtime's message for a code.
std::string inOutMessage(int code);

// The first line of the file at `path` without its line end (LF or CR LF),
// cut to its first `maxBytes` bytes; the rest of the file is not kept. An empty
// file gives an empty line. Throws InOutError when the file cannot be opened
// or read.
std::string readFirstLine(const std::string &path, size_t maxBytes);

} // namespace os
