// Tolerant readers of skin.txt values, and the parser of the whole text.
// A key of the wrong JSON type never stops a load: each reader maps every
// type to a value.
#pragma once

#include <json/value.h>

#include <string>

namespace dui {

// null, array, object: 0; numbers and booleans: their integer conversion
// (reals truncate, out-of-range values saturate); strings: atoi of the text.
int read_int(const Json::Value& value);
unsigned read_uint(const Json::Value& value);
// As read_int with the double conversion; strings: atof of the text.
double read_double(const Json::Value& value);
// true, or a string whose upper-cased text is "TRUE"; everything else false.
bool read_bool(const Json::Value& value);
// Strings as they are (UTF-8); numbers and booleans as decimal text of their
// integer conversion; null, array, object: empty.
std::string read_string(const Json::Value& value);
// As read_string, decoded from UTF-8 (numbers formatted as "%d").
std::wstring read_wstring(const Json::Value& value);

// Parses skin.txt: UTF-8 with an optional byte-order mark, comments allowed,
// root need not be strict. True only when the root is an object. The tree
// keeps the UTF-8 text, so shown strings never pass through the ANSI code page.
bool parse_skin_text(const std::string& bytes, Json::Value* root);

}  // namespace dui
