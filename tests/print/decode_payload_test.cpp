#include <gtest/gtest.h>

#include <string>

#include "DecodePayload.h"

namespace {

const std::string kNoMapping = "No mapping for the Unicode character exists in the target multi-byte code page";

std::string failure(const std::string &payload) {
    try {
        DecodePayload(payload);
    } catch (const EPayloadError &e) {
        return e.what();
    }
    return "(decoded)";
}

} // namespace

TEST(DecodePayload, DecodesUrlThenBase64) {
    static const struct {
        std::string payload;
        std::string text;
    } cases[] = {
        {"YWJj", "abc"},
        {"YWJjZA==", "abcd"},
        {"YW\r\nJj\r\n", "abc"}, // line breaks skipped
        {"Y W J j", "abc"},      // spaces skipped
        {"YW+Jj", "abc"},        // a plus sign is a space
        {"YW\\Jj", "abc"},       // backslash skipped
        {"Y%57Jj", "abc"},       // %57 is W
        {"%59%57%4a%6A", "abc"}, // both cases of hex digits
        {"YW%%Jj", "abc"},       // %% is one percent sign, skipped
        {"b2s%2BPg==", "ok>>"},  // an escaped plus sign
        {"b2s+Pg==", "ok\x0F"},  // an unescaped one shifts the bits
        {"YWJjZ", "abc"},        // a single last character gives nothing
        {"YWI", "ab"},
        {"YQ", "a"},
        {"w6E/", "\xC3\xA1?"},
        {"w6E\\/", "\xC3\xA1?"}, // a slash escaped in JSON
        {"=Y=W=J=j=", "abc"},
        {"", ""},
        {"====", ""},
        {std::string("YWJj\0ZGVm", 9), "abc"}, // NUL ends the payload
        {std::string("\0%", 2), ""},
        {"\xC5\x81WJj", "\x01"
                        "bc"},              // U+0141 is judged by its low byte 0x41, A
        {"\xC3\xA9YWJj", "abc"},            // U+00E9: low byte not in the alphabet
        {"YWJj\xF0\x9F\x98\x80", "abc"},    // beyond the BMP: both halves skipped
        {"AA%3D%3D", std::string("\0", 1)}, // a decoded NUL survives
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.payload);
        EXPECT_EQ(DecodePayload(c.payload), c.text);
    }
}

TEST(DecodePayload, FailuresCarryTheirMessages) {
    static const struct {
        std::string payload;
        std::string message;
    } cases[] = {
        {"YWJj%4", "Error decoding URL style (%XX) encoded string at position 5"},
        {"YWJj%", "Error decoding URL style (%XX) encoded string at position 5"},
        {"%", "Error decoding URL style (%XX) encoded string at position 1"},
        {std::string("%4\0"
                     "41",
                     5),
         "Error decoding URL style (%XX) encoded string at position 1"},
        {"\xC3\xA9\xF0\x9F\x98\x80%4", "Error decoding URL style (%XX) encoded string at position 4"},
        {"YW%G1Jj", "Invalid URL encoded character (%G1) at position 3"},
        {"%4G", "Invalid URL encoded character (%4G) at position 1"},
        {"%\xC3\xA9"
         "1x",
         "Invalid URL encoded character (%\xC3\xA9"
         "1) at position 1"},
        {"\xC3\xA9%zz", "Invalid URL encoded character (%zz) at position 2"},
        {"%\xF0\x9F\x98\x80", "Invalid URL encoded character (%\xF0\x9F\x98\x80) at position 1"},
        {"%a\xF0\x9F\x98\x80", "Invalid URL encoded character (%a\xEF\xBF\xBD) at position 1"},
        {"%G", "Error decoding URL style (%XX) encoded string at position 1"},
        {"6Q==", kNoMapping}, // Windows-1252 text, not UTF-8
        {"/w==", kNoMapping},
        {"7aCA", kNoMapping}, // an encoded surrogate
        {"wIA=", kNoMapping}, // an overlong form
        {"%FF", kNoMapping},  // URL decoding gave invalid UTF-8
        {"YW\xFFJj", kNoMapping},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.payload);
        EXPECT_EQ(failure(c.payload), c.message);
    }
}

TEST(DecodePayload, LargePayloadsRoundTrip) {
    std::string text;
    for (int i = 0; i < 200000; ++i)
        text += "linha \xC3\xA7\xC3\xA3o " + std::to_string(i) + "\r\n";
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string payload;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(text[i]) << 16;
        std::size_t n = std::min<std::size_t>(3, text.size() - i);
        if (n > 1)
            v |= static_cast<unsigned char>(text[i + 1]) << 8;
        if (n > 2)
            v |= static_cast<unsigned char>(text[i + 2]);
        for (std::size_t k = 0; k < 4; ++k) {
            if (k > n) {
                payload += "%3D";
                continue;
            }
            char c = alphabet[(v >> (18 - 6 * k)) & 63];
            payload += c == '+' ? std::string("%2B") : std::string(1, c);
        }
        if (i % 57 == 54)
            payload += "%0D%0A";
    }
    EXPECT_EQ(DecodePayload(payload), text);
}

// Long runs of clean Base64 (decoded a block at a time) with plus signs and
// slashes, both on the plain ASCII path and on the path for text that holds
// other characters.
TEST(DecodePayload, LongAlphabetRunsWithPlusAndSlash) {
    std::string text;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 8; ++k)
            text += "\xC2\xBF>\xC3\xBA?";
        text += "A\xC3\xA7\xC3\xA3o ~\xC3\xBC|";
    }
    const std::string clean = "wr8+w7o/wr8+w7o/wr8+w7o/wr8+w7o/wr8+w7o/wr8+w7o/wr8+w7o/wr8+w7o/QcOnw6NvIH7DvHzCvz7Duj/"
                              "Cvz7Duj/Cvz7Duj/Cvz7Duj/Cvz7Duj/Cvz7Duj/Cvz7Duj/Cvz7Duj9Bw6fDo28gfsO8fMK/PsO6P8K/"
                              "PsO6P8K/PsO6P8K/PsO6P8K/PsO6P8K/PsO6P8K/PsO6P8K/PsO6P0HDp8OjbyB+w7x8";
    std::string payload;
    for (char c : clean)
        payload += c == '+' ? std::string("%2B") : std::string(1, c);
    EXPECT_EQ(DecodePayload(payload), text);
    EXPECT_EQ(DecodePayload("\xC3\xA9" + payload), text); // U+00E9 is skipped
    EXPECT_EQ(DecodePayload(payload + "%C3%A9"), text);
    for (std::size_t cut = 0; cut < 20; ++cut) // every alignment of the blocks
        EXPECT_EQ(DecodePayload(std::string(cut, '=') + payload), text) << cut;
    // An unescaped plus sign is a space, skipped wherever it stands in a block.
    auto outcome = [](const std::string &p) {
        try {
            return DecodePayload(p);
        } catch (const EPayloadError &e) {
            return std::string("failed: ") + e.what();
        }
    };
    std::string spaced = clean;
    for (char &c : spaced)
        if (c == '+')
            c = ' ';
    EXPECT_EQ(outcome(clean), outcome(spaced));
    EXPECT_NE(outcome(clean), text);
}
