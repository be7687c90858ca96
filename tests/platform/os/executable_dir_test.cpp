#include <gtest/gtest.h>

#include <filesystem>

#include "executable_dir.h"
#include "first_line.h"
#include "io_error.h"
#include "temp_dir.h"

namespace {

using testutil::TempDir;
using testutil::writeFile;

TEST(ExecutableDir, FolderOfThisProgramWithTrailingSlash) {
    const std::string dir = os::executableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::equivalent(os::executablePath(), "/proc/self/exe"));
    EXPECT_EQ(dir + std::filesystem::path(os::executablePath()).filename().string(), os::executablePath());
}

TEST(ExecutableDir, ChangeDirAndBack) {
    TempDir dir;
    const std::string before = os::currentDir();
    os::changeDir(dir.path().string());
    EXPECT_EQ(os::currentDir(), dir.path().string());
    os::changeDir(before);
    EXPECT_THROW(os::changeDir(dir.file("missing")), std::system_error);
}

TEST(ReadFirstLine, LineEndsAndCut) {
    TempDir dir;
    struct Case {
        std::string bytes;
        size_t max;
        std::string line;
    };
    const Case cases[] = {
        {"", 10, ""},
        {"abc\r\ndef", 10, "abc"},
        {"abc\ndef\r\n", 10, "abc"},
        {"a\rb\n", 10, "a\rb"},
        {"abc\r", 10, "abc\r"},
        {"abcdef\n", 4, "abcd"},
        {std::string(10000, 'x') + "\nnext", 3, "xxx"},
    };
    for (const auto &c : cases) {
        writeFile(dir.file("f"), c.bytes);
        EXPECT_EQ(os::readFirstLine(dir.file("f"), c.max), c.line) << c.bytes.substr(0, 20);
    }
}

TEST(ReadFirstLine, FailuresCarryRuntimeMessages) {
    TempDir dir;
    try {
        os::readFirstLine(dir.file("missing"), 10);
        FAIL();
    } catch (const os::IoError &e) {
        EXPECT_EQ(e.code(), 2);
        EXPECT_STREQ(e.what(), "File not found");
    }
    try {
        os::readFirstLine(dir.file("missing/x"), 10);
        FAIL();
    } catch (const os::IoError &e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
    try {
        os::readFirstLine(dir.path().string(), 10); // a folder
        FAIL();
    } catch (const os::IoError &e) {
        EXPECT_EQ(e.code(), 5);
        EXPECT_STREQ(e.what(), "File access denied");
    }
}

} // namespace
