#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/byte_helpers.h"

namespace {

// -1 for anything that is not a hex digit, NUL and bytes >= 0x80 included.
int nibble(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  return -1;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool overlaps(const void* a, size_t a_len, const void* b, size_t b_len) {
  const auto pa = reinterpret_cast<uintptr_t>(a);
  const auto pb = reinterpret_cast<uintptr_t>(b);
  return pa < pb + b_len && pb < pa + a_len;
}

}  // namespace

int hex_to_bytes(const char* text, int text_length, uint8_t* out) {
  if (text_length < 0 || text_length % 2 != 0) return -1;
  if (text_length == 0) return 0;
  if (!text || !out) return -1;
  // Byte i is written only after characters 2i and 2i+1 are read, and is
  // never ahead of them, so converting in place needs no copy; nothing past
  // the first non-hex character is read.
  const int pairs = text_length / 2;
  int written = 0;
  for (; written < pairs; ++written) {
    const int high = nibble(text[2 * written]);
    if (high < 0) break;
    const int low = nibble(text[2 * written + 1]);
    if (low < 0) break;
    out[written] = uint8_t(high << 4 | low);
  }
  return written;
}

int bytes_to_hex(const uint8_t* data, int length, char* out) {
  if (length < 0 || length > INT_MAX / 2) return -1;
  if (length == 0) return 0;
  if (!data || !out) return -1;
  const size_t n = size_t(length);
  std::vector<uint8_t> copy;
  if (overlaps(data, n, out, 2 * n)) {
    copy.assign(data, data + n);
    data = copy.data();
  }
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = kHexDigits[data[i] >> 4];
    out[2 * i + 1] = kHexDigits[data[i] & 0x0F];
  }
  return 2 * length;
}
