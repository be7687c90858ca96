#pragma once

#include <string>
#include <string_view>

#include "json_value.h"

namespace datasnap {

// JSON text as the platform's serialiser writes it: compact, ASCII only,
// non-ASCII as \uXXXX and `/` as `\/`; numbers keep their text.
std::string rtlJsonText(const json::Value &v);

// The JSON text of a row field: UTF-8, or (when it is not valid UTF-8) Latin-1
// bytes. Raises json::ParseError on malformed JSON.
json::Value parseJsonField(std::string_view bytes);

} // namespace datasnap
