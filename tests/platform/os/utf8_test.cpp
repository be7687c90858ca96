#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utf8.h"

namespace {

// One character at a time, the plain way.
bool validSlowly(const std::string &s) {
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp;
        std::size_t len = utf8::sequence(p + i, s.size() - i, cp);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

} // namespace

TEST(Utf8, SequencesFollowTheStrictRules) {
    static const struct {
        const char *bytes;
        bool valid;
    } cases[] = {
        {"abc", true},
        {"\xC3\xA9", true},
        {"\xE2\x82\xAC", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"\xC0\x80", false},
        {"\xC1\xBF", false},
        {"\xE0\x9F\xBF", false},
        {"\xED\xA0\x80", false},
        {"\xED\x9F\xBF", true},
        {"\xF0\x8F\xBF\xBF", false},
        {"\xF4\x90\x80\x80", false},
        {"\xF5\x80\x80\x80", false},
        {"\x80", false},
        {"\xC3", false},
        {"\xE2\x82", false},
        {"\xFF", false},
        {"\xC3\xA9\xA9", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(utf8::isValid(c.bytes), c.valid);
        EXPECT_EQ(validSlowly(c.bytes), c.valid);
    }
}

// The block-wise check must agree with the plain one wherever a character or
// a fault stands relative to the 16-byte blocks.
TEST(Utf8, BlockCheckAgreesAtEveryOffset) {
    const std::vector<std::string> pieces = {
        "\xC3\xA9", "\xE2\x82\xAC",     "\xF0\x9F\x98\x80", "\x80",         "\xC3",
        "\xC3\xC3", "\xC3\xA9\xA9",     "\xED\xA0\x80",     "\xE0\x80\x80", "\xDF\xBF",
        "\xC2\x80", "\xC3\xA9\xC3\xA9", "\xE2\x82",         "\xFF",
    };
    for (const auto &piece : pieces)
        for (const auto &second : pieces)
            for (std::size_t at = 0; at < 40; ++at) {
                std::string s(48, 'a');
                s.insert(at, piece);
                for (std::size_t len : {s.size(), at + piece.size(), std::size_t(16), std::size_t(31)}) {
                    std::string t = s.substr(0, len);
                    t.insert(std::min(t.size(), at + piece.size() + 14), second);
                    ASSERT_EQ(utf8::isValid(t), validSlowly(t)) << testing::PrintToString(t);
                }
            }
}

TEST(Utf8, Utf16LengthCountsPairsTwice) {
    EXPECT_EQ(utf8::utf16Length(""), 0u);
    EXPECT_EQ(utf8::utf16Length("a\xC3\xA9\xE2\x82\xAC"), 3u);
    EXPECT_EQ(utf8::utf16Length("\xF0\x9F\x98\x80"), 2u);
    EXPECT_EQ(utf8::utf16Length("\xFF\xC3"), 2u);
}
