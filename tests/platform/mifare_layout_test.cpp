#include "platform/mifare_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/mifare_card.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(MifareLayout, SectorsTileTheBlocksWithoutGapsOrOverlap) {
  int next = 0;
  for (int sector = 0; sector < 40; ++sector) {
    SCOPED_TRACE(sector);
    const int first = sector_first_block(sector);
    const int trailer = sector_trailer_block(sector);
    EXPECT_EQ(first, next);
    EXPECT_EQ(trailer - first + 1, sector < 32 ? 4 : 16);
    for (int block = first; block <= trailer; ++block) EXPECT_EQ(block_sector(block), sector);
    next = trailer + 1;
  }
  EXPECT_EQ(next, 256) << "sector 39 ends with the last one-byte block number";
  EXPECT_EQ(sector_trailer_block(1), 7);
  EXPECT_EQ(sector_first_block(33), 144);
  EXPECT_EQ(sector_trailer_block(33), 159);
}

TEST(MifareLayout, OutOfRangeSectorsAndBlocksGiveMinusOne) {
  for (int sector : {-1, 40, 255, -2147483647 - 1}) {
    EXPECT_EQ(sector_first_block(sector), -1) << sector;
    EXPECT_EQ(sector_trailer_block(sector), -1) << sector;
  }
  for (int block : {-1, 256, 2147483647}) EXPECT_EQ(block_sector(block), -1) << block;
}

TEST(MifareLayout, EveryConditionSetDecodesBack) {
  const MifareCard::Key key_a = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const MifareCard::Key key_b = {0xA3, 0xC5, 0xE7, 0x09, 0x2B, 0x4D};
  for (int all = 0; all < 4096; ++all) {
    const uint8_t b[4] = {uint8_t(all & 7), uint8_t(all >> 3 & 7), uint8_t(all >> 6 & 7),
                          uint8_t(all >> 9 & 7)};
    uint8_t trailer[16], decoded[4];
    ASSERT_TRUE(build_sector_trailer(key_a.data(), b, 0x69, key_b.data(), trailer));
    ASSERT_TRUE(MifareCard::decodeAccess(trailer + 6, decoded)) << all;
    ASSERT_EQ(Bytes(decoded, decoded + 4), Bytes(b, b + 4)) << all;
    ASSERT_EQ(Bytes(trailer, trailer + 6), Bytes(key_a.begin(), key_a.end()));
    ASSERT_EQ(trailer[9], 0x69);
    ASSERT_EQ(Bytes(trailer + 10, trailer + 16), Bytes(key_b.begin(), key_b.end()));
  }
}

TEST(MifareLayout, ConditionAboveSevenWritesNothing) {
  const uint8_t key[6] = {};
  for (int i = 0; i < 4; ++i) {
    uint8_t b[4] = {0, 0, 0, 1};
    b[i] = 8;
    uint8_t trailer[16];
    std::fill(trailer, trailer + 16, 0xCC);
    EXPECT_FALSE(build_sector_trailer(key, b, 0, key, trailer)) << i;
    EXPECT_EQ(Bytes(trailer, trailer + 16), Bytes(16, 0xCC)) << i;
  }
}

// The host-built value block reads back through the readers' own check,
// which compares the plain copies and the address copies only.
TEST(MifareLayout, ValueBlocksReadBackAndTheCheckComparesPlainCopies) {
  for (uint32_t value : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFEu}) {
    uint8_t block[16];
    build_value_block(value, 5, block);
    MifareCard::Block card_block;
    std::copy(block, block + 16, card_block.begin());
    int32_t card_value = 0;
    ASSERT_TRUE(MifareCard::valueOf(card_block, &card_value)) << value;
    EXPECT_EQ(uint32_t(card_value), value);
    uint32_t read = 0;
    ASSERT_TRUE(value_block_value(block, &read));
    EXPECT_EQ(read, value);
    block[4] ^= 0xFF;  // the complement copy is not compared
    EXPECT_TRUE(value_block_value(block, &read));
    block[9] ^= 0x01;
    EXPECT_FALSE(value_block_value(block, &read));
    build_value_block(value, 5, block);
    block[15] ^= 0x01;
    EXPECT_FALSE(value_block_value(block, &read));
  }
  uint8_t light[16];
  build_light_value_block(0x1234, light);
  EXPECT_EQ(Bytes(light, light + 4), (Bytes{0x34, 0x12, 0xCB, 0xED}));
  EXPECT_EQ(Bytes(light + 4, light + 16), Bytes(12, 0xFF));
  EXPECT_TRUE(light_copy_ok(light));
  EXPECT_FALSE(light_copy_ok(light + 4));
}

}  // namespace
