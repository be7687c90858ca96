#pragma once

#include <string>

// The runtime's reading of a whole number of the Integer type: leading blanks,
// an optional sign, then decimal digits, or hexadecimal digits after "$", "0x"
// or "x"; nothing after them; within 32 bits (a hexadecimal text gives the
// 32-bit pattern, so "$FFFFFFFF" is -1). False for anything else.
bool TryStrToInt(const std::string &text, int &value);

// The same, raising EConvertError "'<text>' is not a valid integer value".
int StrToInt(const std::string &text);
