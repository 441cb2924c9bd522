#include "platform/card_answers.h"

namespace {

// T0 (of an ATS or an ATR) announces TA1, TB1 and TC1 with these bits, and
// an ATR's T0 announces TD1 with 0x80.
constexpr uint8_t kTa1 = 0x10;
constexpr uint8_t kTb1 = 0x20;
constexpr uint8_t kTc1 = 0x40;
constexpr uint8_t kTd1 = 0x80;
constexpr uint8_t kInterfaceBytes[] = {kTa1, kTb1, kTc1};

constexpr size_t kMaxAts = 20;

// Frame waiting times of the classes 0-9, in microseconds.
constexpr uint32_t kClassTimes[] = {1000,   1000,   1500,    6000,    9600,
                                    38500,  154000, 616200, 1237100, 4948500};
constexpr uint8_t kClassPastTable = 10;

}  // namespace

void ats_frame_waiting(const uint8_t* ats, size_t length, FrameWaiting& timing) {
  if (ats == nullptr || length < 2 || length > kMaxAts || ats[0] != length) return;
  const uint8_t t0 = ats[1];
  const bool ta1 = (t0 & kTa1) != 0;
  if (ta1 && length <= 2) return;
  if (!(t0 & kTb1)) {
    timing.fwt_class = kDefaultFwtClass;
    return;
  }
  const size_t tb1 = ta1 ? 3 : 2;
  if (tb1 >= length) return;
  timing.fwi = uint8_t(ats[tb1] >> 4);
  // 4480 x 2^FWI carrier periods at 13.56 MHz.
  const uint64_t fwt_us = (uint64_t(4480) << timing.fwi) * 100 / 1356;
  uint8_t cls = 0;
  while (cls < kClassPastTable && kClassTimes[cls] <= fwt_us) ++cls;
  timing.fwt_class = cls;
}

int atr_first_protocol(const uint8_t* atr, size_t length) {
  if (atr == nullptr || length < 2) return -1;
  const uint8_t t0 = atr[1];
  if (!(t0 & kTd1)) return 0;
  size_t td1 = 2;
  for (uint8_t bit : kInterfaceBytes)
    if (t0 & bit) ++td1;
  if (td1 >= length) return -1;
  return atr[td1] & 0x0F;
}
