// The POS terminal behind the microcontroller pass-through, the reader's own
// keypad and its stripe reader.
#include <initializer_list>

#include "connection/reader_waits.h"
#include "family_m6/m6_device.h"
#include "family_m6/m6_pos_frame.h"
#include "platform/stripe_tracks.h"

namespace {

// Terminal commands: the first data byte of a sub-frame.
constexpr uint8_t kTerminalStripe = 0x0B;
constexpr uint8_t kTerminalTest = 0x0C;
constexpr uint8_t kTerminalMenu = 0x0D;
constexpr uint8_t kTerminalSetClock = 0x0E;
constexpr uint8_t kTerminalGetClock = 0x0F;
constexpr uint8_t kTerminalBeep = 0x10;
constexpr uint8_t kTerminalClearLine = 0x14;
constexpr uint8_t kTerminalLightOn = 0x15;
constexpr uint8_t kTerminalLightOff = 0x16;
constexpr uint8_t kTerminalLed = 0x17;
constexpr uint8_t kTerminalPinStart = 0x1A;
constexpr uint8_t kTerminalPinCancel = 0xA5;
constexpr uint8_t kTerminalPinFetch = 0xA6;
constexpr uint8_t kTerminalKeyInput = 0xA7;
// The time-out class of the terminal's quick commands.
constexpr uint8_t kQuickClass = 1;

// Reader commands.
constexpr uint8_t kKeypadEntry = 0xEA;
constexpr uint8_t kStripeRead = 0xF3;

// What one sub-frame exchange brought back: the answer and its data.
struct PosAnswer {
  uint8_t bytes[kPosFrameMax];
  ByteCursor data{nullptr, 0};
};

// One sub-frame through the pass-through: 0 with `answer` filled, the
// pass-through's own failure unchanged, -1 for a malformed answer.
int16_t pos_exchange(ReaderDevice& self, int32_t icdev, uint8_t timeout_class,
                     std::initializer_list<uint8_t> data, PosAnswer& answer) {
  PosFrame frame;
  if (!build_pos_frame(data.begin(), data.size(), frame)) return -1;
  uint8_t length = 0;
  const int16_t result =
      self.KXDEV_CommandMcu(icdev, timeout_class, frame.size, frame.bytes, &length, answer.bytes);
  if (result != 0) return result;
  return read_pos_answer(answer.bytes, length, answer.data) ? 0 : -1;
}

// A terminal command whose answer is not looked at beyond its frame.
int16_t pos_command(ReaderDevice& self, int32_t icdev, std::initializer_list<uint8_t> data,
                    uint8_t timeout_class = kQuickClass) {
  PosAnswer answer;
  return pos_exchange(self, icdev, timeout_class, data, answer);
}

// A terminal command that must be answered 90 00.
int16_t pos_confirmed(ReaderDevice& self, int32_t icdev, std::initializer_list<uint8_t> data,
                      uint8_t timeout_class) {
  PosAnswer answer;
  const int16_t result = pos_exchange(self, icdev, timeout_class, data, answer);
  if (result != 0) return result;
  return pos_done(answer.data) ? 0 : -1;
}

// A terminal command answered by keys.
int16_t pos_keys(ReaderDevice& self, int32_t icdev, std::initializer_list<uint8_t> data,
                 uint8_t timeout_class, uint8_t* count, char* keys) {
  if (count == nullptr || keys == nullptr) return -1;
  PosAnswer answer;
  const int16_t result = pos_exchange(self, icdev, timeout_class, data, answer);
  if (result != 0) return result;
  return read_pos_keys(answer.data, count, keys);
}

}  // namespace

int16_t M6Device::displcd(int32_t icdev, uint8_t flag) {
  return pos_command(*this, icdev, {flag, 0x00});
}

int16_t M6Device::displcd_ext(int32_t icdev, uint8_t flag, uint8_t row, uint8_t offset) {
  return pos_command(*this, icdev, {flag, 0x02, row, offset});
}

int16_t M6Device::testdevicecomm(int32_t icdev) {
  return pos_command(*this, icdev, {kTerminalTest, 0x00});
}

int16_t M6Device::dispmainmenu(int32_t icdev) {
  return pos_command(*this, icdev, {kTerminalMenu, 0x00});
}

int16_t M6Device::setdevicetime(int32_t icdev, uint8_t year, uint8_t month, uint8_t date,
                                uint8_t hour, uint8_t minute, uint8_t second) {
  const uint8_t values[kPosClockFields] = {year, month, date, hour, minute, second};
  uint8_t bcd[kPosClockFields];
  for (size_t i = 0; i < kPosClockFields; ++i)
    if (!to_bcd(values[i], bcd[i])) return -1;
  return pos_command(*this, icdev,
                     {kTerminalSetClock, uint8_t(kPosClockFields), bcd[0], bcd[1], bcd[2], bcd[3],
                      bcd[4], bcd[5]});
}

