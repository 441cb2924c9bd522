#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "family_r42/r42_rig.h"

namespace {

using State = R42ReaderModel::State;

std::string info_text(const State& s, size_t at, size_t width) {
  return std::string(s.info.begin() + at, s.info.begin() + at + width);
}

TEST(R42DeviceInfo, TextFieldsAreSpacePaddedAndTrimmed) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  char out[33];
  EXPECT_EQ(d->GetDeviceUid(kIcdev, out), 0);
  EXPECT_STREQ(out, "SIM-UID-0001");
  EXPECT_EQ(d->GetDeviceTradeNumber(kIcdev, out), 0);
  EXPECT_STREQ(out, "TRADE-7");
  EXPECT_EQ(d->GetDeviceTerminalNumber(kIcdev, out), 0);
  EXPECT_STREQ(out, "TERM-42");

  const std::string full(32, 'U');
  EXPECT_EQ(d->SetDeviceUid(kIcdev, full.c_str()), 0);
  EXPECT_EQ(rig.last().request.size(), 11u + 32u);
  EXPECT_EQ(info_text(rig.model.snapshot(), 0, 32), full);
  EXPECT_EQ(d->GetDeviceUid(kIcdev, out), 0);
  EXPECT_EQ(std::string(out), full);

  rig.recorder->calls.clear();
  EXPECT_EQ(d->SetDeviceUid(kIcdev, std::string(33, 'U').c_str()), -1);
  EXPECT_EQ(d->SetDeviceTradeNumber(kIcdev, std::string(40, 'T').c_str()), -1);
  EXPECT_EQ(d->WriteDeviceTypeName(kIcdev, std::string(33, 'N').c_str()), -1);
  EXPECT_EQ(rig.sent(), 0u);

  EXPECT_EQ(d->SetDeviceUid(kIcdev, ""), 0);
  EXPECT_EQ(info_text(rig.model.snapshot(), 0, 32), std::string(32, ' '));
  std::memset(out, 'x', sizeof(out));
  EXPECT_EQ(d->GetDeviceUid(kIcdev, out), 0);
  EXPECT_STREQ(out, "");

  EXPECT_EQ(d->SetDeviceTradeNumber(kIcdev, "  ab c"), 0);
  EXPECT_EQ(d->SetDeviceTerminalNumber(kIcdev, "T9"), 0);
  State s = rig.model.snapshot();
  EXPECT_EQ(info_text(s, 32, 32), "  ab c" + std::string(26, ' '));
  EXPECT_EQ(info_text(s, 64, 32), "T9" + std::string(30, ' '));
  EXPECT_EQ(d->GetDeviceTradeNumber(kIcdev, out), 0);
  EXPECT_STREQ(out, "ab c");
  EXPECT_EQ(d->GetDeviceTerminalNumber(kIcdev, out), 0);
  EXPECT_STREQ(out, "T9");

  // A failed read leaves the output as it was.
  rig.model.failWithStatus(0x0502, 0x6A82);
  std::strcpy(out, "kept");
  EXPECT_EQ(d->GetDeviceUid(kIcdev, out), -2);
  EXPECT_STREQ(out, "kept");
}

