#include "tool/xml_values.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "tool/file_util.h"
#include "tool/text_ops.h"

namespace {

constexpr size_t kMaxName = 49;

// Between the first opening tag and the first closing tag behind it.
std::optional<Span> inner_of(std::string_view text, const std::string& name) {
  const std::string open = "<" + name + ">";
  const std::string close = "</" + name + ">";
  const size_t begin = text.find(open);
  if (begin == std::string_view::npos) return std::nullopt;
  const size_t inner = begin + open.size();
  const size_t end = text.find(close, inner);
  if (end == std::string_view::npos) return std::nullopt;
  return Span{inner, end - inner};
}

// An empty element as it is added at `depth` (0 = top).
std::string empty_element(const std::string& name, size_t depth) {
  const char* pad = depth == 0 ? " " : depth == 1 ? "  " : "   ";
  return "<" + name + ">" + pad + "\r\n </" + name + ">\r\n";
}

// `text` with the inner text of `name` set to `value`, or the element
// added in place of the last character (the indenting blank of a fresh
// element's inner text).
std::string set_leaf(std::string_view text, const std::string& name, std::string_view value) {
  if (const std::optional<Span> inner = inner_of(text, name)) return splice(text, *inner, value);
  if (!text.empty()) text.remove_suffix(1);
  return std::string(text) + "<" + name + ">" + std::string(value) + "</" + name + ">\r\n ";
}

std::optional<std::string> add_element(std::string_view text, const std::string& name,
                                       size_t depth) {
  return std::string(text) + empty_element(name, depth);
}

}  // namespace

std::optional<std::string> xml_get(std::string_view xml, std::string_view path) {
  const auto names = path_names(path, kMaxName);
  if (xml.size() > kMaxXmlText || !names) return std::nullopt;
  std::string_view current = xml;
  for (const std::string& name : *names) {
    const std::optional<Span> inner = inner_of(current, name);
    if (!inner) return std::nullopt;
    current = current.substr(inner->at, inner->length);
  }
  return std::string(current);
}

std::optional<std::string> xml_set(std::string_view xml, std::string_view path,
                                   std::string_view value) {
  const auto names = path_names(path, kMaxName);
  if (xml.size() > kMaxXmlText || !names) return std::nullopt;
  const NestedText elements{inner_of, add_element,
                            [value](std::string_view text, const std::string& name) {
                              return std::optional<std::string>(set_leaf(text, name, value));
                            }};
  std::optional<std::string> out = set_nested(xml, *names, elements);
  if (!out || out->size() > kMaxXmlText) return std::nullopt;
  return out;
}

std::optional<std::string> read_xml_file(const char* file, bool missing_is_empty) {
  if (make_parent_folders(file) != 0) return std::nullopt;
  std::optional<std::string> text = read_text_file(file, kMaxXmlFile);
  struct stat st {};
  if (!text && missing_is_empty && lstat(file, &st) != 0 && errno == ENOENT) return std::string();
  return text;
}
