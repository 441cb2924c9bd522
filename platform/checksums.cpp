#include <array>

#include "platform/byte_helpers.h"

namespace {

constexpr std::array<uint16_t, 256> make_crc_table() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = uint16_t(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? uint16_t(crc << 1 ^ 0x1021) : uint16_t(crc << 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = make_crc_table();

}  // namespace

uint8_t xor_checksum(const uint8_t* data, int n) {
  uint8_t x = 0;
  if (!data) return x;
  for (int i = 0; i < n; ++i) x ^= data[i];
  return x;
}

uint8_t sum_checksum(const uint8_t* data, int n) {
  uint8_t s = 0;
  if (!data) return s;
  for (int i = 0; i < n; ++i) s = uint8_t(s + data[i]);
  return s;
}

uint16_t crc16_ccitt(const uint8_t* data, int n) {
  uint16_t crc = 0xFFFF;
  if (!data) return crc;
  for (int i = 0; i < n; ++i) crc = uint16_t(crc << 8 ^ kCrcTable[(crc >> 8 ^ data[i]) & 0xFF]);
  return crc;
}
