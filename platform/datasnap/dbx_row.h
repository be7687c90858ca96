#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace datasnap {

// One field of a parameter row buffer.
struct DbxRowField {
    enum class Kind { Null, String, Json };
    Kind kind = Kind::Null;
    std::string bytes;      // String: encoded bytes (see encodeRowString); Json: the JSON text
    bool truncated = false; // String sent with 0x50: the rest comes through more_blob
};

// Splits a row buffer into its fields; ProtocolError on an unknown header or
// a field running past the end.
std::vector<DbxRowField> parseRow(std::string_view row);

void appendNullField(std::string &row);
// Appends a string field of encoded bytes. Up to `inlineMax` bytes travel in
// the row; beyond that the field is marked truncated (0x50) and the number of
// bytes kept is returned.
std::size_t appendStringField(std::string &row, std::string_view encoded, std::size_t inlineMax = 65535);
void appendJsonField(std::string &row, std::string_view jsonText);

} // namespace datasnap
