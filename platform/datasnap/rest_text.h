#pragma once

#include <string>
#include <string_view>

#include "json_value.h"

// Text rules of the REST interface: how path segments are decoded, how JSON
// bodies are read and how results are written.
namespace datasnap::rest {

// Percent-decodes one path segment: "%XX" gives a byte, "%uXXXX" one UTF-16
// code unit; '+' stays '+'; a '%' that starts no valid escape stays as it is.
// The result is valid UTF-8: bytes that are not UTF-8 and lone surrogates
// become U+FFFD.
std::string decodeSegment(std::string_view segment);

// Replaces what is not valid UTF-8 by U+FFFD (one per offending byte).
std::string sanitizeUtf8(std::string_view text);

// Rewrites a request body so that the strict JSON parser accepts what lenient
// clients send: raw control characters inside strings become \u00XX escapes,
// and escapes of lone UTF-16 surrogates become \uFFFD.
std::string normalizeJsonBody(std::string_view body);

// Parses a body as lenient JSON (see normalizeJsonBody). Throws json::ParseError.
json::Value parseBody(std::string_view body);

// Writes `v` as compact JSON in pure 7-bit ASCII: '/' always escaped, control
// characters as \b \f \n \r \t or \u00XX, every code point above 0x7F as
// upper-case \uXXXX (a surrogate pair beyond the BMP); DEL stays raw.
void writeJson(std::string &out, const json::Value &v);
void writeJsonString(std::string &out, std::string_view utf8);
std::string toJson(const json::Value &v);

// The session id a request presents: query parameter "sid" or "SESSIONID"
// (name in any case; first wins), else the "dssession" item of the Pragma
// header. Empty when none.
std::string sessionIdFromQuery(std::string_view query);
std::string sessionIdFromPragma(std::string_view pragma);

// ASCII case-insensitive comparisons.
bool equalNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view s, std::string_view prefix);

} // namespace datasnap::rest
