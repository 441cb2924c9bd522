#include <array>

#include "platform/byte_helpers.h"

namespace {

using CrcTable = std::array<uint16_t, 256>;

// The byte table of a CRC-16 that is not reflected (most significant bit
// first) for `polynomial`.
constexpr CrcTable make_crc_table(uint16_t polynomial) {
  CrcTable table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = uint16_t(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? uint16_t(crc << 1 ^ polynomial) : uint16_t(crc << 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr CrcTable kCcittTable = make_crc_table(0x1021);
constexpr CrcTable kUmtsTable = make_crc_table(0x8005);

uint16_t crc16_msb_first(const CrcTable& table, uint16_t crc, const uint8_t* data, int n) {
  if (!data) return crc;
  for (int i = 0; i < n; ++i) crc = uint16_t(crc << 8 ^ table[(crc >> 8 ^ data[i]) & 0xFF]);
  return crc;
}

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

uint16_t crc16_ccitt(const uint8_t* data, int n) { return crc16_msb_first(kCcittTable, 0xFFFF, data, n); }

uint16_t crc16_umts(const uint8_t* data, int n) { return crc16_msb_first(kUmtsTable, 0, data, n); }
