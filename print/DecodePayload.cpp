#include "DecodePayload.h"


#include "hex_digit.h"
#include "utf8.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#define CORVANE_BASE64_SSSE3 1
#include <tmmintrin.h>
#endif

namespace {

constexpr const char *kNoMapping = "No mapping for the Unicode character exists in the target multi-byte code page";

// Positions in messages count the payload's characters the way a UTF-16
// string does.
std::size_t characterIndex(std::string_view payload, std::size_t bytePos) {
    return utf8::utf16Length(payload.substr(0, bytePos));
}

// The text of up to `count` UTF-16 units starting at byte `pos`, as UTF-8; a
// lone half of a surrogate pair becomes U+FFFD. Also gives the number of units found.
std::string takeUnits(std::string_view s, std::size_t pos, std::size_t count, std::size_t &found) {
    std::string out;
    found = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    while (found < count && pos < s.size()) {
        char32_t cp;
        std::size_t len = utf8::sequence(p + pos, s.size() - pos, cp);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++found;
            ++pos;
            continue;
        }
        if (cp >= 0x10000 && found + 2 > count) {
            out += "\xEF\xBF\xBD"; // only the first half fits
            ++found;
            break;
        }
        out.append(s.data() + pos, len);
        found += cp >= 0x10000 ? 2 : 1;
        pos += len;
    }
    return out;
}

[[noreturn]] void failTooShort(std::string_view payload, std::size_t afterPercent) {
    char msg[96];
    std::snprintf(msg, sizeof msg, "Error decoding URL style (%%XX) encoded string at position %zu",
                  characterIndex(payload, afterPercent));
    throw EPayloadError(msg);
}

[[noreturn]] void failInvalid(std::string_view payload, std::size_t afterPercent, const std::string &chars) {
    throw EPayloadError("Invalid URL encoded character (%" + chars + ") at position " +
                        std::to_string(characterIndex(payload, afterPercent)));
}

// The byte of the escape whose percent sign is at i (not followed by a
// second percent sign); raises the URL decoding failures.
unsigned char escapedByte(std::string_view payload, std::size_t i) {
    std::size_t n = payload.size();
    int hi = i + 1 < n ? hexDigitValue(static_cast<unsigned char>(payload[i + 1])) : -1;
    int lo = i + 2 < n ? hexDigitValue(static_cast<unsigned char>(payload[i + 2])) : -1;
    if (hi >= 0 && lo >= 0)
        return static_cast<unsigned char>(hi << 4 | lo);
    std::size_t found;
    std::string chars = takeUnits(payload, i + 1, 2, found);
    if (found < 2)
        failTooShort(payload, i + 1);
    failInvalid(payload, i + 1, chars);
}

// Index of the first percent or plus sign at or after i, or n.
inline std::size_t findEscape(const char *p, std::size_t i, std::size_t n) {
#ifdef __SSE2__
    const __m128i percent = _mm_set1_epi8('%'), plus = _mm_set1_epi8('+');
    while (i + 16 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        unsigned mask =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, percent), _mm_cmpeq_epi8(v, plus))));
        if (mask)
            return i + static_cast<std::size_t>(__builtin_ctz(mask));
        i += 16;
    }
#endif
    while (i < n && p[i] != '%' && p[i] != '+')
        ++i;
    return i;
}

// URL decoding. Returns a view of either the payload itself (nothing to
// decode) or `buffer`.
std::string_view urlDecode(std::string_view payload, std::string &buffer) {
    const char *p = payload.data();
    std::size_t n = payload.size();
    std::size_t first = findEscape(p, 0, n);
    if (first == n)
        return payload;

    buffer.resize(n);
    char *o = buffer.data();
    std::size_t i = 0;
    while (i < n) {
        std::size_t next = findEscape(p, i, n);
        std::memcpy(o, p + i, next - i);
        o += next - i;
        i = next;
        if (i == n)
            break;
        if (p[i] == '+') {
            *o++ = ' ';
            ++i;
        } else if (i + 1 < n && p[i + 1] == '%') {
            *o++ = '%';
            i += 2;
        } else {
            *o++ = static_cast<char>(escapedByte(payload, i));
            i += 3;
        }
    }
    buffer.resize(static_cast<std::size_t>(o - buffer.data()));
    return buffer;
}

constexpr unsigned char kSkip = 0xFF;

constexpr std::array<unsigned char, 256> makeBase64Table() {
    std::array<unsigned char, 256> t{};
    for (auto &v : t)
        v = kSkip;
    for (int i = 0; i < 26; ++i) {
        t['A' + i] = static_cast<unsigned char>(i);
        t['a' + i] = static_cast<unsigned char>(26 + i);
    }
    for (int i = 0; i < 10; ++i)
        t['0' + i] = static_cast<unsigned char>(52 + i);
    t['+'] = 62;
    t['/'] = 63;
    return t;
}
constexpr std::array<unsigned char, 256> kBase64 = makeBase64Table();

