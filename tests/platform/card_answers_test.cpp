// The frame waiting time read from a type A card's ATS and the first
// protocol read from a contact card's ATR.
#include "platform/card_answers.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

FrameWaiting after(const char* ats, FrameWaiting before = {3, 4}) {
  const Bytes bytes = from_hex(ats);
  ats_frame_waiting(bytes.data(), bytes.size(), before);
  return before;
}

TEST(CardAnswers, AtsFrameWaiting) {
  // TA1, TB1 (FWI 7) and TC1: 42289 microseconds, class 6.
  EXPECT_EQ(after("0578807002").fwt_class, 6);
  EXPECT_EQ(after("0578807002").fwi, 7);
  // No TB1: the default class, FWI kept.
  EXPECT_EQ(after("0200").fwt_class, kDefaultFwtClass);
  EXPECT_EQ(after("0200").fwi, 4);
  // Every FWI: 0-1 -> 0, 2 -> 2, 3-4 -> 3, 5-6 -> 5, 7-8 -> 6, 9-10 -> 7,
  // 11 -> 8, 12-13 -> 9, 14-15 -> 10.
  const int classes[16] = {0, 0, 2, 3, 3, 5, 5, 6, 6, 7, 7, 8, 9, 9, 10, 10};
  for (int fwi = 0; fwi < 16; ++fwi) {
    const uint8_t ats[3] = {3, 0x20, uint8_t(fwi << 4)};
    FrameWaiting timing = {1, 1};
    ats_frame_waiting(ats, sizeof ats, timing);
    EXPECT_EQ(timing.fwt_class, classes[fwi]) << fwi;
    EXPECT_EQ(timing.fwi, fwi);
  }
  // Left as they were: TL not the length, one byte, TA1 and nothing after
  // it, TB1 announced past the end, over 20 bytes.
  for (const char* ats : {"0678807002", "01", "0210", "033011", "00", ""}) {
    EXPECT_EQ(after(ats).fwt_class, 3) << ats;
    EXPECT_EQ(after(ats).fwi, 4) << ats;
  }
  Bytes long_ats(21, 0);
  long_ats[0] = 21;
  FrameWaiting timing = {3, 4};
  ats_frame_waiting(long_ats.data(), long_ats.size(), timing);
  EXPECT_EQ(timing.fwt_class, 3);
}

TEST(CardAnswers, AtrFirstProtocol) {
  const struct {
    const char* atr;
    int protocol;
  } cases[] = {
      {"3BE900008131", 1}, {"3B808101", 1},   {"3B021450", 0}, {"3B9F958031FE", 0},
      {"3B80", -1},        {"3BF0112233", -1}, {"3B", -1},     {"", -1},
  };
  for (const auto& c : cases) {
    const Bytes atr = from_hex(c.atr);
    EXPECT_EQ(atr_first_protocol(atr.data(), atr.size()), c.protocol) << c.atr;
  }
}

}  // namespace
