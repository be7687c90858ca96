#pragma once

#include <string>

// Text conversions used with servidor.cfg until the process-wide code page
// converter takes their place. The code page is named by the environment
// variable CORVANE_CODEPAGE (an iconv name), Windows-1252 when it is unset.

// The iconv name of the configured 8-bit code page; Windows-1252 when the
// variable names none or one iconv does not know.
std::string SettingsCodePage();

// UTF-8 text to bytes of the code page. A character the code page lacks, or a
// byte that is no valid UTF-8, becomes "?". U+0080 to U+009F that the code page
// leaves undefined become the byte of the same value, so that every byte read
// from a file is written back unchanged.
std::string ToAnsi(const std::string &utf8);

// Bytes of the code page to UTF-8. A byte 0x80 to 0x9F that the code page
// leaves undefined becomes U+0080 to U+009F (the counterpart of ToAnsi); any
// other byte that does not convert becomes U+FFFD.
std::string FromAnsi(const std::string &bytes);

// Upper case of a UTF-8 text, accented letters included (Unicode simple case
// mapping). Bytes that are no valid UTF-8 stay as they are.
std::string UpperCase(const std::string &utf8);
