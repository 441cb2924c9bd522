// AT88SC102, AT88SC1604, AT88SC1608 and AT88SC153 cards: requests, bounds
// and replies as rows, the password zones and attempt counters against the
// card models of the simulated memory-card slot.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/at88sc_cards.h"
#include "sim/memory_cards.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using State = R42ReaderModel::State;
using Bytes = std::vector<uint8_t>;
using Addressed = At88scAddressedCard;
using Zoned = At88scZonedCard;
namespace status = at88sc_status;

const Bytes kData = wire_pattern(2048, 3);
const Bytes kWrite = wire_pattern(2048, 100);
const uint8_t kCode[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

Addressed& insert_102(State& s) { return s.memory_card.insert(Addressed::sc102()); }
Addressed& insert_1604(State& s) { return s.memory_card.insert(Addressed::sc1604()); }
Zoned& insert_1608(State& s) { return s.memory_card.insert(Zoned::sc1608()); }
Zoned& insert_153(State& s) { return s.memory_card.insert(Zoned::sc153()); }

// A card with the test data in memory and the security code presented.
void open_102(State& s) {
  Addressed& card = insert_102(s);
  card.memory = wire_slice(kData, 0, 196);
  card.presented.insert(0);
}
void open_1604(State& s) {
  Addressed& card = insert_1604(s);
  card.memory = kData;
  card.presented.insert(0);
}
void data_1608(State& s) {
  Zoned& card = insert_1608(s);
  for (size_t z = 0; z < card.user_zones.size(); ++z)
    card.user_zones[z] = wire_slice(kData, z, 256);
  card.config = wire_slice(kData, 1000, 128);
}
void data_153(State& s) { insert_153(s).config = wire_slice(kData, 1000, 64); }

const Addressed& card_102(const State& s) { return *s.memory_card.get<Addressed>(); }
const Zoned& card_zoned(const State& s) { return *s.memory_card.get<Zoned>(); }

int32_t readcount_1604_13(Call& c) { return c.d.readcount_1604(kIcdev, 13); }
int32_t readcount_102_0(Call& c) { return c.d.readcount_102(kIcdev, 0); }
Row::Call read_1604(int32_t offset, int32_t length) {
  return [=](Call& c) { return c.d.read_1604(kIcdev, offset, length, c.bytes()); };
}
Row::Call read_1608(uint8_t zone, int32_t offset, int32_t length) {
  return [=](Call& c) { return c.d.read_1608(kIcdev, zone, offset, length, c.bytes()); };
}
Row::Call write_1608(uint8_t zone, int32_t offset, int32_t length) {
  return [=](Call& c) { return c.d.write_1608(kIcdev, zone, offset, length, kWrite.data()); };
}

// --- one call a row ---

const Row kRequests[] = {
    Row("checkpass_102_main_road",
        [](Call& c) { return c.d.checkpass_102(kIcdev, 11, kCode); })
        .sends("13 04 00 56 06 11 22 33 44 55 66", 5000).answer("00 00 00")
        .gives(0),
    Row("readcount_1604_main_road", readcount_1604_13)
        .sends("14 02 00 00 00 05 CF 00 00 00 01", 5000).answer("00 00 00 0F")
        .gives(4),
    // AT88SC102.
    Row("read_102", [](Call& c) { return c.d.read_102(kIcdev, 20, 5, c.bytes()); })
        .given(open_102)
        .sends("13 02 00 14 05")
        .gives(0).out(wire_slice(kData, 20, 5)),
    Row("read_102_nothing", [](Call& c) { return c.d.read_102(kIcdev, 20, 0, nullptr); })
        .gives(0),
    Row("read_102_reply_one_byte_short",
        [](Call& c) { return c.d.read_102(kIcdev, 10, 4, c.bytes()); })
        .sends("13 02 00 0A 04").answer("00 00 00 11 22 33")
        .gives(-1),
    // The reader is given the range as it is; the card refuses it.
    Row("read_102_past_the_card_sent",
        [](Call& c) { return c.d.read_102_hex(kIcdev, 200, 255, c.text()); })
        .given(open_102)
        .sends("13 02 00 C8 FF")
        .gives(-2).status(memory_card_status::kBadRequest),
    Row("read_102_into_no_buffer", [](Call& c) { return c.d.read_102(kIcdev, 0, 1, nullptr); })
        .gives(-1),
    Row("read_102_hex", [](Call& c) { return c.d.read_102_hex(kIcdev, 0, 3, c.text()); })
        .given(open_102)
        .sends("13 02 00 00 03")
        .gives(0).text("030A11"),
    Row("write_102_hex", [](Call& c) { return c.d.write_102_hex(kIcdev, 30, 2, "a1B2"); })
        .given(open_102)
        .sends("13 03 00 1E 02 A1 B2")
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(wire_slice(card_102(s).memory, 30, 2), Bytes({0xA1, 0xB2}));
        }),
    Row("write_102_needs_the_security_code",
        [](Call& c) { return c.d.write_102(kIcdev, 30, 1, kCode); })
        .given([](State& s) { insert_102(s); })
        .sends("13 03 00 1E 01 11")
        .gives(-2).status(status::kNotPresented),
    Row("write_102_hex_3_of_4_digits",
        [](Call& c) { return c.d.write_102_hex(kIcdev, 30, 2, "A1B"); })
        .gives(-1),
    Row("checkpass_102_zone_5", [](Call& c) { return c.d.checkpass_102(kIcdev, 5, kCode); })
        .gives(-1),
    Row("checkpass_102_no_password",
        [](Call& c) { return c.d.checkpass_102(kIcdev, 0, nullptr); })
        .gives(-1),
    Row("checkpass_102_hex_zone_12_7_digits",
        [](Call& c) { return c.d.checkpass_102_hex(kIcdev, 12, "1122334"); })
        .gives(-1),
    Row("changepass_102_writes_the_zone_code",
        [](Call& c) { return c.d.changepass_102_hex(kIcdev, 12, "A1B2C3D4"); })
        .given(open_102)
        .sends("13 03 00 9C 04 A1 B2 C3 D4")
        .gives(0),
    Row("readcount_102_counts_both_bytes", readcount_102_0)
        .sends("13 02 00 0C 02").answer("00 00 00 F0 01")
        .gives(5),
    Row("readcount_102_reply_one_byte_short", readcount_102_0)
        .sends("13 02 00 0C 02").answer("00 00 00 0F")
        .gives(-1),
    Row("readcount_102_refused_read", readcount_102_0)
        .sends("13 02 00 0C 02").answer("6A 82 00")
        .gives(-2),
    Row("readcount_1604_silent_reader", readcount_1604_13)
        .sends("14 02 00 00 00 05 CF 00 00 00 01").fails()
        .gives(-1),
    // AT88SC1604.
    Row("read_1604_400_bytes_in_three_chunks", read_1604(0, 400))
        .given(open_1604)
        .sends("14 02 00 00 00 00 00 00 00 00 C0")
        .sends("14 02 00 00 00 00 C0 00 00 00 C0")
        .sends("14 02 00 00 00 01 80 00 00 00 10")
        .gives(0).out(wire_slice(kData, 0, 400)),
    Row("read_1604_2000_plus_48", read_1604(2000, 48))
        .given(open_1604)
        .sends("14 02 00 00 00 07 D0 00 00 00 30")
        .gives(0).out(wire_slice(kData, 2000, 48)),
    Row("read_1604_2000_plus_49", read_1604(2000, 49)).gives(-1),
    Row("read_1604_negative_offset", read_1604(-1, 1)).gives(-1),
    Row("read_1604_negative_length", read_1604(0, -1)).gives(-1),
    Row("read_1604_negative_offset_long_length", read_1604(-2048, 2049)).gives(-1),
    Row("read_1604_end_past_32_bits", read_1604(INT_MAX, 2)).gives(-1),
    Row("read_1604_chunk_reply_one_byte_short", read_1604(0, 4))
        .sends("14 02 00 00 00 00 00 00 00 00 04").answer("00 00 00 01 02 03")
        .gives(-1),
    Row("write_1604_stops_at_the_failing_chunk",
        [](Call& c) { return c.d.write_1604(kIcdev, 0, 200, kWrite.data()); })
        .given(open_1604)
        .sends({"14 03 00 00 00 00 00 00 00 00 C0", wire_slice(kWrite, 0, 192)})
        .sends({"14 03 00 00 00 00 C0 00 00 00 08", wire_slice(kWrite, 192, 8)}).answer("6A 82 00")
        .gives(-2)
        .then([](const State& s) {
          EXPECT_EQ(wire_slice(card_102(s).memory, 0, 200),
                    (WireBytes{wire_slice(kWrite, 0, 192), wire_slice(kData, 192, 8)}.bytes));
        }),
    Row("write_1604_hex_31_of_32_digits", [](Call& c) {
      return c.d.write_1604_hex(kIcdev, 0, 16, std::string(31, 'A').c_str());
    }).gives(-1),
    Row("write_1604_hex_past_the_card", [](Call& c) {
      return c.d.write_1604_hex(kIcdev, 1, 2048, std::string(4096, 'A').c_str());
    }).gives(-1),
    Row("write_1604_hex_oversize_length", [](Call& c) {
      return c.d.write_1604_hex(kIcdev, 0, INT_MAX, "AA");
    }).gives(-1),
    Row("checkpass_1604_zone_2",
        [](Call& c) { return c.d.checkpass_1604_hex(kIcdev, 2, "BEEF"); })
        .sends("14 04 00 00 00 04 C6 00 00 00 02 BE EF").answer("00 00")
        .gives(0),
    Row("checkpass_1604_hex_3_digits",
        [](Call& c) { return c.d.checkpass_1604_hex(kIcdev, 2, "BEE"); })
        .gives(-1),
    Row("changepass_1604_zone_13",
        [](Call& c) { return c.d.changepass_1604_hex(kIcdev, 13, "BEEF"); })
        .given(open_1604)
        .sends("14 03 00 00 00 05 CD 00 00 00 02 BE EF")
        .gives(0),
    // AT88SC1608 and AT88SC153.
    Row("read_1608_configuration_100_plus_28", read_1608(8, 100, 28))
        .given(data_1608)
        .sends("18 02 00 01 64 1C")
        .gives(0).out(wire_slice(kData, 1100, 28)),
    Row("read_1608_configuration_100_plus_29", read_1608(8, 100, 29)).gives(-1),
    Row("read_1608_zone_9", read_1608(9, 0, 1)).gives(-1),
    Row("read_1608_zone_0_at_200", read_1608(0, 200, 56))
        .given(data_1608)
        .sends("18 04 00 00")
        .sends("18 02 00 00 C8 38")
        .gives(0).out(wire_slice(kData, 200, 56)),
    Row("read_1608_whole_zone_in_two_chunks", read_1608(7, 0, 256))
        .given(data_1608)
        .sends("18 04 00 07")
        .sends("18 02 00 00 00 C0")
        .sends("18 02 00 00 C0 40")
        .gives(0).out(wire_slice(kData, 7, 256)),
    Row("read_1608_negative_offset", read_1608(0, -1, 2)).gives(-1),
    Row("read_1608_negative_length", read_1608(0, 0, -1)).gives(-1),
    Row("read_1608_end_past_32_bits", read_1608(0, INT_MAX, INT_MAX)).gives(-1),
    Row("read_1608_into_no_buffer",
        [](Call& c) { return c.d.read_1608(kIcdev, 0, 0, 1, nullptr); })
        .gives(-1),
    Row("read_1608_chunk_reply_one_byte_short", read_1608(3, 0, 4))
        .sends("18 04 00 03").answer("00 00")
        .sends("18 02 00 00 00 04").answer("00 00 00 01 02 03")
        .gives(-1),
    Row("read_153_configuration_without_select",
        [](Call& c) { return c.d.read_153_hex(kIcdev, 3, 60, 4, c.text()); })
        .given(data_153)
        .sends("19 02 00 01 3C 04")
        .gives(0).text("FF060D14"),
    Row("read_153_past_its_zone", [](Call& c) {
      return c.d.read_153(kIcdev, 2, 60, 5, c.bytes());
    }).gives(-1),
    Row("write_1608_200_bytes_in_zone_1", write_1608(1, 0, 200))
        .given(data_1608)
        .sends("18 04 00 01")
        .sends({"18 03 00 00 00 C0", wire_slice(kWrite, 0, 192)})
        .sends({"18 03 00 00 C0 08", wire_slice(kWrite, 192, 8)})
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(wire_slice(card_zoned(s).user_zones[1], 0, 200), wire_slice(kWrite, 0, 200));
        }),
    Row("write_1608_failed_select_moves_nothing", write_1608(1, 0, 8))
        .sends("18 04 00 01").answer("6A 82 00")
        .gives(-2),
    Row("write_153_configuration_zone",
        [](Call& c) { return c.d.write_153_hex(kIcdev, 3, 0, 2, "0102"); })
        .given(data_153)
        .sends("19 03 00 01 00 02 01 02")
        .gives(0),
    Row("write_1608_hex_zone_9", [](Call& c) {
      return c.d.write_1608_hex(kIcdev, 9, 0, 1, "AA");
    }).gives(-1),
    Row("write_1608_hex_past_the_zone", [](Call& c) {
      return c.d.write_1608_hex(kIcdev, 0, 200, 100, std::string(200, 'A').c_str());
    }).gives(-1),
    Row("write_153_hex_31_of_32_digits", [](Call& c) {
      return c.d.write_153_hex(kIcdev, 0, 0, 16, std::string(31, 'A').c_str());
    }).gives(-1),
    Row("checkpass_1608_read_password",
        [](Call& c) { return c.d.checkpass_1608_hex(kIcdev, 2, 1, "112233"); })
        .sends("18 05 00 02 01 11 22 33").answer("00 00")
        .gives(0),
    Row("checkpass_153_zone_4", [](Call& c) { return c.d.checkpass_153(kIcdev, 4, 0, kCode); })
        .gives(-1),
    Row("checkpass_153_hex_5_digits",
        [](Call& c) { return c.d.checkpass_153_hex(kIcdev, 0, 0, "11223"); })
        .gives(-1),
    Row("init_auth_1608",
        [](Call& c) { return c.d.init_auth_1608_hex(kIcdev, "0011223344556677"); })
        .sends("18 06 00 00 11 22 33 44 55 66 77").answer("00 00")
        .gives(0),
    Row("check_auth_153", [](Call& c) { return c.d.check_auth_153(kIcdev, kData.data()); })
        .sends({"19 07 00", wire_slice(kData, 0, 8)}).answer("00 00")
        .gives(0),
    Row("check_auth_153_hex_15_digits",
        [](Call& c) { return c.d.check_auth_153_hex(kIcdev, "001122334455667"); })
        .gives(-1),
    Row("init_auth_153_no_value", [](Call& c) { return c.d.init_auth_153(kIcdev, nullptr); })
        .gives(-1),
    Row("write_fuse_1608_value_not_sent",
        [](Call& c) { return c.d.write_fuse_1608(kIcdev, 0x5A); })
        .given([](State& s) { insert_1608(s); })
        .sends("18 08 00")
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(card_zoned(s).fuse, 0x06); }),
    Row("read_fuse_153", [](Call& c) { return c.d.read_fuse_153(kIcdev, c.bytes()); })
        .given([](State& s) { insert_153(s); })
        .sends("19 09 00")
        .gives(0).out("07"),
    Row("read_fuse_1608_reply_without_the_byte",
        [](Call& c) { return c.d.read_fuse_1608(kIcdev, c.bytes()); })
        .sends("18 09 00").answer("00 00 00")
        .gives(-1),
    Row("read_fuse_1608_no_output", [](Call& c) { return c.d.read_fuse_1608(kIcdev, nullptr); })
        .gives(-1),
};
WIRE_TABLE(At88scCardsRequests, R42MemoryReader, kRequests);

