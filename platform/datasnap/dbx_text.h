#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace datasnap {

// Text conversions of the DBX stream. The system's text is UTF-8; the
// platform's is UTF-16, so lone surrogates become U+FFFD on the way in.

// Feeds UTF-16 code units one by one and writes UTF-8, pairing surrogates.
class Utf16Decoder {
public:
    explicit Utf16Decoder(std::string &out) : out_(out) {}
    ~Utf16Decoder() { finish(); }
    void unit(std::uint16_t u);
    void finish();

private:
    std::string &out_;
    std::uint16_t high_ = 0;
};

// Calls `f(unit)` for each UTF-16 code unit of UTF-8 text; malformed bytes
// give U+FFFD.
template <class F> void forEachUtf16(std::string_view utf8, F &&f);
char32_t nextCodePoint(std::string_view utf8, std::size_t &i);

// A string of the DBX message stream: quoted, `"` `\` and BS FF LF CR TAB
// escaped, other units below 0x20 or above 0xFF as \uXXXX, the rest one raw
// byte each.
void appendDbxString(std::string &out, std::string_view utf8);

// A string of the platform's JSON serialiser (filter descriptions, JSON
// values in rows): ASCII only, `/` escaped, non-ASCII as \uXXXX.
void appendRtlJsonString(std::string &out, std::string_view utf8);

// The row buffer's string encoding: one byte per unit up to 0xFE; from the
// first unit of 0xFF or more a 0xFF marker and UTF-16BE for the rest.
std::string encodeRowString(std::string_view utf8);
std::string decodeRowString(std::string_view bytes);

// Bytes read as Latin-1, written as UTF-8.
std::string latin1ToUtf8(std::string_view bytes);
bool isValidUtf8(std::string_view bytes);

template <class F> void forEachUtf16(std::string_view utf8, F &&f) {
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = nextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            f(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            f(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            f(static_cast<std::uint16_t>(cp));
        }
    }
}

} // namespace datasnap
