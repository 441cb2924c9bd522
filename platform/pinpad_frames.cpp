#include "platform/pinpad_frames.h"

#include <cstdint>
#include <cstring>

#include "platform/text_helpers.h"

namespace {

constexpr uint8_t kCancelLetter = 'U';
constexpr uint8_t kFailedLetter = 'f';
constexpr uint8_t kZeroPinLetter = 'w';
constexpr size_t kKeySize = 16;
// ESC 'H' mode ... CR LF leaves 250 bytes of data, whole blocks of 8.
constexpr size_t kDesTextMax = 2 * (kPinpadFrameMax - 5) / 16 * 16;

uint8_t flag_or_zero(uint8_t flag) { return (flag >> 4) == 0x3 ? flag : '0'; }

}  // namespace

int32_t nibbles_to_digits(const uint8_t* data, int32_t n, char* out) {
  if (n < 0) return -1;
  if (n == 0) return 0;
  if (data == nullptr || out == nullptr || n > INT32_MAX / 2) return -1;
  for (int32_t i = 0; i < n; ++i) {
    out[2 * i] = char('0' + (data[i] >> 4));
    out[2 * i + 1] = char('0' + (data[i] & 0x0F));
  }
  return 2 * n;
}

PinpadFrame& PinpadFrame::bytes(const uint8_t* data, size_t count) {
  if (overflowed_ || count > kPinpadFrameMax - size_) {
    overflowed_ = true;
    return *this;
  }
  if (count) std::memcpy(bytes_ + size_, data, count);
  size_ += count;
  return *this;
}

PinpadFrame& PinpadFrame::digits(const uint8_t* data, size_t count) {
  if (overflowed_ || count > (kPinpadFrameMax - size_) / 2) {
    overflowed_ = true;
    return *this;
  }
  nibbles_to_digits(data, int32_t(count), reinterpret_cast<char*>(bytes_ + size_));
  size_ += 2 * count;
  return *this;
}

PinpadFrame pinpad_version_frame() { return PinpadFrame().escape(0xF8).end(); }

PinpadFrame pinpad_voice_frame(uint8_t mode) { return PinpadFrame().escape(0xFD).u8(mode).end(); }

PinpadFrame pinpad_init_frame() { return PinpadFrame().escape('R').end(); }

PinpadFrame pinpad_main_key_frame(uint8_t keyset, const uint8_t old_key[16],
                                  const uint8_t new_key[16]) {
  return PinpadFrame()
      .escape('M')
      .digits(&keyset, 1)
      .digits(old_key, kKeySize)
      .digits(new_key, kKeySize)
      .end();
}

PinpadFrame pinpad_work_key_frame(uint8_t main_set, uint8_t work_set, const uint8_t key[16]) {
  const uint8_t sets[2] = {main_set, work_set};
  return PinpadFrame().escape('S').digits(sets, 2).digits(key, kKeySize).end();
}

PinpadFrame pinpad_activate_frame(uint8_t main_set, uint8_t work_set) {
  const uint8_t sets[2] = {main_set, work_set};
  return PinpadFrame().escape('A').digits(sets, 2).end();
}

PinpadFrame pinpad_key_length_frame(uint8_t length) {
  return PinpadFrame().escape('N').digits(&length, 1).end();
}

uint8_t pinpad_pin_prompt(uint8_t flag) {
  return (flag >> 4) == 0x8 ? flag : kPinpadDefaultPrompt;
}

PinpadFrame pinpad_enciphered_pin_frame(uint8_t letter, uint8_t flag, uint8_t mode,
                                        const uint8_t* data, size_t count) {
  return PinpadFrame()
      .escape(letter)
      .u8(flag_or_zero(flag))
      .u8(flag_or_zero(mode))
      .bytes(data, count)
      .end();
}

PinpadFrame pinpad_select_des_frame(uint8_t des_mode) {
  return PinpadFrame().escape('P').u8('0').u8(des_mode == 2 ? '1' : '0').end();
}

PinpadFrame pinpad_display_frame(uint8_t line, const char* text, size_t length) {
  return PinpadFrame()
      .escape('D')
      .u8(uint8_t(0x30 + line))
      .bytes(reinterpret_cast<const uint8_t*>(text), length)
      .end();
}

PinpadFrame pinpad_data_frame(uint8_t letter, const uint8_t* data, size_t count) {
  return PinpadFrame().escape(letter).bytes(data, count).end();
}

bool pinpad_des_frame(uint8_t mode, const char* hex, PinpadFrame& frame) {
  if (hex == nullptr || mode > kPinpadModeMax) return false;
  const size_t length = strnlen(hex, kDesTextMax + 1);
  if (length > kDesTextMax || length % 16 != 0) return false;
  uint8_t data[kDesTextMax / 2];
  if (hex_twin_input(hex, int64_t(length / 2), data) != 0) return false;
  frame = PinpadFrame().escape('H').u8(uint8_t('0' + mode)).bytes(data, length / 2).end();
  return true;
}

PinpadFrame pinpad_barcode_frame(uint8_t step) {
  return PinpadFrame().escape(0xDA).u8(step).end();
}

void pinpad_answer_text(const PinpadAnswer& answer, char* out) {
  const size_t length = strnlen(reinterpret_cast<const char*>(answer.bytes), answer.length);
  std::memcpy(out, answer.bytes, length);
  out[length] = 0;
}

int16_t pinpad_enciphered_pin(const PinpadAnswer& answer, bool extended, char* out) {
  if (answer.length == 1) {
    const uint8_t letter = answer.bytes[0];
    if (letter == kCancelLetter) return kPinEntryCancelled;
    if (extended && letter == kFailedLetter) return kPinEntryPadFailed;
    if (extended && letter == kZeroPinLetter) {
      const uint8_t zeros[kPinpadBlockSize] = {};
      hex_twin_output(zeros, kPinpadBlockSize, out);
      return 0;
    }
    return -1;
  }
  return pinpad_hex_answer(answer, kPinpadBlockSize, out);
}

int16_t pinpad_hex_answer(const PinpadAnswer& answer, size_t count, char* out) {
  if (answer.length < count) return -1;
  hex_twin_output(answer.bytes, count, out);
  return 0;
}
