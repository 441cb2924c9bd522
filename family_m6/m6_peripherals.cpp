// The reader's own facilities: field reset, buzzer, digit display and its
// settings, backlight, clock, user EEPROM, RF register, information texts
// and the microcontroller pass-through.
#include <algorithm>
#include <cstring>

#include "connection/card_io.h"
#include "family_m6/m6_device.h"
#include "platform/chunk_walk.h"
#include "platform/deadline.h"
#include "platform/os.h"
#include "platform/text_helpers.h"

namespace {

constexpr uint8_t kFieldReset = 0x4E;
constexpr uint8_t kBeep = 0x57;
constexpr uint8_t kDisplay = 0x7F;
constexpr uint8_t kDisplayNegative = 0x8F;
constexpr uint8_t kLight = 0x58;
constexpr uint8_t kSetTime = 0x39;
constexpr uint8_t kGetTime = 0x3A;
constexpr uint8_t kGetVersion = 0x80;
constexpr uint8_t kReaderInfo = 0xFD;
constexpr uint8_t kRfRegister = 0xF9;
constexpr uint8_t kCommandMcu = 0xFA;

// Display settings kept in the reader's EEPROM, one byte each.
constexpr int16_t kDisplayModeAt = 0x0188;
constexpr int16_t kBrightnessAt = 0x0189;
constexpr int16_t kControlModeAt = 0x018A;

constexpr size_t kClockSize = 7;
constexpr size_t kLongVersionSize = 16;
// The information reply: 5 bytes, 3 skipped, 4 more.
constexpr size_t kInfoHead = 5;
constexpr size_t kInfoSkipped = 3;
constexpr size_t kInfoTail = 4;
constexpr size_t kInfoSize = kInfoHead + kInfoTail;

// The user area of the EEPROM starts at this address.
constexpr int32_t kUserAreaAt = 400;

constexpr size_t kDisplayTextMax = 16;
// The display has 9 places; the command carries 9 - n in a byte.
constexpr int kDisplayPlaces = 9;
constexpr uint8_t kDisplayPoint = 0x80;

// The pass-through: the reply waits (ctimeout + 5) x 1120 ms in all, each
// attempt to receive it at most 1000 ms.
constexpr int32_t kMcuBudgetUnitMs = 1120;
constexpr int32_t kMcuAttemptMs = 1000;

// The time-out of a command that keeps the reader busy for `msec`.
int32_t busy_timeout(uint16_t msec) { return (int32_t(msec) + 500) * 10; }

// The display codes of a text: '0'-'9' are 0-9, 'A'-'F' 10-15, a '.'
// marks the digit before it. -1 for a text the display cannot show.
int display_codes(const char* text, uint8_t codes[kDisplayPlaces]) {
  const size_t length = strnlen(text, kDisplayTextMax + 1);
  if (length > kDisplayTextMax) return -1;
  int n = 0;
  bool point_allowed = false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '.') {
      // A point needs a digit of its own: a leading or a second point
      // would have nowhere to go.
      if (!point_allowed) return -1;
      codes[n - 1] |= kDisplayPoint;
      point_allowed = false;
      continue;
    }
    uint8_t code = 0;
    if (c >= '0' && c <= '9')
      code = uint8_t(c - '0');
    else if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))
      code = uint8_t((c | 0x20) - 'a' + 10);
    else
      return -1;
    if (n == kDisplayPlaces) return -1;
    codes[n++] = code;
    point_allowed = true;
  }
  return n;
}

// Whether a user-area transfer stays within the EEPROM.
bool user_range_ok(int16_t offset, int16_t length) {
  return signed_range_ok(int64_t(offset) + kUserAreaAt, length, 8192);
}

}  // namespace

int16_t M6Device::reset(int32_t, uint16_t msec) {
  return status_command(kFieldReset, {uint8_t(msec), uint8_t(msec >> 8)}, busy_timeout(msec));
}

int16_t M6Device::beep(int32_t, uint16_t msec) {
  return status_command(kBeep, {uint8_t(msec), uint8_t(msec >> 8)}, busy_timeout(msec));
}

// --- digit display ---