// The same for reading a payload before URL decoding: its plus and percent
// signs need a closer look, so the fast loop stops at them.
constexpr std::array<unsigned char, 256> makeRawPayloadTable() {
    auto t = makeBase64Table();
    t['+'] = kSkip;
    return t;
}
constexpr std::array<unsigned char, 256> kRawPayload = makeRawPayloadTable();

// Whether a payload is plain ASCII; its escapes are checked apart.
bool isAscii(std::string_view s) {
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    std::size_t n = s.size(), i = 0;
    unsigned char any = 0;
#ifdef __SSE2__
    __m128i acc = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16)
        acc = _mm_or_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i)));
    any = _mm_movemask_epi8(acc) ? 0x80 : 0;
#endif
    for (; i < n; ++i)
        any |= p[i];
    return (any & 0x80) == 0;
}

// Checks the URL escapes of a payload (raising their failures) and tells
// whether URL decoding gives plain ASCII.
bool checkUrlEscapes(std::string_view payload) {
    const char *p = payload.data();
    std::size_t n = payload.size();
    bool ascii = isAscii(payload);
    for (std::size_t i = findEscape(p, 0, n); i < n; i = findEscape(p, i, n)) {
        if (p[i] == '+') {
            ++i;
        } else if (i + 1 < n && p[i + 1] == '%') {
            i += 2;
        } else {
            ascii = ascii && escapedByte(payload, i) < 0x80;
            i += 3;
        }
    }
    return ascii;
}

#ifdef CORVANE_BASE64_SSSE3

// Decodes whole blocks of 16 alphabet characters into 12 bytes each, and stops
// at the first block holding anything else (or at the last full block).
// Gives the number of characters taken. The output needs 4 bytes of slack.
template <bool PlusInAlphabet>
__attribute__((target("ssse3"))) std::size_t decodeBlocksSsse3(const unsigned char *p, std::size_t n,
                                                               unsigned char *&o) {
    const __m128i upperLow = _mm_set1_epi8('A' - 1), upperHigh = _mm_set1_epi8('Z' + 1);
    const __m128i lowerLow = _mm_set1_epi8('a' - 1), lowerHigh = _mm_set1_epi8('z' + 1);
    const __m128i digitLow = _mm_set1_epi8('0' - 1), digitHigh = _mm_set1_epi8('9' + 1);
    const __m128i plus = _mm_set1_epi8('+'), slash = _mm_set1_epi8('/');
    const __m128i pairs = _mm_set1_epi32(0x01400140), quads = _mm_set1_epi32(0x00011000);
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    std::size_t i = 0;
    while (i + 16 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        // Signed compares: bytes from 0x80 up are negative and fall in no range.
        __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, upperLow), _mm_cmplt_epi8(v, upperHigh));
        __m128i lower = _mm_and_si128(_mm_cmpgt_epi8(v, lowerLow), _mm_cmplt_epi8(v, lowerHigh));
        __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, digitLow), _mm_cmplt_epi8(v, digitHigh));
        __m128i isSlash = _mm_cmpeq_epi8(v, slash);
        __m128i isPlus = PlusInAlphabet ? _mm_cmpeq_epi8(v, plus) : _mm_setzero_si128();
        __m128i valid = _mm_or_si128(_mm_or_si128(upper, lower), _mm_or_si128(_mm_or_si128(digit, isSlash), isPlus));
        if (_mm_movemask_epi8(valid) != 0xFFFF)
            break;
        // Character -> value: A-Z -65, a-z -71, 0-9 +4, '+' +19, '/' +16.
        __m128i shift = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(upper, _mm_set1_epi8(-65)), _mm_and_si128(lower, _mm_set1_epi8(-71))),
            _mm_or_si128(_mm_or_si128(_mm_and_si128(digit, _mm_set1_epi8(4)), _mm_and_si128(isPlus, _mm_set1_epi8(19))),
                         _mm_and_si128(isSlash, _mm_set1_epi8(16))));
        __m128i values = _mm_add_epi8(v, shift);
        // Pairs of 6-bit values into 12 bits, pairs of those into 24 bits, then
        // the three bytes of each group most significant first.
        __m128i packed = _mm_madd_epi16(_mm_maddubs_epi16(values, pairs), quads);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_shuffle_epi8(packed, order));
        o += 12;
        i += 16;
    }
    return i;
}

bool haveSsse3() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#endif

