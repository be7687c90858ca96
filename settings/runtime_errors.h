#pragma once

#include <stdexcept>
#include <string>

#include "io_error.h"

// The runtime's error kinds that the system's code raises with the original's
// messages. The message is the exception's what().

// An input/output failure: a Windows-style error code and its message ("File not
// found", "File access denied", "I/O error %d", ...).
class EInOutError : public os::IoError {
public:
    explicit EInOutError(int code) : os::IoError(code), ErrorCode(code) {}
    int ErrorCode;
};

// The Windows-style code that a text file operation reports for an errno value
// (a short write on a full disk reads "Disk full", 101, as for text files).
int InOutErrorCode(int errnoValue);

// A text that does not convert, e.g. "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An argument refused by a handler, e.g. "Digite apenas números".
class EArgumentException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
