#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/byte_helpers.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

int base64_encode(const uint8_t* data, int length, char** out_text) {
  if (length < 0 || !out_text || (!data && length > 0)) return -1;
  const size_t n = size_t(length);
  const size_t text_length = (n + 2) / 3 * 4;
  if (text_length > size_t(INT_MAX)) return -1;
  char* text = static_cast<char*>(std::malloc(text_length + 1));
  if (!text) return -1;

  char* p = text;
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
    *p++ = kAlphabet[v >> 18];
    *p++ = kAlphabet[v >> 12 & 0x3F];
    *p++ = kAlphabet[v >> 6 & 0x3F];
    *p++ = kAlphabet[v & 0x3F];
  }
  if (i < n) {
    const bool two = i + 1 < n;
    const uint32_t v = uint32_t(data[i]) << 16 | (two ? uint32_t(data[i + 1]) << 8 : 0);
    *p++ = kAlphabet[v >> 18];
    *p++ = kAlphabet[v >> 12 & 0x3F];
    *p++ = two ? kAlphabet[v >> 6 & 0x3F] : '=';
    *p++ = '=';
  }
  *p = '\0';
  *out_text = text;
  return int(text_length);
}

int base64_index(char c) {
  if (c == '\0') return -1;
  const char* at = std::strchr(kAlphabet, c);
  return at ? int(at - kAlphabet) : -1;
}
