#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace os {

// Conversion of UTF-8 text to one code page known to iconv (the system's
// "ANSI" code page). A character the code page lacks becomes "?". Single-byte
// code pages go through a table built once; others through iconv on each call.
class CodePage {
public:
    static constexpr const char *kDefaultName = "CP1252";
    static constexpr const char *kEnvironmentVariable = "CORVANE_CODEPAGE";

    // Throws std::invalid_argument when iconv does not know the name.
    explicit CodePage(std::string name);

    const std::string &name() const { return name_; }
    bool singleByte() const { return !table_.empty(); }

    // Appends the conversion of `text` to `out`. Invalid UTF-8 bytes count as
    // characters the code page lacks.
    void appendFromUtf8(std::string_view text, std::string &out) const;
    std::string fromUtf8(std::string_view text) const {
        std::string out;
        appendFromUtf8(text, out);
        return out;
    }

    // The process's code page: the one named by CORVANE_CODEPAGE, or
    // Windows-1252 when it is unset or unknown (with a note on stderr). Read once.
    // Without iconv's code page modules it falls back to Latin-1.
    static const CodePage &process();

private:
    void appendThroughIconv(std::string_view text, std::string &out) const;

    std::string name_;
    std::vector<unsigned char> table_; // byte for each BMP code point, when single-byte
};

} // namespace os
