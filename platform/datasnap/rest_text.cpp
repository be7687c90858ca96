#include "rest_text.h"

#include <cstdint>

#include "hex_digit.h"
#include "utf8.h"

namespace datasnap::rest {

namespace {

// Reads `n` hex digits at s[pos]; -1 when they are not all hex.
long hexValue(std::string_view s, std::size_t pos, std::size_t n) {
    if (pos + n > s.size())
        return -1;
    long v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        int d = hexDigitValue(static_cast<unsigned char>(s[pos + i]));
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[i]; advances i. Invalid input yields
// U+FFFD and consumes one byte.
char32_t nextCodePoint(std::string_view s, std::size_t &i) {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    if (c < 0x80) {
        ++i;
        return c;
    }
    std::size_t len;
    char32_t cp;
    char32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + len > s.size()) {
        ++i;
        return kReplacement;
    }
    for (std::size_t k = 1; k < len; ++k) {
        unsigned char t = b(i + k);
        if ((t & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += len;
    return cp;
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

const char kHex[] = "0123456789ABCDEF";

void appendEscape(std::string &out, unsigned unit) {
    out += "\\u";
    out += kHex[(unit >> 12) & 0xF];
    out += kHex[(unit >> 8) & 0xF];
    out += kHex[(unit >> 4) & 0xF];
    out += kHex[unit & 0xF];
}

} // namespace

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalNoCase(s.substr(0, prefix.size()), prefix);
}

std::string sanitizeUtf8(std::string_view text) {
    // most texts are ASCII or already valid: check before rebuilding
    bool valid = true;
    for (std::size_t i0 = 0; i0 < text.size() && valid;) {
        if (static_cast<unsigned char>(text[i0]) < 0x80) {
            ++i0;
            continue;
        }
        std::size_t start = i0;
        if (nextCodePoint(text, i0) == kReplacement && !(i0 - start == 3 && text.substr(start, 3) == "\xEF\xBF\xBD"))
            valid = false;
    }
    if (valid)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t start = i;
        char32_t cp = nextCodePoint(text, i);
        if (cp == kReplacement && !(i - start == 3 && text.substr(start, 3) == "\xEF\xBF\xBD"))
            utf8::append(out, kReplacement);
        else
            out.append(text.substr(start, i - start));
    }
    return out;
}

std::string decodeSegment(std::string_view segment) {
    if (segment.find('%') == std::string_view::npos)
        return sanitizeUtf8(segment);
    std::string out;
    std::string bytes;          // pending bytes, read as UTF-8 when flushed
    char32_t highSurrogate = 0; // a %u high surrogate waiting for its low half
    auto flushBytes = [&] {
        if (!bytes.empty()) {
            out += sanitizeUtf8(bytes);
            bytes.clear();
        }
    };
    auto flushHigh = [&] {
        if (highSurrogate) {
            utf8::append(out, kReplacement);
            highSurrogate = 0;
        }
    };
    std::size_t i = 0;
    while (i < segment.size()) {
        char c = segment[i];
        if (c == '%' && i + 1 < segment.size() && (segment[i + 1] == 'u' || segment[i + 1] == 'U')) {
            long unit = hexValue(segment, i + 2, 4);
            if (unit >= 0) {
                flushBytes();
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    flushHigh();
                    highSurrogate = static_cast<char32_t>(unit);
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    if (highSurrogate) {
                        utf8::append(out,
                                   0x10000 + ((highSurrogate - 0xD800) << 10) + (static_cast<char32_t>(unit) - 0xDC00));
                        highSurrogate = 0;
                    } else {
                        utf8::append(out, kReplacement);
                    }
                } else {
                    flushHigh();
                    utf8::append(out, static_cast<char32_t>(unit));
                }
                i += 6;
                continue;
            }
        }
        flushHigh();
        if (c == '%') {
            long byte = hexValue(segment, i + 1, 2);
            if (byte >= 0) {
                bytes += static_cast<char>(byte);
                i += 3;
                continue;
            }
        }
        bytes += c;
        ++i;
    }
    flushHigh();
    flushBytes();
    return out;
}

std::string normalizeJsonBody(std::string_view body) {
    std::string out;
    out.reserve(body.size() + 16);
    bool inString = false;
    std::size_t i = 0;
    while (i < body.size()) {
        char c = body[i];
        if (!inString) {
            if (c == '"')
                inString = true;
            out += c;
            ++i;
            continue;
        }
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"') {
            inString = false;
            out += c;
            ++i;
        } else if (u < 0x20) {
            appendEscape(out, u);
            ++i;
        } else if (c == '\\') {
            if (i + 1 < body.size() && body[i + 1] == 'u') {
                long unit = hexValue(body, i + 2, 4);
                if (unit < 0) { // leave it to the parser to reject
                    out.append(body.substr(i, 2));
                    i += 2;
                    continue;
                }
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    long low = (i + 7 < body.size() && body[i + 6] == '\\' && body[i + 7] == 'u')
                                   ? hexValue(body, i + 8, 4)
                                   : -1;
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        out.append(body.substr(i, 12));
                        i += 12;
                    } else {
                        out += "\\uFFFD";
                        i += 6;
                    }
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    out += "\\uFFFD";
                    i += 6;
                } else {
                    out.append(body.substr(i, 6));
                    i += 6;
                }
            } else if (i + 1 < body.size()) {
                out.append(body.substr(i, 2));
                i += 2;
            } else {
                out += c;
                ++i;
            }
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

json::Value parseBody(std::string_view body) {
    return json::parse(normalizeJsonBody(body));
}

void writeJsonString(std::string &out, std::string_view s) {
    out += '"';
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += "\\/";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20)
                    appendEscape(out, c);
                else
                    out += static_cast<char>(c);
            }
            continue;
        }
        char32_t cp = nextCodePoint(s, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            appendEscape(out, 0xD800 + static_cast<unsigned>(cp >> 10));
            appendEscape(out, 0xDC00 + static_cast<unsigned>(cp & 0x3FF));
        } else {
            appendEscape(out, static_cast<unsigned>(cp));
        }
    }
    out += '"';
}

