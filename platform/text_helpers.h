// Parameter maps and text helpers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using ParamMap = std::map<std::string, std::string>;
using IntParamMap = std::map<std::string, int>;

// The value under `key`, or "" when absent (the map is never changed).
std::string get_param(const ParamMap& params, const std::string& key);
// The value under `key`, or 0 when absent.
int get_int_param(const IntParamMap& params, const std::string& key);

// Pieces between delimiters, empty pieces kept: "a::b" -> a, "", b;
// "a:" -> a, ""; "" -> "". An empty delimiter gives the whole text.
std::vector<std::string> split(const std::string& text, const std::string& delimiter);

// Removes leading and trailing spaces (0x20 only) in place.
void trim(std::string& text);
void trim_wide(std::u16string& text);

// Upper/lower-case a NUL-terminated text in place (a-z only; bytes >= 0x80
// stay). Return `text`.
char* str_upper(char* text);
char* str_lower(char* text);

// Decimal text of a signed 32-bit value.
std::string int_to_text(int32_t value);
