#include <bit>

#include "platform/byte_helpers.h"

bool host_is_big_endian() { return std::endian::native == std::endian::big; }

bool host_is_little_endian() { return std::endian::native == std::endian::little; }

uint16_t swap16(uint32_t value) { return uint16_t((value & 0xFF) << 8 | (value >> 8 & 0xFF)); }

uint32_t swap32(uint32_t value) {
  return (value & 0xFF) << 24 | (value & 0xFF00) << 8 | (value >> 8 & 0xFF00) | value >> 24;
}
