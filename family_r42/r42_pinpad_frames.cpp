#include "family_r42/r42_pinpad_frames.h"

namespace {

constexpr uint8_t kPlainPin = 0xA1;
constexpr uint8_t kCancelByte = 0x08;
constexpr uint8_t kDone = 0xAA;

}  // namespace

PinpadFrame pinpad_plain_pin_frame(uint8_t flag) {
  return PinpadFrame().u8(kPlainPin).u8(pinpad_pin_prompt(flag));
}

int16_t pinpad_done(const PinpadAnswer& answer) {
  return answer.length > 0 && answer.bytes[0] == kDone ? 0 : -1;
}

int16_t pinpad_plain_pin(const PinpadAnswer& answer, char* out) {
  if (answer.length == 1 && answer.bytes[0] == kCancelByte) return kPinEntryCancelled;
  pinpad_answer_text(answer, out);
  return 0;
}
