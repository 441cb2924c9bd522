#include "platform/mifare_layout.h"

#include <cstring>

#include "platform/byte_cursor.h"
#include "platform/byte_writer.h"

namespace {

constexpr int kFirstLargeSector = 32;  // sectors from here on hold 16 blocks
constexpr int kFirstLargeBlock = 128;
constexpr int kMaxCondition = 7;

}  // namespace

int sector_first_block(int sector) {
  if (sector < 0 || sector >= kMifareSectorCount) return -1;
  if (sector < kFirstLargeSector) return 4 * sector;
  return kFirstLargeBlock + 16 * (sector - kFirstLargeSector);
}

int sector_trailer_block(int sector) {
  const int first = sector_first_block(sector);
  if (first < 0) return -1;
  return first + (sector < kFirstLargeSector ? 3 : 15);
}

int block_sector(int block) {
  if (block < 0 || block > kMifareLastBlock) return -1;
  if (block < kFirstLargeBlock) return block / 4;
  return (block - kFirstLargeBlock) / 16 + kFirstLargeSector;
}

bool build_sector_trailer(const uint8_t* key_a, const uint8_t conditions[4], uint8_t gpb,
                          const uint8_t* key_b, uint8_t trailer[16]) {
  uint8_t c1 = 0, c2 = 0, c3 = 0;
  for (int i = 0; i < 4; ++i) {
    if (conditions[i] > kMaxCondition) return false;
    c1 |= uint8_t(((conditions[i] >> 2) & 1) << i);
    c2 |= uint8_t(((conditions[i] >> 1) & 1) << i);
    c3 |= uint8_t((conditions[i] & 1) << i);
  }
  std::memcpy(trailer, key_a, kMifareKeySize);
  // Each bit is stored twice, once inverted, so the card can tell a torn
  // write from a deliberate setting.
  trailer[6] = uint8_t((~c2 & 0x0F) << 4 | (~c1 & 0x0F));
  trailer[7] = uint8_t(c1 << 4 | (~c3 & 0x0F));
  trailer[8] = uint8_t(c3 << 4 | c2);
  trailer[9] = gpb;
  std::memcpy(trailer + 10, key_b, kMifareKeySize);
  return true;
}

uint32_t uid_value(const uint8_t uid[4]) {
  return uint32_t(uid[0]) | uint32_t(uid[1]) << 8 | uint32_t(uid[2]) << 16 |
         uint32_t(uid[3]) << 24;
}

void uid_bytes(uint32_t value, uint8_t uid[4]) {
  for (int i = 0; i < 4; ++i) uid[i] = uint8_t(value >> (8 * i));
}

void build_value_block(uint32_t value, uint8_t adr, uint8_t block[16]) {
  ByteWriter out(block, kMifareBlockSize);
  out.le32(value).le32(~value).le32(value);
  out.u8(adr).u8(uint8_t(~adr)).u8(adr).u8(uint8_t(~adr));
}

bool value_block_value(const uint8_t block[16], uint32_t* value) {
  if (std::memcmp(block, block + 8, 4) != 0 || block[12] != block[14] || block[13] != block[15])
    return false;
  ByteCursor in(block, 4);
  return in.le32(*value);
}

bool light_copy_ok(const uint8_t copy[4]) {
  return copy[2] == uint8_t(~copy[0]) && copy[3] == uint8_t(~copy[1]);
}

int light_value_copy(const uint8_t block[16]) {
  return light_copy_ok(block) ? 0 : light_copy_ok(block + 4) ? 1 : -1;
}

void build_light_value_block(uint16_t value, uint8_t block[16]) {
  std::memset(block, 0xFF, kMifareBlockSize);
  block[0] = uint8_t(value);
  block[1] = uint8_t(value >> 8);
  block[2] = uint8_t(~block[0]);
  block[3] = uint8_t(~block[1]);
}