// --- commands with no parameters: the card of their kind takes them ---

struct PlainCommand {
  const char* name;
  int16_t (ReaderDevice::*call)(int32_t);
  const char* request;
};
const PlainCommand kPlainCommands[] = {
    {"check_102", &ReaderDevice::check_102, "13 00 00"},
    {"down_102", &ReaderDevice::down_102, "13 01 00"},
    {"fuse_102", &ReaderDevice::fuse_102, "13 05 00"},
    {"check_1604", &ReaderDevice::check_1604, "14 00 00"},
    {"down_1604", &ReaderDevice::down_1604, "14 01 00"},
    {"fuse_1604", &ReaderDevice::fuse_1604, "14 05 00"},
    {"down_4442", &ReaderDevice::down_4442, "10 01 00"},
    {"down_4428", &ReaderDevice::down_4428, "11 01 00"},
    {"check_1608", &ReaderDevice::check_1608, "18 00 00"},
    {"down_1608", &ReaderDevice::down_1608, "18 01 00"},
    {"check_153", &ReaderDevice::check_153, "19 00 00"},
    {"down_153", &ReaderDevice::down_153, "19 01 00"},
};

// Each card kind answers only its own commands.
void insert_kind(State& s, uint8_t group) {
  switch (group) {
    case 0x10: s.memory_card.insert(Sle4442Card()); break;
    case 0x11: s.memory_card.insert(Sle4428Card()); break;
    case 0x13: insert_102(s); break;
    case 0x14: insert_1604(s); break;
    case 0x18: insert_1608(s); break;
    default: insert_153(s); break;
  }
}

