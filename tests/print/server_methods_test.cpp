#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ServerMethodsUnit1.h"
#include "child_process.h"
#include "io_error.h"
#include "json_value.h"
#include "pty_device.h"
#include "temp_dir.h"

using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

namespace {

const std::string kOk = "Realizada com sucesso.";
const std::string kNoMapping = "Erro: No mapping for the Unicode character exists in the target multi-byte code page";

// A methods module on a record the test fills, with a recording page printer.
struct Methods {
    TSettings settings;
    std::vector<std::string> pages; // texts handed to imprime
    bool pageResult = true;
    std::string pageError = "Erro: impressora sem papel";
    bool pageThrows = false;

    Methods() {
        settings.op_impr = "1";
        settings.condensa = "N";
        settings.corta = "N";
    }
    TServerMethods1 make(bool withPrinter = true) {
        auto source = [this] { return std::make_shared<const TSettings>(settings); };
        if (!withPrinter)
            return TServerMethods1(source, nullptr);
        return TServerMethods1(source, [this](const std::string &value, std::string &erro) {
            if (pageThrows)
                throw std::runtime_error("Printer not found");
            pages.push_back(value);
            if (!pageResult)
                erro = pageError;
            return pageResult;
        });
    }
    std::string print(const std::string &payload) { return make().print_texto("USER", "PASS", payload); }
};

class ReceiptMethods : public ::testing::Test {
protected:
    void SetUp() override { m.settings.vimpressora = device(); }
    std::string device() const { return dir.file("out.prn"); }
    std::string output() const { return readFile(device()); }

    TempDir dir;
    Methods m;
};

} // namespace

TEST_F(ReceiptMethods, PrintsTheDecodedTextOnTheDevice) {
    static const struct {
        const char *op_impr, *condensa, *corta, *model;
        std::string payload;
        std::string bytes;
        std::string answer;
    } cases[] = {
        {"1", "N", "N", "", "YWJj", "abc\r\n", kOk},
        {"", "N", "N", "", "YW Jj==\r\n", "abc\r\n", kOk},
        {"X", "N", "N", "", "YW%0D%0AJj%3D", "abc\r\n", kOk},
        {"1", "N", "N", "", "", "", kOk},
        {"1", "s", "n", "EPSON", "YWJj", "abc\r\n", kOk},
        {"1", "S", "S", "EPSON", "YQpi", "\x1BM1\x0F\r\na\r\nb\r\n\x1BM0\x1Bm", kOk},
        {"1", "S", "N", "", "", "\x0F\r\n\x12\r\n", kOk},
        {"1", "N", "N", "", "w6E/", "\xE1?\r\n", kOk},
        {"1", "N", "N", "", "6Q==", "", kNoMapping},
        {"1", "S", "S", "", "w6k+w6k=", "", kNoMapping}, // unescaped plus sign
        {"1", "N", "N", "", "b2s+Pg==", "ok\x0F\r\n", kOk},
        {"1", "N", "N", "", "YWJj%4", "", "Erro: Error decoding URL style (%XX) encoded string at position 5"},
        {"1", "N", "N", "", "YW%G1", "", "Erro: Invalid URL encoded character (%G1) at position 3"},
        {"1", "N", "N", "", std::string("YWJj\0%", 6), "abc\r\n", kOk},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.payload);
        writeFile(device(), "old contents");
        m.settings.op_impr = c.op_impr;
        m.settings.condensa = c.condensa;
        m.settings.corta = c.corta;
        m.settings.vtipo_impressora = c.model;
        EXPECT_EQ(m.print(c.payload), c.answer);
        EXPECT_EQ(output(), c.bytes); // emptied even when the payload fails
    }
    EXPECT_TRUE(m.pages.empty());
}

TEST_F(ReceiptMethods, OpenFailuresAnswerBeforeDecoding) {
    m.settings.vimpressora = dir.file("missing/out.prn");
    EXPECT_EQ(m.print("YWJj"), "Erro: Ao abrir dispositivo de impressao.\rInvalid filename");
    EXPECT_EQ(m.print("%G1"), "Erro: Ao abrir dispositivo de impressao.\rInvalid filename");
    std::filesystem::create_directory(dir.file("folder"));
    m.settings.vimpressora = dir.file("folder");
    EXPECT_EQ(m.print("YWJj"), "Erro: Ao abrir dispositivo de impressao.\rFile access denied");
}

TEST_F(ReceiptMethods, WriteFailureAnswersWithItsCode) {
    m.settings.vimpressora = "/dev/full";
    EXPECT_EQ(m.print("YWJj"), "Erro: I/O error 112");
}

TEST_F(ReceiptMethods, OverlongPathLeavesTheMethod) {
    m.settings.vimpressora = dir.file(std::string(260, 'p'));
    try {
        m.print("YWJj");
        FAIL() << "no exception";
    } catch (const os::IoError &e) {
        EXPECT_EQ(e.code(), 3);
        EXPECT_STREQ(e.what(), "Invalid filename");
    }
}

