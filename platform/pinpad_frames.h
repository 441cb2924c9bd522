// Frames for a PIN pad behind the reader and decoders of its answers. The
// pad speaks a line protocol: ESC, a command letter, its data and CR LF
// (plain PIN entry alone is one prompt byte, which an r42 reader's pad
// takes after 0xA1: family_r42/r42_pinpad_frames.h). Key data travels as nibble
// characters ('0' + nibble, so 0x3A goes as "3:"). Nothing here does I/O:
// the reader relays a frame of up to 255 bytes and hands back the answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The relay's counts are one byte each way: frames and answers alike.
inline constexpr size_t kPinpadFrameMax = 255;

// Results of PIN entry besides 0, -1 and -2: the pad's 'U' (cancelled)
// and 'f' (its entry failed).
inline constexpr int16_t kPinEntryCancelled = 161;
inline constexpr int16_t kPinEntryPadFailed = 163;

// The pad's one-byte answer while it is busy.
inline constexpr uint8_t kPinpadBusy = 0xBB;

// The pad needs a moment between commands; the 2D scanner a longer one.
inline constexpr uint32_t kPinpadPauseMs = 50;
inline constexpr uint32_t kPinpadBarcodePauseMs = 200;

// The prompt of plain PIN entry when the caller gives none of its own.
inline constexpr uint8_t kPinpadDefaultPrompt = 0x82;
// Modes and lines go as '0' + value, in one byte.
inline constexpr uint8_t kPinpadModeMax = 0xFF - '0';
inline constexpr size_t kPinpadDisplayColumns = 15;
inline constexpr size_t kPinpadCardNumberSize = 12;
// An enciphered PIN and a DES result are one block; a MAC is half of one.
inline constexpr size_t kPinpadBlockSize = 8;
inline constexpr size_t kPinpadMacSize = 4;

// The 2D scanner: the steps of its command, the pieces it answers in and
// the most a code may take; exit is asked at most this many times while
// the scanner is busy.
inline constexpr uint8_t kPinpadBarcodeStart = 0x00;
inline constexpr uint8_t kPinpadBarcodeData = 0x01;
inline constexpr uint8_t kPinpadBarcodeExit = 0x02;
inline constexpr size_t kPinpadBarcodePiece = 127;
inline constexpr size_t kPinpadBarcodeMax = 4096;
inline constexpr int kPinpadBarcodeExitTries = 10;

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
  uint8_t bytes[kPinpadFrameMax];
};

// '0' + high nibble, '0' + low nibble for each byte (10-15 give ':' to '?'),
// no terminator. Returns 2n; -1 for a negative n or null pointers with n > 0.
int32_t nibbles_to_digits(const uint8_t* data, int32_t n, char* out);

// --- frames ---
PinpadFrame pinpad_version_frame();
PinpadFrame pinpad_voice_frame(uint8_t mode);
PinpadFrame pinpad_init_frame();
PinpadFrame pinpad_main_key_frame(uint8_t keyset, const uint8_t old_key[16],
                                  const uint8_t new_key[16]);
PinpadFrame pinpad_work_key_frame(uint8_t main_set, uint8_t work_set, const uint8_t key[16]);
PinpadFrame pinpad_activate_frame(uint8_t main_set, uint8_t work_set);
PinpadFrame pinpad_key_length_frame(uint8_t length);
// The prompt of plain PIN entry: the flag when its high nibble is 8, else
// kPinpadDefaultPrompt.
uint8_t pinpad_pin_prompt(uint8_t flag);
// ESC `letter` y m [data] CR LF: y and m are the flags when their high
// nibble is 3, else '0'.
PinpadFrame pinpad_enciphered_pin_frame(uint8_t letter, uint8_t flag, uint8_t mode,
                                        const uint8_t* data = nullptr, size_t count = 0);
PinpadFrame pinpad_select_des_frame(uint8_t des_mode);
// The line goes as 0x30 + line, cut to a byte.
PinpadFrame pinpad_display_frame(uint8_t line, const char* text, size_t length);
// ESC `letter` [data] CR LF.
PinpadFrame pinpad_data_frame(uint8_t letter, const uint8_t* data, size_t count);
// ESC 'H' ('0' + mode) [the bytes of `hex`] CR LF: false, with `frame`
// left as it was, for a null text, one that is not whole blocks of 16 hex
// digits or longer than a frame holds, or a mode above kPinpadModeMax.
bool pinpad_des_frame(uint8_t mode, const char* hex, PinpadFrame& frame);
// ESC 0xDA step CR LF: 0 start, 1 get data, 2 exit.
PinpadFrame pinpad_barcode_frame(uint8_t step);

// --- answers ---
// Writes the answer as text: its bytes up to the first NUL, then a NUL.
void pinpad_answer_text(const PinpadAnswer& answer, char* out);
// The decoders of PIN entry read the answer of a relay that succeeded; a
// failed relay is the family's to report.
// An enciphered PIN: a lone 'U' is 161; with `extended` a lone 'f' is 163
// and a lone 'w' stands for eight zero bytes; eight bytes or more: the
// first eight as 16 hex digits and 0; anything else -1.
int16_t pinpad_enciphered_pin(const PinpadAnswer& answer, bool extended, char* out);
// The first `count` answer bytes as upper-case hex and a NUL; a shorter
// answer: -1.
int16_t pinpad_hex_answer(const PinpadAnswer& answer, size_t count, char* out);

// Collects a 2D code: `fetch`(answer) asks the scanner once and gives the
// relay's result; a failure is returned at once. The scanner goes on while
// it answers whole pieces of kPinpadBarcodePiece bytes. 0 with the code in
// `rdata` and its length in *rlen; -1 for null outputs (before any fetch),
// a code longer than kPinpadBarcodeMax or none at all, with nothing
// written.
template <typename Fetch>
int16_t pinpad_collect_barcode(Fetch fetch, int32_t* rlen, uint8_t* rdata) {
  if (rlen == nullptr || rdata == nullptr) return -1;
  uint8_t code[kPinpadBarcodeMax];
  size_t total = 0;
  for (;;) {
    PinpadAnswer answer;
    const int16_t result = fetch(answer);
    if (result != 0) return result;
    if (answer.length > kPinpadBarcodeMax - total) return -1;
    std::memcpy(code + total, answer.bytes, answer.length);
    total += answer.length;
    if (answer.length != kPinpadBarcodePiece) break;
  }
  if (total == 0) return -1;
  std::memcpy(rdata, code, total);
  *rlen = int32_t(total);
  return 0;
}
