// Modules of terminal readers: receipt printer, voice player, stripe reading
// in single steps, the 2.4 GHz card module, SD memory and the USB mode, and
// the V7 forms of the display and LED operations.
#include <iterator>

#include "connection/radio24_module.h"
#include "family_r42/r42_card_io.h"
#include "family_r42/r42_chunked.h"
#include "family_r42/r42_device.h"
#include "family_r42/radio24_frame.h"
#include "family_r42/stripe_tracks.h"
#include "platform/deadline.h"
#include "platform/os.h"

namespace {

// Stripe reader statuses of a poll: no card swiped yet, a swipe that could
// not be read.
constexpr uint16_t kNoSwipe = 0x0705;
constexpr uint16_t kBadSwipe = 0x0703;
constexpr int16_t kNoSwipeResult = 1;
constexpr int16_t kBadSwipeResult = 2;
// The reader needs this long between polls.
constexpr uint32_t kStripePollPauseMs = 200;

constexpr uint8_t kSet = 0x01;
constexpr uint8_t kGet = 0x00;

// Each font's margin bound and the margin that replaces one at or past it.
struct FontMargins {
  uint8_t bound, value;
};
constexpr FontMargins kFontMargins[] = {{48, 30}, {32, 20}, {24, 10}};
constexpr uint8_t kAlignments = 3;
constexpr uint8_t kFastestRate = 3;

// Code, zero byte, seconds and the frame length come before the frame.
constexpr int32_t kRadio24SendMax =
    int32_t(kR42BufferSize) - 6 - int32_t(kRadio24FrameOverhead);
// The reader's count of the frame (BE16) and at least an empty frame.
constexpr size_t kRadio24Reply = r42_cmd::kReplyHead + 2 + kRadio24FrameOverhead;

constexpr ChunkedMemory kSdMemory = {r42_cmd::kReadSd, r42_cmd::kWriteSd, ChunkedMemory::kNoBound,
                                     192};

}  // namespace

int16_t R42Device::dispinfo_V7(int32_t icdev, uint8_t line, uint8_t offset, const char* data) {
  ReaderDevice& self = *this;
  return self.dispinfo(icdev, line, offset, data);
}

int16_t R42Device::dispinfo_pro_V7(int32_t icdev, uint8_t offset, const char* data) {
  ReaderDevice& self = *this;
  return self.dispmaininfo(icdev, offset, data);
}

int16_t R42Device::clearlcd_V7(int32_t icdev, uint8_t line) {
  ReaderDevice& self = *this;
  return self.lcdclrscrn(icdev, line);
}

int16_t R42Device::led_V7(int32_t icdev, uint8_t cled, uint8_t cflag) {
  ReaderDevice& self = *this;
  return self.ctlled(icdev, cled, cflag);
}

int16_t R42Device::pass_key_value(int32_t, uint8_t timeout, char* value) {
  if (value == nullptr) return -1;
  constexpr int16_t kNothingEntered = 1;
  R42Request request(r42_cmd::kKeyValueEntry);
  request.u8(timeout);
  ByteCursor reply(nullptr, 0);
  const int16_t result = length_first_exchange(request, reader_wait_timeout(timeout),
                                               r42_cmd::kDataReply,
                                               {{r42_cmd::kStatusNoKeyValue, kNothingEntered}}, &reply);
  if (result == kNothingEntered) {
    value[0] = '\0';
    return 0;
  }
  if (result != 0) return result;
  const size_t length = reply.remaining();
  reply.take(reinterpret_cast<uint8_t*>(value), length);
  value[length] = '\0';
  return 0;
}

int16_t R42Device::play_voice(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kPlayVoice, {mode});
}

int16_t R42Device::playvoice(int32_t icdev, uint8_t mode) {
  ReaderDevice& self = *this;
  return self.play_voice(icdev, mode);
}

