// One string value of a JSON text, addressed by a dotted path of member
// names. The text is worked on with searches and brace counting, not
// parsed: a name matches as its key pattern "\"name\":" anywhere in the
// current object, values are strings without escapes, and no name or value
// may hold ", { or }.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The longest JSON text taken or made.
constexpr size_t kMaxJsonText = 4096;

// The text between the first pair of double quotes behind the last name's
// key pattern, inside the objects of the names before it. Nothing for a
// text over 4096 characters, a bad path or a missing member.
std::optional<std::string> json_get(std::string_view json, std::string_view path);

// `json` (empty: "{}") with the last name's string set to `value`; missing
// objects along the path and a missing last member are added before the
// closing "}" of their object. Nothing when a member on the path holds
// something else (a string where an object is needed or the reverse), for a
// text or result over 4096 characters, a bad path or value.
std::optional<std::string> json_set(std::string_view json, std::string_view path,
                                    std::string_view value);