std::vector<Row> plain_rows() {
  std::vector<Row> rows;
  for (const PlainCommand& p : kPlainCommands) {
    const uint8_t group = WireBytes(p.request).bytes[0];
    auto call = [fn = p.call](Call& c) { return (c.d.*fn)(kIcdev); };
    rows.push_back(Row(p.name, call)
                       .given([group](State& s) { insert_kind(s, group); })
                       .sends(p.request, 5000)
                       .gives(0));
    rows.push_back(Row(std::string(p.name) + "_other_card", call)
                       .given([group](State& s) { insert_kind(s, group == 0x19 ? 0x18 : 0x19); })
                       .sends(p.request)
                       .gives(-2).status(memory_card_status::kOtherCard));
  }
  return rows;
}
WIRE_TABLE(At88scCardsPlainCommands, R42MemoryReader, plain_rows());

// --- password zones and attempt counters on the card models ---

// A reader with a fresh card of the kind under test in its slot.
template <typename Kind, typename Card>
class CardInSlot : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    reader.edit([](State& s) { s.memory_card.insert(CardInSlot::GetParam().make()); });
  }
  Card card() const { return *reader.state().memory_card.get<Card>(); }
  ReaderDevice& d() { return reader.device; }
  R42MemoryReader reader;
};

struct AddressedKind {
  const char* name;
  Addressed (*make)();
  int16_t (ReaderDevice::*checkpass)(int32_t, int16_t, const unsigned char*);
  int16_t (ReaderDevice::*readcount)(int32_t, int16_t);
  int16_t (ReaderDevice::*down)(int32_t);
  int16_t (ReaderDevice::*changepass)(int32_t, int16_t, const unsigned char*);
};
void PrintTo(const AddressedKind& kind, std::ostream* os) { *os << kind.name; }

