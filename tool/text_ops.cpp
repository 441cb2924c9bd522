#include "tool/text_ops.h"

#include "platform/text_helpers.h"

namespace {

// A digit's value without validation: other characters give code - 87.
int loose_nibble(char c) {
  const int code = static_cast<unsigned char>(c);
  if (c >= '0' && c <= '9') return code - '0';
  if (c >= 'A' && c <= 'F') return code - 'A' + 10;
  return code - 87;
}

constexpr size_t kMaxPathNames = 10;

std::optional<std::string> set_from(std::string text, const std::vector<std::string>& names,
                                    size_t depth, const NestedText& nested) {
  const std::string& name = names[depth];
  if (depth + 1 == names.size()) return nested.set(text, name);
  std::optional<Span> child = nested.child(text, name);
  if (!child) {
    std::optional<std::string> grown = nested.add(text, name, depth);
    if (!grown) return std::nullopt;
    text = std::move(*grown);
    child = nested.child(text, name);
    if (!child) return std::nullopt;
  }
  const std::optional<std::string> changed =
      set_from(text.substr(child->at, child->length), names, depth + 1, nested);
  if (!changed) return std::nullopt;
  return splice(text, *child, *changed);
}

}  // namespace

std::vector<uint8_t> hex_text_bytes(std::string_view text) {
  std::vector<uint8_t> bytes((text.size() + 1) / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char high = text[2 * i];
    const char low = 2 * i + 1 < text.size() ? text[2 * i + 1] : '0';
    // Unsigned arithmetic: a character below "W" gives a negative nibble.
    bytes[i] = uint8_t(unsigned(loose_nibble(high)) * 16u + unsigned(loose_nibble(low)));
  }
  return bytes;
}

std::optional<std::string> field_at(std::string_view text, std::string_view sep, int64_t index) {
  const std::vector<std::string> fields = split(std::string(text), std::string(sep));
  if (index < 0 || uint64_t(index) >= fields.size()) return std::nullopt;
  return fields[size_t(index)];
}

std::string replace_all(std::string_view text, std::string_view find, std::string_view repl) {
  if (find.empty()) return std::string(text);
  std::string out;
  size_t start = 0;
  for (size_t at = text.find(find); at != std::string_view::npos; at = text.find(find, start)) {
    out.append(text.substr(start, at - start));
    out.append(repl);
    start = at + find.size();
  }
  out.append(text.substr(start));
  return out;
}

std::optional<std::string> mask_card(std::string_view card, int64_t head, int64_t tail) {
  const int64_t size = int64_t(card.size());
  // Each is checked alone first, so the sum cannot overflow.
  if (head < 0 || tail < 0 || head >= size || tail >= size || head + tail >= size) {
    return std::nullopt;
  }
  std::string out(card);
  out.replace(size_t(head), size_t(size - tail - head), size_t(size - tail - head), '*');
  return out;
}

std::optional<std::vector<std::string>> path_names(std::string_view path, size_t max_name) {
  std::vector<std::string> names = split(std::string(path), ".");
  if (names.size() > kMaxPathNames) return std::nullopt;
  for (const std::string& name : names) {
    if (name.empty() || name.size() > max_name) return std::nullopt;
  }
  return names;
}

std::string splice(std::string_view text, Span span, std::string_view middle) {
  std::string out(text.substr(0, span.at));
  out += middle;
  out += text.substr(span.at + span.length);
  return out;
}

std::optional<std::string> set_nested(std::string_view text, const std::vector<std::string>& names,
                                      const NestedText& nested) {
  if (names.empty()) return std::nullopt;
  return set_from(std::string(text), names, 0, nested);
}
