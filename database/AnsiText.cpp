#include "AnsiText.h"

#include <cerrno>
#include <stdexcept>

#include <iconv.h>

namespace {

constexpr const char *kCodePage = "WINDOWS-1252";

class Iconv {
public:
    Iconv(const char *to, const char *from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv_open ") + from + " -> " + to + " failed");
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;

    // Converts one run; returns false at an unconvertible input sequence, with
    // `in`/`left` pointing at it.
    bool run(char *&in, size_t &left, std::string &out) {
        char buf[256];
        while (left > 0) {
            char *o = buf;
            size_t room = sizeof buf;
            size_t r = iconv(cd_, &in, &left, &o, &room);
            out.append(buf, static_cast<size_t>(o - buf));
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG)
                    continue;
                return false;
            }
        }
        return true;
    }

private:
    iconv_t cd_;
};

// Length of the well-formed UTF-8 sequence at `p` (at most `left` bytes), or 1
// when the bytes there are malformed, so that a bad byte costs one '?'.
size_t utf8Length(const char *p, size_t left) {
    unsigned char lead = static_cast<unsigned char>(p[0]);
    size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 1;
    if (n > left)
        return 1;
    for (size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80)
            return 1;
    return n;
}

} // namespace

std::string AnsiToUtf8(const std::string &ansi) {
    Iconv cv("UTF-8", kCodePage);
    std::string out;
    out.reserve(ansi.size());
    std::string src = ansi;
    char *in = src.data();
    size_t left = src.size();
    while (!cv.run(in, left, out)) {
        // An undefined byte: its C1 control, U+0080..U+009F, in UTF-8.
        unsigned char b = static_cast<unsigned char>(*in);
        out += static_cast<char>(0xC0 | (b >> 6));
        out += static_cast<char>(0x80 | (b & 0x3F));
        ++in;
        --left;
    }
    return out;
}

std::string Utf8ToAnsi(const std::string &utf8) {
    Iconv cv(kCodePage, "UTF-8");
    std::string out;
    out.reserve(utf8.size());
    std::string src = utf8;
    char *in = src.data();
    size_t left = src.size();
    while (!cv.run(in, left, out)) {
        size_t skip = errno == EINVAL ? left : utf8Length(in, left);
        out += '?';
        in += skip;
        left -= skip;
    }
    return out;
}
