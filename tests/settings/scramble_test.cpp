#include <gtest/gtest.h>

#include <set>
#include <string>

#include "uScramble.h"

namespace {

struct ScrambleExample {
    std::string value;
    int key;
    std::string line;
};

// Lines as the original program writes them; both directions must match byte for byte.
const ScrambleExample kExamples[] = {
    {"211", 9, "\x39\x4D\x4C\x4C"},          {"-1", 3, "\x33\x36\x3A"}, {"0", 2, "\x32\x36"}, {"", 7, "\x37"},
    {"\xFC", 2, std::string("\x32\x02", 2)}, // wraps around modulo 256
};

TEST(Scramble, ExamplesMatchByteForByte) {
    for (const auto &ex : kExamples) {
        EXPECT_EQ(scramble(ex.value, ex.key), ex.line) << ex.value;
        EXPECT_EQ(unscramble(ex.line), ex.value) << ex.line;
    }
}

TEST(Scramble, EveryKeyRoundTripsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    for (int key = 0; key <= 9; ++key) {
        const std::string line = scramble(all, key);
        ASSERT_EQ(line.size(), all.size() + 1);
        EXPECT_EQ(line[0], '0' + key);
        EXPECT_EQ(unscramble(line), all) << "key " << key;
        if (key > 0) {
            EXPECT_NE(line.substr(1), all) << "key " << key;
        }
    }
    EXPECT_THROW(scramble("x", 10), std::invalid_argument);
    EXPECT_THROW(scramble("x", -1), std::invalid_argument);
}

TEST(Scramble, DrawnKeysAreTwoToNineAndAllAppear) {
    std::set<char> keys;
    for (int i = 0; i < 400; ++i) {
        const std::string line = scramble("Senha \xC7");
        ASSERT_EQ(line.size(), 8u);
        ASSERT_GE(line[0], '2');
        ASSERT_LE(line[0], '9');
        EXPECT_EQ(line, scramble("Senha \xC7", line[0] - '0'));
        EXPECT_EQ(unscramble(line), "Senha \xC7");
        keys.insert(line[0]);
    }
    EXPECT_EQ(keys.size(), 8u); // a 400-draw miss of one key has odds below 1e-22
    const std::string empty = scramble("");
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(unscramble(empty), "");
}

TEST(Unscramble, LinesTheProgramNeverWrites) {
    const struct {
        std::string line, value;
    } cases[] = {
        {"", ""},
        {"5", ""},
        {"A12", "12"},   // a first byte that is no digit gives key 0
        {"0abc", "abc"}, // key 0 keeps the rest unchanged
        {"1def", "abc"}, // key 1 is honoured
        {"\xEF\xBB\xBF"
         "9MLL",
         "\xBB\xBF"
         "9MLL"}, // a byte-order mark is no digit
        {" 9MLL", "9MLL"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(unscramble(c.line), c.value) << c.line;
}

TEST(DigitsOnly, KeepsDigitsInOrder) {
    const struct {
        std::string text, digits;
    } cases[] = {
        {"", ""},      {"abc", ""},           {" 12 ", "12"},   {"1a2b3", "123"},
        {"-10", "10"}, {"\t\x01 7\r\n", "7"}, {"\xD9\xA3", ""}, // bytes of a non-ASCII digit are not digits here
    };
    for (const auto &c : cases)
        EXPECT_EQ(DigitsOnly(c.text), c.digits) << c.text;
}

TEST(Trim, RemovesControlCodesAndSpacesOnly) {
    EXPECT_EQ(Trim(" \t\x01"
                   "EPSON \r\n"),
              "EPSON");
    EXPECT_EQ(Trim(" "), "");
    EXPECT_EQ(Trim("a b"), "a b");
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0"); // a no-break space is above 32
}

} // namespace
