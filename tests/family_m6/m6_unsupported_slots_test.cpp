// Every slot of 267-696 that the m6 family does not build answers "not
// supported" on a real m6 device: no reader command, no output touched and
// the last status as an earlier command left it.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "connection/generated/device_slot_calls.h"
#include "connection/generated/device_slot_info.h"
#include "sim/memory_readers.h"

namespace {

// The slots of 267-696 that the family builds, as ranges.
constexpr std::pair<int, int> kBuilt[] = {
    {268, 313}, {315, 315}, {317, 318}, {320, 320}, {334, 337}, {362, 363}, {403, 423},
    {457, 457}, {482, 483}, {498, 498}, {502, 514}, {528, 529}, {557, 559}, {566, 566},
    {586, 595}, {623, 627}, {636, 636}, {638, 639}, {641, 642}, {651, 651}, {653, 654},
    {686, 687}};
constexpr int kFirst = 267;
constexpr int kLast = 696;
// Slots whose "not supported" is 0: the contact-card status and the
// identity-card queries that give a pointer or a length.
constexpr int kAnswerZero[] = {553, 430, 432, 434, 436, 438, 440, 442, 444, 446, 448, 451, 453};

bool built(int slot) {
  for (const auto& [from, to] : kBuilt)
    if (slot >= from && slot <= to) return true;
  return false;
}

bool answers_zero(int slot) {
  for (int zero : kAnswerZero)
    if (zero == slot) return true;
  return false;
}

constexpr unsigned char kFill = 0xA5;
constexpr size_t kStride = 2048;
constexpr size_t kPointers = 20;

// Integers 0, each pointer its own 0xA5 stretch of one arena; checks the
// result of every call and that the arena stays as it was.
class Probe {
 public:
  int32_t handle() const { return kIcdev; }
  template <class T>
  T value() const {
    return T(0);
  }
  template <class T>
  T* pointer() {
    return reinterpret_cast<T*>(arena_.data() + kStride * (next_++ % kPointers));
  }

  void result(int slot, int16_t got) { check(slot, got, answers_zero(slot) ? 0 : -1); }
  void result(int slot, int32_t got) { check(slot, got, answers_zero(slot) ? 0 : -1); }
  void result(int slot, char* got) { check(slot, got == nullptr ? 0 : 1, 0); }
  void result(int slot, unsigned char* got) { check(slot, got == nullptr ? 0 : 1, 0); }
  void no_result(int slot) { check(slot, 0, 0); }

  std::vector<int> called;

 private:
  void check(int slot, int64_t got, int64_t expected) {
    EXPECT_EQ(got, expected) << "slot " << slot;
    called.push_back(slot);
    next_ = 0;
    for (size_t i = 0; i < arena_.size(); ++i) {
      if (arena_[i] != kFill) {
        ADD_FAILURE() << "slot " << slot << " wrote byte " << i;
        std::memset(arena_.data(), kFill, arena_.size());
        break;
      }
    }
  }

  std::vector<unsigned char> arena_ = std::vector<unsigned char>(kStride * kPointers, kFill);
  size_t next_ = 0;
};

TEST(M6UnsupportedSlots, AnswerWithoutACommandAndKeepTheLastStatus) {
  int count = 0;
  for (const auto& [from, to] : kBuilt) count += to - from + 1;
  ASSERT_EQ(count, 125);

  M6MemoryReader reader;
  ReaderDevice& device = reader.device;
  reader.wire.scriptReply({0x04});
  uint8_t block[16];
  ASSERT_EQ(device.read(kIcdev, 4, block), -2);
  const size_t exchanges = reader.wire.calls.size();

  Probe probe;
  std::vector<int> expected;
  for (int slot = kFirst; slot <= kLast; ++slot) {
    if (built(slot)) continue;
    expected.push_back(slot);
    EXPECT_TRUE(call_device_slot(device, slot, probe)) << slot;
    EXPECT_EQ(kDeviceSlots[slot].result == DeviceResultKind::kI32, slot == 428 || slot == 429)
        << slot;
  }
  EXPECT_EQ(expected.size(), 305u);
  EXPECT_EQ(probe.called, expected);
  EXPECT_EQ(reader.wire.calls.size(), exchanges);
  int32_t code = -1;
  EXPECT_EQ(device.GetLastResponseCode(kIcdev, &code), 0);
  EXPECT_EQ(code, 4);
}

}  // namespace
