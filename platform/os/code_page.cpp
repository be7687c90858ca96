#include "code_page.h"

#include "utf8.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <iconv.h>

namespace os {

namespace {

constexpr unsigned char kMissing = '?';

class Iconv {
public:
    Iconv(const std::string &to, const char *from) : cd_(iconv_open(to.c_str(), from)) {}
    ~Iconv() {
        if (ok())
            iconv_close(cd_);
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

CodePage::CodePage(std::string name) : name_(std::move(name)) {
    Iconv cd(name_, "UTF-32LE");
    if (!cd.ok())
        throw std::invalid_argument("Unknown code page: " + name_);

    // Convert every BMP code point on its own; if each one gives at most one
    // byte the code page is single-byte and the results become the table.
    std::vector<unsigned char> table(0x10000, kMissing);
    for (char32_t cp = 0; cp < 0x10000; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        unsigned char in[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8), 0, 0};
        char outBuf[16];
        char *inp = reinterpret_cast<char *>(in), *outp = outBuf;
        std::size_t inLeft = 4, outLeft = sizeof outBuf;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        std::size_t r = iconv(cd.get(), &inp, &inLeft, &outp, &outLeft);
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == EILSEQ)
                continue;
            return; // E2BIG and others: not a single-byte code page
        }
        if (iconv(cd.get(), nullptr, nullptr, &outp, &outLeft) == static_cast<std::size_t>(-1))
            return;
        std::size_t produced = sizeof outBuf - outLeft;
        if (produced != 1)
            return;
        // Irreversible substitutions that iconv counts are characters the code page lacks.
        if (r == 0)
            table[cp] = static_cast<unsigned char>(outBuf[0]);
    }
    table_ = std::move(table);
}

void CodePage::appendFromUtf8(std::string_view text, std::string &out) const {
    if (table_.empty()) {
        appendThroughIconv(text, out);
        return;
    }
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    std::size_t n = text.size();
    std::size_t start = out.size();
    out.resize(start + n); // never more bytes than the UTF-8 input
    char *o = out.data() + start;
    const unsigned char *table = table_.data();
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            *o++ = static_cast<char>(table[p[i++]]);
            continue;
        }
        char32_t cp;
        std::size_t len = utf8::sequence(p + i, n - i, cp);
        if (len == 0) {
            *o++ = kMissing;
            ++i;
            continue;
        }
        *o++ = static_cast<char>(cp < 0x10000 ? table[cp] : kMissing);
        i += len;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
}

void CodePage::appendThroughIconv(std::string_view text, std::string &out) const {
    Iconv cd(name_, "UTF-8"); // iconv descriptors keep state: one per call
    if (!cd.ok())
        throw std::runtime_error("Cannot convert to code page " + name_);
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    char *in = const_cast<char *>(text.data());
    std::size_t inLeft = text.size();
    std::string buf(text.size() * 2 + 16, '\0');
    std::size_t used = 0;
    bool flushing = false; // all input taken: write out the final shift state
    while (true) {
        if (buf.size() - used < 16)
            buf.resize(buf.size() * 2);
        char *o = buf.data() + used;
        std::size_t oLeft = buf.size() - used;
        std::size_t r =
            flushing ? iconv(cd.get(), nullptr, nullptr, &o, &oLeft) : iconv(cd.get(), &in, &inLeft, &o, &oLeft);
        used = buf.size() - oLeft;
        if (r != static_cast<std::size_t>(-1)) {
            if (flushing)
                break;
            flushing = inLeft == 0;
            continue;
        }
        if (errno == E2BIG) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (flushing)
            break;
        // EILSEQ or EINVAL: the character at `in` is invalid or missing here.
        buf[used++] = static_cast<char>(kMissing);
        std::size_t at = static_cast<std::size_t>(reinterpret_cast<unsigned char *>(in) - bytes);
        char32_t cp;
        std::size_t len = utf8::sequence(bytes + at, text.size() - at, cp);
        std::size_t skip = len ? len : 1;
        in += skip;
        inLeft -= skip;
        flushing = inLeft == 0;
    }
    out.append(buf.data(), used);
}

const CodePage &CodePage::process() {
    static const CodePage cp = [] {
        const char *env = std::getenv(kEnvironmentVariable);
        if (env && *env) {
            try {
                return CodePage(env);
            } catch (const std::invalid_argument &) {
                std::fprintf(stderr, "%s=%s is not a code page known to iconv; using %s\n", kEnvironmentVariable, env,
                             kDefaultName);
            }
        }
        try {
            return CodePage(kDefaultName);
        } catch (const std::invalid_argument &) {
            // A system without iconv's code page modules still has Latin-1 built in.
            std::fprintf(stderr, "iconv lacks %s; using ISO-8859-1\n", kDefaultName);
            return CodePage("ISO-8859-1");
        }
    }();
    return cp;
}

} // namespace os
