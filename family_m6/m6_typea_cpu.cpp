// Type A processor cards through an m6 reader. The reader activates the
// card and carries single card frames (0x86, or 0xD0 over report frames);
// the ISO/IEC 14443-4 block protocol above them runs on the host
// (BlockChainer), with its block number kept in the device's block state.
#include <cstring>

#include "connection/card_io.h"
#include "connection/m6_frame_limits.h"
#include "connection/reader_waits.h"
#include "family_m6/m6_device.h"
#include "platform/card_answers.h"
#include "platform/card_auth_crypto.h"

namespace {

constexpr uint8_t kActivate = 0x85;
constexpr uint8_t kActivateShort = 0x50;
constexpr uint8_t kActivateSp0 = 0x70;
constexpr uint8_t kActivateLong = 0x80;
constexpr uint8_t kCardFrameReport = 0xD0;
constexpr uint8_t kReaderBaud = 0xFC;

// What one frame command carries: [0x86][time-out][length][frame].
constexpr size_t kFrameMax = size_t(kM6FrameCommandMax) - 3;
// [0xD0][time-out][frame] in one request buffer.
constexpr int32_t kReportFrameMax = int32_t(M6Request::kBufferSize) - 2;
constexpr uint8_t kHaltTimeout = 4;
constexpr uint8_t kDeselect[2] = {0xCA, 0x00};
// PPS to the card: PPSS, PPS0 with PPS1 following, PPS1 per bit rate.
constexpr uint8_t kPps[2] = {0xD0, 0x11};
constexpr uint8_t kPpsRates[3] = {0x00, 0x05, 0x0A};
constexpr uint8_t kParaCard = 0x01;
constexpr uint8_t kParaReader = 0x02;

}  // namespace

// --- activation ---

int16_t M6Device::activate(uint8_t parameter, uint8_t* rlen, uint8_t* ats) {
  if (rlen == nullptr || ats == nullptr) return -1;
  state_.tcl_block_state = BlockChainer::kStateAfterActivation;
  M6Request request(kActivate);
  request.u8(parameter);
  ByteCursor answer(nullptr, 0);
  int16_t result = exchange(request, kDefaultTimeoutMs, 0, &answer);
  const size_t length = answer.remaining();
  result = narrow_reply(result, int32_t(length), answer.here(), rlen, ats);
  if (result != 0) return result;
  std::memcpy(state_.last_ats, ats, length);
  state_.ats_length = uint32_t(length);
  FrameWaiting timing = {state_.fwt_class, state_.fwi};
  ats_frame_waiting(ats, length, timing);
  state_.fwt_class = timing.fwt_class;
  state_.fwi = timing.fwi;
  return 0;
}

int16_t M6Device::pro_reset(int32_t, uint8_t* rlen, unsigned char* receive_data) {
  return activate(state_.sp0_flag ? kActivateSp0 : kActivateShort, rlen, receive_data);
}

int16_t M6Device::pro_resetInt(int32_t icdev, uint8_t* rlen, unsigned char* receive_data) {
  if (newer_version()) return activate(kActivateLong, rlen, receive_data);
  ReaderDevice& self = *this;
  return self.pro_reset(icdev, rlen, receive_data);
}

int16_t M6Device::pro_resethex(int32_t icdev, uint8_t* rlen, char* receive_data) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kNarrowReplyMax, rlen, receive_data, [&](uint8_t* length, uint8_t* ats) {
    return self.pro_reset(icdev, length, ats);
  });
}

int16_t M6Device::pro_resetInt_hex(int32_t icdev, uint8_t* rlen, char* receive_data) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kNarrowReplyMax, rlen, receive_data, [&](uint8_t* length, uint8_t* ats) {
    return self.pro_resetInt(icdev, length, ats);
  });
}

// --- card frames ---

int16_t M6Device::send_card_frame(uint8_t length, const uint8_t* frame, uint8_t timeout,
                                  int32_t send_timeout_ms) {
  M6Request request(kCardFrameCommand);
  request.u8(timeout).u8(length).bytes(frame, length);
  return send_only(request, send_timeout_ms);
}

int16_t M6Device::pro_sendcommandsource(int32_t, uint8_t slen, const unsigned char* sendbuffer,
                                        uint8_t timeout) {
  return send_card_frame(slen, sendbuffer, timeout, card_timeout_ms(timeout));
}

int16_t M6Device::pro_receivecommandsource(int32_t, uint8_t* rlen, unsigned char* databuffer) {
  if (rlen == nullptr || databuffer == nullptr) return -1;
  M6Request area(kCardFrameCommand);
  ByteCursor answer(nullptr, 0);
  const int16_t result = receive(area, kDefaultTimeoutMs, 1, &answer);
  return take_length_form(result, answer, databuffer, rlen);
}

int16_t M6Device::pro_commandsource(int32_t, uint8_t slen, const unsigned char* sendbuffer,
                                    uint8_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  if (rlen == nullptr || databuffer == nullptr) return -1;
  int16_t result = send_card_frame(slen, sendbuffer, timeout, kDefaultTimeoutMs);
  if (result != 0) return result;
  M6Request area(kCardFrameCommand);
  ByteCursor answer(nullptr, 0);
  int32_t received = 0;
  result = receive(area, card_timeout_ms(timeout), 1, &answer, &received);
  // A reply that did not come, or came spoiled, is waited for once more.
  if (result != 0 && received < 0)
    result = receive(area, card_timeout_ms(timeout), 1, &answer);
  return take_length_form(result, answer, databuffer, rlen);
}

