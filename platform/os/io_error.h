#pragma once

#include <stdexcept>
#include <string>

namespace os {

// Windows error codes that device output reports; messages and callers compare
// against these numbers, so POSIX errno values are translated to them.
namespace winerr {
inline constexpr int FileNotFound = 2;
inline constexpr int PathNotFound = 3;
inline constexpr int TooManyOpenFiles = 4;
inline constexpr int AccessDenied = 5;
inline constexpr int InvalidHandle = 6;
inline constexpr int NotEnoughMemory = 8;
inline constexpr int NotReady = 21;
inline constexpr int GenFailure = 31;
inline constexpr int SharingViolation = 32;
inline constexpr int FileExists = 80;
inline constexpr int InvalidParameter = 87;
inline constexpr int InvalidHandleType = 105; // the handle's kind cannot be identified
inline constexpr int BrokenPipe = 109;
inline constexpr int DiskFull = 112;
inline constexpr int SemTimeout = 121;
inline constexpr int Busy = 170;
inline constexpr int FilenameTooLong = 206;
inline constexpr int FileTooLarge = 223;
inline constexpr int IoDevice = 1117;
inline constexpr int CantResolveFilename = 1921;
} // namespace winerr

// The text that goes with an I/O error code: a few codes have their own
// words, every other one reads "I/O error <code>".
std::string ioErrorMessage(int code);

// The Windows error code that stands for a POSIX errno value.
int windowsErrorFromErrno(int err);

// A failed device operation: a Windows error code and its message.
class IoError : public std::runtime_error {
public:
    explicit IoError(int code) : std::runtime_error(ioErrorMessage(code)), code_(code) {}
    int code() const noexcept { return code_; }

    // The IoError for the current errno.
    static IoError fromErrno(int err) { return IoError(windowsErrorFromErrno(err)); }

private:
    int code_;
};

} // namespace os
