#include "platform/text_helpers.h"

#include <cstring>

#include "platform/byte_helpers.h"

std::string get_param(const ParamMap& params, const std::string& key) {
  const auto it = params.find(key);
  return it == params.end() ? std::string() : it->second;
}

int get_int_param(const IntParamMap& params, const std::string& key) {
  const auto it = params.find(key);
  return it == params.end() ? 0 : it->second;
}

std::vector<std::string> split(const std::string& text, const std::string& delimiter) {
  if (delimiter.empty()) return {text};
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(delimiter, start);
    if (at == std::string::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, at - start));
    start = at + delimiter.size();
  }
}

namespace {

template <typename Text>
void trim_spaces(Text& text, typename Text::value_type space) {
  const size_t first = text.find_first_not_of(space);
  if (first == Text::npos) {
    text.clear();
    return;
  }
  const size_t last = text.find_last_not_of(space);
  text = text.substr(first, last - first + 1);
}

// Only ASCII letters change: GBK lead and trail bytes (>= 0x80) must stay
// as they are, whatever the C locale thinks of them.
template <char From, char To>
char* shift_case(char* text) {
  if (!text) return text;
  for (char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c >= From && c <= From + 25) *p = char(c - From + To);
  }
  return text;
}

}  // namespace

void trim(std::string& text) { trim_spaces(text, ' '); }

void trim_wide(std::u16string& text) { trim_spaces(text, u' '); }

char* str_upper(char* text) { return shift_case<'a', 'A'>(text); }

char* str_lower(char* text) { return shift_case<'A', 'a'>(text); }

std::string int_to_text(int32_t value) { return std::to_string(value); }

bool starts_with(const char* text, const char* prefix) {
  if (text == nullptr || prefix == nullptr) return false;
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

void copy_fixed_text(char* field, size_t size, const char* text) {
  if (field == nullptr || size == 0) return;
  const size_t length = text == nullptr ? 0 : strnlen(text, size - 1);
  if (length > 0) std::memcpy(field, text, length);
  field[length] = '\0';
}

int16_t hex_twin_input(const char* text, int64_t count, uint8_t* out) {
  if (text == nullptr || out == nullptr || count < 0 || count > INT32_MAX / 2) return -1;
  const size_t digits = size_t(count) * 2;
  // hex_to_bytes is handed exactly `digits` characters; a caller's shorter
  // text must not be read past its terminator.
  if (strnlen(text, digits) < digits) return -1;
  return hex_to_bytes(text, int(digits), out) == count ? 0 : -1;
}

void hex_twin_output(const uint8_t* data, size_t count, char* text) {
  bytes_to_hex(data, int(count), text);
  text[2 * count] = '\0';
}