const AddressedKind kAddressedKinds[] = {
    {"at88sc102", &Addressed::sc102, &ReaderDevice::checkpass_102, &ReaderDevice::readcount_102,
     &ReaderDevice::down_102, &ReaderDevice::changepass_102},
    {"at88sc1604", &Addressed::sc1604, &ReaderDevice::checkpass_1604,
     &ReaderDevice::readcount_1604, &ReaderDevice::down_1604, &ReaderDevice::changepass_1604},
};

class At88scCardsZones : public CardInSlot<AddressedKind, Addressed> {
 protected:
  int16_t checkpass(int zone, const uint8_t* code) {
    return (d().*GetParam().checkpass)(kIcdev, int16_t(zone), code);
  }
  int16_t readcount(int zone) { return (d().*GetParam().readcount)(kIcdev, int16_t(zone)); }
  size_t exchanges() const { return reader.wire.calls.size(); }
  // The zone's code becomes the first bytes of kCode.
  void give_code(int zone) {
    reader.edit([&](State& s) {
      s.memory_card.get<Addressed>()->set_password(zone, Bytes(kCode, kCode + 6));
    });
  }
};

// Zones the card lacks are refused before any I/O, as is the count of a
// zone without a counter; the right code opens every zone the card has.
TEST_P(At88scCardsZones, EveryZoneAsTheCardLaysItOut) {
  const uint8_t wrong[6] = {};
  const Addressed layout = card();
  for (int zone = -1; zone <= 16; ++zone) {
    SCOPED_TRACE(zone);
    const Addressed::Zone* z = layout.zone(zone);
    const size_t before = exchanges();
    if (z == nullptr) {
      EXPECT_EQ(checkpass(zone, kCode), -1);
      EXPECT_EQ(readcount(zone), -1);
      EXPECT_EQ(exchanges(), before);
      continue;
    }
    give_code(zone);
    if (z->counter_size == 0) {
      EXPECT_EQ(readcount(zone), -1);
      EXPECT_EQ(exchanges(), before);
      const Bytes memory = card().memory;
      EXPECT_EQ(checkpass(zone, wrong), -2);
      EXPECT_EQ(reader.lastStatus(), status::kWrongPassword);
      EXPECT_EQ(card().memory, memory) << "nothing counted";
    } else {
      EXPECT_EQ(readcount(zone), 4);
    }
    EXPECT_EQ(checkpass(zone, kCode), 0);
    EXPECT_EQ(card().presented.count(zone), 1u);
  }
}

