#include "dbx_text.h"

#include "utf8.h"

#include <stdexcept>

namespace datasnap {

void Utf16Decoder::unit(std::uint16_t u) {
    if (u >= 0xDC00 && u <= 0xDFFF) {
        if (high_) {
            utf8::append(out_, 0x10000 + ((char32_t(high_) - 0xD800) << 10) + (u - 0xDC00));
            high_ = 0;
        } else {
            utf8::append(out_, 0xFFFD);
        }
        return;
    }
    finish();
    if (u >= 0xD800 && u <= 0xDBFF)
        high_ = u;
    else
        utf8::append(out_, u);
}

void Utf16Decoder::finish() {
    if (high_) {
        utf8::append(out_, 0xFFFD);
        high_ = 0;
    }
}

char32_t nextCodePoint(std::string_view s, std::size_t &i) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    int extra = b >= 0xF8 ? -1 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : -1;
    if (extra < 0 || i + extra >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += extra + 1;
    return cp;
}

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

void appendU(std::string &out, std::uint16_t u) {
    out += "\\u";
    out.push_back(hexDigits[(u >> 12) & 0xF]);
    out.push_back(hexDigits[(u >> 8) & 0xF]);
    out.push_back(hexDigits[(u >> 4) & 0xF]);
    out.push_back(hexDigits[u & 0xF]);
}

bool appendShortEscape(std::string &out, std::uint16_t u) {
    switch (u) {
    case '"':
        out += "\\\"";
        return true;
    case '\\':
        out += "\\\\";
        return true;
    case '\b':
        out += "\\b";
        return true;
    case '\f':
        out += "\\f";
        return true;
    case '\n':
        out += "\\n";
        return true;
    case '\r':
        out += "\\r";
        return true;
    case '\t':
        out += "\\t";
        return true;
    default:
        return false;
    }
}

} // namespace

void appendDbxString(std::string &out, std::string_view utf8) {
    out.push_back('"');
    forEachUtf16(utf8, [&](std::uint16_t u) {
        if (appendShortEscape(out, u))
            return;
        if (u < 0x20 || u > 0xFF)
            appendU(out, u);
        else
            out.push_back(static_cast<char>(u));
    });
    out.push_back('"');
}

void appendRtlJsonString(std::string &out, std::string_view utf8) {
    out.push_back('"');
    forEachUtf16(utf8, [&](std::uint16_t u) {
        if (appendShortEscape(out, u))
            return;
        if (u == '/')
            out += "\\/";
        else if (u < 0x20 || u > 0x7E)
            appendU(out, u);
        else
            out.push_back(static_cast<char>(u));
    });
    out.push_back('"');
}

std::string encodeRowString(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    bool wide = false;
    forEachUtf16(utf8, [&](std::uint16_t u) {
        if (!wide && u >= 0xFF) {
            wide = true;
            out.push_back('\xFF');
        }
        if (wide) {
            out.push_back(static_cast<char>(u >> 8));
            out.push_back(static_cast<char>(u & 0xFF));
        } else {
            out.push_back(static_cast<char>(u));
        }
    });
    return out;
}

std::string decodeRowString(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    for (; i < bytes.size() && bytes[i] != '\xFF'; ++i)
        utf8::append(out, static_cast<unsigned char>(bytes[i]));
    if (i < bytes.size()) {
        ++i;
        if ((bytes.size() - i) % 2 != 0)
            throw std::invalid_argument("odd number of bytes in a wide string field");
        Utf16Decoder dec(out);
        for (; i + 1 < bytes.size(); i += 2)
            dec.unit(static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) << 8 |
                                                static_cast<unsigned char>(bytes[i + 1])));
    }
    return out;
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        utf8::append(out, static_cast<unsigned char>(c));
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t start = i;
        char32_t cp = nextCodePoint(bytes, i);
        if (cp == 0xFFFD && !(i - start == 3 && bytes.substr(start, 3) == "\xEF\xBF\xBD"))
            return false;
    }
    return true;
}

} // namespace datasnap