int16_t M6Device::pro_commandsourcehex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                       uint8_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* frame, uint8_t* length, uint8_t* reply) {
                         return self.pro_commandsource(icdev, slen, frame, length, reply,
                                                       timeout);
                       });
}

int16_t M6Device::pro_commandsource_int(int32_t, int32_t slen, const unsigned char* sendbuffer,
                                        int32_t* rlen, unsigned char* databuffer,
                                        uint8_t timeout) {
  if (slen < 0 || slen > kReportFrameMax) return -1;
  M6Request request(kCardFrameReport);
  request.u8(timeout).bytes(sendbuffer, size_t(slen));
  return report_reply(request, card_timeout_ms(timeout), databuffer, rlen);
}

int16_t M6Device::pro_halt(int32_t icdev) {
  ReaderDevice& self = *this;
  uint8_t length = 0;
  uint8_t scratch[kNarrowReplyMax];
  return self.pro_commandsource(icdev, sizeof kDeselect, kDeselect, &length, scratch,
                                kHaltTimeout);
}

// --- the host's block protocol ---

BlockChainer::Channel M6Device::frame_channel(int32_t icdev) {
  return {[this, icdev](const uint8_t* block, size_t length, uint8_t timeout, uint8_t* reply,
                        size_t* reply_length) {
            ReaderDevice& self = *this;
            uint8_t got = 0;
            const int16_t result =
                self.pro_commandsource(icdev, uint8_t(length), block, &got, reply, timeout);
            *reply_length = got;
            return result;
          },
          kFrameMax};
}

BlockChainer::Channel M6Device::report_channel(int32_t icdev) {
  return {[this, icdev](const uint8_t* block, size_t length, uint8_t timeout, uint8_t* reply,
                        size_t* reply_length) {
            ReaderDevice& self = *this;
            int32_t got = 0;
            const int16_t result = self.pro_commandsource_int(icdev, int32_t(length), block, &got,
                                                              reply, timeout);
            *reply_length = result == 0 ? size_t(got) : 0;
            return result;
          },
          size_t(kReportFrameMax)};
}

int16_t M6Device::pro_commandlink(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                                  uint8_t* rlen, unsigned char* databuffer, uint8_t timeout,
                                  uint8_t fg) {
  return link(frame_channel(icdev), sendbuffer, slen,
              {fg, timeout, true, size_t(kNarrowReplyMax)}, rlen, databuffer);
}

int16_t M6Device::pro_commandlink_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                      uint8_t* rlen, char* databuffer, uint8_t timeout,
                                      uint8_t fg) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.pro_commandlink(icdev, slen, apdu, length, reply, timeout,
                                                     fg);
                       });
}

int16_t M6Device::pro_command(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                              uint8_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return self.pro_commandlink(icdev, slen, sendbuffer, rlen, databuffer, timeout,
                              kLinkFg);
}

int16_t M6Device::pro_commandhex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                 uint8_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.pro_command(icdev, slen, apdu, length, reply, timeout);
                       });
}

// --- DESFire ---

CardFrameExchange M6Device::whole_card_frames(int32_t icdev) {
  return [this, channel = frame_channel(icdev)](const uint8_t* frame, size_t length,
                                                 uint8_t* reply, size_t* reply_length) {
    return link(channel, frame, int64_t(length),
                {kLinkFg, kCardFlowTimeout, false, kCardFlowAnswerMax}, reply_length, reply);
  };
}

int16_t M6Device::mfdes_auth(int32_t icdev, uint8_t keyno, uint8_t keylen,
                             const unsigned char* authkey, const unsigned char* rand_a,
                             unsigned char* rand_b) {
  return desfire_authenticate(whole_card_frames(icdev), keyno, authkey, keylen, rand_a, rand_b);
}

int16_t M6Device::mfdes_auth_hex(int32_t icdev, uint8_t keyno, uint8_t keylen,
                                 const char* authkey, const char* rand_a, char* rand_b) {
  return desfire_auth_hex_twin(*this, icdev, keyno, keylen, authkey, rand_a, rand_b);
}

int16_t M6Device::mfdes_baud(int32_t icdev, uint8_t mode, uint8_t para) {
  int16_t result = -1;
  if (para & kParaCard) {
    if (mode >= sizeof kPpsRates) return -1;
    const uint8_t pps[3] = {kPps[0], kPps[1], kPpsRates[mode]};
    uint8_t length = 0;
    uint8_t answer[kNarrowReplyMax];
    ReaderDevice& self = *this;
    result = self.pro_commandsource(icdev, sizeof pps, pps, &length, answer, kCardFlowTimeout);
    if (result != 0) return result;
    if (length != 1 && !(length > 1 && answer[0] == kPps[0])) return -1;
  }
  if (para & kParaReader) result = status_command(kReaderBaud, {mode});
  return result;
}
