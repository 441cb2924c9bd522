#include <gtest/gtest.h>

#include "family_r42/sector_card_rig.h"

namespace {

using KeyStore = OneCardTest;

const uint8_t kKey[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};

TEST_F(KeyStore, KeysLandAtTheirOffsetsAndNowhereElse) {
  const Bytes before = rig.model.snapshot().eeprom;
  ASSERT_EQ(d->load_key(kIcdev, 4, 5, kKey), 0);
  ASSERT_EQ(d->load_key_hex(kIcdev, 2, 1, "a0a1a2a3a4a5"), 0);
  ASSERT_EQ(d->load_key(kIcdev, 6, 39, kKey), 0);
  Bytes expected = before;
  for (size_t at : {66u, 972u, 1434u}) std::copy(kKey, kKey + 6, expected.begin() + at);
  EXPECT_EQ(rig.model.snapshot().eeprom, expected);
  EXPECT_EQ(rig.requests()[0], hx("05 01 00 00 00 00 42 00 00 00 06 A0 A1 A2 A3 A4 A5"));

  // The stored key is what authentication reads and sends (key B of set 0).
  MifareCard::Key key;
  std::copy(kKey, kKey + 6, key.begin());
  rig.field.edit(card_id, [&](MifareCard& c) { c.setKeys(5, kKeyFF, key); });
  uint32_t snr = 0;
  ASSERT_EQ(d->card(kIcdev, 0, &snr), 0);
  EXPECT_EQ(d->authentication(kIcdev, 4, 5), 0);
  EXPECT_EQ(rig.sentWith(0x0500).back(), hx("05 00 00 00 00 00 42 00 00 00 06"));
  EXPECT_EQ(rig.sentWith(0x0404).back(), hx("04 04 00 61 17 A0 A1 A2 A3 A4 A5"));
}

TEST_F(KeyStore, RefusedModesAndSectorsSendNothing) {
  const uint8_t block[16] = {};
  for (uint8_t mode : {3, 7, 255}) {
    EXPECT_EQ(d->load_key(kIcdev, mode, 1, kKey), -1);
    EXPECT_EQ(d->authentication(kIcdev, mode, 1), -1);
    EXPECT_EQ(d->authentication_2(kIcdev, mode, 1, 0), -1);
    EXPECT_EQ(d->authentication_passaddr(kIcdev, mode, 7, kKey), -1);
    EXPECT_EQ(d->HL_authentication(kIcdev, 0, 0, mode, 1), -1);
    EXPECT_EQ(d->check_write(kIcdev, 0, mode, 4, block), -1);
  }
  for (uint8_t sector : {40, 64, 255}) {
    EXPECT_EQ(d->load_key(kIcdev, 0, sector, kKey), -1);
    EXPECT_EQ(d->load_key_hex(kIcdev, 6, sector, "FFFFFFFFFFFF"), -1);
    EXPECT_EQ(d->authentication(kIcdev, 0, sector), -1);
    EXPECT_EQ(d->authentication_2(kIcdev, 0, sector, 0), -1);
    EXPECT_EQ(d->HL_authentication(kIcdev, 0, 0, 0, sector), -1);
  }
  EXPECT_EQ(rig.sent(), 0u);
}

TEST_F(KeyStore, FailedKeyReadStopsBeforeTheCard) {
  uint32_t snr = 0;
  ASSERT_EQ(d->card(kIcdev, 0, &snr), 0);
  rig.model.failWithStatus(0x0500, 0x6A82);
  EXPECT_EQ(d->authentication(kIcdev, 0, 1), -2);
  rig.model.scriptReply(0x0500, hx("00 00 00 FF FF FF FF FF"));
  EXPECT_EQ(d->authentication_2(kIcdev, 0, 1, 0), -1) << "five key bytes";
  EXPECT_TRUE(rig.sentWith(0x0404).empty());
}

}  // namespace