TEST_P(At88scCardsZones, WrongCodesWalkTheCounterDownAndLockIt) {
  const Addressed layout = card();
  for (const Addressed::Zone& z : layout.zones) {
    if (z.counter_size == 0) continue;
    SCOPED_TRACE(z.zone);
    give_code(z.zone);
    const uint8_t wrong[6] = {};
    EXPECT_EQ(checkpass(z.zone, wrong), -2);
    EXPECT_EQ(checkpass(z.zone, wrong), -2);
    EXPECT_EQ(readcount(z.zone), 2);
    EXPECT_EQ(checkpass(z.zone, kCode), 0);
    EXPECT_EQ(readcount(z.zone), 4);
    for (int left = 3; left >= 0; --left) {
      EXPECT_EQ(checkpass(z.zone, wrong), -2);
      EXPECT_EQ(readcount(z.zone), left);
    }
    EXPECT_EQ(checkpass(z.zone, kCode), -2);
    EXPECT_EQ(reader.lastStatus(), status::kLocked);
    EXPECT_EQ(readcount(z.zone), 0);
  }
}

// Writes, password changes among them, need the security code (zone 0),
// which a power-down forgets.
TEST_P(At88scCardsZones, PowerDownForgetsTheCodes) {
  const AddressedKind& kind = GetParam();
  const uint8_t code[2] = {0xFF, 0xFF};
  const uint8_t next[2] = {0x12, 0x34};
  ASSERT_EQ(checkpass(0, code), 0);
  ASSERT_EQ((d().*kind.changepass)(kIcdev, 0, next), 0);
  ASSERT_EQ((d().*kind.down)(kIcdev), 0);
  EXPECT_EQ((d().*kind.changepass)(kIcdev, 0, code), -2);
  EXPECT_EQ(reader.lastStatus(), status::kNotPresented);
  EXPECT_EQ(checkpass(0, code), -2);
  EXPECT_EQ(checkpass(0, next), 0);
}
INSTANTIATE_TEST_SUITE_P(, At88scCardsZones, ::testing::ValuesIn(kAddressedKinds),
                         [](const auto& info) { return std::string(info.param.name); });

