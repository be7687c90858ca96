// Any payload decodes to valid UTF-8 or fails with a message; a text encoded
// the way clients do it (Base64 with escaped plus signs, broken into lines)
// comes back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "DecodePayload.h"
#include "utf8.h"

namespace {

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
    try {
        std::string text = DecodePayload(input);
        if (!utf8::isValid(text))
            std::abort();
    } catch (const EPayloadError &e) {
        if (std::string_view(e.what()).empty())
            std::abort();
    }

    std::string_view text = input.substr(0, input.find('\0'));
    if (utf8::isValid(text) && DecodePayload(encodeAsClient(text)) != text)
        std::abort();
    return 0;
}