int16_t R42Device::load_voice(int32_t, int32_t flag, int32_t slen, const unsigned char* sdata) {
  R42Request request(r42_cmd::kLoadVoice);
  request.checked_be16(flag).be16_counted(sdata, slen);
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kReplyHead + 2, &reply);
  if (result != 0) return result;
  // The reader echoes the flag of the block it took.
  uint16_t echo = 0;
  return reply.be16(echo) && echo == flag ? 0 : -1;
}

int16_t R42Device::setmag(int32_t, uint8_t mode, uint8_t track1, uint8_t track2,
                          uint8_t track3) {
  return status_command(r42_cmd::kSetStripe, {mode, track1, track2, track3});
}

int16_t R42Device::setprint(int32_t, uint8_t FontSize, uint8_t Alignment, uint8_t LeftMargin,
                            uint8_t RightMargin, uint8_t RowPitch, uint8_t PrintOutRate) {
  const uint8_t font = FontSize < std::size(kFontMargins) ? FontSize : 0;
  const FontMargins& margins = kFontMargins[font];
  auto margin = [&](uint8_t m) { return m >= margins.bound ? margins.value : m; };
  return status_command(r42_cmd::kPrinterSettings,
                        {kSet, font, Alignment < kAlignments ? Alignment : uint8_t(0),
                         margin(LeftMargin), margin(RightMargin), RowPitch,
                         PrintOutRate <= kFastestRate ? PrintOutRate : kFastestRate});
}

int16_t R42Device::checkprint(int32_t, uint8_t* FontSize, uint8_t* Alignment,
                              uint8_t* LeftMargin, uint8_t* RightMargin, uint8_t* RowPitch,
                              uint8_t* PrintOutRate) {
  R42Request request(r42_cmd::kPrinterSettings);
  request.u8(kGet);
  return byte_reply(request,
                    {FontSize, Alignment, LeftMargin, RightMargin, RowPitch, PrintOutRate});
}

int16_t R42Device::printcharacter(int32_t, uint16_t length, const unsigned char* character) {
  return data_command(r42_cmd::kPrintText, {}, character, length);
}

int16_t R42Device::printOnedimensional(int32_t, uint8_t hight, uint8_t displayflag,
                                       uint8_t FontSize, uint16_t length,
                                       const unsigned char* Onedimensional) {
  return data_command(r42_cmd::kPrintBarcode, {hight, displayflag, FontSize}, Onedimensional,
                      length);
}

int16_t R42Device::printPicture(int32_t, uint8_t length, uint8_t height, uint8_t Alignment,
                                uint8_t LeftMargin, uint8_t RightMargin, uint16_t size,
                                const unsigned char* Picture) {
  return data_command(r42_cmd::kPrintPicture, {length, height, Alignment, LeftMargin, RightMargin},
                      Picture, size);
}

int16_t R42Device::printenter(int32_t, uint8_t RowPitch) {
  return status_command(r42_cmd::kPrintFeed, {RowPitch});
}

int16_t R42Device::printstatus(int32_t, uint8_t* paperstatus, uint8_t* tempturestatus,
                               uint8_t* zkstatus) {
  R42Request request(r42_cmd::kPrinterStatus);
  return byte_reply(request, {paperstatus, tempturestatus, zkstatus});
}

int16_t R42Device::set2dot4Gbaund(int32_t, uint8_t baund) {
  return status_command(r42_cmd::kRadio24Baud, {kSet, baund});
}

int16_t R42Device::check2dot4Gbaund(int32_t, uint8_t* baund) {
  R42Request request(r42_cmd::kRadio24Baud);
  request.u8(kGet);
  return byte_reply(request, {baund});
}

