#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing past U+10FFFF.
namespace utf8 {

// Length of the valid sequence at p (left bytes available), 0 if there is none;
// its code point goes to cp.
inline std::size_t sequence(const unsigned char *p, std::size_t left, char32_t &cp) {
    unsigned char c = p[0];
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    auto cont = [&](std::size_t i) { return i < left && (p[i] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) {
        if (!cont(1))
            return 0;
        cp = char32_t(c & 0x1F) << 6 | (p[1] & 0x3F);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        cp = char32_t(c & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        cp = char32_t(c & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6 | (p[3] & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF)
            return 0;
        return 4;
    }
    return 0;
}

// Appends the UTF-8 form of the code point cp (at most U+10FFFF).
inline void append(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Whether the text is valid UTF-8. Blocks of 16 bytes that hold only ASCII
// and two-byte characters (Latin text) are checked without branching on each
// character; any other block is checked one character at a time.
inline bool isValid(std::string_view s) {
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    std::size_t n = s.size(), i = 0;
#ifdef __SSE2__
    unsigned carry = 0; // the last block ended with the first byte of a two-byte character
    const __m128i contLimit = _mm_set1_epi8(static_cast<char>(0xC0));
    const __m128i leadLow = _mm_set1_epi8(static_cast<char>(0xC1)), leadHigh = _mm_set1_epi8(static_cast<char>(0xE0));
    while (i + 16 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
        if ((high | carry) == 0) {
            i += 16;
            continue;
        }
        // Signed compares: 0x80..0xBF are continuation bytes, 0xC2..0xDF lead two-byte characters.
        unsigned cont = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, contLimit)));
        unsigned lead = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpgt_epi8(v, leadLow), _mm_cmplt_epi8(v, leadHigh))));
        if ((cont | lead) == high && cont == (((lead << 1) | carry) & 0xFFFF)) {
            carry = lead >> 15;
            i += 16;
            continue;
        }
        // Something else: check from the start of the character that reaches into this block.
        std::size_t base = i, end = i + 16;
        i -= carry;
        carry = 0;
        while (i < end) {
            if (p[i] < 0x80) { // on to the block's next non-ASCII byte
                unsigned rest = high >> (i - base);
                if (rest == 0)
                    break;
                i += static_cast<std::size_t>(__builtin_ctz(rest));
                continue;
            }
            char32_t cp;
            std::size_t len = sequence(p + i, n - i, cp);
            if (len == 0)
                return false;
            i += len;
        }
        i = std::max(i, end);
    }
    i -= carry;
#endif
    while (i < n) {
        char32_t cp;
        std::size_t len = sequence(p + i, n - i, cp);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

// The number of UTF-16 code units that the text takes; an invalid byte counts
// as one unit (it would stand for U+FFFD).
inline std::size_t utf16Length(std::string_view s) {
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    std::size_t n = s.size(), i = 0, units = 0;
    while (i < n) {
        char32_t cp;
        std::size_t len = sequence(p + i, n - i, cp);
        if (len == 0) {
            ++units;
            ++i;
            continue;
        }
        units += cp >= 0x10000 ? 2 : 1;
        i += len;
    }
    return units;
}

} // namespace utf8
