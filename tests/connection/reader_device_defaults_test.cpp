// A device class that overrides nothing must answer every slot with "not
// supported", do nothing else and never touch a caller's buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "connection/generated/device_slot_calls.h"
#include "connection/generated/device_slot_info.h"
#include "connection/reader_device.h"
#include "connection/slot_probe.h"

namespace {

class BareDevice : public ReaderDevice {};

std::vector<int> every_operation_slot() {
  std::vector<int> slots;
  for (int i = 1; i < kDeviceSlotCount; ++i)
    if (i != 195) slots.push_back(i);
  return slots;
}

TEST(ReaderDeviceDefaults, EverySlotAnswersNotSupportedAndLeavesBuffersUntouched) {
  BareDevice device;
  SlotProbe probe(false, 0x5A);
  call_every_device_slot(device, probe);
  EXPECT_EQ(probe.called(), every_operation_slot());
  // Real buffers reached the widest row: the record parser takes 15 of them.
  EXPECT_EQ(probe.most_pointers(), 15u);
}

TEST(ReaderDeviceDefaults, NullBuffersAreNeverDereferenced) {
  BareDevice device;
  SlotProbe probe(true, 0x5A);
  call_every_device_slot(device, probe);
  EXPECT_EQ(probe.called(), every_operation_slot());
}

TEST(ReaderDeviceDefaults, DeletedThroughTheInterface) {
  std::unique_ptr<ReaderDevice> device = std::make_unique<BareDevice>();
  device.reset();  // the base destructor has a body although it is pure
  EXPECT_EQ(device, nullptr);
}

}  // namespace