// The SLE cards forget their PSC on power-down too.
TEST(At88scCardsSlePowerDown, PscMustBePresentedAgain) {
  R42MemoryReader reader;
  reader.edit([](State& s) { s.memory_card.insert(Sle4442Card()); });
  ASSERT_EQ(reader.device.verifypin_4442_hex(kIcdev, "FFFFFF"), 0);
  ASSERT_EQ(reader.device.down_4442(kIcdev), 0);
  EXPECT_FALSE(reader.state().memory_card.get<Sle4442Card>()->unlocked);
  reader.edit([](State& s) { s.memory_card.insert(Sle4428Card()).unlocked = true; });
  ASSERT_EQ(reader.device.down_4428(kIcdev), 0);
  EXPECT_FALSE(reader.state().memory_card.get<Sle4428Card>()->unlocked);
}

// --- zoned cards: password sets, protection, authentication, fuses ---

struct ZonedKind {
  const char* name;
  Zoned (*make)();
  int16_t (ReaderDevice::*read)(int32_t, uint8_t, int32_t, int32_t, unsigned char*);
  int16_t (ReaderDevice::*write)(int32_t, uint8_t, int32_t, int32_t, const unsigned char*);
  int16_t (ReaderDevice::*checkpass)(int32_t, uint8_t, uint8_t, const unsigned char*);
  int16_t (ReaderDevice::*down)(int32_t);
  int16_t (ReaderDevice::*init_auth)(int32_t, const unsigned char*);
  int16_t (ReaderDevice::*check_auth)(int32_t, const unsigned char*);
  int16_t (ReaderDevice::*write_fuse)(int32_t, uint8_t);
  int16_t (ReaderDevice::*read_fuse)(int32_t, uint8_t*);
};
void PrintTo(const ZonedKind& kind, std::ostream* os) { *os << kind.name; }

