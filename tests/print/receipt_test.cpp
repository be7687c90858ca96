#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pty_device.h"
#include "temp_dir.h"
#include "uUtil.h"

using testutil::readFile;
using testutil::TempDir;

namespace {

// The bytes a receipt puts on a file device.
std::string printed(const std::string &text, const std::string &model, bool condensed, bool cut) {
    TempDir dir;
    ReceiptDevice device(dir.file("out.prn"));
    device.Open();
    PrintReceipt(device, text, model, condensed, cut);
    device.Close();
    return readFile(dir.file("out.prn"));
}

template <class F> int ioCode(F &&f) {
    try {
        f();
    } catch (const IoError &e) {
        return e.code();
    }
    return 0;
}

} // namespace

TEST(PrintReceipt, ByteStreamsOfTheModels) {
    static const struct {
        const char *text;
        const char *model;
        bool condensed, cut;
        std::string bytes;
    } cases[] = {
        {"abc", "", false, false, "abc\r\n"},
        {"abc\r\n", "EPSON", false, false, "abc\r\n"},
        {"a\nb", "EPSON", true, true, "\x1BM1\x0F\r\na\r\nb\r\n\x1BM0\x1Bm"},
        {"a\nb", "CONTROL_ID", true, true, "\x1BM1\x0F\r\na\r\nb\r\n\x1BM0\x1Bm"},
        {"a\nb", "BEMATECH", true, true, "\x1D\xF9(0\x0F\r\na\r\nb\r\n\x12\r\n\x1Bw\r\n"},
        {"a\nb", "epson", true, true, "\x0F\r\na\r\nb\r\n\x12\r\n\x1Bw\r\n"},
        {"a\nb", "DARUMA", true, true, "\x1Bw0\x0F\r\na\r\nb\r\n\x12\r\n\x1Bm\r\n"},
        {"a\nb", "DIEBOLD", true, true, "\x0F\r\na\r\nb\r\n\x12\r\n\x1Bw\r\n"},
        {"", "FEASSO", true, true, std::string("\x1B!\x01\x0F\r\n\x12\r\n\x1DV\x01", 12)},
        {"", "", false, false, ""},
        {"x", "EPSON", false, true, "x\r\n\x1Bm"},
        {"x", "DARUMA", true, false, "\x1Bw0\x0F\r\nx\r\n\x12\r\n"},
        {"x", " EPSON", true, false, "\x0F\r\nx\r\n\x12\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.model) + " / " + c.text);
        EXPECT_EQ(printed(c.text, c.model, c.condensed, c.cut), c.bytes);
    }
}

TEST(PrintReceipt, SplitsLinesAtEveryKindOfLineEnd) {
    static const struct {
        std::string text;
        std::string bytes;
    } cases[] = {
        {"a\r\nb", "a\r\nb\r\n"},
        {"a\rb\r", "a\r\nb\r\n"},
        {"a\n\rb", "a\r\n\r\nb\r\n"}, // LF then CR: two line ends
        {"a\r\r\nb", "a\r\n\r\nb\r\n"},
        {"\n", "\r\n"},
        {"\n\n", "\r\n\r\n"},
        {std::string("ab\0cd\nef", 8), "ab\r\n"}, // NUL ends the text
        {std::string("\0x", 2), ""},
        {"p\xC3\xA3o \xC3\xB9 \xC4\x81", "p\xE3o \xF9 ?\r\n"}, // code page, missing character
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(printed(c.text, "", false, false), c.bytes);
    }
}

TEST(ReceiptDevice, FileBytesWaitForAFullBufferOrClose) {
    TempDir dir;
    std::string path = dir.file("out.prn");
    ReceiptDevice device(path);
    device.Open();
    EXPECT_FALSE(device.FlushEachStep());
    device.WriteLine(std::string(200, 'x'));
    EXPECT_EQ(std::filesystem::file_size(path), 128u);
    device.Write("yz");
    EXPECT_EQ(std::filesystem::file_size(path), 128u);
    device.Close();
    EXPECT_EQ(readFile(path), std::string(200, 'x') + "\r\nyz");
}

TEST(ReceiptDevice, PortBytesAreWrittenAtTheEndOfEachStep) {
    testutil::PtyDevice port;
    ASSERT_TRUE(port.outputProcessing());
    ReceiptDevice device(port.path());
    device.Open();
    EXPECT_TRUE(device.FlushEachStep());
    EXPECT_FALSE(port.outputProcessing());
    device.WriteLine(std::string(200, 'x'));
    EXPECT_EQ(port.read(202), std::string(200, 'x') + "\r\n"); // LF not turned into CR LF
    device.Write("\x1BM1");
    EXPECT_EQ(port.read(3), "\x1BM1");
    device.Close();
    EXPECT_EQ(port.read(), "");
    EXPECT_TRUE(port.outputProcessing()); // the terminal is given back as it was
}

TEST(ReceiptDevice, PathLengthIsCheckedWhenPrepared) {
    EXPECT_EQ(ioCode([] { ReceiptDevice d(std::string(260, 'a')); }), 3);
    EXPECT_EQ(ioCode([] { ReceiptDevice d(std::string(259, 'a')); }), 0);
    std::string accented;
    for (int i = 0; i < 259; ++i)
        accented += "\xC3\xA9"; // 259 characters, 518 bytes
    EXPECT_EQ(ioCode([&] { ReceiptDevice d(accented); }), 0);
    EXPECT_EQ(ioCode([&] { ReceiptDevice d(accented + "e"); }), 3);
    std::string error;
    try {
        ReceiptDevice d(std::string(300, 'a'));
    } catch (const IoError &e) {
        error = e.what();
    }
    EXPECT_EQ(error, "Invalid filename");
}

TEST(ReceiptDevice, FailedWriteLosesTheBufferAndTheRestOfTheStep) {
    ReceiptDevice device("/dev/full");
    device.Open();
    std::string message;
    try {
        device.WriteLine("abc");
    } catch (const IoError &e) {
        EXPECT_EQ(e.code(), 112);
        message = e.what();
    }
    EXPECT_EQ(message, "I/O error 112");
    device.Close(); // nothing left to write: released
}

TEST(ReceiptDevice, FailedFinalWriteKeepsTheDeviceOpenUntilTheNextClose) {
    TempDir dir;
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ReceiptDevice device(fifo);
    device.Open();
    device.WriteLine("waiting in the buffer");
    ::close(reader);
    EXPECT_EQ(ioCode([&] { device.Close(); }), 109);
    // Still open: the same path cannot be taken by another opener until released.
    int again = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ReceiptDevice other(fifo, std::chrono::milliseconds(10));
    EXPECT_EQ(ioCode([&] { other.Open(); }), 32);
    EXPECT_EQ(ioCode([&] { device.Close(); }), 0);
    EXPECT_EQ(ioCode([&] { other.Open(); }), 0);
    other.Close();
    ::close(again);
}

TEST(ReceiptDevice, CharacterDeviceDevNull) {
    ReceiptDevice device("/dev/null");
    device.Open();
    EXPECT_TRUE(device.FlushEachStep());
    PrintReceipt(device, "abc\ndef", "EPSON", true, true);
    device.Close();
}