// Base64 decoding. Every character is judged by the low eight bits of its
// UTF-16 code unit(s); whatever is not in the alphabet is skipped.
// RawPayload: `text` is a payload whose URL decoding is plain ASCII (checked
// by checkUrlEscapes), decoded on the way; otherwise it is valid UTF-8 text
// after URL decoding.
template <bool RawPayload> std::string base64Decode(std::string_view text) {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const unsigned char *t = RawPayload ? kRawPayload.data() : kBase64.data();
    std::size_t n = text.size(), i = 0;
    std::string out(n / 4 * 3 + 16, '\0'); // slack for the wide stores below
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    std::uint32_t acc = 0;
    int count = 0;
    auto feed = [&](unsigned char v) {
        if (v == kSkip)
            return;
        acc = acc << 6 | v;
        if (++count == 4) {
            o[0] = static_cast<unsigned char>(acc >> 16);
            o[1] = static_cast<unsigned char>(acc >> 8);
            o[2] = static_cast<unsigned char>(acc);
            o += 3;
            acc = 0;
            count = 0;
        }
    };
    while (i < n) {
        if (count == 0) {
#ifdef CORVANE_BASE64_SSSE3
            if (haveSsse3())
                i += decodeBlocksSsse3<!RawPayload>(p + i, n - i, o);
#endif
            // Whole groups of alphabet characters (the common case): eight
            // characters give six bytes, stored as one 8-byte word.
            while (i + 8 <= n) {
                std::uint64_t a = t[p[i]], b = t[p[i + 1]], c = t[p[i + 2]], d = t[p[i + 3]];
                std::uint64_t e = t[p[i + 4]], f = t[p[i + 5]], g = t[p[i + 6]], h = t[p[i + 7]];
                if ((a | b | c | d | e | f | g | h) & 0x80)
                    break;
                std::uint64_t v = a << 42 | b << 36 | c << 30 | d << 24 | e << 18 | f << 12 | g << 6 | h;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
                std::uint64_t word = __builtin_bswap64(v << 16); // the six bytes first, most significant first
#else
                std::uint64_t word = v << 16;
#endif
                std::memcpy(o, &word, 8);
                o += 6;
                i += 8;
            }
            while (i + 4 <= n) {
                std::uint32_t a = t[p[i]], b = t[p[i + 1]], c = t[p[i + 2]], d = t[p[i + 3]];
                if ((a | b | c | d) & 0x80)
                    break;
                std::uint32_t v = a << 18 | b << 12 | c << 6 | d;
                o[0] = static_cast<unsigned char>(v >> 16);
                o[1] = static_cast<unsigned char>(v >> 8);
                o[2] = static_cast<unsigned char>(v);
                o += 3;
                i += 4;
            }
            if (i >= n)
                break;
        }
        if constexpr (RawPayload) {
            if (p[i] == '+') { // a space
                ++i;
            } else if (p[i] != '%') {
                feed(t[p[i++]]);
            } else if (i + 1 < n && p[i + 1] == '%') { // a percent sign
                i += 2;
            } else {
                feed(kBase64[static_cast<unsigned char>(hexDigitValue(p[i + 1]) << 4 | hexDigitValue(p[i + 2]))]);
                i += 3;
            }
            continue;
        }
        if (p[i] < 0x80) {
            feed(t[p[i++]]);
            continue;
        }
        char32_t cp;
        std::size_t len = utf8::sequence(p + i, n - i, cp);
        i += len ? len : 1; // the text was checked: len is never 0 here
        if (cp >= 0x10000) {
            char32_t v = cp - 0x10000;
            feed(t[(0xD800 + (v >> 10)) & 0xFF]);
            feed(t[(0xDC00 + (v & 0x3FF)) & 0xFF]);
        } else {
            feed(t[cp & 0xFF]);
        }
    }
    if (count == 3) {
        o[0] = static_cast<unsigned char>(acc >> 10);
        o[1] = static_cast<unsigned char>(acc >> 2);
        o += 2;
    } else if (count == 2) {
        *o++ = static_cast<unsigned char>(acc >> 4);
    }
    out.resize(static_cast<std::size_t>(o - reinterpret_cast<unsigned char *>(out.data())));
    return out;
}

} // namespace

std::string DecodePayload(std::string_view payload) {
    if (auto nul = payload.find('\0'); nul != std::string_view::npos)
        payload = payload.substr(0, nul);
    std::string bytes;
    if (checkUrlEscapes(payload)) {
        // The common case: URL decoding gives ASCII, so it is done on the way.
        bytes = base64Decode<true>(payload);
    } else {
        std::string buffer;
        std::string_view text = urlDecode(payload, buffer);
        if (!utf8::isValid(text))
            throw EPayloadError(kNoMapping);
        bytes = base64Decode<false>(text);
    }
    if (!utf8::isValid(bytes))
        throw EPayloadError(kNoMapping);
    return bytes;
}
