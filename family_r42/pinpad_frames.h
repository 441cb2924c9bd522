// Frames for a PIN pad behind the reader and decoders of its answers. The
// pad speaks a line protocol: ESC, a command letter, its data and CR LF
// (plain PIN entry alone is 0xA1 and one byte). Key data travels as nibble
// characters ('0' + nibble, so 0x3A goes as "3:"). Nothing here does I/O:
// the reader relays a frame of up to 255 bytes and hands back the answer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "family_r42/r42_card_io.h"

// The relay's count is one byte; so is the answer's (kNarrowReplyMax).
inline constexpr size_t kPinpadFrameMax = 255;

// The pad's one-byte answers.
inline constexpr uint8_t kPinpadDone = 0xAA;
inline constexpr uint8_t kPinpadBusy = 0xBB;

// A frame under construction; appending past kPinpadFrameMax marks it as
// overflowed, and an overflowed frame is never sent.
class PinpadFrame {
 public:
  PinpadFrame& u8(uint8_t value) { return bytes(&value, 1); }
  PinpadFrame& bytes(const uint8_t* data, size_t count);
  // Each byte as two nibble characters.
  PinpadFrame& digits(const uint8_t* data, size_t count);
  // ESC and the command letter.
  PinpadFrame& escape(uint8_t letter) { return u8(0x1B).u8(letter); }
  // CR LF, which closes every escape command.
  PinpadFrame& end() { return u8(0x0D).u8(0x0A); }

  bool overflowed() const { return overflowed_; }
  size_t size() const { return size_; }
  const uint8_t* data() const { return bytes_; }

 private:
  uint8_t bytes_[kPinpadFrameMax];
  size_t size_ = 0;
  bool overflowed_ = false;
};

// What the pad answered: `length` bytes.
struct PinpadAnswer {
  uint8_t length = 0;
  uint8_t bytes[kNarrowReplyMax];
};

// --- frames ---
PinpadFrame pinpad_version_frame();
PinpadFrame pinpad_voice_frame(uint8_t mode);
PinpadFrame pinpad_init_frame();
PinpadFrame pinpad_main_key_frame(uint8_t keyset, const uint8_t old_key[16],
                                  const uint8_t new_key[16]);
PinpadFrame pinpad_work_key_frame(uint8_t main_set, uint8_t work_set, const uint8_t key[16]);
PinpadFrame pinpad_activate_frame(uint8_t main_set, uint8_t work_set);
PinpadFrame pinpad_key_length_frame(uint8_t length);
// 0xA1 and the flag when its high nibble is 8, else 0x82.
PinpadFrame pinpad_plain_pin_frame(uint8_t flag);
// ESC `letter` y m [data] CR LF: y and m are the flags when their high
// nibble is 3, else '0'.
PinpadFrame pinpad_enciphered_pin_frame(uint8_t letter, uint8_t flag, uint8_t mode,
                                        const uint8_t* data = nullptr, size_t count = 0);
PinpadFrame pinpad_select_des_frame(uint8_t des_mode);
// The line goes as 0x30 + line, cut to a byte.
PinpadFrame pinpad_display_frame(uint8_t line, const char* text, size_t length);
// ESC `letter` [data] CR LF.
PinpadFrame pinpad_data_frame(uint8_t letter, const uint8_t* data, size_t count);
// ESC 0xDA step CR LF: 0 start, 1 get data, 2 exit.
PinpadFrame pinpad_barcode_frame(uint8_t step);

// --- answers ---
// Writes the answer as text: its bytes up to the first NUL, then a NUL.
void pinpad_answer_text(const PinpadAnswer& answer, char* out);
// 0 when the pad answered 0xAA first, else -1.
int16_t pinpad_done(const PinpadAnswer& answer);
// A plain PIN after the relay gave `relay`: -2 becomes 162, other
// failures stay; a lone 0x08 is 161 (cancelled); else the answer as text
// and 0 (an empty answer gives "").
int16_t pinpad_plain_pin(int16_t relay, const PinpadAnswer& answer, char* out);
// An enciphered PIN: -2 becomes 162, other failures stay; a lone 'U' is
// 161; with `extended` a lone 'f' is 163 and a lone 'w' stands for eight
// zero bytes; eight bytes or more: the first eight as 16 hex digits and 0;
// anything else -1.
int16_t pinpad_enciphered_pin(int16_t relay, const PinpadAnswer& answer, bool extended,
                              char* out);
// The first `count` answer bytes as upper-case hex and a NUL; a shorter
// answer: -1.
int16_t pinpad_hex_answer(const PinpadAnswer& answer, size_t count, char* out);