int16_t R42Device::op_2dot4_command(int32_t, int32_t slen, const unsigned char* senddata,
                                    int32_t* rlen, unsigned char* recvbuffer, uint8_t timeout) {
  if (slen > kRadio24SendMax || !channel_input_ok(slen, senddata) || rlen == nullptr ||
      recvbuffer == nullptr)
    return -1;
  R42Request request(r42_cmd::kRadio24Command);
  request.u8(timeout).be16(uint16_t(slen + int32_t(kRadio24FrameOverhead)));
  append_radio24_frame(request, senddata, uint16_t(slen));
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, reader_wait_timeout(timeout), kRadio24Reply, &reply);
  if (result != 0) return result;
  // The reader's count of the frame that follows is not looked at.
  ByteCursor data(nullptr, 0);
  if (!reply.skip(2) || !read_radio24_frame(reply, data)) return -1;
  *rlen = int32_t(data.remaining());
  data.take(recvbuffer, data.remaining());
  return 0;
}

int16_t R42Device::op_2dot4_command_hex(int32_t icdev, int32_t slen, const char* senddata,
                                        int32_t* rlen, char* recvbuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, senddata, rlen, recvbuffer,
                       [&](const uint8_t* data, int32_t* length, uint8_t* reply) {
                         return self.op_2dot4_command(icdev, slen, data, length, reply, timeout);
                       });
}

int16_t R42Device::op_2dot4_reset(int32_t icdev, uint8_t* rlen, unsigned char* databuffer) {
  return radio24_reset(*this, icdev, kR42BufferSize, rlen, databuffer);
}

int16_t R42Device::op_2dot4_resethex(int32_t icdev, uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kR42BufferSize, rlen, databuffer, [&](uint8_t* length, uint8_t* reply) {
    return self.op_2dot4_reset(icdev, length, reply);
  });
}

int16_t R42Device::startreadmag(int32_t) { return status_command(r42_cmd::kStartStripe); }

int16_t R42Device::stopreadmag(int32_t) { return status_command(r42_cmd::kStopStripe); }

int16_t R42Device::readmag(int32_t, char* pTrack1Data, int32_t* pTrack1Len, char* pTrack2Data,
                           int32_t* pTrack2Len, char* pTrack3Data, int32_t* pTrack3Len) {
  const StripeOutputs out = {{pTrack1Data, pTrack2Data, pTrack3Data},
                             {pTrack1Len, pTrack2Len, pTrack3Len}};
  if (!out.complete()) return -1;
  os_sleep(kStripePollPauseMs);
  R42Request request(r42_cmd::kPollStripe);
  return read_stripe(*this, request, kR42DefaultTimeoutMs,
                     {{kNoSwipe, kNoSwipeResult}, {kBadSwipe, kBadSwipeResult}}, out);
}

int16_t R42Device::readmagcardallA(int32_t icdev, uint8_t ctime, char* pTrack1Data,
                                   int32_t* pTrack1Len, char* pTrack2Data, int32_t* pTrack2Len,
                                   char* pTrack3Data, int32_t* pTrack3Len) {
  const StripeOutputs out = {{pTrack1Data, pTrack2Data, pTrack3Data},
                             {pTrack1Len, pTrack2Len, pTrack3Len}};
  if (!out.complete()) return -1;
  ReaderDevice& self = *this;
  int16_t result = self.startreadmag(icdev);
  if (result != 0) return result;
  // Each poll waits before it asks, so the loop never spins.
  const Deadline budget(int32_t(ctime) * 1000);
  for (;;) {
    result = self.readmag(icdev, pTrack1Data, pTrack1Len, pTrack2Data, pTrack2Len, pTrack3Data,
                          pTrack3Len);
    if (result == 0 || result == kBadSwipeResult) return result;
    if (budget.expired()) break;
  }
  self.stopreadmag(icdev);
  return -2;
}

int16_t R42Device::writeSD(int32_t, int32_t offset, int32_t length,
                           const unsigned char* writebuffer) {
  return write_chunked(*this, kSdMemory, offset, length, writebuffer);
}

int16_t R42Device::readSD(int32_t, int32_t offset, int32_t length, unsigned char* readbuffer) {
  return read_chunked(*this, kSdMemory, offset, length, readbuffer);
}

int16_t R42Device::SetUsbMode(int32_t, uint8_t ucmode) {
  return status_command(r42_cmd::kSetUsbMode, {ucmode});
}
