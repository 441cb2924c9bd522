// One value of an INI file, found and set line by line with the plain
// substring and prefix rules other tools' files are read with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The longest value read or written.
constexpr size_t kMaxIniValue = 1023;

// The text behind the first "=" of the first line at or after the header
// "[section]" (a line beginning with it) that holds "=" and `key` anywhere
// and does not begin with "#". Lines end at "\n" or "\r\n" and are read to
// 1023 characters; later headers do not end the search.
std::optional<std::string> ini_get(const char* path, std::string_view section,
                                   std::string_view key);

// Rewrites the file: comment and empty lines dropped, a blank line before
// each header but the first, "\n" line ends, and in `section` each line
// that is `key` followed by "=", a blank or a tab becomes "key=value". A
// missing key is not added. -1, with the file untouched, for a missing
// file, an empty key, a value over 1023 characters, a result over 40000
// bytes or a failed write.
int ini_set(const char* path, std::string_view section, std::string_view key,
            std::string_view value);
