// Any payload decodes to valid UTF-8 or fails with a message, with the same
// outcome as a plain character-by-character decoder; a text encoded the way
// clients do it (Base64 with escaped plus signs, broken into lines) comes back
// unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "DecodePayload.h"
#include "utf8.h"

namespace {

const char *const kNoMapping = "No mapping for the Unicode character exists in the target multi-byte code page";

// UTF-16 code units of valid UTF-8 text; an invalid byte stands for U+FFFD.
std::u16string units(std::string_view s) {
    std::u16string out;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp;
        std::size_t len = utf8::sequence(p + i, s.size() - i, cp);
        if (len == 0) {
            out += u'\xFFFD';
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

std::string toUtf8(const std::u16string &u) {
    std::string out;
    for (std::size_t i = 0; i < u.size(); ++i) {
        char32_t c = u[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int hex(char16_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The decoding rules spelled out one UTF-16 character at a time.
std::string plainDecode(std::string_view payload) {
    std::u16string in = units(payload.substr(0, payload.find('\0')));
    std::string bytes;
    for (std::size_t i = 0; i < in.size();) {
        char16_t c = in[i];
        if (c == '+') {
            bytes += ' ';
            ++i;
        } else if (c != '%') {
            bytes += toUtf8(std::u16string(1, c) +
                            (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() ? in.substr(i + 1, 1) : u""));
            i +=
                (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) ? 2 : 1;
        } else if (i + 1 < in.size() && in[i + 1] == '%') {
            bytes += '%';
            i += 2;
        } else if (i + 2 >= in.size()) {
            throw EPayloadError("Error decoding URL style (%XX) encoded string at position " + std::to_string(i + 1));
        } else if (hex(in[i + 1]) < 0 || hex(in[i + 2]) < 0) {
            throw EPayloadError("Invalid URL encoded character (" + toUtf8(in.substr(i, 3)) + ") at position " +
                                std::to_string(i + 1));
        } else {
            bytes += static_cast<char>(hex(in[i + 1]) << 4 | hex(in[i + 2]));
            i += 3;
        }
    }
    // Bytes of the payload that are not UTF-8 pass URL decoding unchanged and fail here.
    if (!utf8::isValid(payload.substr(0, payload.find('\0'))) || !utf8::isValid(bytes))
        throw EPayloadError(kNoMapping);
    std::string out;
    std::uint32_t acc = 0;
    int count = 0;
    for (char16_t c : units(bytes)) {
        unsigned char b = static_cast<unsigned char>(c & 0xFF);
        int v = b >= 'A' && b <= 'Z'   ? b - 'A'
                : b >= 'a' && b <= 'z' ? b - 'a' + 26
                : b >= '0' && b <= '9' ? b - '0' + 52
                : b == '+'             ? 62
                : b == '/'             ? 63
                                       : -1;
        if (v < 0)
            continue;
        acc = acc << 6 | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>(acc >> 16);
            out += static_cast<char>(acc >> 8);
            out += static_cast<char>(acc);
            acc = 0;
            count = 0;
        }
    }
    if (count == 3) {
        out += static_cast<char>(acc >> 10);
        out += static_cast<char>(acc >> 2);
    } else if (count == 2) {
        out += static_cast<char>(acc >> 4);
    }
    if (!utf8::isValid(out))
        throw EPayloadError(kNoMapping);
    return out;
}

std::string outcome(std::string (*decode)(std::string_view), std::string_view payload) {
    try {
        return "ok:" + decode(payload);
    } catch (const EPayloadError &e) {
        return std::string("failed:") + e.what();
    }
}

std::string encodeAsClient(std::string_view text) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        std::size_t n = text.size() - i < 3 ? text.size() - i : 3;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(text[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k) {
            if (k > n) {
                out += "%3D";
                continue;
            }
            char c = alphabet[(v >> (18 - 6 * k)) & 63];
            out += c == '+' ? std::string("%2B") : std::string(1, c);
        }
        if (i % 57 == 54)
            out += "%0D%0A";
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::string got = outcome(DecodePayload, input);
    if (got != outcome(plainDecode, input))
        std::abort();
    if (got.rfind("ok:", 0) == 0 && !utf8::isValid(got))
        std::abort();

    std::string_view text = input.substr(0, input.find('\0'));
    if (utf8::isValid(text) && DecodePayload(encodeAsClient(text)) != text)
        std::abort();
    return 0;
}
