#pragma once

#include <string>

#include "json_value.h"

namespace json {

// The compact JSON text of a value as DataSnap peers write it: no white space,
// members in their order (duplicates kept), numbers as written. Inside strings
// only the quotation mark, backslash and slash (as \", \\, \/) and backspace,
// tab, line feed, form feed and carriage return (\b \t \n \f \r) are escaped;
// every other character, control characters included, is written unchanged.
std::string toJsonText(const Value &value);
void appendJsonText(const Value &value, std::string &out);

} // namespace json
