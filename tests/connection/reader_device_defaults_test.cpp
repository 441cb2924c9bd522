// A device class that overrides nothing must answer every slot with "not
// supported", do nothing else and never touch a caller's buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "connection/generated/device_slot_calls.h"
#include "connection/generated/device_slot_info.h"
#include "connection/reader_device.h"

namespace {

class BareDevice : public ReaderDevice {};

constexpr unsigned char kFill = 0xA5;
constexpr std::size_t kStride = 2048;  // per pointer argument
constexpr std::size_t kMaxPointers = 20;

// Hands each pointer argument its own 0xA5-filled stretch of one arena (or a
// null pointer) and checks every result and the arena after each call.
class Probe {
 public:
  explicit Probe(bool null_pointers)
      : null_pointers_(null_pointers), arena_(kStride * kMaxPointers, kFill) {}

  int32_t handle() const { return 80; }

  template <class T>
  T value() const {
    return static_cast<T>(0x5A);
  }

  template <class T>
  T* pointer() {
    EXPECT_LT(next_, kMaxPointers);
    if (null_pointers_ || next_ >= kMaxPointers) return nullptr;
    return reinterpret_cast<T*>(arena_.data() + kStride * next_++);
  }

  void result(int slot, int16_t got) {
    EXPECT_EQ(kind(slot), DeviceResultKind::kI16) << slot;
    EXPECT_EQ(got, -1) << slot;
    after_call(slot);
  }
  void result(int slot, int32_t got) {
    const bool is_length = slot == 448 || slot == 453;
    EXPECT_EQ(kind(slot), is_length ? DeviceResultKind::kLength : DeviceResultKind::kI32) << slot;
    EXPECT_EQ(got, is_length ? 0 : -1) << slot;
    after_call(slot);
  }
  void result(int slot, char* got) {
    EXPECT_EQ(kind(slot), DeviceResultKind::kTextPointer) << slot;
    EXPECT_EQ(got, nullptr) << slot;
    after_call(slot);
  }
  void result(int slot, unsigned char* got) {
    EXPECT_EQ(kind(slot), DeviceResultKind::kBytesPointer) << slot;
    EXPECT_EQ(got, nullptr) << slot;
    after_call(slot);
  }
  void no_result(int slot) {
    EXPECT_EQ(kind(slot), DeviceResultKind::kVoid) << slot;
    after_call(slot);
  }

  const std::vector<int>& called() const { return called_; }
  std::size_t most_pointers() const { return most_pointers_; }

 private:
  static DeviceResultKind kind(int slot) { return kDeviceSlots[slot].result; }

  void after_call(int slot) {
    called_.push_back(slot);
    most_pointers_ = std::max(most_pointers_, next_);
    next_ = 0;
    for (std::size_t i = 0; i < arena_.size(); ++i) {
      if (arena_[i] != kFill) {
        ADD_FAILURE() << "slot " << slot << " wrote byte " << i;
        std::memset(arena_.data(), kFill, arena_.size());
        break;
      }
    }
  }

  bool null_pointers_;
  std::vector<unsigned char> arena_;
  std::size_t next_ = 0;
  std::size_t most_pointers_ = 0;
  std::vector<int> called_;
};

std::vector<int> every_operation_slot() {
  std::vector<int> slots;
  for (int i = 1; i < kDeviceSlotCount; ++i)
    if (i != 195) slots.push_back(i);
  return slots;
}

TEST(ReaderDeviceDefaults, EverySlotAnswersNotSupportedAndLeavesBuffersUntouched) {
  BareDevice device;
  Probe probe(false);
  call_every_device_slot(device, probe);
  EXPECT_EQ(probe.called(), every_operation_slot());
  // Real buffers reached the widest row: the record parser takes 15 of them.
  EXPECT_EQ(probe.most_pointers(), 15u);
}

TEST(ReaderDeviceDefaults, NullBuffersAreNeverDereferenced) {
  BareDevice device;
  Probe probe(true);
  call_every_device_slot(device, probe);
  EXPECT_EQ(probe.called(), every_operation_slot());
}

TEST(ReaderDeviceDefaults, DeletedThroughTheInterface) {
  std::unique_ptr<ReaderDevice> device = std::make_unique<BareDevice>();
  device.reset();  // the base destructor has a body although it is pure
  EXPECT_EQ(device, nullptr);
}

}  // namespace
