#pragma once

// The value of a hexadecimal digit (0-9, A-F, a-f), or -1 for any other character.
constexpr int hexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
