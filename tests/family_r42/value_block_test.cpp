#include <gtest/gtest.h>

#include "family_r42/sector_card_rig.h"

namespace {

using ValueBlock = OneCardTest;

using namespace card_status;

TEST_F(ValueBlock, ArithmeticTransferAndRefusals) {
  const int id = card_id;
  ASSERT_EQ(d->transfer(kIcdev, 6), -2) << "no card selected yet";
  EXPECT_EQ(rig.requests().back(), hx("04 0B 00 00 06")) << "no restore: source block 0";
  ASSERT_EQ(rig.open(1), 0);

  ASSERT_EQ(d->initval(kIcdev, 5, uint32_t(-2)), 0);
  EXPECT_EQ(rig.requests().back(), hx("04 07 00 05 FF FF FF FE"));
  EXPECT_EQ(rig.field.card(id).block(5), MifareCard::valueBlock(-2, 5));
  uint32_t value = 0;
  ASSERT_EQ(d->readval(kIcdev, 5, &value), 0);
  EXPECT_EQ(value, 0xFFFFFFFEu);
  ASSERT_EQ(d->increment(kIcdev, 5, 10), 0);
  ASSERT_EQ(d->decrement(kIcdev, 5, 3), 0);
  ASSERT_EQ(d->readval(kIcdev, 5, &value), 0);
  EXPECT_EQ(value, 5u);

  ASSERT_EQ(d->restore(kIcdev, 5), 0);
  ASSERT_EQ(d->transfer(kIcdev, 6), 0);
  EXPECT_EQ(rig.requests().back(), hx("04 0B 00 05 06"));
  EXPECT_EQ(rig.field.card(id).block(6), rig.field.card(id).block(5));

  ASSERT_EQ(d->initval(kIcdev, 6, 0x7FFFFFFF), 0);
  EXPECT_EQ(d->increment(kIcdev, 6, 1), -2);
  EXPECT_EQ(rig.status(), kOverflow);
  EXPECT_EQ(rig.field.card(id).block(6), MifareCard::valueBlock(0x7FFFFFFF, 6));

  const uint8_t data[16] = {1, 2, 3, 4};
  ASSERT_EQ(d->write(kIcdev, 4, data), 0);
  EXPECT_EQ(d->readval(kIcdev, 4, &value), -2);
  EXPECT_EQ(rig.status(), kBadValue);
  EXPECT_EQ(d->decrement(kIcdev, 4, 1), -2);
  EXPECT_EQ(rig.field.card(id).block(4)[0], 1);
}

TEST(ValueBlockLight, TwoCopyLayout) {
  SectorRig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  const int id = rig.field.insert(MifareCard::light(kUid1));
  ASSERT_EQ(rig.open(1), 0);  // its answer-to-request 10 00 routes values
  ASSERT_EQ(d->initval(kIcdev, 9, 0x1234), 0);
  EXPECT_EQ(rig.requests().back(),
            hx("04 06 00 04 34 12 CB ED FF FF FF FF FF FF FF FF FF FF FF FF"));
  uint32_t value = 0;
  ASSERT_EQ(d->readval(kIcdev, 9, &value), 0);
  EXPECT_EQ(value, 0x1234u);

  // Copy 2 was filled with FF; break copy 1 too and nothing is decremented.
  rig.field.edit(id, [](MifareCard& c) { c.block(4)[2] ^= 1; });
  const size_t before = rig.sentWith(0x040A).size();
  EXPECT_EQ(d->decrement(kIcdev, 4, 1), -1);
  EXPECT_EQ(rig.sentWith(0x040A).size(), before);

  rig.field.edit(id, [](MifareCard& c) {
    c.setLightValue(0x1234);
    c.block(4)[2] ^= 1;
  });
  ASSERT_EQ(d->decrement(kIcdev, 4, 0x34), 0);
  EXPECT_EQ(rig.requests().back(), hx("04 0A 00 05 00 00 00 34")) << "copy 2";
  ASSERT_EQ(d->readval(kIcdev, 4, &value), 0);
  EXPECT_EQ(value, 0x1200u) << "both copies rewritten";
  EXPECT_EQ(d->decrement(kIcdev, 4, 0x1201), -2);
  EXPECT_EQ(rig.status(), kOverflow);

  const size_t sent = rig.sent();
  EXPECT_EQ(d->initval(kIcdev, 4, 0x10000), -1);
  EXPECT_EQ(d->decrement(kIcdev, 4, 0x10000), -1);
  EXPECT_EQ(rig.sent(), sent);
}

}  // namespace
