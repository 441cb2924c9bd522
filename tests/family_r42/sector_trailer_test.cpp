#include <gtest/gtest.h>

#include "family_r42/sector_card_rig.h"
#include "platform/mifare_layout.h"

namespace {

using SectorTrailer = OneCardTest;

using namespace card_status;
const MifareCard::Key kNewKey = {0xA3, 0xC5, 0xE7, 0x09, 0x2B, 0x4D};

TEST_F(SectorTrailer, AccessBytesOnTheWire) {
  struct Case {
    uint8_t b[4];
    const char* bytes;
  } cases[] = {{{0, 0, 0, 1}, "FF 07 80"},
               {{0, 0, 0, 3}, "7F 07 88"},
               {{4, 2, 1, 3}, "5E 13 CA"},
               {{6, 6, 6, 3}, "08 77 8F"}};
  for (const Case& c : cases) {
    d->changeb3_hex(kIcdev, 1, "A3C5E7092B4D", c.b[0], c.b[1], c.b[2], c.b[3], 0x69,
                    "FFFFFFFFFFFF");
    EXPECT_EQ(rig.requests().back(), hx(std::string("04 06 00 07 A3 C5 E7 09 2B 4D ") + c.bytes +
                                        " 69 FF FF FF FF FF FF"))
        << c.bytes;
  }
  const size_t before = rig.sent();
  for (int i = 0; i < 4; ++i) {
    uint8_t b[4] = {0, 0, 0, 1};
    b[i] = 8;
    EXPECT_EQ(d->changeb3(kIcdev, 1, kKeyFF.data(), b[0], b[1], b[2], b[3], 0, kKeyFF.data()),
              -1);
  }
  EXPECT_EQ(d->changeb3_hex(kIcdev, 1, "FFFFFFFFFFFF", 0, 0, 0, 255, 0, "FFFFFFFFFFFF"), -1);
  EXPECT_EQ(rig.sent(), before);
}

TEST_F(SectorTrailer, RewriteChangesTheKeysTheCardAccepts) {
  const int id = card_id;
  ASSERT_EQ(rig.open(1), 0);
  // Torn access bits would lock the sector: refused, trailer unchanged.
  uint8_t torn[16];
  ASSERT_TRUE(build_sector_trailer(kNewKey.data(), std::array<uint8_t, 4>{0, 0, 0, 1}.data(),
                                   0x69, kNewKey.data(), torn));
  torn[6] ^= 0x01;
  const MifareCard::Block original = rig.field.card(id).block(7);
  EXPECT_EQ(d->write(kIcdev, 7, torn), -2);
  EXPECT_EQ(rig.status(), kAccessRefused);
  EXPECT_EQ(rig.field.card(id).block(7), original);

  ASSERT_EQ(d->changeb3(kIcdev, 1, kNewKey.data(), 0, 0, 0, 1, 0, kNewKey.data()), 0);
  EXPECT_EQ(rig.open(1), -2);
  EXPECT_EQ(rig.open(1, kNewKey), 0);
}

TEST_F(SectorTrailer, WriteNeedsEveryFieldAndReadableKeyBLocks) {
  const int id = card_id;
  // Condition 011: key B writes keys and access bits, key A writes nothing.
  const uint8_t b_owns[4] = {0, 0, 0, 3};
  rig.field.edit(id, [&](MifareCard& c) { c.setAccess(1, b_owns); });
  ASSERT_EQ(rig.open(1), 0);
  EXPECT_EQ(d->changeb3(kIcdev, 1, kNewKey.data(), 0, 0, 0, 3, 0, kNewKey.data()), -2);
  EXPECT_EQ(rig.status(), kAccessRefused);
  ASSERT_EQ(d->authentication_pass(kIcdev, 4, 1, kKeyFF.data()), 0);
  EXPECT_EQ(d->changeb3(kIcdev, 1, kNewKey.data(), 0, 0, 0, 3, 0, kNewKey.data()), 0);

  // Condition 001 makes key B readable: key B then opens nothing.
  uint32_t snr = 0;
  ASSERT_EQ(d->card(kIcdev, 0, &snr), 0);
  ASSERT_EQ(d->authentication_pass(kIcdev, 4, 0, kKeyFF.data()), 0);
  uint8_t block[16];
  EXPECT_EQ(d->read(kIcdev, 1, block), -2);
  EXPECT_EQ(rig.status(), kAccessRefused);
}

}  // namespace
