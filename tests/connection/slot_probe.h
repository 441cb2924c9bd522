// A probe for the generated slot calls (call_device_slot and
// call_every_device_slot) that expects "not supported" from every slot it
// calls: -1 as a 16-bit or 32-bit result, a null pointer, 0 for the two
// length queries and for the slots a test names, and no effect at all. Each
// pointer argument gets its own 0xA5-filled stretch of one arena (or null);
// the arena is checked after every call.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "connection/generated/device_slot_info.h"

class SlotProbe {
 public:
  SlotProbe(bool null_pointers, int value, std::set<int> answer_zero = {})
      : null_pointers_(null_pointers), value_(value), zero_(std::move(answer_zero)) {
    zero_.insert({448, 453});
  }

  int32_t handle() const { return 80; }

  template <class T>
  T value() const {
    return static_cast<T>(value_);
  }

  template <class T>
  T* pointer() {
    EXPECT_LT(next_, kMaxPointers);
    if (null_pointers_ || next_ >= kMaxPointers) return nullptr;
    return reinterpret_cast<T*>(arena_.data() + kStride * next_++);
  }

  void result(int slot, int16_t got) {
    EXPECT_EQ(kind(slot), DeviceResultKind::kI16) << slot;
    EXPECT_EQ(got, expected(slot)) << slot;
    after_call(slot);
  }
  void result(int slot, int32_t got) {
    const bool is_length = slot == 448 || slot == 453;
    EXPECT_EQ(kind(slot), is_length ? DeviceResultKind::kLength : DeviceResultKind::kI32) << slot;
    EXPECT_EQ(got, expected(slot)) << slot;
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
  static constexpr unsigned char kFill = 0xA5;
  static constexpr std::size_t kStride = 2048;  // per pointer argument
  static constexpr std::size_t kMaxPointers = 20;

  static DeviceResultKind kind(int slot) { return kDeviceSlots[slot].result; }
  int expected(int slot) const { return zero_.count(slot) ? 0 : -1; }

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
  int value_;
  std::set<int> zero_;
  std::vector<unsigned char> arena_ = std::vector<unsigned char>(kStride * kMaxPointers, kFill);
  std::size_t next_ = 0;
  std::size_t most_pointers_ = 0;
  std::vector<int> called_;
};
