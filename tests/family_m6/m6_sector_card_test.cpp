// m6 sector-card commands against the reader model in memory: canned
// replies for each reply shape and fault, a simulated card where state
// spans several exchanges. The flows both families share (card search,
// trailers, the write check) are tested through r42.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "family_m6/m6_device.h"
#include "sim/m6_card_front.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;
using State = M6ReaderModel::State;
using Bytes = std::vector<uint8_t>;

// A card in the field behind the m6 front, with keys FF x 6.
std::function<void(State&)> field_with(MifareCard card) {
  return [card](State& s) {
    auto field = std::make_shared<CardField>();
    field->insert(card);
    s.attachments.push_back(std::make_shared<M6CardFront>(field));
  };
}
std::shared_ptr<M6CardFront> front(const State& s) { return attached<M6CardFront>(s); }
// What the key load of a sector below 16 carries.
Bytes key_constant(int sector) {
  return Bytes(M6Device::kKeyLoadConstants[sector], M6Device::kKeyLoadConstants[sector] + 6);
}

// A Light card answered the request before the call.
Row::Call after_light_request(std::function<int16_t(ReaderDevice&)> call) {
  return [call](Call& c) {
    uint16_t tag = 0;
    EXPECT_EQ(c.d.request(kIcdev, 0, &tag), 0);
    return call(c.d);
  };
}

std::vector<Row> rows() {
  const MifareCard seven = MifareCard::classic1k({0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66});
  std::vector<Row> rows = {
      Row("no_card_after_two_requests",
          [](Call& c) { return c.d.request(kIcdev, 0xFF, reinterpret_cast<uint16_t*>(c.bytes())); })
          .sends("41 81").answer("01")
          .sends("41 81").answer("01")
          .gives(1),
      Row("seven_byte_uid_at_two_levels",
          [](Call& c) { return c.d.card_double_hex(kIcdev, 1, c.text()); })
          .given(field_with(seven))
          .sends("41 01").sends("42 00 00 00 00 00").sends("43 88 04 11 22")
          .sends("A2 00 00 00 00 00").sends("A3 33 44 55 66")
          .gives(0).text("04112233445566"),
      Row("second_level_failing_writes_nothing",
          [](Call& c) { return c.d.card_double(kIcdev, 1, c.bytes()); })
          .sends("41 01").answer("00 44 00")
          .sends("42 00 00 00 00 00").answer("00 88 04 11 22")
          .sends("43 88 04 11 22").answer("00 04")
          .sends("A2 00 00 00 00 00").fails()
          .gives(-1),
      Row("trailer_of_a_large_sector",
          [](Call& c) { return c.d.authentication_pass_hex(kIcdev, 4, 35, "A0A1A2A3A4A5"); })
          .sends("90 04 00 BF A0 A1 A2 A3 A4 A5").answer("00")
          .gives(0),
      Row("refused_step_is_not_transferred",
          [](Call& c) { return c.d.decrement(kIcdev, 5, 7); })
          .sends("49 05 07 00 00 00").answer("06")
          .gives(-2).status(6),
      Row("light_value_over_16_bits",
          after_light_request([](ReaderDevice& d) { return d.initval(kIcdev, 4, 0x10000); }))
          .sends("41 00").answer("00 10 00")
          .gives(-1),
      Row("light_both_copies_broken",
          after_light_request([](ReaderDevice& d) { return d.decrement(kIcdev, 4, 1); }))
          .sends("41 00").answer("00 10 00")
          .sends("46 04").answer("00 01 02 03 04 05 06 07 08 FF FF FF FF FF FF FF FF")
          .gives(-1),
      Row("light_second_copy", after_light_request([](ReaderDevice& d) { return d.decrement(kIcdev, 4, 1); }))
          .sends("41 00").answer("00 10 00")
          .sends("46 04").answer("00 01 02 03 04 34 12 CB ED FF FF FF FF FF FF FF FF")
          .sends("49 05 01 00 00 00").answer("00")
          .gives(0),
      Row("halt_without_reply", [](Call& c) { return c.d.halt(kIcdev); }).sends("45").fails().gives(-1),
      Row("halt_whatever_the_status", [](Call& c) { return c.d.halt(kIcdev); })
          .sends("45").answer("01")
          .gives(0).status(1),
      Row("one_call_write_leaves_the_serial",
          [](Call& c) {
            uint32_t snr = 0x44332211;
            EXPECT_EQ(c.d.load_key_hex(kIcdev, 0, 1, "FFFFFFFFFFFF"), 0);
            const int16_t r = c.d.HL_write_hex(kIcdev, 0, 4, &snr, "000102030405060708090A0B0C0D0E0F");
            EXPECT_EQ(snr, 0x44332211u);
            return r;
          })
          .given(field_with(MifareCard::classic1k({0x11, 0x22, 0x33, 0x44})))
          .sends({"4C 00 01", key_constant(1), "00 00 FF FF FF FF FF FF 00 00"})
          .sends("32 00 04 11 22 33 44 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F")
          .gives(0)
          .then([](const State& s) { EXPECT_EQ(front(s)->field().card(1).block(4)[15], 0x0F); }),
      Row("one_call_read_gives_data_and_serial",
          [](Call& c) {
            EXPECT_EQ(c.d.load_key_hex(kIcdev, 0, 0, "FFFFFFFFFFFF"), 0);
            uint32_t snr = 0;
            const int16_t r = c.d.HL_read_hex(kIcdev, 0, 1, 0, c.text(), &snr);
            EXPECT_EQ(snr, 0x44332211u);
            return r;
          })
          .given(field_with(MifareCard::classic1k({0x11, 0x22, 0x33, 0x44})))
          .sends({"4C 00 00", key_constant(0), "00 00 FF FF FF FF FF FF 00 00"})
          .sends("33 00 01 00 00 00 00")
          .gives(0).text(std::string(32, '0')),
  };
  // The key load carries the sector's constant below sector 16, zeros from
  // there on.
  for (uint8_t sector : {0, 1, 15, 16, 39}) {
    const Bytes constant = sector < 16 ? key_constant(sector) : Bytes(6, 0x00);
    rows.push_back(Row("key_load_sector_" + std::to_string(sector),
                       [sector](Call& c) { return c.d.load_key_hex(kIcdev, 4, sector, "A0A1A2A3A4A5"); })
                       .given(field_with(MifareCard::classic1k({1, 2, 3, 4})))
                       .sends({Bytes{0x4C, 0x04, sector}, constant, "00 00 A0 A1 A2 A3 A4 A5 00 00"})
                       .gives(0)
                       .then([constant](const State& s) { EXPECT_EQ(front(s)->key_constants, std::vector<Bytes>{constant}); }));
  }
  return rows;
}
WIRE_TABLE(M6SectorCard, M6MemoryReader, rows());

