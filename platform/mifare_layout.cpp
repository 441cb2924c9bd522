#include "platform/mifare_layout.h"

#include <cstring>

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