const ZonedKind kZonedKinds[] = {
    {"at88sc1608", &Zoned::sc1608, &ReaderDevice::read_1608, &ReaderDevice::write_1608,
     &ReaderDevice::checkpass_1608, &ReaderDevice::down_1608, &ReaderDevice::init_auth_1608,
     &ReaderDevice::check_auth_1608, &ReaderDevice::write_fuse_1608,
     &ReaderDevice::read_fuse_1608},
    {"at88sc153", &Zoned::sc153, &ReaderDevice::read_153, &ReaderDevice::write_153,
     &ReaderDevice::checkpass_153, &ReaderDevice::down_153, &ReaderDevice::init_auth_153,
     &ReaderDevice::check_auth_153, &ReaderDevice::write_fuse_153, &ReaderDevice::read_fuse_153},
};

class At88scCardsZoned : public CardInSlot<ZonedKind, Zoned> {
 protected:
  int16_t read(uint8_t zone) { return (d().*GetParam().read)(kIcdev, zone, 0, 4, buffer); }
  int16_t write(uint8_t zone) { return (d().*GetParam().write)(kIcdev, zone, 0, 4, kCode); }
  int16_t present(uint8_t set, uint8_t type, const uint8_t* code) {
    return (d().*GetParam().checkpass)(kIcdev, set, type, code);
  }
  uint8_t buffer[8] = {};
};

TEST_P(At88scCardsZoned, PasswordSetsOpenProtectedZones) {
  const uint8_t write_code[3] = {0x57, 0x57, 0x57}, read_code[3] = {0x52, 0x52, 0x52};
  const uint8_t wrong[3] = {};
  reader.edit([&](State& s) {
    Zoned& card = *s.memory_card.get<Zoned>();
    card.read_protected[1] = card.write_protected[1] = true;
    card.set_password(1, 0, {0x57, 0x57, 0x57});
    card.set_password(1, 1, {0x52, 0x52, 0x52});
  });
  EXPECT_EQ(read(0), 0) << "zone 0 is open";
  EXPECT_EQ(read(1), -2);
  EXPECT_EQ(reader.lastStatus(), status::kNotPresented);
  EXPECT_EQ(present(1, 1, wrong), -2);
  EXPECT_EQ(card().attempts(1, 1), 3);
  EXPECT_EQ(present(1, 1, read_code), 0);
  EXPECT_EQ(card().attempts(1, 1), 4);
  EXPECT_EQ(read(1), 0);
  EXPECT_EQ(write(1), -2) << "the read password does not write";
  EXPECT_EQ(present(1, 0, write_code), 0);
  EXPECT_EQ(write(1), 0);
  ASSERT_EQ((d().*GetParam().down)(kIcdev), 0);
  EXPECT_EQ(read(1), -2) << "forgotten on power-down";
  for (int left = 3; left >= 0; --left) {
    EXPECT_EQ(present(1, 0, wrong), -2);
    EXPECT_EQ(card().attempts(1, 0), left);
  }
  EXPECT_EQ(present(1, 0, write_code), -2);
  EXPECT_EQ(reader.lastStatus(), status::kLocked);
}

