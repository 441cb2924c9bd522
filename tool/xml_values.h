// The text of one element of a simple XML text, addressed by a dotted path
// of tag names. Elements are found by the first "<name>" and the first
// "</name>" behind it; there are no attributes and no escaping. Missing
// elements are added with fixed indentation.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The longest XML text taken or made in memory, and the largest file read.
constexpr size_t kMaxXmlText = 4096;
constexpr int kMaxXmlFile = 10 * 1024 * 1024;

// The inner text of the path's last element. Nothing for a text over 4096
// characters, a bad path or a missing element.
std::optional<std::string> xml_get(std::string_view xml, std::string_view path);

// `xml` with the inner text of the path's last element set to `value`.
// Nothing for a text or result over 4096 characters or a bad path.
std::optional<std::string> xml_set(std::string_view xml, std::string_view path,
                                   std::string_view value);

// The file's bytes, after making its folders. With `missing_is_empty`, a
// file that does not exist reads as "". Nothing for any other failure or a
// file over 10 MiB.
std::optional<std::string> read_xml_file(const char* file, bool missing_is_empty);
