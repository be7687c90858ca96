#include <gtest/gtest.h>

#include <cerrno>

#include "io_error.h"

TEST(IoError, MessageFollowsTheCode) {
    static constexpr struct {
        int code;
        const char *message;
    } cases[] = {
        {2, "File not found"},
        {3, "Invalid filename"},
        {4, "Too many open files"},
        {5, "File access denied"},
        {100, "Read beyond end of file"},
        {101, "Disk full"},
        {106, "Invalid numeric input"},
        {32, "I/O error 32"},
        {105, "I/O error 105"},
        {112, "I/O error 112"},
        {0, "I/O error 0"},
        {-7, "I/O error -7"},
    };
    for (const auto &c : cases) {
        os::IoError e(c.code);
        EXPECT_EQ(e.code(), c.code);
        EXPECT_STREQ(e.what(), c.message);
        EXPECT_EQ(os::ioErrorMessage(c.code), c.message);
    }
}

TEST(IoError, ErrnoBecomesTheWindowsCode) {
    static constexpr struct {
        int err;
        int code;
    } cases[] = {
        {ENOENT, 2},  {ENOTDIR, 3}, {EMFILE, 4}, {ENFILE, 4},  {EACCES, 5},         {EPERM, 5},
        {EROFS, 5},   {EISDIR, 5},  {EBADF, 6},  {EAGAIN, 32}, {ENOSPC, 112},       {EDQUOT, 112},
        {EPIPE, 109}, {EIO, 1117},  {ENXIO, 21}, {EFBIG, 223}, {ENAMETOOLONG, 206}, {EPROTO, 31},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.err);
        EXPECT_EQ(os::windowsErrorFromErrno(c.err), c.code);
        EXPECT_EQ(os::IoError::fromErrno(c.err).code(), c.code);
    }
}