TEST_P(At88scCardsZoned, AuthenticationAndFuses) {
  const Zoned::Value start = {1, 2, 3, 4, 5, 6, 7, 8}, answer = {9, 9, 9, 9, 9, 9, 9, 9};
  reader.edit([&](State& s) { s.memory_card.get<Zoned>()->auth_answers[start] = answer; });
  const Zoned::Value other = {};
  EXPECT_EQ((d().*GetParam().check_auth)(kIcdev, answer.data()), -2) << "nothing started";
  ASSERT_EQ((d().*GetParam().init_auth)(kIcdev, start.data()), 0);
  EXPECT_EQ((d().*GetParam().check_auth)(kIcdev, other.data()), -2);
  EXPECT_EQ((d().*GetParam().check_auth)(kIcdev, answer.data()), 0);
  ASSERT_EQ((d().*GetParam().init_auth)(kIcdev, other.data()), 0);
  EXPECT_EQ((d().*GetParam().check_auth)(kIcdev, answer.data()), -2);

  for (uint8_t fuse : {0x07, 0x06, 0x04, 0x00}) {
    uint8_t value = 0xEE;
    ASSERT_EQ((d().*GetParam().read_fuse)(kIcdev, &value), 0);
    EXPECT_EQ(value, fuse);
    ASSERT_EQ((d().*GetParam().write_fuse)(kIcdev, 0), 0);
  }
}
INSTANTIATE_TEST_SUITE_P(, At88scCardsZoned, ::testing::ValuesIn(kZonedKinds),
                         [](const auto& info) { return std::string(info.param.name); });

// --- composite operations call their parts through the device interface ---

class PartsSeen : public R42Device {
 public:
  using R42Device::R42Device;
  int16_t read_1604(int32_t, int32_t offset, int32_t length, unsigned char* data) override {
    seen.push_back("read_1604 " + std::to_string(offset) + " " + std::to_string(length));
    std::fill_n(data, length, 0x33);
    return 0;
  }
  int16_t write_102(int32_t, uint8_t offset, uint8_t length, const unsigned char*) override {
    seen.push_back("write_102 " + std::to_string(offset) + " " + std::to_string(length));
    return 0;
  }
  int16_t checkpass_1608(int32_t, uint8_t zone, uint8_t type, const unsigned char* code) override {
    seen.push_back("checkpass_1608 " + std::to_string(zone) + " " + std::to_string(type) + " " +
                   spaced_hex(code, 3));
    return 0;
  }
  std::vector<std::string> seen;
};

TEST(At88scCardsInterface, CompositesCallTheOverrides) {
  MemoryReader<R42ReaderModel, PartsSeen> reader("r42-u");
  ReaderDevice& d = reader.device;
  char text[16] = {};
  EXPECT_EQ(d.readcount_1604(kIcdev, 12), 4);
  EXPECT_EQ(d.read_1604_hex(kIcdev, 7, 2, text), 0);
  EXPECT_STREQ(text, "3333");
  EXPECT_EQ(d.changepass_102_hex(kIcdev, 11, "0102030405FF"), 0);
  EXPECT_EQ(d.checkpass_1608_hex(kIcdev, 5, 1, "a0b0c0"), 0);
  EXPECT_EQ(reader.device.seen, (std::vector<std::string>{"read_1604 1226 1", "read_1604 7 2",
                                                          "write_102 86 6",
                                                          "checkpass_1608 5 1 A0 B0 C0"}));
  EXPECT_TRUE(reader.wire.calls.empty());
}

}  // namespace
