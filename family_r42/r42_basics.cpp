// The reader itself: version, buzzer, LEDs, radio reset, clock, user EEPROM,
// device serial number, device reset and serial speed.
#include <cstdio>
#include <cstring>

#include "family_r42/r42_chunked.h"
#include "family_r42/r42_device.h"
#include "platform/byte_helpers.h"
#include "platform/os.h"

namespace {

// Memory offsets of the reader EEPROM as these operations see it.
constexpr int32_t kUserAreaOffset = 1500;
constexpr int16_t kDeviceSerialOffset = 1450;
constexpr int16_t kDeviceSerialLength = 32;

constexpr size_t kVersionMax = 255;  // the probe hands a 256-byte buffer
constexpr uint16_t kMaxBeepMs = 6553;  // 10 x duration must fit 16 bits

bool name_starts(const char* name, const char* prefix) {
  return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// 1 for Monday to 7 for Sunday; 0 for a month or day out of range.
int weekday_of(int y, int m, int d) {
  if (m < 1 || m > 12 || d < 1 || d > 31) return 0;
  if (m <= 2) {
    m += 12;
    y -= 1;
  }
  return (d + 2 * m + 3 * (m + 1) / 5 + y + y / 4 - y / 100 + y / 400) % 7 + 1;
}

int bcd_value(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

// The user area starts at a fixed memory offset; the sum must still fit the
// raw operation's 16-bit offset.
bool user_offset(int16_t offset, int16_t& raw) {
  int32_t sum = int32_t(offset) + kUserAreaOffset;
  if (sum > INT16_MAX) return false;
  raw = int16_t(sum);
  return true;
}

}  // namespace

int16_t R42Device::getver(int32_t, char* sver) {
  if (sver == nullptr) return -1;
  const bool serial = name_starts(profile_name_, "r42-s");
  const int32_t timeout = serial || name_starts(profile_name_, "r42-u") ? 2000 : 5000;
  R42Request request(r42_cmd::kGetVersion);
  ByteCursor reply(nullptr, 0);
  int16_t result = exchange(request, timeout, r42_cmd::kVersionReply, &reply);
  if (result != 0) return result;
  size_t count = reply.remaining() < kVersionMax ? reply.remaining() : kVersionMax;
  reply.take(reinterpret_cast<uint8_t*>(sver), count);
  sver[count] = '\0';
  // A serial reader needs a moment before it takes the next command.
  if (serial) os_sleep(20);
  return 0;
}

int16_t R42Device::update(int32_t) {
  return status_command(r42_cmd::kUpdate);
}

int16_t R42Device::resetdevice(int32_t) {
  return status_command(r42_cmd::kResetDevice);
}

int16_t R42Device::reset(int32_t icdev, uint16_t msec) {
  const int32_t timeout = (int32_t(msec) + 500) * 10;
  if (msec == 0) return status_command(r42_cmd::kFieldOff, {}, timeout);
  // The field is switched off first; its result does not matter.
  reset(icdev, 0);
  return status_command(r42_cmd::kFieldReset, {}, timeout);
}

int16_t R42Device::beep(int32_t, uint16_t msec) {
  if (msec > kMaxBeepMs) return -1;
  const uint16_t units = uint16_t(msec * 10);
  R42Request request(r42_cmd::kBeep);
  request.be16(units);
  return exchange(request, int32_t(units) + 5000, r42_cmd::kStatusOnly);
}

int16_t R42Device::posbeep(int32_t icdev, uint8_t beeptime) {
  return beep(icdev, uint16_t(beeptime * 5));
}

int16_t R42Device::light(int32_t, uint16_t on_off) {
  if (!R42Request::fits_u8(on_off)) return -1;
  return status_command(r42_cmd::kLed, {0, uint8_t(on_off)});
}

int16_t R42Device::ctlbacklight(int32_t, uint8_t open_flag) {
  return status_command(r42_cmd::kBacklight, {open_flag});
}

int16_t R42Device::ctlled(int32_t, uint8_t led, uint8_t open_flag) {
  if (open_flag <= 1) {
    return status_command(r42_cmd::kLed, {led, open_flag});
  }
  return status_command(r42_cmd::kLedSecondForm, {led});
}

int16_t R42Device::setdevicebaud(int32_t, uint8_t baud) {
  return status_command(r42_cmd::kSetBaud, {baud});
}

int16_t R42Device::gettime(int32_t, uint8_t* time) {
  if (time == nullptr) return -1;
  R42Request request(r42_cmd::kGetClock);
  ByteCursor reply(nullptr, 0);
  int16_t result = exchange(request, kR42DefaultTimeoutMs, r42_cmd::kClockReply, &reply);
  if (result != 0) return result;
  uint16_t year = 0;
  uint8_t field[5] = {};  // month, day, hour, minute, second
  if (!reply.be16(year) || !reply.take(field, sizeof(field))) return -1;
  // Each value becomes two decimal digits of one BCD byte; a wider value
  // would shift every digit after it.
  for (uint8_t v : field)
    if (v > 99) return -1;
  char digits[64];
  std::snprintf(digits, sizeof(digits), "%02d%02d%02d%02d%02d%02d%02d", year % 100,
                weekday_of(year, field[0], field[1]), field[0], field[1], field[2], field[3],
                field[4]);
  uint8_t bcd[7];
  if (hex_to_bytes(digits, 14, bcd) != 7) return -1;
  std::memcpy(time, bcd, sizeof(bcd));
  return 0;
}

int16_t R42Device::gettimehex(int32_t icdev, char* time) {
  if (time == nullptr) return -1;
  uint8_t bcd[7];
  int16_t result = gettime(icdev, bcd);
  if (result != 0) return result;
  hex_twin_output(bcd, sizeof(bcd), time);
  return 0;
}

int16_t R42Device::gettime_hex(int32_t icdev, char* time) { return gettimehex(icdev, time); }

int16_t R42Device::settime(int32_t, const uint8_t* time) {
  if (time == nullptr) return -1;
  // The weekday (byte 1) is the reader's to work out.
  R42Request request(r42_cmd::kSetClock);
  request.be16(uint16_t(2000 + bcd_value(time[0])));
  for (int i = 2; i < 7; ++i) request.u8(uint8_t(bcd_value(time[i])));
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::settimehex(int32_t icdev, const char* time) {
  uint8_t bcd[7];
  if (hex_twin_input(time, sizeof(bcd), bcd) != 0) return -1;
  return settime(icdev, bcd);
}

int16_t R42Device::settime_hex(int32_t icdev, const char* time) {
  return settimehex(icdev, time);
}

int16_t R42Device::setdevicetime(int32_t icdev, uint8_t year, uint8_t month, uint8_t date,
                                 uint8_t hour, uint8_t minute, uint8_t second) {
  for (uint8_t v : {month, date, hour, minute, second})
    if (v > 99) return -1;
  char text[64];
  std::snprintf(text, sizeof(text), "%02d%02d%02d%02d%02d%02d%02d", year % 100, 0, month, date,
                hour, minute, second);
  return settimehex(icdev, text);
}

int16_t R42Device::getdevicetime(int32_t icdev, uint8_t* year, uint8_t* month, uint8_t* date,
                                 uint8_t* hour, uint8_t* minute, uint8_t* second) {
  if (!year || !month || !date || !hour || !minute || !second) return -1;
  char text[15] = {};
  int16_t result = gettimehex(icdev, text);
  if (result != 0) return result;
  text[14] = '\0';
  int v[7];
  if (std::sscanf(text, "%02d%02d%02d%02d%02d%02d%02d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                  &v[6]) != 7)
    return -1;
  // v[1] is the weekday, which the caller does not get.
  *year = uint8_t(v[0]);
  *month = uint8_t(v[2]);
  *date = uint8_t(v[3]);
  *hour = uint8_t(v[4]);
  *minute = uint8_t(v[5]);
  *second = uint8_t(v[6]);
  return 0;
}

int16_t R42Device::testdevicecomm(int32_t icdev) {
  char version[kVersionMax + 1] = {};
  return getver(icdev, version);
}

int16_t R42Device::srd_eeprom(int32_t icdev, int16_t offset, int16_t length,
                              uint8_t* rec_buffer) {
  int16_t raw = 0;
  if (!user_offset(offset, raw)) return -1;
  return ReadEepromRaw(icdev, raw, length, rec_buffer);
}

int16_t R42Device::srd_alleeprom(int32_t icdev, int16_t offset, int16_t length,
                                 uint8_t* receive_buffer) {
  return srd_eeprom(icdev, offset, length, receive_buffer);
}

int16_t R42Device::swr_eeprom(int32_t icdev, int16_t offset, int16_t length,
                              const uint8_t* send_buffer) {
  int16_t raw = 0;
  if (!user_offset(offset, raw)) return -1;
  return WriteEepromRaw(icdev, raw, length, send_buffer);
}

int16_t R42Device::swr_alleeprom(int32_t icdev, int16_t offset, int16_t length,
                                 const uint8_t* snd_buffer) {
  return swr_eeprom(icdev, offset, length, snd_buffer);
}

int16_t R42Device::srd_eepromhex(int32_t icdev, int16_t offset, int16_t length,
                                 char* rec_buffer) {
  uint8_t area[kR42EepromSize];
  if (rec_buffer == nullptr || length < 0 || uint64_t(length) > sizeof(area)) return -1;
  int16_t result = srd_eeprom(icdev, offset, length, area);
  if (result != 0) return result;
  hex_twin_output(area, size_t(length), rec_buffer);
  return 0;
}

int16_t R42Device::swr_eepromhex(int32_t icdev, int16_t offset, int16_t length,
                                 const char* send_buffer) {
  uint8_t area[kR42EepromSize];
  if (length < 0 || uint64_t(length) > sizeof(area)) return -1;
  if (hex_twin_input(send_buffer, length, area) != 0) return -1;
  return swr_eeprom(icdev, offset, length, area);
}

int16_t R42Device::srd_eeprom_hex(int32_t icdev, int16_t offset, int16_t length,
                                  char* rec_buffer) {
  return srd_eepromhex(icdev, offset, length, rec_buffer);
}

int16_t R42Device::swr_eeprom_hex(int32_t icdev, int16_t offset, int16_t length,
                                  const char* send_buffer) {
  return swr_eepromhex(icdev, offset, length, send_buffer);
}

int16_t R42Device::readdevsnr(int32_t icdev, char* snr) {
  if (snr == nullptr) return -1;
  int16_t result =
      ReadEepromRaw(icdev, kDeviceSerialOffset, kDeviceSerialLength, reinterpret_cast<uint8_t*>(snr));
  if (result == 0) snr[kDeviceSerialLength] = '\0';
  return result;
}

int16_t R42Device::readreadersnr(int32_t icdev, char* snr) {
  if (snr == nullptr) return -1;
  char serial[kDeviceSerialLength + 1] = {};
  if (readdevsnr(icdev, serial) < 0) return -1;
  std::memcpy(snr, serial + 16, 16);
  snr[16] = '\0';
  return 0;
}