int16_t M6Device::getdevicetime(int32_t icdev, uint8_t* year, uint8_t* month, uint8_t* date,
                                uint8_t* hour, uint8_t* minute, uint8_t* second) {
  uint8_t* const outs[kPosClockFields] = {year, month, date, hour, minute, second};
  for (uint8_t* out : outs)
    if (out == nullptr) return -1;
  PosAnswer answer;
  const int16_t result = pos_exchange(*this, icdev, kQuickClass, {kTerminalGetClock, 0x00}, answer);
  if (result != 0) return result;
  uint8_t values[kPosClockFields];
  if (!read_pos_clock(answer.data, values)) return -1;
  for (size_t i = 0; i < kPosClockFields; ++i) *outs[i] = values[i];
  return 0;
}

int16_t M6Device::posbeep(int32_t icdev, uint8_t beeptime) {
  return pos_command(*this, icdev, {kTerminalBeep, 0x01, beeptime}, beeptime);
}

int16_t M6Device::ctlbacklight(int32_t icdev, uint8_t cOpenFlag) {
  return pos_command(*this, icdev, {cOpenFlag != 0 ? kTerminalLightOn : kTerminalLightOff, 0x00});
}

int16_t M6Device::ctlled(int32_t icdev, uint8_t cLed, uint8_t cOpenFlag) {
  return pos_command(*this, icdev, {kTerminalLed, cLed, cOpenFlag});
}

int16_t M6Device::lcdclrscrn(int32_t icdev, uint8_t cLine) {
  return pos_command(*this, icdev, {kTerminalClearLine, cLine});
}

int16_t M6Device::passin(int32_t icdev, uint8_t ctime) {
  return pos_confirmed(*this, icdev, {kTerminalPinStart, 0x01, ctime}, ctime);
}

int16_t M6Device::passcancel(int32_t icdev) {
  return pos_confirmed(*this, icdev, {kTerminalPinCancel, 0x01}, kQuickClass);
}

int16_t M6Device::passget(int32_t icdev, uint8_t* rlen, char* cpass) {
  return pos_keys(*this, icdev, {kTerminalPinFetch, 0x00}, kQuickClass, rlen, cpass);
}

int16_t M6Device::getinputkey(int32_t icdev, uint8_t disptype, uint8_t line, uint8_t ctime,
                              uint8_t* rlen, char* ckeydata) {
  return pos_keys(*this, icdev, {kTerminalKeyInput, disptype, line, ctime}, ctime, rlen,
                  ckeydata);
}

int16_t M6Device::getinputpass(int32_t, uint8_t ctime, uint8_t* rlen, char* cpass) {
  if (rlen == nullptr || cpass == nullptr) return -1;
  M6Request request(kKeypadEntry);
  request.u8(ctime);
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, reader_wait_timeout(ctime), 1, &answer);
  if (result != 0) return result;
  *rlen = 0;
  cpass[0] = '\0';
  const uint8_t outcome = *answer.here();
  if (outcome != kPosKeys) return outcome == 0 ? int16_t(-1) : int16_t(outcome);
  return read_pos_keys(answer, rlen, cpass);
}

int16_t M6Device::readmagcardall(int32_t, uint8_t ctime, char* pTrack1Data, int32_t* pTrack1Len,
                                 char* pTrack2Data, int32_t* pTrack2Len, char* pTrack3Data,
                                 int32_t* pTrack3Len) {
  const StripeOutputs out = {{pTrack1Data, pTrack2Data, pTrack3Data},
                             {pTrack1Len, pTrack2Len, pTrack3Len}};
  if (!out.complete()) return -1;
  M6Request request(kStripeRead);
  request.u8(ctime);
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, reader_wait_timeout(ctime), kStripeTracks, &answer);
  if (result != 0) return result;
  StripeTracks tracks;
  if (!parse_stripe_lengths_first(answer, tracks)) return -1;
  out.write(tracks);
  return 0;
}

int16_t M6Device::readmagcard(int32_t icdev, uint8_t ctime, char* pTrack2Data,
                              int32_t* pTrack2Len, char* pTrack3Data, int32_t* pTrack3Len) {
  // The terminal reads no track 1.
  const StripeOutputs out = {{nullptr, pTrack2Data, pTrack3Data},
                             {nullptr, pTrack2Len, pTrack3Len}};
  if (!out.complete(1)) return -1;
  PosAnswer answer;
  const int16_t result =
      pos_exchange(*this, icdev, ctime, {kTerminalStripe, 0x01, ctime}, answer);
  if (result != 0) return result;
  StripeTracks tracks;
  if (!read_pos_stripe(answer.data, tracks)) return -1;
  for (size_t i = 1; i < kStripeTracks; ++i) {
    out.write_track(i, tracks);
    if (!decode_stripe_track(out.data[i], tracks.length[i])) return -1;
  }
  return 0;
}
