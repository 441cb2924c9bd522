#include "tool/ini_values.h"

#include <vector>

#include "tool/file_util.h"

namespace {

constexpr size_t kMaxReadLine = 1023;
constexpr size_t kMaxRewritten = 40000;

// The lines of `text` without their "\n" or "\r\n".
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

bool is_key_line(std::string_view line, std::string_view key) {
  if (!line.starts_with(key) || line.size() == key.size()) return false;
  const char next = line[key.size()];
  return next == '=' || next == ' ' || next == '\t';
}

}  // namespace

std::optional<std::string> ini_get(const char* path, std::string_view section,
                                   std::string_view key) {
  const std::optional<std::string> text = read_text_file(path);
  if (!text) return std::nullopt;
  const std::string header = "[" + std::string(section) + "]";
  bool in_section = false;
  for (std::string_view line : lines_of(*text)) {
    line = line.substr(0, kMaxReadLine);
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      in_section = in_section || line.starts_with(header);
    } else if (in_section && !line.starts_with('#') && line.find(key) != std::string_view::npos) {
      return std::string(line.substr(equals + 1));
    }
  }
  return std::nullopt;
}

int ini_set(const char* path, std::string_view section, std::string_view key,
            std::string_view value) {
  if (key.empty() || value.size() > kMaxIniValue) return -1;
  const std::optional<std::string> text = read_text_file(path);
  if (!text) return -1;
  std::string out;
  std::string current;
  bool first_header = true;
  for (std::string_view line : lines_of(*text)) {
    std::string kept(line);
    if (line.starts_with('[')) {
      // The name runs to the line end, less one closing "]".
      current = line.substr(1, line.size() - (line.ends_with(']') && line.size() > 1 ? 2 : 1));
      kept = (first_header ? "[" : "\n[") + current + "]";
      first_header = false;
    } else if (current == section && is_key_line(line, key)) {
      kept = std::string(key) + "=" + std::string(value);
    }
    if (kept.empty() || kept.starts_with('#')) continue;
    out += kept;
    out += '\n';
  }
  if (out.size() > kMaxRewritten) return -1;
  return write_text_file(path, out);
}
