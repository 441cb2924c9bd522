// Contact memory cards (SLE4442, SLE4428, 24Cxx) and card detection: the
// requests and bounds as rows, the PIN and detection flows against the card
// models of the simulated memory-card slot.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "sim/memory_cards.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using State = R42ReaderModel::State;
using Bytes = std::vector<uint8_t>;
using ReadFn = int16_t (ReaderDevice::*)(int32_t, int16_t, int16_t, unsigned char*);
using WriteFn = int16_t (ReaderDevice::*)(int32_t, int16_t, int16_t, const unsigned char*);
namespace status = memory_card_status;

// [code][00][offset BE32][length BE32], then the SLE4428's memory byte.
std::string chunk(uint16_t code, uint32_t offset, uint32_t length, int memory = -1) {
  char text[64];
  std::snprintf(text, sizeof text, "%02X %02X 00 %02X %02X %02X %02X %02X %02X %02X %02X",
                code >> 8, code & 0xFF, offset >> 24, (offset >> 16) & 0xFF,
                (offset >> 8) & 0xFF, offset & 0xFF, length >> 24, (length >> 16) & 0xFF,
                (length >> 8) & 0xFF, length & 0xFF);
  std::string out = text;
  if (memory >= 0) out += memory == 0 ? " 00" : " 01";
  return out;
}

