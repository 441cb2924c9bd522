#include "tool/json_values.h"

#include <vector>

#include "tool/text_ops.h"

namespace {

constexpr size_t kMaxName = 46;
constexpr std::string_view kBlanks = " \t\r\n";

std::string key_pattern(std::string_view name) { return "\"" + std::string(name) + "\":"; }

bool holds_json_syntax(std::string_view text) {
  return text.find_first_of("\"{}") != std::string_view::npos;
}

std::optional<std::vector<std::string>> json_path(std::string_view path) {
  auto names = path_names(path, kMaxName);
  if (!names) return std::nullopt;
  for (const std::string& name : *names) {
    if (holds_json_syntax(name)) return std::nullopt;
  }
  return names;
}

// From the first "{" behind the first `key` to the "}" that closes it, or
// to the end of an unbalanced text.
std::optional<Span> object_of(std::string_view text, std::string_view key) {
  const size_t at = text.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const size_t open = text.find('{', at + key.size());
  if (open == std::string_view::npos) return std::nullopt;
  int depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == '{') {
      ++depth;
    } else if (text[i] == '}' && --depth < 1) {
      return Span{open, i - open + 1};
    }
  }
  return Span{open, text.size() - open};
}

// The characters between the first double quote behind the first `key`
// and the next one.
std::optional<Span> string_of(std::string_view text, std::string_view key) {
  const size_t at = text.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const size_t open = text.find('"', at + key.size());
  if (open == std::string_view::npos) return std::nullopt;
  const size_t close = text.find('"', open + 1);
  if (close == std::string_view::npos) return std::nullopt;
  return Span{open + 1, close - open - 1};
}

// The first character behind the first `key` that is not a blank, or NUL.
char behind_key(std::string_view text, std::string_view key) {
  const size_t at = text.find(key);
  if (at == std::string_view::npos) return '\0';
  const size_t next = text.find_first_not_of(kBlanks, at + key.size());
  return next == std::string_view::npos ? '\0' : text[next];
}

// `member` added before the last "}" of `text` (empty: "{}"), behind a
// comma unless it is the object's first; what follows that "}" is dropped.
std::optional<std::string> append_member(std::string_view text, std::string_view member) {
  if (text.empty()) text = "{}";
  const size_t close = text.rfind('}');
  if (close == std::string_view::npos) return std::nullopt;
  std::string out(text.substr(0, close));
  const size_t last = out.find_last_not_of(kBlanks);
  if (last == std::string::npos || out[last] != '{') out += ',';
  out += member;
  out += '}';
  return out;
}

// `text` with the string of `key` set to `value`, or the member added.
std::optional<std::string> set_member(std::string_view text, std::string_view key,
                                      std::string_view value) {
  if (text.find(key) == std::string_view::npos) {
    return append_member(text, std::string(key) + "\"" + std::string(value) + "\"");
  }
  // Only a string is replaced in place: the first quoted text behind an
  // object's key would be a name inside it.
  if (behind_key(text, key) != '"') return std::nullopt;
  const std::optional<Span> old = string_of(text, key);
  if (!old) return std::nullopt;
  return splice(text, *old, value);
}

// A member's object, when the member holds one.
std::optional<Span> object_member(std::string_view text, const std::string& name) {
  const std::string key = key_pattern(name);
  if (behind_key(text, key) != '{') return std::nullopt;
  return object_of(text, key);
}

// An empty object added as a new member; a member of that name that holds
// something else is not overwritten.
std::optional<std::string> add_object(std::string_view text, const std::string& name, size_t) {
  const std::string key = key_pattern(name);
  if (text.find(key) != std::string_view::npos) return std::nullopt;
  return append_member(text, key + "{}");
}

}  // namespace

std::optional<std::string> json_get(std::string_view json, std::string_view path) {
  const auto names = json_path(path);
  if (json.size() > kMaxJsonText || !names) return std::nullopt;
  std::string_view current = json;
  for (size_t i = 0; i + 1 < names->size(); ++i) {
    const std::optional<Span> object = object_of(current, key_pattern((*names)[i]));
    if (!object) return std::nullopt;
    current = current.substr(object->at, object->length);
  }
  const std::optional<Span> value = string_of(current, key_pattern(names->back()));
  if (!value) return std::nullopt;
  return std::string(current.substr(value->at, value->length));
}

std::optional<std::string> json_set(std::string_view json, std::string_view path,
                                    std::string_view value) {
  const auto names = json_path(path);
  if (json.size() > kMaxJsonText || !names || holds_json_syntax(value)) return std::nullopt;
  const NestedText objects{object_member, add_object,
                           [value](std::string_view text, const std::string& name) {
                             return set_member(text, key_pattern(name), value);
                           }};
  std::optional<std::string> out = set_nested(json, *names, objects);
  if (!out || out->size() > kMaxJsonText) return std::nullopt;
  return out;
}
