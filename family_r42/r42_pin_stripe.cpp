// PIN entry on the reader's keypad (in one call, or started, fetched and
// cancelled in three), the magnetic stripe reader/writer and the terminal's
// text display.
#include <cstring>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"
#include "family_r42/stripe_tracks.h"

namespace {

constexpr uint8_t kPinPadWithCardNumber = 0;
constexpr uint8_t kPinPadWithoutCardNumber = 1;

constexpr uint8_t kLcdColumns = 16;
constexpr uint8_t kMenuClearLine = 4;
constexpr const char* kMenuGreeting = "Welcome to use";
// 请刷卡或插卡 ("please swipe or insert your card") in GBK.
constexpr const char* kMenuPrompt =
    "\xC7\xEB\xCB\xA2\xBF\xA8\xBB\xF2\xB2\xE5\xBF\xA8";

// PIN data from reply byte 3 to an 8-bit length and a text.
int16_t hand_pin(ByteCursor& reply, uint8_t* rlen, char* cpass) {
  const int16_t result = narrow_reply(0, int32_t(reply.remaining()), reply.here(), rlen,
                                      reinterpret_cast<uint8_t*>(cpass));
  if (result == 0) cpass[*rlen] = '\0';
  return result;
}

}  // namespace

int16_t R42Device::getinputpass(int32_t, uint8_t ctime, uint8_t* rlen, char* cpass) {
  if (rlen == nullptr || cpass == nullptr) return -1;
  R42Request request(r42_cmd::kPinEntry);
  request.u8(ctime);
  ByteCursor reply(nullptr, 0);
  const int16_t result = length_first_exchange(
      request, reader_wait_timeout(ctime), r42_cmd::kDataReply, kPinEntryStatuses, &reply);
  if (result == kPinEntryRefused || result == kPinEntryCancelled) {
    *rlen = 0;
    cpass[0] = '\0';
    return result;
  }
  if (result != 0) return result;
  return hand_pin(reply, rlen, cpass);
}

int16_t R42Device::readmagcardall(int32_t, uint8_t ctime, char* pTrack1Data,
                                  int32_t* pTrack1Len, char* pTrack2Data, int32_t* pTrack2Len,
                                  char* pTrack3Data, int32_t* pTrack3Len) {
  R42Request request(r42_cmd::kReadStripe);
  request.u8(ctime);
  return read_stripe(*this, request, reader_wait_timeout(ctime),
                     {{0x0701, -2}, {0x0702, -3}, {0x0011, -4}},
                     {{pTrack1Data, pTrack2Data, pTrack3Data},
                      {pTrack1Len, pTrack2Len, pTrack3Len}});
}

int16_t R42Device::readmagcard(int32_t icdev, uint8_t ctime, char* pTrack2Data,
                               int32_t* pTrack2Len, char* pTrack3Data, int32_t* pTrack3Len) {
  char track1[kNarrowReplyMax + 1];
  int32_t track1_length = 0;
  ReaderDevice& self = *this;
  return self.readmagcardall(icdev, ctime, track1, &track1_length, pTrack2Data, pTrack2Len,
                             pTrack3Data, pTrack3Len);
}

int16_t R42Device::writemagcard(int32_t, uint8_t ctime, const unsigned char* pTrack1Data,
                                uint8_t pTrack1Len, const unsigned char* pTrack2Data,
                                uint8_t pTrack2Len, const unsigned char* pTrack3Data,
                                uint8_t pTrack3Len) {
  const unsigned char* const data[] = {pTrack1Data, pTrack2Data, pTrack3Data};
  const uint8_t lengths[] = {pTrack1Len, pTrack2Len, pTrack3Len};
  R42Request request(r42_cmd::kWriteStripe);
  request.u8(ctime);
  for (size_t i = 0; i < kStripeTracks; ++i) {
    if (data[i] == nullptr && lengths[i] != 0) return -1;
    request.u8(lengths[i]).bytes(data[i], lengths[i]);
  }
  return status_word_negated(exchange(request, reader_wait_timeout(ctime), r42_cmd::kStatusOnly));
}

int16_t R42Device::lcdclrscrn(int32_t, uint8_t cLine) {
  return status_command(r42_cmd::kLcdClear, {cLine});
}

int16_t R42Device::dispinfo(int32_t icdev, uint8_t line, uint8_t offset, const char* data) {
  ReaderDevice& self = *this;
  return self.LcdDisplay(icdev, line, offset, 0, data);
}

int16_t R42Device::dispmaininfo(int32_t icdev, uint8_t offset, const char* data) {
  if (data == nullptr) return -1;
  ReaderDevice& self = *this;
  size_t left = std::strlen(data);
  while (left > 0) {
    // What fits in the rest of the line; the next piece starts the line after.
    const size_t room = kLcdColumns - (offset & 0x0F);
    const size_t count = left < room ? left : room;
    char piece[kLcdColumns + 1];
    std::memcpy(piece, data, count);
    piece[count] = '\0';
    const int16_t result = self.dispinfo(icdev, uint8_t(offset >> 4), uint8_t(offset & 0x0F), piece);
    if (result != 0) return result;
    offset = uint8_t(offset + count);
    data += count;
    left -= count;
  }
  return 0;
}

int16_t R42Device::dispmainmenu(int32_t icdev) {
  ReaderDevice& self = *this;
  int16_t result = self.lcdclrscrn(icdev, kMenuClearLine);
  if (result == 0) result = self.dispinfo(icdev, 1, 1, kMenuGreeting);
  if (result == 0) result = self.dispinfo(icdev, 2, 2, kMenuPrompt);
  return result;
}

int16_t R42Device::passin(int32_t icdev, uint8_t ctime) {
  ReaderDevice& self = *this;
  return self.passin2(icdev, ctime, kPinPadWithoutCardNumber, nullptr);
}

int16_t R42Device::passin2(int32_t, uint8_t ctime, uint8_t ucmode, const char* cardno) {
  R42Request request(r42_cmd::kPinPadStart);
  request.u8(ctime).u8(ucmode);
  if (ucmode == kPinPadWithCardNumber) {
    request.u8_counted_text(cardno);
  } else if (ucmode != kPinPadWithoutCardNumber) {
    return -1;
  }
  return status_word_negated(exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly));
}

int16_t R42Device::PassIn2(int32_t icdev, uint8_t ctime, uint8_t ucmode, const char* cardno) {
  ReaderDevice& self = *this;
  return self.passin2(icdev, ctime, ucmode, cardno);
}

int16_t R42Device::passget(int32_t, uint8_t* rlen, char* cpass) {
  if (rlen == nullptr || cpass == nullptr) return -1;
  R42Request request(r42_cmd::kPinPadFetch);
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      status_word_negated(exchange(request, kR42DefaultTimeoutMs, r42_cmd::kDataReply, &reply));
  if (result != 0) return result;
  return hand_pin(reply, rlen, cpass);
}

int16_t R42Device::passcancel(int32_t) {
  return status_word_negated(status_command(r42_cmd::kPinPadCancel));
}