TEST_F(ReceiptMethods, AnotherProcessHoldingTheDeviceGetsTheOpenFailure) {
    writeFile(device(), "other job");
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = ::open(device().c_str(), O_WRONLY);
        char c = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
        (void)!::write(ready[1], &c, 1);
        (void)!::read(done[0], &c, 1);
        _exit(0);
    }
    char locked = 0;
    ASSERT_EQ(::read(ready[0], &locked, 1), 1);
    ASSERT_TRUE(locked);
    std::string answer = m.print("YWJj");
    (void)!::write(done[1], &locked, 1);
    waitpid(pid, nullptr, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        ::close(fd);
    EXPECT_EQ(answer, "Erro: Ao abrir dispositivo de impressao.\rI/O error 32");
    EXPECT_EQ(output(), "other job");
    EXPECT_EQ(m.print("YWJj"), kOk); // free again
}

TEST(ServerMethods, ConcurrentReceiptsOnOnePortBothPrintWhole) {
    testutil::PtyDevice port;
    Methods m;
    m.settings.vimpressora = port.path();
    // 60 lines of 35 letters each, all A in one receipt and all B in the other.
    std::string payloadA, payloadB;
    for (int i = 0; i < 60; ++i) {
        payloadA += "QUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUEK";
        payloadB += "QkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkJCQkIK";
    }
    auto reader = std::async(std::launch::async, [&] { return port.read(2 * 60 * 37); });
    auto first = std::async(std::launch::async, [&] { return m.make().print_texto("U", "S", payloadA); });
    auto second = std::async(std::launch::async, [&] { return m.make().print_texto("U", "S", payloadB); });
    EXPECT_EQ(first.get(), kOk);
    EXPECT_EQ(second.get(), kOk);
    std::string got = reader.get();
    std::string receiptA, receiptB;
    for (int i = 0; i < 60; ++i) {
        receiptA += std::string(35, 'A') + "\r\n";
        receiptB += std::string(35, 'B') + "\r\n";
    }
    EXPECT_TRUE(got == receiptA + receiptB || got == receiptB + receiptA) << got;
}

TEST(ServerMethods, PagePathHandsTheTextToImprime) {
    Methods m;
    m.settings.op_impr = "2";
    m.settings.vimpressora = "PDF";
    EXPECT_EQ(m.print("YWJj"), kOk);
    EXPECT_EQ(m.pages, std::vector<std::string>{"abc"});

    m.pageResult = false;
    EXPECT_EQ(m.print("YWJj"), "Erro: impressora sem papel");
    m.pageThrows = true;
    EXPECT_EQ(m.print("YWJj"), "Erro: Printer not found");
    EXPECT_EQ(m.print("6Q=="), kNoMapping);
    EXPECT_EQ(m.pages.size(), 2u);

    std::string answer = m.make(false).print_texto("U", "S", "YWJj");
    EXPECT_EQ(answer.rfind("Erro: ", 0), 0u);
    EXPECT_GT(answer.size(), 6u);
}

TEST_F(ReceiptMethods, JsonObjectCarriesThePayload) {
    static const struct {
        const char *json;
        std::string bytes;
        std::string answer;
    } cases[] = {
        {R"({"texto":"YWJj"})", "abc\r\n", kOk},
        {R"({"Value":"w6E/"})", "\xE1?\r\n", kOk},       // the slash arrives as \/
        {R"({"texto":"YWJj\n"})", "abc\r\n", kOk},       // \n stays escaped: a lone n gives nothing
        {"{\"t\xC3\xA9xto\":\"YWJj\"}", "abc\r\n", kOk}, // characters counted, not bytes
        {"{\"\xF0\x9F\x98\x80"
         "abc\":\"YWJj\"}",
         "abc\r\n", kOk},                                           // a surrogate pair counts twice
        {"{\"abcdefg\xF0\x9F\x98\x80\":\"YWJj\"}", "abc\r\n", kOk}, // the cut splits a pair
        {R"({"a":"b"})", "", kOk},                                  // twelve characters or fewer
        {R"({})", "", kOk},
        {R"({"texto":"6Q=="})", "", kNoMapping},
        {R"({"texto":"YWJj","x":1})", "abc\r\n", kOk}, // YWJj","x": is decoded as it is
        {R"({"texto":"YWJj%4"})", "", "Erro: Error decoding URL style (%XX) encoded string at position 5"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.json);
        json::Value v = json::parse(c.json);
        EXPECT_EQ(m.make().updateprint_json("U", "S", &v), c.answer);
        EXPECT_EQ(output(), c.answer == kOk ? c.bytes : "");
    }
}

TEST_F(ReceiptMethods, JsonNullAndNonObjectsAnswerAnErrorWithoutOpening) {
    json::Value null = json::Value::null(), array = json::parse("[\"YWJj\"]");
    for (const json::Value *v : std::vector<const json::Value *>{nullptr, &null, &array}) {
        std::string answer = m.make().updateprint_json("U", "S", v);
        EXPECT_EQ(answer.rfind("Erro: ", 0), 0u);
        EXPECT_GT(answer.size(), 10u);
        EXPECT_FALSE(std::filesystem::exists(device()));
    }
}

TEST(ServerMethods, EmptyDevicePathIsStandardOutput) {
    TempDir dir;
    std::string captured = dir.file("stdout");
    std::string closedAnswer = "Erro: Ao abrir dispositivo de impressao.\rI/O error 105";
    int result = testutil::runInChild([&] {
        Methods m;
        m.settings.vimpressora = "";
        int fd = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        ::close(fd);
        if (m.print("YWJj") != kOk)
            return 1;
        ::close(STDOUT_FILENO); // a process without a standard output
        return m.print("YWJj") == closedAnswer ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(captured), "abc\r\n");
}
