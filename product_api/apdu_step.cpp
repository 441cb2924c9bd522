#include "product_api/apdu_step.h"

#include <cstring>

#include "kx_core.h"
#include "platform/byte_helpers.h"
#include "product_api/product_trace.h"

namespace {

constexpr uint8_t kSelect = 0xA4;
constexpr uint8_t kReadRecord = 0xB2;
constexpr size_t kReadRecordLe = 4;  // Le's place in a READ RECORD
constexpr size_t kApduMax = 32;

// The step's result from the core's answer.
int32_t judge(int16_t core, const uint8_t* apdu, size_t apdu_length, uint8_t reply_length,
              const char* reply_text, ApduStep& step) {
  if (core != 0) return core;
  uint8_t reply[UINT8_MAX];
  if (hex_to_bytes(reply_text, 2 * int(reply_length), reply) != int(reply_length)) return -1;
  if (reply_length < 2) return -1;
  ByteCursor cursor(reply, reply_length);
  uint8_t sw1 = 0, sw2 = 0;
  step.length = reply_length - 2u;
  if (!cursor.take(step.data, step.length) || !cursor.u8(sw1) || !cursor.u8(sw2)) return -1;
  const bool select = apdu[1] == kSelect;
  if (!(sw1 == 0x90 && sw2 == 0x00) && !(select && sw1 == 0x61)) return -2;
  if (apdu[1] == kReadRecord && apdu_length > kReadRecordLe && step.length > apdu[kReadRecordLe])
    return -1;
  return 0;
}

}  // namespace

ApduStep apdu_step(int32_t icdev, CardChannel channel, const ApduStepSpec& spec) {
  uint8_t apdu[kApduMax];
  const size_t digits = strnlen(spec.apdu, 2 * kApduMax + 1);
  const int apdu_length = digits > 2 * kApduMax ? -1 : hex_to_bytes(spec.apdu, int(digits), apdu);
  if (apdu_length < 2) return ApduStep();
  uint8_t reply_length = 0;
  char reply_text[2 * UINT8_MAX + 1] = "";
  const int16_t core =
      channel == CardChannel::kContact
          ? kx_cpuapdusource_hex(icdev, uint8_t(apdu_length), spec.apdu, &reply_length,
                                 reply_text)
          : kx_pro_commandhex(icdev, uint8_t(apdu_length), spec.apdu, &reply_length, reply_text,
                              kCardReadTimeout);
  ApduStep step;
  step.result = judge(core, apdu, size_t(apdu_length), reply_length, reply_text, step);
  if (step.result == 0 && step.length < spec.least) step.result = -1;
  if (step.result != 0) {
    step.length = 0;
    FacadeTrace(spec.failure);
  }
  return step;
}