int16_t M6Device::display_digits(uint8_t code, const char* text) {
  if (text == nullptr) return -1;
  uint8_t codes[kDisplayPlaces];
  const int n = display_codes(text, codes);
  if (n < 0) return -1;
  return data_command(code, {uint8_t(kDisplayPlaces - n), uint8_t(n)}, codes, n);
}

int16_t M6Device::disp_str(int32_t, const char* dispstr) {
  return display_digits(kDisplay, dispstr);
}

int16_t M6Device::disp_neg(int32_t, const char* dispstr) {
  return display_digits(kDisplayNegative, dispstr);
}

int16_t M6Device::high_disp(int32_t, uint8_t offset, uint8_t displen,
                            const unsigned char* dispstr) {
  return data_command(kDisplay, {offset, displen}, dispstr, displen);
}

int16_t M6Device::setbright(int32_t, uint8_t bright) {
  return memory_write(kEeprom, kBrightnessAt, 1, &bright);
}

int16_t M6Device::ctl_mode(int32_t, uint8_t mode) {
  return memory_write(kEeprom, kControlModeAt, 1, &mode);
}

int16_t M6Device::disp_mode(int32_t, uint8_t mode) {
  return memory_write(kEeprom, kDisplayModeAt, 1, &mode);
}

int16_t M6Device::light(int32_t, uint16_t on_off) {
  if (on_off > 0xFF) return -1;
  return status_command(kLight, {0x00, uint8_t(on_off)});
}

// --- clock ---

int16_t M6Device::gettime(int32_t, unsigned char* time) {
  M6Request request(kGetTime);
  return fixed_reply(request, time, kClockSize);
}

int16_t M6Device::gettimehex(int32_t icdev, char* time) {
  return read_as_text(kClockSize, kClockSize, time,
                      [&](uint8_t* bytes) { return gettime(icdev, bytes); });
}

int16_t M6Device::gettime_hex(int32_t icdev, char* time) { return gettimehex(icdev, time); }

int16_t M6Device::settime(int32_t, const unsigned char* time) {
  return data_command(kSetTime, {}, time, kClockSize);
}

int16_t M6Device::settimehex(int32_t icdev, const char* time) {
  return write_from_text(kClockSize, kClockSize, time,
                         [&](const uint8_t* bytes) { return settime(icdev, bytes); });
}

int16_t M6Device::settime_hex(int32_t icdev, const char* time) {
  return settimehex(icdev, time);
}

// --- user EEPROM ---

int16_t M6Device::srd_eeprom(int32_t icdev, int16_t offset, int16_t length,
                             unsigned char* rec_buffer) {
  // A sum past 16 bits is past the EEPROM too; below 400 is the caller's.
  const int32_t address = int32_t(offset) + kUserAreaAt;
  if (address > INT16_MAX) return -1;
  return ReadEepromRaw(icdev, int16_t(address), length, rec_buffer);
}

int16_t M6Device::swr_eeprom(int32_t icdev, int16_t offset, int16_t length,
                             const unsigned char* send_buffer) {
  const int32_t address = int32_t(offset) + kUserAreaAt;
  if (address > INT16_MAX) return -1;
  return WriteEepromRaw(icdev, int16_t(address), length, send_buffer);
}

int16_t M6Device::swr_alleeprom(int32_t icdev, int16_t offset, int16_t length,
                                const unsigned char* snd_buffer) {
  return swr_eeprom(icdev, offset, length, snd_buffer);
}

int16_t M6Device::srd_alleeprom(int32_t icdev, int16_t offset, int16_t length,
                                unsigned char* receive_buffer) {
  return srd_eeprom(icdev, offset, length, receive_buffer);
}

int16_t M6Device::srd_eepromhex(int32_t icdev, int16_t offset, int16_t length,
                                char* rec_buffer) {
  return memory_read_hex(*this, &ReaderDevice::srd_eeprom, icdev, offset, length,
                         user_range_ok(offset, length), rec_buffer);
}

