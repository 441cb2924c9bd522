// Every slot of 267-696 that the m6 family does not build answers "not
// supported" on a real m6 device: no reader command, no output touched and
// the last status as an earlier command left it.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "connection/generated/device_slot_calls.h"
#include "connection/slot_probe.h"
#include "sim/memory_readers.h"

namespace {

// The slots of 267-696 that the family builds.
constexpr std::pair<int, int> kBuilt[] = {
    {268, 313}, {315, 315}, {317, 318}, {320, 320}, {334, 337}, {362, 363}, {403, 423},
    {457, 457}, {482, 483}, {498, 498}, {502, 514}, {528, 529}, {557, 559}, {566, 566},
    {586, 595}, {623, 627}, {636, 636}, {638, 639}, {641, 642}, {651, 651}, {653, 654},
    {686, 687}};

bool built(int slot) {
  for (const auto& [from, to] : kBuilt)
    if (slot >= from && slot <= to) return true;
  return false;
}

TEST(M6UnsupportedSlots, AnswerWithoutACommandAndKeepTheLastStatus) {
  M6MemoryReader reader;
  ReaderDevice& device = reader.device;
  reader.wire.scriptReply({0x04});
  uint8_t block[16];
  ASSERT_EQ(device.read(kIcdev, 4, block), -2);
  const size_t exchanges = reader.wire.calls.size();

  // Integers 0; the contact-card status answers 0 in this family.
  SlotProbe probe(false, 0, {553});
  std::vector<int> unsupported;
  for (int slot = 267; slot <= 696; ++slot) {
    if (built(slot)) continue;
    unsupported.push_back(slot);
    EXPECT_TRUE(call_device_slot(device, slot, probe)) << slot;
  }
  EXPECT_EQ(unsupported.size(), 305u);
  EXPECT_EQ(probe.called(), unsupported);
  EXPECT_EQ(reader.wire.calls.size(), exchanges);
  int32_t code = -1;
  EXPECT_EQ(device.GetLastResponseCode(kIcdev, &code), 0);
  EXPECT_EQ(code, 4);
}

}  // namespace