std::string byte_hex(uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

const Bytes kData = wire_pattern(8192, 1);

Row::Call read_call(ReadFn read, int16_t offset, int16_t length) {
  return [=](Call& c) { return (c.d.*read)(kIcdev, offset, length, c.bytes()); };
}
Row::Call write_call(WriteFn write, int16_t offset, int16_t length) {
  return [=](Call& c) { return (c.d.*write)(kIcdev, offset, length, kData.data()); };
}

void insert_4442(State& s) { s.memory_card.insert(Sle4442Card()); }
void insert_4428(State& s) { s.memory_card.insert(Sle4428Card()); }
void insert_24c02(State& s) { s.memory_card.insert(EepromCard::c24(2)); }

// --- bounds of each chunked memory, from both ends ---

struct ChunkedCardMemory {
  std::string name;
  ReadFn read;
  WriteFn write;
  uint16_t read_code, write_code;
  int memory_byte;
  int16_t capacity;
};

const ChunkedCardMemory kChunkedMemories[] = {
    {"sle4442", &ReaderDevice::read_4442, &ReaderDevice::write_4442, 0x1002, 0x1003, -1, 256},
    {"sle4428", &ReaderDevice::read_4428, &ReaderDevice::write_4428, 0x1102, 0x1103, 0, 1024},
    {"sle4428_protection", &ReaderDevice::readprotect_4428, &ReaderDevice::writeprotect_4428,
     0x1102, 0x1103, 1, 1024},
    {"c24", &ReaderDevice::read_24c, &ReaderDevice::write_24c, 0x1210, 0x1211, -1, 2048},
    {"c24c64", &ReaderDevice::read_24c64, &ReaderDevice::write_24c64, 0x1212, 0x1213, -1, 8192},
};

std::vector<Row> bounds_rows() {
  std::vector<Row> rows;
  for (const ChunkedCardMemory& m : kChunkedMemories) {
    const int16_t last = int16_t(m.capacity - 1);
    rows.push_back(Row(m.name + "_read_last_byte", read_call(m.read, last, 1))
                       .sends(chunk(m.read_code, uint32_t(last), 1, m.memory_byte))
                       .answer("00 00 00 5A")
                       .gives(0).out("5A"));
    rows.push_back(Row(m.name + "_write_last_byte", write_call(m.write, last, 1))
                       .sends({chunk(m.write_code, uint32_t(last), 1, m.memory_byte),
                               byte_hex(kData[0])})
                       .answer("00 00 00")
                       .gives(0));
    rows.push_back(Row(m.name + "_read_one_past_the_end", read_call(m.read, last, 2)).gives(-1));
    rows.push_back(
        Row(m.name + "_write_one_past_the_end", write_call(m.write, m.capacity, 1)).gives(-1));
    rows.push_back(Row(m.name + "_read_nothing_at_the_end", read_call(m.read, m.capacity, 0))
                       .gives(0));
    rows.push_back(Row(m.name + "_read_negative_offset", read_call(m.read, -1, 1)).gives(-1));
    rows.push_back(Row(m.name + "_write_negative_length", write_call(m.write, 0, -1)).gives(-1));
    // The end is added in 32 bits: it does not wrap to a small number.
    rows.push_back(
        Row(m.name + "_read_end_past_16_bits", read_call(m.read, 32767, 32767)).gives(-1));
    rows.push_back(Row(m.name + "_read_into_no_buffer", [read = m.read](Call& c) {
                     return (c.d.*read)(kIcdev, 0, 1, nullptr);
                   }).gives(-1));
    rows.push_back(Row(m.name + "_write_from_no_buffer", [write = m.write](Call& c) {
                     return (c.d.*write)(kIcdev, 0, 1, nullptr);
                   }).gives(-1));
  }
  return rows;
}
WIRE_TABLE(MemoryCardsBounds, R42MemoryReader, bounds_rows());

// --- requests, replies and the slot's answers, one call a row ---

int32_t readpincount_4442(Call& c) { return c.d.readpincount_4442(kIcdev); }
int32_t readpincount_4428(Call& c) { return c.d.readpincount_4428(kIcdev); }

const Row kRequests[] = {
    Row("read_4442_head_from_the_card", read_call(&ReaderDevice::read_4442, 0, 8))
        .given(insert_4442)
        .sends(chunk(0x1002, 0, 8), 5000)
        .gives(0).out("A2 13 10 91 FF FF 81 15"),
    Row("write_24c_200_in_two_chunks", write_call(&ReaderDevice::write_24c, 0, 200))
        .given(insert_24c02)
        .sends({"12 11 00 00 00 00 00 00 00 00 C0", wire_slice(kData, 0, 192)})
        .sends({"12 11 00 00 00 00 C0 00 00 00 08", wire_slice(kData, 192, 8)})
        .gives(0)
        .then([](const State& s) {
          const Bytes& memory = s.memory_card.get<EepromCard>()->memory;
          EXPECT_EQ(wire_slice(memory, 0, 200), wire_slice(kData, 0, 200));
        }),
    Row("write_24c_stops_at_the_failing_chunk", write_call(&ReaderDevice::write_24c, 0, 400))
        .given(insert_24c02)
        .sends({"12 11 00 00 00 00 00 00 00 00 C0", wire_slice(kData, 0, 192)})
        .sends({"12 11 00 00 00 00 C0 00 00 00 C0", wire_slice(kData, 192, 192)}).answer("65 81 00")
        .gives(-2).status(0x6581)
        .then([](const State& s) {
          const Bytes& memory = s.memory_card.get<EepromCard>()->memory;
          EXPECT_EQ(wire_slice(memory, 0, 192), wire_slice(kData, 0, 192));
          EXPECT_EQ(wire_slice(memory, 192, 64), Bytes(64, 0xFF));
        }),
    Row("read_4428_data_request_of_12_bytes", read_call(&ReaderDevice::read_4428, 0, 16))
        .given(insert_4428)
        .sends("11 02 00 00 00 00 00 00 00 00 10 00")
        .gives(0).out({"FF FF FF FF FF FF 81 13", Bytes(8, 0xFF)}),
    Row("readprotect_4428_same_request_for_the_protection",
        read_call(&ReaderDevice::readprotect_4428, 0, 16))
        .given(insert_4428)
        .sends("11 02 00 00 00 00 00 00 00 00 10 01")
        .gives(0).out(Bytes(16, 0x01)),
    Row("write_4428_full_chunk_of_204_bytes", write_call(&ReaderDevice::write_4428, 0, 192))
        .given(insert_4428)
        .sends({"11 03 00 00 00 00 00 00 00 00 C0 00", wire_slice(kData, 0, 192)})
        .gives(0),
    Row("readprotect_4442_all_32", read_call(&ReaderDevice::readprotect_4442, 0, 32))
        .given([](State& s) { s.memory_card.insert(Sle4442Card()).protection[5] = 0; })
        .sends("10 04 00 00 20")
        .gives(0).out({Bytes(5, 0x01), "00", Bytes(26, 0x01)}),
    Row("readwrotect_4442_reads_the_protection", read_call(&ReaderDevice::readwrotect_4442, 30, 2))
        .given(insert_4442)
        .sends("10 04 00 1E 02")
        .gives(0).out("01 01"),
    Row("readprotect_4442_past_32_refused", read_call(&ReaderDevice::readprotect_4442, 30, 3))
        .gives(-1),
    Row("readprotect_4442_nothing", read_call(&ReaderDevice::readprotect_4442, 32, 0)).gives(0),
    Row("readprotect_4442_reply_one_byte_short", read_call(&ReaderDevice::readprotect_4442, 0, 4))
        .sends("10 04 00 00 04").answer("00 00 00 01 01 01")
        .gives(-1),
    Row("writeprotect_4442_past_32_refused", write_call(&ReaderDevice::writeprotect_4442, 31, 2))
        .gives(-1),
    Row("writeprotect_4442_request", write_call(&ReaderDevice::writeprotect_4442, 2, 3))
        .sends({"10 05 00 02 03", wire_slice(kData, 0, 3)}).answer("00 00")
        .gives(0),
    Row("readpincount_4442_all_three", readpincount_4442)
        .sends("10 06 00").answer("00 00 00 07")
        .gives(3),
    Row("readpincount_4442_counts_the_low_three_bits", readpincount_4442)
        .sends("10 06 00").answer("00 00 00 F9 11 22 33")
        .gives(1),
    Row("readpincount_4442_reply_without_the_counter", readpincount_4442)
        .sends("10 06 00").answer("00 00 00")
        .gives(-1),
    Row("readpincount_4428_all_eight", readpincount_4428)
        .sends("11 04 00").answer("00 00 00 FF")
        .gives(8),
    Row("readpincount_4428_card_status", readpincount_4428)
        .sends("11 04 00").answer("6A 81 00")
        .gives(-2).status(0x6A81),
    Row("readpin_4442_psc_after_the_counter",
        [](Call& c) { return c.d.readpin_4442(kIcdev, c.bytes()); })
        .sends("10 06 00").answer("00 00 00 07 12 34 56")
        .gives(0).out("12 34 56"),
    Row("readpin_4442_reply_one_byte_short",
        [](Call& c) { return c.d.readpin_4442(kIcdev, c.bytes()); })
        .sends("10 06 00").answer("00 00 00 07 12 34")
        .gives(-1),
    Row("readpin_4442_locked_card_hides_the_psc",
        [](Call& c) { return c.d.readpin_4442(kIcdev, c.bytes()); })
        .given(insert_4442)
        .sends("10 06 00")
        .gives(0).out("00 00 00"),
    Row("readpin_4428_hex", [](Call& c) { return c.d.readpin_4428_hex(kIcdev, c.text()); })
        .sends("11 04 00").answer("00 00 00 FF AB CD")
        .gives(0).text("ABCD"),
    Row("readpin_4442_into_no_buffer", [](Call& c) { return c.d.readpin_4442(kIcdev, nullptr); })
        .gives(-1),
    Row("changepin_4442_request",
        [](Call& c) { return c.d.changepin_4442_hex(kIcdev, "a1b2c3"); })
        .sends("10 07 00 A1 B2 C3").answer("00 00")
        .gives(0),
    Row("changepin_4428_request",
        [](Call& c) { return c.d.changepin_4428(kIcdev, kData.data()); })
        .sends({"11 05 00", wire_slice(kData, 0, 2)}).answer("00 00")
        .gives(0),
    Row("changepin_4442_from_no_buffer",
        [](Call& c) { return c.d.changepin_4442(kIcdev, nullptr); })
        .gives(-1),
    Row("verifypin_4442_from_no_buffer",
        [](Call& c) { return c.d.verifypin_4442(kIcdev, nullptr); })
        .gives(-1),
    Row("verifypin_4442_refused_by_the_reader",
        [](Call& c) { return c.d.verifypin_4442_hex(kIcdev, "FFFFFF"); })
        .sends("10 08 00 FF FF FF").answer("6A 82 00")
        .gives(-2),
    Row("verifypin_4442_hex_five_digits", [](Call& c) {
      return c.d.verifypin_4442_hex(kIcdev, "FFFFF");
    }).gives(-1),
    // The slot: nothing in it, or a card of another kind.
    Row("read_4442_empty_slot", read_call(&ReaderDevice::read_4442, 0, 1))
        .sends(chunk(0x1002, 0, 1))
        .gives(-2).status(status::kNoCard),
    Row("read_24c_on_an_sle4442", read_call(&ReaderDevice::read_24c, 0, 1))
        .given(insert_4442)
        .sends(chunk(0x1210, 0, 1))
        .gives(-2).status(status::kOtherCard),
    Row("readpincount_4442_on_an_sle4428", readpincount_4442)
        .given(insert_4428)
        .sends("10 06 00")
        .gives(-2).status(status::kOtherCard),
    Row("read_4428_silent_reader", read_call(&ReaderDevice::read_4428, 0, 1))
        .sends(chunk(0x1102, 0, 1, 0)).fails()
        .gives(-1),
    // Text twins.
    Row("read_4442_hex_check_bytes",
        [](Call& c) { return c.d.read_4442_hex(kIcdev, 6, 2, c.text()); })
        .given(insert_4442)
        .sends(chunk(0x1002, 6, 2))
        .gives(0).text("8115"),
    Row("read_4442_hex_failure_leaves_the_text",
        [](Call& c) { return c.d.read_4442_hex(kIcdev, 6, 2, c.text()); })
        .sends(chunk(0x1002, 6, 2))
        .gives(-2),
    Row("read_24c_hex_nothing", [](Call& c) { return c.d.read_24c_hex(kIcdev, 0, 0, c.text()); })
        .gives(0).text(""),
    Row("read_24c_hex_into_no_text",
        [](Call& c) { return c.d.read_24c_hex(kIcdev, 0, 1, nullptr); })
        .gives(-1),
    Row("write_24c_hex_lower_case",
        [](Call& c) { return c.d.write_24c_hex(kIcdev, 16, 2, "a5c3"); })
        .given(insert_24c02)
        .sends({chunk(0x1211, 16, 2), "A5 C3"})
        .gives(0),
    Row("write_24c_hex_short_text", [](Call& c) {
      return c.d.write_24c_hex(kIcdev, 16, 2, "A5C");
    }).gives(-1),
    Row("write_24c_hex_past_2048", [](Call& c) {
      return c.d.write_24c_hex(kIcdev, 0, 2049, std::string(4098, 'A').c_str());
    }).gives(-1),
    Row("writeprotect_4442_hex_request",
        [](Call& c) { return c.d.writeprotect_4442_hex(kIcdev, 0, 2, "A213"); })
        .sends("10 05 00 00 02 A2 13").answer("00 00")
        .gives(0),
    Row("readprotect_4428_hex", [](Call& c) {
      return c.d.readprotect_4428_hex(kIcdev, 1020, 4, c.text());
    })
        .given([](State& s) { s.memory_card.insert(Sle4428Card()).protection[1021] = 0; })
        .sends(chunk(0x1102, 1020, 4, 1))
        .gives(0).text("01000101"),
    Row("writeprotect_4428_hex_request",
        [](Call& c) { return c.d.writeprotect_4428_hex(kIcdev, 6, 2, "8113"); })
        .sends({chunk(0x1103, 6, 2, 1), "81 13"}).answer("00 00")
        .gives(0),
};
WIRE_TABLE(MemoryCardsRequests, R42MemoryReader, kRequests);

// --- PIN verification and its write test ---

// verifypin_4442(FF FF FF) on a card whose byte 255 is FF.
Row::Call verify_4442_ff() {
  return [](Call& c) { return c.d.verifypin_4442_hex(kIcdev, "FFFFFF"); };
}
const std::string kRead255 = chunk(0x1002, 255, 1);
const std::string kWrite255 = chunk(0x1003, 255, 1);

void byte_255_is_ff(const State& s) {
  EXPECT_EQ(s.memory_card.get<Sle4442Card>()->memory[255], 0xFF);
}

const Row kWriteTest[] = {
    Row("right_psc_changes_byte_255_and_restores_it", verify_4442_ff())
        .given(insert_4442)
        .sends("10 08 00 FF FF FF")
        .sends(kRead255)
        .sends({kWrite255, "00"})
        .sends(kRead255)
        .sends({kWrite255, "FF"})
        .gives(0)
        .then([](const State& s) {
          const Sle4442Card* card = s.memory_card.get<Sle4442Card>();
          EXPECT_TRUE(card->unlocked);
          EXPECT_EQ(card->memory[255], 0xFF);
        }),
    Row("next_value_of_byte_255", verify_4442_ff())
        .given([](State& s) { s.memory_card.insert(Sle4442Card()).memory[255] = 0x41; })
        .sends("10 08 00 FF FF FF")
        .sends(kRead255)
        .sends({kWrite255, "42"})
        .sends(kRead255)
        .sends({kWrite255, "41"})
        .gives(0),
    // A locked card ignores the write: the byte reads back unchanged.
    Row("wrong_psc_fails_the_write_test",
        [](Call& c) { return c.d.verifypin_4442_hex(kIcdev, "123456"); })
        .given(insert_4442)
        .sends("10 08 00 12 34 56")
        .sends(kRead255)
        .sends({kWrite255, "00"})
        .sends(kRead255)
        .sends({kWrite255, "FF"})
        .gives(-1)
        .then([](const State& s) {
          const Sle4442Card* card = s.memory_card.get<Sle4442Card>();
          EXPECT_FALSE(card->unlocked);
          EXPECT_EQ(card->attempts(), 2);
        }),
    // Once the changing write went through, a failing read-back still gets
    // the byte written back; the read's failure is the result.
    Row("read_back_fails_byte_255_still_restored", verify_4442_ff())
        .given(insert_4442)
        .sends("10 08 00 FF FF FF")
        .sends(kRead255)
        .sends({kWrite255, "00"})
        .sends(kRead255).fails()
        .sends({kWrite255, "FF"})
        .gives(-1)
        .then(byte_255_is_ff),
    Row("read_back_refused_byte_255_still_restored", verify_4442_ff())
        .given(insert_4442)
        .sends("10 08 00 FF FF FF")
        .sends(kRead255)
        .sends({kWrite255, "00"})
        .sends(kRead255).answer("65 81 00")
        .sends({kWrite255, "FF"})
        .gives(-2).status(0x0000)
        .then(byte_255_is_ff),
    Row("restore_fails_after_a_good_read_back", verify_4442_ff())
        .given(insert_4442)
        .sends("10 08 00 FF FF FF")
        .sends(kRead255)
        .sends({kWrite255, "00"})
        .sends(kRead255)
        .sends({kWrite255, "FF"}).answer("65 81 00")
        .gives(-2),
    Row("changing_write_refused_nothing_to_restore", verify_4442_ff())
        .given(insert_4442)
        .sends("10 08 00 FF FF FF")
        .sends(kRead255)
        .sends({kWrite255, "00"}).answer("65 81 00")
        .gives(-2),
    // The SLE4428 then resets its error counter.
    Row("sle4428_right_psc_resets_the_counter",
        [](Call& c) { return c.d.verifypin_4428_hex(kIcdev, "FFFF"); })
        .given([](State& s) { s.memory_card.insert(Sle4428Card()).memory[1021] = 0xFC; })
        .sends("11 06 00 FF FF")
        .sends(chunk(0x1102, 255, 1, 0))
        .sends({chunk(0x1103, 255, 1, 0), "00"})
        .sends(chunk(0x1102, 255, 1, 0))
        .sends({chunk(0x1103, 255, 1, 0), "FF"})
        .sends({chunk(0x1103, 1021, 1, 0), "FF"})
        .gives(0)
        .then([](const State& s) {
          const Sle4428Card* card = s.memory_card.get<Sle4428Card>();
          EXPECT_EQ(card->attempts(), 8);
          EXPECT_EQ(card->memory[255], 0xFF);
        }),
    Row("sle4428_read_back_fails_restored_counter_left",
        [](Call& c) { return c.d.verifypin_4428_hex(kIcdev, "FFFF"); })
        .given([](State& s) { s.memory_card.insert(Sle4428Card()).memory[1021] = 0xFC; })
        .sends("11 06 00 FF FF")
        .sends(chunk(0x1102, 255, 1, 0))
        .sends({chunk(0x1103, 255, 1, 0), "00"})
        .sends(chunk(0x1102, 255, 1, 0)).fails()
        .sends({chunk(0x1103, 255, 1, 0), "FF"})
        .gives(-1)
        .then([](const State& s) {
          const Sle4428Card* card = s.memory_card.get<Sle4428Card>();
          EXPECT_EQ(card->attempts(), 6);
          EXPECT_EQ(card->memory[255], 0xFF);
        }),
};
WIRE_TABLE(MemoryCardsWriteTest, R42MemoryReader, kWriteTest);

// The PIN flows of both SLE kinds, on the card models.
struct PinCard {
  const char* name;
  void (*insert)(State&);
  int16_t (ReaderDevice::*verify)(int32_t, const char*);
  int16_t (ReaderDevice::*count)(int32_t);
  int16_t (ReaderDevice::*change)(int32_t, const char*);
  const char* right;
  const char* wrong;
  const char* other;
  int attempts;
  ReadFn read;
  WriteFn write;
};

void PrintTo(const PinCard& card, std::ostream* os) { *os << card.name; }

class MemoryCardsPin : public ::testing::TestWithParam<PinCard> {
 protected:
  void SetUp() override { reader.edit(GetParam().insert); }
  int16_t verify(const char* pin) { return (device().*GetParam().verify)(kIcdev, pin); }
  int16_t count() { return (device().*GetParam().count)(kIcdev); }
  ReaderDevice& device() { return reader.device; }
  uint8_t byte_at(int16_t address) {
    uint8_t value = 0xEE;
    EXPECT_EQ((device().*GetParam().read)(kIcdev, address, 1, &value), 0);
    return value;
  }
  R42MemoryReader reader;
};

TEST_P(MemoryCardsPin, WrongPscSpendsAnAttemptTheRightOneGivesThemBack) {
  const PinCard& card = GetParam();
  ASSERT_EQ(count(), card.attempts);
  const uint8_t before = byte_at(255);
  EXPECT_EQ(verify(card.wrong), -1);
  EXPECT_EQ(count(), card.attempts - 1);
  EXPECT_EQ(verify(card.wrong), -1);
  EXPECT_EQ(count(), card.attempts - 2);
  EXPECT_EQ(byte_at(255), before);
  EXPECT_EQ(verify(card.right), 0);
  EXPECT_EQ(count(), card.attempts);
  EXPECT_EQ(byte_at(255), before);
}

TEST_P(MemoryCardsPin, LockedCardIgnoresWritesUntilVerified) {
  const PinCard& card = GetParam();
  const uint8_t data[2] = {0x12, 0x34};
  EXPECT_EQ((device().*card.write)(kIcdev, 100, 2, data), 0) << "the card says nothing";
  EXPECT_NE(byte_at(100), 0x12);
  EXPECT_EQ((device().*card.change)(kIcdev, card.other), 0);
  ASSERT_EQ(verify(card.right), 0) << "the PSC is unchanged";
  EXPECT_EQ((device().*card.write)(kIcdev, 100, 2, data), 0);
  EXPECT_EQ(byte_at(100), 0x12);
  EXPECT_EQ((device().*card.change)(kIcdev, card.other), 0);
  EXPECT_EQ(verify(card.right), -1);
  EXPECT_EQ(verify(card.other), 0);
}

TEST_P(MemoryCardsPin, EveryAttemptSpentLocksForGood) {
  const PinCard& card = GetParam();
  for (int i = 0; i < card.attempts; ++i) EXPECT_EQ(verify(card.wrong), -1);
  EXPECT_EQ(count(), 0);
  EXPECT_EQ(verify(card.right), -1);
  EXPECT_EQ(count(), 0);
}

const PinCard kPinCards[] = {
    {"sle4442", insert_4442, &ReaderDevice::verifypin_4442_hex, &ReaderDevice::readpincount_4442,
     &ReaderDevice::changepin_4442_hex, "FFFFFF", "FFFFFE", "123456", 3,
     &ReaderDevice::read_4442, &ReaderDevice::write_4442},
    {"sle4428", insert_4428, &ReaderDevice::verifypin_4428_hex, &ReaderDevice::readpincount_4428,
     &ReaderDevice::changepin_4428_hex, "FFFF", "0000", "1234", 8, &ReaderDevice::read_4428,
     &ReaderDevice::write_4428},
};
INSTANTIATE_TEST_SUITE_P(, MemoryCardsPin, ::testing::ValuesIn(kPinCards),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MemoryCardsProtection, ProtectedBytesKeepTheirValue) {
  R42MemoryReader reader;
  reader.edit(insert_4442);
  ReaderDevice& d = reader.device;
  ASSERT_EQ(d.verifypin_4442_hex(kIcdev, "FFFFFF"), 0);
  // Only the bytes given with their present value become protected.
  ASSERT_EQ(d.writeprotect_4442_hex(kIcdev, 0, 4, "A20010FF"), 0);
  char text[16];
  ASSERT_EQ(d.readprotect_4442_hex(kIcdev, 0, 4, text), 0);
  EXPECT_STREQ(text, "00010001");
  ASSERT_EQ(d.write_4442_hex(kIcdev, 0, 4, "55555555"), 0);
  ASSERT_EQ(d.read_4442_hex(kIcdev, 0, 4, text), 0);
  EXPECT_STREQ(text, "A2551055");

  R42MemoryReader sle4428;
  sle4428.edit(insert_4428);
  ReaderDevice& e = sle4428.device;
  ASSERT_EQ(e.verifypin_4428_hex(kIcdev, "FFFF"), 0);
  ASSERT_EQ(e.writeprotect_4428_hex(kIcdev, 6, 2, "8100"), 0);
  ASSERT_EQ(e.readprotect_4428_hex(kIcdev, 6, 2, text), 0);
  EXPECT_STREQ(text, "0001");
  ASSERT_EQ(e.write_4428_hex(kIcdev, 6, 2, "5555"), 0);
  ASSERT_EQ(e.read_4428_hex(kIcdev, 6, 2, text), 0);
  EXPECT_STREQ(text, "8155");
}

// --- card detection ---

// A device whose processor-card check gives a set answer, so that detection
// can be followed without a processor card in the reader.
class StubCpuDevice : public R42Device {
 public:
  using R42Device::R42Device;
  int16_t Check_CPU(int32_t) override {
    ++cpu_checks;
    return cpu_result;
  }
  int16_t cpu_result = -2;
  int cpu_checks = 0;
};

struct DetectReader : MemoryReader<R42ReaderModel, StubCpuDevice> {
  DetectReader() : MemoryReader("r42-u") {}
};

struct Detection {
  const char* name;
  void (*insert)(State&);
  int16_t kind;       // CheckCard
  int kilobits;       // the Check_24Cxx that gives 0; 0 for none
};

void insert_24c(State& s, int kilobits) {
  EepromCard card = EepromCard::c24(kilobits);
  card.memory = wire_pattern(card.memory.size(), 0x30);
  s.memory_card.insert(std::move(card));
}

const Detection kDetections[] = {
    {"empty", [](State& s) { s.memory_card.remove(); }, -1, 0},
    {"sle4442", insert_4442, 8, 0},
    {"sle4428", insert_4428, 9, 0},
    {"c24c01", [](State& s) { insert_24c(s, 1); }, 21, 1},
    {"c24c02", [](State& s) { insert_24c(s, 2); }, 22, 2},
    {"c24c04", [](State& s) { insert_24c(s, 4); }, 23, 4},
    {"c24c08", [](State& s) { insert_24c(s, 8); }, 24, 8},
    {"c24c16", [](State& s) { insert_24c(s, 16); }, 25, 16},
    {"c24c64", [](State& s) { insert_24c(s, 64); }, 26, 64},
};

void PrintTo(const Detection& detection, std::ostream* os) { *os << detection.name; }

class MemoryCardsDetect : public ::testing::TestWithParam<Detection> {};

TEST_P(MemoryCardsDetect, CheckCardAndTheSizeChecksLeaveTheCardAsItWas) {
  const Detection& detection = GetParam();
  DetectReader reader;
  reader.edit(detection.insert);
  const State before = reader.state();
  EXPECT_EQ(reader.device.CheckCard(kIcdev), detection.kind);
  EXPECT_EQ(reader.device.cpu_checks, detection.kind == 8 || detection.kind == 9 ? 0 : 1);

  using Check = int16_t (ReaderDevice::*)(int32_t);
  const std::pair<int, Check> checks[] = {
      {1, &ReaderDevice::Check_24C01}, {2, &ReaderDevice::Check_24C02},
      {4, &ReaderDevice::Check_24C04}, {8, &ReaderDevice::Check_24C08},
      {16, &ReaderDevice::Check_24C16}, {64, &ReaderDevice::Check_24C64}};
  ReaderDevice& d = reader.device;
  for (const auto& [kilobits, check] : checks)
    EXPECT_EQ((d.*check)(kIcdev), kilobits == detection.kilobits ? 0 : -1) << kilobits;
  EXPECT_EQ(d.Check_4442(kIcdev) == 0, detection.kind == 8);
  EXPECT_EQ(d.Check_4428(kIcdev) == 0, detection.kind == 9);

  const State after = reader.state();
  if (const EepromCard* card = after.memory_card.get<EepromCard>()) {
    EXPECT_EQ(card->memory, before.memory_card.get<EepromCard>()->memory);
  }
}

INSTANTIATE_TEST_SUITE_P(, MemoryCardsDetect, ::testing::ValuesIn(kDetections),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the probe writes: each candidate gets a changed byte and its old one
// back, largest candidate first, until one holds.
TEST(MemoryCardsProbe, A24C02WrapsAt256AndHoldsAt128) {
  DetectReader reader;
  reader.edit([](State& s) { insert_24c(s, 2); });
  EXPECT_EQ(reader.device.CheckCard(kIcdev), 22);
  std::vector<uint32_t> written;
  for (const Bytes& request : reader.model.log()) {
    if (request.size() < 11 || request[0] != 0x12 || (request[1] & 1) == 0) continue;
    written.push_back(uint32_t(request[3]) << 24 | request[4] << 16 | request[5] << 8 |
                      request[6]);
  }
  EXPECT_EQ(written, (std::vector<uint32_t>{2048, 2048, 1024, 1024, 512, 512, 256, 256, 128, 128}));
}

TEST(MemoryCardsProbe, ProcessorCardAnswersBeforeTheProbe) {
  for (int16_t cpu : {0, 1}) {
    DetectReader reader;
    reader.edit([](State& s) { insert_24c(s, 2); });
    reader.device.cpu_result = cpu;
    EXPECT_EQ(reader.device.CheckCard(kIcdev), cpu == 0 ? 30 : 31);
    EXPECT_EQ(reader.model.count(0x1211) + reader.model.count(0x1213), 0u) << "no probe";
  }
}

// A read after the probe's write fails: the byte is still written back, and
// the candidate does not count.
TEST(MemoryCardsProbe, FailingReadStillRestoresTheByte) {
  DetectReader reader;
  reader.edit([](State& s) { insert_24c(s, 64); });
  const Bytes before = reader.state().memory_card.get<EepromCard>()->memory;
  // 2048 on the 24C64: read 0, read 2048, write, then the read-back fails.
  reader.model.failWithStatus(0x1212, 0x6581, 3);
  EXPECT_EQ(reader.device.Check_24C64(kIcdev), -1);
  EXPECT_EQ(reader.state().memory_card.get<EepromCard>()->memory, before);
  EXPECT_EQ(reader.model.count(0x1213), 2u) << "changed and written back";
  EXPECT_EQ(reader.device.Check_24C64(kIcdev), 0) << "the next probe finds it";
}

TEST(MemoryCardsText, Whole24C64ThroughTheTextTwins) {
  R42MemoryReader reader;
  reader.edit([](State& s) { insert_24c(s, 64); });
  ReaderDevice& d = reader.device;
  std::string text(2 * 8192 + 2, '*');
  ASSERT_EQ(d.read_24c64_hex(kIcdev, 0, 8192, text.data()), 0);
  EXPECT_EQ(text[2 * 8192], '\0');
  EXPECT_EQ(text[2 * 8192 + 1], '*');
  EXPECT_EQ(reader.model.count(0x1212), 43u) << "42 chunks of 192 and one of 128";
  std::string reversed(text.rbegin() + 2, text.rend());  // the digits, backwards
  ASSERT_EQ(d.write_24c64_hex(kIcdev, 0, 8192, reversed.c_str()), 0);
  std::string back(2 * 8192 + 1, '*');
  ASSERT_EQ(d.read_24c64_hex(kIcdev, 0, 8192, back.data()), 0);
  EXPECT_EQ(back.substr(0, 2 * 8192), reversed);
}

}  // namespace
