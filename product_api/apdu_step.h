// One step of a card-application read: a fixed APDU sent as hexadecimal
// text through the core's contact or contactless exchange, and the rule
// that decides whether it succeeded.
//
// A step succeeds when the core returns 0 and the reply ends in 90 00; a
// SELECT (INS A4) also accepts 61 xx. A READ RECORD (INS B2) whose data
// exceed the APDU's Le, or any step whose data are shorter than it reads,
// fails with -1; any other status word with -2; a failing core call with
// the core's code. A failed step writes its message to the product trace.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_cursor.h"

enum class CardChannel { kContact, kContactless };

struct ApduStepSpec {
  const char* apdu;     // upper-case hexadecimal
  const char* failure;  // product trace message
  size_t least = 0;     // data bytes the step reads at least
};

struct ApduStep {
  int32_t result = -1;  // 0, or the code of the failure
  // The reply without its status word, on success.
  uint8_t data[UINT8_MAX];
  size_t length = 0;

  ByteCursor cursor() const { return ByteCursor(data, length); }
};

ApduStep apdu_step(int32_t icdev, CardChannel channel, const ApduStepSpec& spec);

// A card that does not answer its reset.
inline constexpr char kResetFailed[] =
    "\xB8\xB4\xCE\xBB\xCA\xA7\xB0\xDC\xCE\xDE\xBF\xA8\n";  // 复位失败无卡
// Every APDU of these reads is answered within the time-out byte 7.
inline constexpr uint8_t kCardReadTimeout = 7;