TEST(R42DeviceInfo, CustomInfoAndTypeName) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  uint8_t info[8];
  EXPECT_EQ(d->ReadDeviceCustomInfo(kIcdev, info), 0);
  EXPECT_EQ(Bytes(info, info + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  const uint8_t fresh[8] = {0xA0, 0, 0xFF, 0x20, 1, 2, 3, 4};
  EXPECT_EQ(d->WriteDeviceCustomInfo(kIcdev, fresh), 0);
  EXPECT_EQ(rig.last().request,
            (Bytes{0x05, 0x03, 0x00, 0, 0, 0, 96, 0, 0, 0, 8, 0xA0, 0, 0xFF, 0x20, 1, 2, 3, 4}));
  EXPECT_EQ(d->ReadDeviceCustomInfo(kIcdev, info), 0);
  EXPECT_EQ(Bytes(info, info + 8), Bytes(fresh, fresh + 8));

  char name[33];
  EXPECT_EQ(d->ReadDeviceTypeName(kIcdev, name), 0);
  EXPECT_STREQ(name, "R42 SIMULATOR");

  // Without the marker there is no name, and no second read.
  rig.model.with([](State& s) { s.info[104] = 0xFF; });
  rig.recorder->calls.clear();
  std::strcpy(name, "stale");
  EXPECT_EQ(d->ReadDeviceTypeName(kIcdev, name), 0);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(rig.sent(), 1u);

  // Writing puts the marker first, then the padded name.
  rig.recorder->calls.clear();
  EXPECT_EQ(d->WriteDeviceTypeName(kIcdev, "Desk R42"), 0);
  ASSERT_EQ(rig.sent(), 2u);
  EXPECT_EQ(rig.requests()[0],
            (Bytes{0x05, 0x03, 0x00, 0, 0, 0, 104, 0, 0, 0, 2, 0xAA, 0x55}));
  State s = rig.model.snapshot();
  EXPECT_EQ(info_text(s, 106, 32), "Desk R42" + std::string(24, ' '));
  EXPECT_EQ(d->ReadDeviceTypeName(kIcdev, name), 0);
  EXPECT_STREQ(name, "Desk R42");

  // A failing marker write stops before the name.
  rig.recorder->calls.clear();
  rig.model.failWithStatus(0x0503, 0x6581);
  EXPECT_EQ(d->WriteDeviceTypeName(kIcdev, "Other"), -2);
  EXPECT_EQ(rig.sent(), 1u);
  EXPECT_EQ(info_text(rig.model.snapshot(), 106, 8), "Desk R42");

  // A failing marker read gives its result with the name emptied.
  rig.model.failWithStatus(0x0502, 0x6A82);
  std::strcpy(name, "stale");
  EXPECT_EQ(d->ReadDeviceTypeName(kIcdev, name), -2);
  EXPECT_STREQ(name, "");
}

TEST(R42DeviceInfo, CustomSerialsChipIdAndQueries) {
  R42Rig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  EXPECT_EQ(d->WriteDeviceCustomSerialNumber(kIcdev, 3, "SN-0003"), 0);
  EXPECT_EQ(rig.last().request, (Bytes{0x05, 0x1B, 0x00, 0x03, 'S', 'N', '-', '0', '0', '0', '3'}));
  char text[64];
  EXPECT_EQ(d->ReadDeviceCustomSerialNumber(kIcdev, 3, text), 0);
  EXPECT_EQ(rig.last().request, (Bytes{0x05, 0x1A, 0x00, 0x03}));
  EXPECT_STREQ(text, "SN-0003");
  EXPECT_EQ(d->ReadDeviceCustomSerialNumber(kIcdev, 4, text), -2);  // never written

  EXPECT_EQ(d->GetChipIdNumber(kIcdev, text), 0);
  EXPECT_STREQ(text, "123456789ABCDEF0");
  EXPECT_EQ(d->DeviceCommand0F01(kIcdev), 0);
  EXPECT_EQ(rig.last().request, (Bytes{0x0F, 0x01, 0x00}));
  EXPECT_EQ(rig.model.snapshot().commands_0f01, 1);
  uint8_t data[64];
  EXPECT_EQ(d->DeviceQuery0F13(kIcdev, data), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(data), "Q13");

  // Status only, no data: an empty text.
  rig.model.scriptReply(0x0F40, R42ReaderModel::reply(0, 0));
  EXPECT_EQ(d->GetChipIdNumber(kIcdev, text), 0);
  EXPECT_STREQ(text, "");

  // Replies under 3 bytes carry no data at all.
  std::strcpy(text, "kept");
  for (uint16_t code : {0x051A, 0x0F40, 0x0F13}) rig.model.scriptReply(code, {0x00, 0x00});
  EXPECT_EQ(d->ReadDeviceCustomSerialNumber(kIcdev, 3, text), -1);
  EXPECT_EQ(d->GetChipIdNumber(kIcdev, text), -1);
  EXPECT_EQ(d->DeviceQuery0F13(kIcdev, data), -1);
  EXPECT_STREQ(text, "kept");
  rig.model.scriptReply(0x0F01, {0x00, 0x00});
  EXPECT_EQ(d->DeviceCommand0F01(kIcdev), 0);

  // The largest reply fills the documented bounds exactly.
  rig.model.scriptReply(0x0F40, R42ReaderModel::reply(0, 0, Bytes(2045, 0xAB)));
  std::unique_ptr<char[]> chip(new char[4091]);
  EXPECT_EQ(d->GetChipIdNumber(kIcdev, chip.get()), 0);
  EXPECT_EQ(std::strlen(chip.get()), 4090u);
  rig.model.scriptReply(0x0F13, R42ReaderModel::reply(0, 0, Bytes(2045, 'q')));
  std::unique_ptr<uint8_t[]> query(new uint8_t[2046]);
  EXPECT_EQ(d->DeviceQuery0F13(kIcdev, query.get()), 0);
  EXPECT_EQ(query[2045], 0);

  int32_t code = 0;
  rig.model.failWithStatus(0x0F01, 0x0701);
  EXPECT_EQ(d->DeviceCommand0F01(kIcdev), -2);
  EXPECT_EQ(d->GetLastResponseCode(kIcdev, &code), 0);
  EXPECT_EQ(code, 0x0701);
}

}  // namespace
