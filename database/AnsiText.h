#pragma once

#include <string>

// Conversion between UTF-8 and the 8-bit code page of the database files
// (SYS_INFO.INI) and of the scrambled account constants: Windows-1252, through
// iconv. To be replaced by the process-wide code page converter once it exists.

// Bytes of the code page to UTF-8. The five bytes Windows-1252 leaves undefined
// map to the C1 controls of the same value, as Windows maps them.
std::string AnsiToUtf8(const std::string &ansi);

// UTF-8 to the code page; a character the code page lacks, or a malformed
// UTF-8 sequence, becomes '?'.
std::string Utf8ToAnsi(const std::string &utf8);