// The card in the field, selected, sector 1 authenticated with key A FF x 6.
ReaderDevice& sector_one_open(M6MemoryReader& reader, MifareCard card) {
  reader.edit(field_with(card));
  ReaderDevice& d = reader.device;
  uint32_t snr = 0;
  EXPECT_EQ(d.load_key_hex(kIcdev, 0, 1, "FFFFFFFFFFFF"), 0);
  EXPECT_EQ(d.card(kIcdev, 0, &snr), 0);
  EXPECT_EQ(d.authentication(kIcdev, 0, 1), 0);
  return d;
}

// The value steps go through the reader's transfer buffer: a refused step
// leaves the block as it was.
TEST(M6SectorCardValues, StepsReachTheBlockOnlyThroughTheTransfer) {
  M6MemoryReader reader;
  ReaderDevice& d = sector_one_open(reader, MifareCard::classic1k({0x11, 0x22, 0x33, 0x44}));
  uint32_t value = 0;
  ASSERT_EQ(d.initval(kIcdev, 5, 100), 0);
  EXPECT_EQ(d.increment(kIcdev, 5, 5), 0);
  EXPECT_EQ(d.decrement(kIcdev, 5, 2), 0);
  EXPECT_EQ(d.increment(kIcdev, 5, 0x7FFFFFFF), -2) << "the sum overflows";
  EXPECT_EQ(d.transfer(kIcdev, 5), -2) << "a refused step leaves nothing to transfer";
  ASSERT_EQ(d.readval(kIcdev, 5, &value), 0);
  EXPECT_EQ(value, 103u);
}

TEST(M6SectorCardValues, LightValuesInBlockFour) {
  M6MemoryReader reader;
  ReaderDevice& d = sector_one_open(reader, MifareCard::light({0x11, 0x22, 0x33, 0x44}));
  uint32_t value = 0;
  ASSERT_EQ(d.initval(kIcdev, 9, 300), 0);
  EXPECT_EQ(d.decrement(kIcdev, 9, 45), 0);
  ASSERT_EQ(d.readval(kIcdev, 9, &value), 0);
  EXPECT_EQ(value, 255u);
}

TEST(M6KeyLoadConstants, EachEntryEndsInTwoEqualBytes) {
  for (const auto& entry : M6Device::kKeyLoadConstants) EXPECT_EQ(entry[4], entry[5]);
}

}  // namespace
