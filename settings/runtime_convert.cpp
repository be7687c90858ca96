#include "runtime_convert.h"

#include <cstdint>

#include "runtime_errors.h"

bool TryStrToInt(const std::string &text, int &value) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    }
    if (i == text.size())
        return false;
    std::int64_t n = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        n = n * base + d;
        if (n > (base == 16 ? 0xFFFFFFFFLL : 2147483648LL))
            return false;
    }
    if (base == 10 && n > (negative ? 2147483648LL : 2147483647LL))
        return false;
    if (base == 16)
        n = static_cast<std::int32_t>(static_cast<std::uint32_t>(n));
    value = static_cast<int>(negative ? -n : n);
    return true;
}

int StrToInt(const std::string &text) {
    int value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}
