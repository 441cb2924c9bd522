// Text, hexadecimal and card-number helpers behind the Tool_ exports. They
// work on views of any length and hand back new text; the exports copy it
// out, so an output may share memory with an input.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bytes of hexadecimal text, two characters a byte, high nibble first;
// an odd count is padded with "0". Characters are not checked: 0-9 and A-F
// count by value, any other as its code less 87 (so a-f give 10-15), and a
// byte keeps the low 8 bits of high * 16 + low.
std::vector<uint8_t> hex_text_bytes(std::string_view text);

// Field `index` (from 0) of `text` split at the non-overlapping occurrences
// of `sep`; an empty `sep` splits nothing. Nothing when there are fewer
// separators than `index`.
std::optional<std::string> field_at(std::string_view text, std::string_view sep, int64_t index);

// `text` with every occurrence of `find` (not empty) replaced by `repl`,
// scanning left to right and never searching inserted text again.
std::string replace_all(std::string_view text, std::string_view find, std::string_view repl);

// `card` with the characters from `head` up to size - `tail` masked by "*".
// Nothing when either is negative or head + tail is not below the size.
std::optional<std::string> mask_card(std::string_view card, int64_t head, int64_t tail);

// The names of a dotted path: 1 to 10, none empty, each at most `max_name`
// characters. Nothing for any other path.
std::optional<std::vector<std::string>> path_names(std::string_view path, size_t max_name);

// A stretch of a text.
struct Span {
  size_t at;
  size_t length;
};

// `text` with `span` replaced by `middle`.
std::string splice(std::string_view text, Span span, std::string_view middle);

// How a text of nested parts (JSON objects, XML elements) is changed along
// a path of names.
struct NestedText {
  // Where the child `name` lies inside a text; nothing when it is missing.
  std::function<std::optional<Span>(std::string_view text, const std::string& name)> child;
  // The text with an empty child `name` added at `depth` (0 = top);
  // nothing when it cannot be added.
  std::function<std::optional<std::string>(std::string_view text, const std::string& name,
                                           size_t depth)>
      add;
  // The innermost text with the last name set.
  std::function<std::optional<std::string>(std::string_view text, const std::string& name)> set;
};

// `text` with the last of `names` set inside the children of those before
// it, adding each missing child once. Each level replaces exactly the span
// of the child it found, so an equal text elsewhere in its parent stays as
// it is. Nothing when a child cannot be found or added.
std::optional<std::string> set_nested(std::string_view text, const std::vector<std::string>& names,
                                      const NestedText& nested);
