// The core's device makers cover every row of the profile table, each row
// with exactly one family, whose device carries the row's name.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "connection/profile_table.h"
#include "core_api/reader_families.h"
#include "family_m6/m6_device.h"
#include "family_r42/r42_device.h"
#include "platform/text_helpers.h"

namespace {

// The name the device reports of itself, "" when it is not of the family
// its prefix promises.
std::string made_name(const char* prefix, ReaderDevice* device) {
  if (std::string(prefix) == "m6-") {
    auto* m6 = dynamic_cast<M6Device*>(device);
    return m6 ? m6->name() : "";
  }
  auto* r42 = dynamic_cast<R42Device*>(device);
  char name[64] = {};
  return r42 && r42->getname(0, name) == 0 ? name : "";
}

TEST(ReaderFamilies, EveryProfileRowHasExactlyOneMakerOfItsFamily) {
  ASSERT_EQ(reader_device_makers().size(), 2u);
  for (const ProfileRecord& row : kProfileTable) {
    SCOPED_TRACE(row.name);
    int matches = 0;
    for (const DeviceMaker& maker : reader_device_makers()) {
      if (!starts_with(row.name, maker.prefix)) continue;
      ++matches;
      std::unique_ptr<ReaderDevice> device = maker.make(row.name, nullptr, nullptr);
      EXPECT_EQ(made_name(maker.prefix, device.get()), row.name);
    }
    EXPECT_EQ(matches, 1);
  }
}

}  // namespace