int16_t M6Device::swr_eepromhex(int32_t icdev, int16_t offset, int16_t length,
                                const char* send_buffer) {
  return memory_write_hex(*this, &ReaderDevice::swr_eeprom, icdev, offset, length,
                          user_range_ok(offset, length), send_buffer);
}

int16_t M6Device::srd_eeprom_hex(int32_t icdev, int16_t offset, int16_t length,
                                 char* rec_buffer) {
  return srd_eepromhex(icdev, offset, length, rec_buffer);
}

int16_t M6Device::swr_eeprom_hex(int32_t icdev, int16_t offset, int16_t length,
                                 const char* send_buffer) {
  return swr_eepromhex(icdev, offset, length, send_buffer);
}

// --- information, RF register ---

int16_t M6Device::getrcinfo(int32_t, unsigned char* info) {
  if (info == nullptr) return -1;
  M6Request request(kReaderInfo);
  request.u8(0x00).u8(0x00).u8(0x12);
  ByteCursor answer(nullptr, 0);
  const int16_t result =
      exchange(request, kDefaultTimeoutMs, kInfoHead + kInfoSkipped + kInfoTail, &answer);
  if (result != 0) return result;
  answer.take(info, kInfoHead);
  answer.skip(kInfoSkipped);
  answer.take(info + kInfoHead, kInfoTail);
  return 0;
}

int16_t M6Device::getrcinfo_hex(int32_t icdev, char* info) {
  return read_as_text(kInfoSize, kInfoSize, info,
                      [&](uint8_t* bytes) { return getrcinfo(icdev, bytes); });
}

int16_t M6Device::getlongver(int32_t, char* sver) {
  if (sver == nullptr) return -1;
  return queryText(kGetVersion, kDefaultTimeoutMs, sver, kLongVersionSize);
}

int16_t M6Device::rw_rfreg(int32_t, uint8_t flag, uint8_t adr, unsigned char* data) {
  if (data == nullptr) return -1;
  M6Request request(kRfRegister);
  request.u8(flag).u8(adr).u8(*data);
  return byte_reply(request, {data});
}

int16_t M6Device::rw_rfreg_hex(int32_t icdev, uint8_t flag, uint8_t adr, char* data) {
  // A read: the register goes out as 0 whatever the caller's text says.
  return read_as_text(1, 1, data, [&](uint8_t* value) {
    *value = 0x00;
    return rw_rfreg(icdev, flag, adr, value);
  });
}

// --- microcontroller pass-through ---

int16_t M6Device::KXDEV_CommandMcu(int32_t, uint8_t ctimeout, uint8_t slen,
                                   const unsigned char* sendbuffer, uint8_t* rlen,
                                   unsigned char* databuffer) {
  if ((sendbuffer == nullptr && slen > 0) || rlen == nullptr || databuffer == nullptr) return -1;
  M6Request request(kCommandMcu);
  request.u8(ctimeout).u8(slen).bytes(sendbuffer, slen);
  if (send_only(request, kDefaultTimeoutMs) != 0) return -1;
  // One budget for every attempt. An attempt that fails early (a port that
  // went away) sleeps out its slot, so a dead line costs no CPU and the
  // call still ends at the deadline.
  const Deadline deadline((int32_t(ctimeout) + 5) * kMcuBudgetUnitMs);
  for (;;) {
    if (!port_->isOpen()) return -1;
    const int32_t left = deadline.msLeft();
    if (left <= 0) return -1;
    const Deadline slot(std::min(kMcuAttemptMs, left));
    M6Request area(kCommandMcu);
    ByteCursor answer(nullptr, 0);
    int32_t received = -1;
    const int16_t result = receive(area, slot.msLeft(), 0, &answer, &received);
    if (received >= 0) return take_length_form(result, answer, databuffer, rlen);
    os_sleep(uint32_t(slot.msLeft()));
  }
}

int16_t M6Device::KXDEV_CommandMcu_Hex(int32_t icdev, uint8_t ctimeout, uint8_t slen,
                                       const char* sendbuffer, uint8_t* rlen,
                                       char* databuffer) {
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* data, uint8_t* length, uint8_t* reply) {
                         return KXDEV_CommandMcu(icdev, ctimeout, slen, data, length, reply);
                       });
}
