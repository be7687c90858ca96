#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "servidor_cfg.h"
#include "settings_text.h"
#include "temp_dir.h"

namespace {

using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

ServidorCfgLines Lines(std::initializer_list<std::string> first) {
    ServidorCfgLines lines;
    size_t i = 0;
    for (const auto &l : first)
        lines[i++] = l;
    return lines;
}

TEST(ReadServidorCfg, LineEndsEndOfFileAndLineCount) {
    const struct {
        const char *name;
        std::string bytes;
        ServidorCfgLines expected;
    } cases[] = {
        {"crlf", "a\r\nb\r\n", Lines({"a", "b"})},
        {"bare lf", "a\nb\n", Lines({"a", "b"})},
        {"no final line end", "a\r\nb", Lines({"a", "b"})},
        {"lone cr stays in the line", "a\rb\r\nc\r", Lines({"a\rb", "c\r"})},
        {"byte 26 ends the file",
         std::string("a\r\nb\x1A"
                     "c\r\nd\r\n"),
         Lines({"a", "b"})},
        {"byte-order mark belongs to line 1",
         "\xEF\xBB\xBF"
         "9MLL\r\n",
         Lines({"\xEF\xBB\xBF"
                "9MLL"})},
        {"empty lines", "\r\n\r\nx\r\n", Lines({"", "", "x"})},
        {"empty file", "", Lines({})},
        {"nul bytes are kept", std::string("a\0b\r\n", 5), Lines({std::string("a\0b", 3)})},
    };
    TempDir dir;
    for (const auto &c : cases) {
        writeFile(dir.file("servidor.cfg"), c.bytes);
        EXPECT_EQ(ReadServidorCfg(dir.file("servidor.cfg")), c.expected) << c.name;
    }
}

TEST(ReadServidorCfg, ThirteenLinesAreReadAndTheRestIgnored) {
    TempDir dir;
    std::string bytes;
    for (int i = 1; i <= 20; ++i)
        bytes += "L" + std::to_string(i) + "\r\n";
    bytes += std::string(100000, 'x'); // a long tail is never needed
    writeFile(dir.file("servidor.cfg"), bytes);
    const auto lines = ReadServidorCfg(dir.file("servidor.cfg"));
    EXPECT_EQ(lines[0], "L1");
    EXPECT_EQ(lines[12], "L13");
}

TEST(ReadServidorCfg, UnreadableFilesRaiseTheInputOutputError) {
    TempDir dir;
    try {
        ReadServidorCfg(dir.file("missing.cfg"));
        FAIL() << "no error";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.ErrorCode, 2);
        EXPECT_STREQ(e.what(), "File not found");
    }
    std::filesystem::create_directory(dir.file("servidor.cfg"));
    try {
        ReadServidorCfg(dir.file("servidor.cfg"));
        FAIL() << "no error";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.ErrorCode, 5);
        EXPECT_STREQ(e.what(), "File access denied");
    }
    EXPECT_TRUE(ServidorCfgExists(dir.file("servidor.cfg")));
    EXPECT_FALSE(ServidorCfgExists(dir.file("nothing")));
    EXPECT_FALSE(ServidorCfgExists(dir.file("nothing/servidor.cfg")));
}

TEST(ReadServidorCfg, NoReadPermission) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root; the folder case covers the failure";
    TempDir dir;
    writeFile(dir.file("servidor.cfg"), "x\r\n");
    chmod(dir.file("servidor.cfg").c_str(), 0);
    EXPECT_THROW(ReadServidorCfg(dir.file("servidor.cfg")), EInOutError);
}

TEST(WriteServidorCfg, ThirteenCrLfLinesOwnerOnly) {
    TempDir dir;
    const std::string path = dir.file("servidor.cfg");
    writeFile(path, "old contents that are longer than the new ones\r\n");
    chmod(path.c_str(), 0644);
    ServidorCfgLines lines = Lines({"9MLL", "", "", "36:", "1", "COM1"});
    lines[12] = "EPSON";
    WriteServidorCfg(path, lines);
    EXPECT_EQ(readFile(path), "9MLL\r\n\r\n\r\n36:\r\n1\r\nCOM1\r\n\r\n\r\n\r\n\r\n\r\n\r\nEPSON\r\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadServidorCfg(path), lines);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(WriteServidorCfg, FailuresLeaveNoPartialFile) {
    TempDir dir;
    const ServidorCfgLines lines = Lines({"9MLL"});
    // A folder in the file's place cannot be replaced.
    std::filesystem::create_directory(dir.file("servidor.cfg"));
    EXPECT_THROW(WriteServidorCfg(dir.file("servidor.cfg"), lines), EInOutError);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("servidor.cfg")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    // A folder that does not exist.
    try {
        WriteServidorCfg(dir.file("none/servidor.cfg"), lines);
        FAIL() << "no error";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.ErrorCode, 3);
    }
    if (geteuid() != 0) {
        std::filesystem::create_directory(dir.file("ro"));
        chmod(dir.file("ro").c_str(), 0500);
        EXPECT_THROW(WriteServidorCfg(dir.file("ro/servidor.cfg"), lines), EInOutError);
        chmod(dir.file("ro").c_str(), 0700);
    }
}

TEST(ExecutableFolder, RealFolderOrTheOneSet) {
    const std::string real = ExecutableFolder();
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(real.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(real + "settings_tests"));
    SetExecutableFolder("/some/where");
    EXPECT_EQ(ExecutableFolder(), "/some/where/");
    SetExecutableFolder("");
    EXPECT_EQ(ExecutableFolder(), real);
}

TEST(CodePage, Windows1252ByDefault) {
    unsetenv("CORVANE_CODEPAGE");
    const std::string text = "Configurações € Ÿ";
    const std::string bytes = "Configura\xE7\xF5"
                              "es \x80 \x9F";
    EXPECT_EQ(ToAnsi(text), bytes);
    EXPECT_EQ(FromAnsi(bytes), text);
    EXPECT_EQ(ToAnsi("日本 ok"), "?? ok");
    EXPECT_EQ(ToAnsi("a\xFF"
                     "b\xC3"),
              "a?b?"); // bytes that are no UTF-8
    // The five bytes Windows-1252 leaves undefined survive a round trip.
    for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(ToAnsi(FromAnsi(one)), one) << int(b);
    }
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(ToAnsi(FromAnsi(all)), all);
}

TEST(CodePage, ChosenByTheEnvironment) {
    setenv("CORVANE_CODEPAGE", "ISO-8859-15", 1);
    EXPECT_EQ(ToAnsi("€"), "\xA4");
    EXPECT_EQ(FromAnsi("\xA4"), "€");
    setenv("CORVANE_CODEPAGE", "NO-SUCH-CODEPAGE", 1);
    EXPECT_EQ(ToAnsi("€"), "\x80");
    unsetenv("CORVANE_CODEPAGE");
}

TEST(UpperCase, AccentedLettersIncluded) {
    EXPECT_EQ(UpperCase("senha ação ÿ ñ 1a"), "SENHA AÇÃO Ÿ Ñ 1A");
    EXPECT_EQ(UpperCase("ß"), "ß");
    EXPECT_EQ(UpperCase("a\xFFz"), "A\xFFZ");
}

} // namespace
