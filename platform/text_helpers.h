// Parameter maps and text helpers.
#pragma once

#include <cstddef>
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

// Whether `text` begins with `prefix`; false when either is null.
bool starts_with(const char* text, const char* prefix);

// Copies a NUL-terminated text (null: the empty text) into a fixed field of
// `size` bytes, cut to size - 1 characters, always terminated. A zero size
// writes nothing.
void copy_fixed_text(char* field, size_t size, const char* text);
template <size_t N>
void copy_fixed_text(char (&field)[N], const char* text) {
  copy_fixed_text(field, N, text);
}

// Byte input of a _hex twin: exactly `count` bytes from the first 2*count
// characters of `text`, never reading past its terminator. 0, or -1 for a
// null or shorter text, a non-hex character or a negative count.
int16_t hex_twin_input(const char* text, int64_t count, uint8_t* out);
// Text output of a _hex twin: 2*count upper-case digits and a NUL.
void hex_twin_output(const uint8_t* data, size_t count, char* text);
