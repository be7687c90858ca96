#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "child_process.h"
#include "code_page.h"

using os::CodePage;

TEST(CodePage, ConvertsUtf8ToSingleByteCodePages) {
    static const CodePage cp1252("CP1252"), cp850("CP850");
    static constexpr struct {
        const CodePage *cp;
        const char *utf8;
        const char *bytes;
    } cases[] = {
        {&cp1252, "abc\r\n\x1B\x0F\x12", "abc\r\n\x1B\x0F\x12"},     // ASCII, controls included, unchanged
        {&cp1252, "\xC3\xB9", "\xF9"},                               // U+00F9
        {&cp1252, "a\xC3\xA7\xC3\xA3o \xC3\x89", "a\xE7\xE3o \xC9"}, // Portuguese accents
        {&cp1252, "\xE2\x82\xAC", "\x80"},                           // euro sign
        {&cp1252, "\xC4\x81", "?"},                                  // U+0101, not in the code page
        {&cp1252, "\xF0\x9F\x98\x80!", "?!"},                        // beyond the BMP
        {&cp1252, "\xEF\xBF\xBD", "?"},                              // U+FFFD
        {&cp1252, "x\xFFy\xC3", "x?y?"},                             // invalid UTF-8
        {&cp850, "\xC3\xB9\xC3\xA7", "\x97\x87"},
        {&cp850, "\xE2\x82\xAC", "?"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_TRUE(c.cp->singleByte());
        EXPECT_EQ(c.cp->fromUtf8(c.utf8), c.bytes);
    }
    EXPECT_EQ(cp1252.fromUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CodePage, MultiByteCodePagesGoThroughIconv) {
    CodePage sjis("SHIFT_JIS");
    EXPECT_FALSE(sjis.singleByte());
    EXPECT_EQ(sjis.fromUtf8("a\xE3\x81\x82"
                            "b\xC3\xB9"
                            "c\xFF"),
              "a\x82\xA0"
              "b?c?");
    CodePage utf8("UTF-8");
    EXPECT_EQ(utf8.fromUtf8("\xC3\xB9\xF0\x9F\x98\x80"), "\xC3\xB9\xF0\x9F\x98\x80");
}

TEST(CodePage, UnknownNameIsRefused) {
    EXPECT_THROW(CodePage("NO-SUCH-CODEPAGE-42"), std::invalid_argument);
}

TEST(CodePage, ProcessCodePageComesFromTheEnvironmentOnce) {
    static constexpr struct {
        const char *env; // null: unset
        const char *name;
    } cases[] = {{nullptr, "CP1252"}, {"CP860", "CP860"}, {"NO-SUCH-CODEPAGE-42", "CP1252"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.env ? c.env : "(unset)");
        // A fresh process for each: the choice is made once per process.
        int same = testutil::runInChild([&] {
            if (c.env)
                setenv(CodePage::kEnvironmentVariable, c.env, 1);
            else
                unsetenv(CodePage::kEnvironmentVariable);
            const CodePage &cp = CodePage::process();
            setenv(CodePage::kEnvironmentVariable, "CP437", 1);
            return cp.name() == c.name && &CodePage::process() == &cp && CodePage::process().name() == c.name ? 1 : 0;
        });
        EXPECT_EQ(same, 1);
    }
}
