// m6 contact memory cards against the memory-card models behind the m6
// front: chunking, page splits and bounds as rows, the PSC and detection
// flows where card state spans exchanges.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/m6_memory_front.h"
#include "sim/memory_cards.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;
using State = M6ReaderModel::State;
using Bytes = std::vector<uint8_t>;

const Bytes kData = wire_pattern(400, 5);

template <typename Card>
std::function<void(State&)> slot_with(Card card) {
  return [card](State& s) {
    auto front = std::make_shared<M6MemoryFront>();
    front->slot.insert(card);
    s.attachments.push_back(front);
  };
}
template <typename Card>
Card& card_in(const State& s) {
  return *attached<M6MemoryFront>(s)->slot.get<Card>();
}
EepromCard c24_with_data(int kilobits) {
  EepromCard card = EepromCard::c24(kilobits);
  for (size_t i = 0; i < card.memory.size(); ++i) card.memory[i] = kData[i % kData.size()];
  return card;
}

const Row kRows[] = {
    Row("read_24c64_of_400_bytes_in_three_chunks",
        [](Call& c) { return c.d.read_24c64(kIcdev, 0, 400, c.bytes()); })
        .given(slot_with(c24_with_data(64)))
        .sends("B8 00 00 C0").sends("B8 C0 00 C0").sends("B8 80 01 10")
        .gives(0).out(kData),
    Row("write_24c_inside_a_page_goes_to_its_end_first",
        [](Call& c) { return c.d.write_24c(kIcdev, 5, 10, kData.data()); })
        .sends({"B5 05 00 03", wire_slice(kData, 0, 3)}).answer("00")
        .sends({"B5 08 00 07", wire_slice(kData, 3, 7)}).answer("00")
        .gives(0),
    Row("read_4442_to_the_last_byte",
        [](Call& c) { return c.d.read_4442(kIcdev, 200, 56, c.bytes()); })
        .sends("B0 C8 00 38").answer({"00", wire_slice(kData, 0, 56)})
        .gives(0).out(wire_slice(kData, 0, 56)),
    Row("read_4442_one_past_the_end",
        [](Call& c) { return c.d.read_4442(kIcdev, 200, 57, c.bytes()); })
        .gives(-1),
    Row("read_24c_reaches_2048_only",
        [](Call& c) { return c.d.read_24c(kIcdev, 2047, 2, c.bytes()); })
        .gives(-1),
    Row("write_24c_reaches_8192",
        [](Call& c) { return c.d.write_24c(kIcdev, 8191, 1, kData.data()); })
        .sends({"B5 FF 1F 01", wire_slice(kData, 0, 1)}).answer("00")
        .gives(0),
    // The end is summed wide: 32767 + 32767 does not wrap to a small number.
    Row("read_4428_end_past_16_bits",
        [](Call& c) { return c.d.read_4428(kIcdev, 32767, 32767, c.bytes()); })
        .gives(-1),
    Row("readpin_4428_psc_after_the_counter",
        [](Call& c) { return c.d.readpin_4428_hex(kIcdev, c.text()); })
        .sends("BC").answer("00 FF 12 34")
        .gives(0).text("1234"),
    // The test byte is changed, read back and put back as it was.
    Row("verifypin_4442_write_test",
        [](Call& c) { return c.d.verifypin_4442_hex(kIcdev, "FFFFFF"); })
        .given(slot_with(Sle4442Card()))
        .sends("B2 FF FF FF")
        .sends("B0 FF 00 01").sends("B1 FF 00 01 00").sends("B0 FF 00 01").sends("B1 FF 00 01 FF")
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(card_in<Sle4442Card>(s).memory[255], 0xFF); }),
    // A processor card answers as the contact card: T=1 by its ATR.
    Row("check_card_t1_processor_card", [](Call& c) { return c.d.CheckCard(kIcdev); })
        .sends("B0 00 00 20").answer("01").sends("B9 00 00 20").answer("01")
        .sends("B6 00 00 01").answer("00 3B").sends("7E").answer("00 04 3B 80 81 31")
        .gives(31),
};
WIRE_TABLE(M6Memory, M6MemoryReader, kRows);

std::vector<Row> null_rows() {
  return Row::null_rows({
      {"read_4442", [](Call& c) { return c.d.read_4442(kIcdev, 0, 1, nullptr); }},
      {"write_24c", [](Call& c) { return c.d.write_24c(kIcdev, 5, 4, nullptr); }},
      {"verifypin_4442", [](Call& c) { return c.d.verifypin_4442(kIcdev, nullptr); }},
  });
}
WIRE_TABLE(M6MemoryNull, M6MemoryReader, null_rows());

// A wrong PSC costs one attempt; the third locks the card, whose right PSC
// then no longer passes.
TEST(M6MemoryPsc, ThreeWrongCodesLockTheCard) {
  M6MemoryReader reader;
  reader.edit(slot_with(Sle4442Card({0x11, 0x22, 0x33})));
  ReaderDevice& d = reader.device;
  const uint8_t wrong[3] = {1, 2, 3}, right[3] = {0x11, 0x22, 0x33};
  for (int16_t left : {2, 1, 0}) {
    EXPECT_EQ(d.verifypin_4442(kIcdev, wrong), -1);
    EXPECT_EQ(d.readpincount_4442(kIcdev), left);
  }
  EXPECT_EQ(d.verifypin_4442(kIcdev, right), -1);
  EXPECT_EQ(card_in<Sle4442Card>(reader.state()).memory[255], 0xFF);
}

// CheckCard names each card in the slot and leaves its memory as it was.
TEST(M6MemoryCheckCard, EachCardKindAndItsContentsKept) {
  std::vector<std::pair<std::function<void(State&)>, int16_t>> cases = {
      {slot_with(Sle4442Card()), 8}, {slot_with(Sle4428Card()), 9}, {[](State&) {}, -1}};
  int16_t c24 = 21;  // 24C01 to 24C64
  for (const int kilobits : {1, 2, 4, 8, 16, 64})
    cases.emplace_back(slot_with(c24_with_data(kilobits)), c24++);
  for (const auto& [insert, kind] : cases) {
    M6MemoryReader reader;
    reader.edit(insert);
    auto eeprom = [&] {
      auto front = attached<M6MemoryFront>(reader.state());
      const EepromCard* card = front ? front->slot.get<EepromCard>() : nullptr;
      return card ? card->memory : Bytes{};
    };
    const Bytes before = eeprom();
    EXPECT_EQ(static_cast<ReaderDevice&>(reader.device).CheckCard(kIcdev), kind);
    EXPECT_EQ(eeprom(), before) << "kind " << kind;
  }
}

}  // namespace