void writeJson(std::string &out, const json::Value &v) {
    using K = json::Value::Kind;
    switch (v.kind) {
    case K::Null:
        out += "null";
        break;
    case K::True:
        out += "true";
        break;
    case K::False:
        out += "false";
        break;
    case K::Number:
        out += v.text;
        break;
    case K::String:
        writeJsonString(out, v.text);
        break;
    case K::Array:
        out += '[';
        for (std::size_t k = 0; k < v.items.size(); ++k) {
            if (k)
                out += ',';
            writeJson(out, v.items[k]);
        }
        out += ']';
        break;
    case K::Object:
        out += '{';
        for (std::size_t k = 0; k < v.members.size(); ++k) {
            if (k)
                out += ',';
            writeJsonString(out, v.members[k].first);
            out += ':';
            writeJson(out, v.members[k].second);
        }
        out += '}';
        break;
    }
}

std::string toJson(const json::Value &v) {
    std::string s;
    writeJson(s, v);
    return s;
}

std::string sessionIdFromQuery(std::string_view query) {
    while (!query.empty()) {
        std::size_t amp = query.find('&');
        std::string_view item = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        std::size_t eq = item.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view name = item.substr(0, eq);
        if (equalNoCase(name, "sid") || equalNoCase(name, "SESSIONID")) {
            std::string value = decodeSegment(item.substr(eq + 1));
            if (!value.empty())
                return value;
        }
    }
    return {};
}

std::string sessionIdFromPragma(std::string_view pragma) {
    while (!pragma.empty()) {
        std::size_t comma = pragma.find(',');
        std::string_view item = pragma.substr(0, comma);
        pragma = comma == std::string_view::npos ? std::string_view{} : pragma.substr(comma + 1);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (startsWithNoCase(item, "dssession="))
            return std::string(item.substr(10));
    }
    return {};
}

} // namespace datasnap::rest
