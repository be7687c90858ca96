#include "settings_text.h"

#include "utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <mutex>
#include <stdexcept>

#include <iconv.h>
#include <locale.h>

namespace {

class Iconv {
public:
    Iconv(const std::string &to, const std::string &from) : cd_(iconv_open(to.c_str(), from.c_str())) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("code page " + (to == "UTF-8" ? from : to) + " is not supported");
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;

    // Converts as much of [in, in+len) as it can, appending to out. Returns the
    // number of input bytes used; stops at the first sequence it cannot convert.
    size_t convert(const char *in, size_t len, std::string &out) {
        char *src = const_cast<char *>(in);
        size_t left = len;
        char buffer[256];
        while (left > 0) {
            char *dst = buffer;
            size_t room = sizeof buffer;
            const size_t rc = iconv(cd_, &src, &left, &dst, &room);
            out.append(buffer, static_cast<size_t>(dst - buffer));
            if (rc == static_cast<size_t>(-1) && errno != E2BIG)
                break;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        return len - left;
    }

private:
    iconv_t cd_;
};

// Length of the UTF-8 sequence at s[i] and its code point; 0 when invalid.
size_t DecodeUtf8(const std::string &s, size_t i, char32_t &cp) {
    return utf8::sequence(reinterpret_cast<const unsigned char *>(s.data()) + i, s.size() - i, cp);
}

void EncodeUtf8(char32_t cp, std::string &out) { utf8::append(out, cp); }

} // namespace

std::string SettingsCodePage() {
    const char *name = std::getenv("CORVANE_CODEPAGE");
    if (!name || !*name)
        return "WINDOWS-1252";
    // A name iconv does not know falls back to Windows-1252, as the rest of the process does.
    const iconv_t probe = iconv_open(name, "UTF-8");
    if (probe == reinterpret_cast<iconv_t>(-1)) {
        static std::once_flag noted;
        std::call_once(noted, [name] {
            std::fprintf(stderr, "CORVANE_CODEPAGE=%s is not a known code page; using WINDOWS-1252\n", name);
        });
        return "WINDOWS-1252";
    }
    iconv_close(probe);
    return name;
}

std::string ToAnsi(const std::string &utf8) {
    Iconv cv(SettingsCodePage(), "UTF-8");
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        i += cv.convert(utf8.data() + i, utf8.size() - i, out);
        if (i >= utf8.size())
            break;
        char32_t cp = 0;
        const size_t n = DecodeUtf8(utf8, i, cp);
        out.push_back(n && cp >= 0x80 && cp <= 0x9F ? static_cast<char>(cp) : '?');
        i += n ? n : 1;
    }
    return out;
}

std::string FromAnsi(const std::string &bytes) {
    Iconv cv("UTF-8", SettingsCodePage());
    std::string out;
    size_t i = 0;
    while (i < bytes.size()) {
        i += cv.convert(bytes.data() + i, bytes.size() - i, out);
        if (i >= bytes.size())
            break;
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        EncodeUtf8(b >= 0x80 && b <= 0x9F ? char32_t(b) : char32_t(0xFFFD), out);
        ++i;
    }
    return out;
}

std::string UpperCase(const std::string &utf8) {
    static const locale_t utf8Locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = 0;
        const size_t n = DecodeUtf8(utf8, i, cp);
        if (n == 0) {
            out.push_back(utf8[i++]);
            continue;
        }
        if (cp < 0x80)
            out.push_back(cp >= 'a' && cp <= 'z' ? static_cast<char>(cp - 32) : static_cast<char>(cp));
        else
            EncodeUtf8(utf8Locale ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8Locale)) : cp, out);
        i += n;
    }
    return out;
}
