// Card presence, the selection variants, the type-B request frame and the
// serial number of the resident identity card, read over its type-B
// interface. Composite operations call their steps through the device
// interface with the caller's handle.
#include <cstring>

#include "connection/card_io.h"
#include "connection/reader_waits.h"
#include "connection/sector_card_flows.h"
#include "family_m6/m6_device.h"
#include "platform/text_helpers.h"

namespace {

constexpr uint8_t kCardStatus = 0xEF;
constexpr uint8_t kKeyPad = 0x01;
constexpr uint8_t kMulticardStatus = 0x4F;
constexpr uint8_t kAnticollMode = 0x59;
constexpr uint8_t kSelectMode = 0x5A;
constexpr uint8_t kRequestB = 0x88;
constexpr uint8_t kNtagCommand = 0x8B;
constexpr uint8_t kCheckCopy = 0xEC;

// The key pad's value request after its time-out byte.
constexpr uint8_t kKeyPadValue[2] = {0x01, 0x82};

// REQB's PARAM: bit 3 asks every card (wake-up), not only idle ones.
constexpr uint8_t kRequestBWakeUp = 0x08;

// MulticardStatus states and results.
constexpr uint8_t kNoCardState = 0;
constexpr uint8_t kOneCardState = 1;
constexpr uint8_t kManyCardsState = 2;
constexpr int16_t kNoCardResult = 1;
constexpr int16_t kManyCardsResult = 2;

constexpr int32_t kIdCardInfoLength = 5;
// ReadIdCardInfo hands whole seconds to the one-byte read time.
constexpr int32_t kIdCardInfoMaxMs = 256 * 1000;

constexpr size_t kLongUidSize = 7;
// NtagCommand: [8B][type][mode][data] must fit one command frame.
constexpr int32_t kNtagDataMax = 253;

// The identity card's frames: REQB with AFI 0, its ATTRIB, and the serial
// request; each with the time-out byte the card needs.
constexpr uint8_t kIdReqb[] = {0x05, 0x00, 0x00};
constexpr uint8_t kIdReqbTimeout = 3;
constexpr uint8_t kIdAttrib[] = {0x1D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x01, 0x08};
constexpr uint8_t kIdAttribTimeout = 5;
constexpr uint8_t kIdSerialRequest[] = {0x00, 0x36, 0x00, 0x00, 0x08};
constexpr uint8_t kIdSerialTimeout = 7;
constexpr size_t kIdSerialSize = 8;
// The serial answer: 8 bytes and the status word 90 00.
constexpr uint8_t kIdSerialAnswerLength = 10;
constexpr uint8_t kStatusWordOk = 0x90;

// ATTRIB's param 2 on readers whose newer version carries its frames.
constexpr uint8_t kAttribParam2Newer = 0x08;

}  // namespace

int16_t M6Device::card_status(int32_t) {
  M6Request request(kCardStatus);
  return byte_result(request);
}

int16_t M6Device::checkcopy_m1(int32_t, uint8_t mode) {
  M6Request request(kCheckCopy);
  request.u8(mode);
  return byte_result(request);
}

int16_t M6Device::card_n(int32_t icdev, uint8_t mode, int32_t* snr_len, unsigned char* snr) {
  if (snr_len == nullptr || snr == nullptr) return -1;
  uint8_t uid[kLongUidSize];
  size_t length = 0;
  const int16_t result = sector_flow::card_uid(*this, icdev, mode, uid, &length);
  if (result != 0) return result;
  std::memcpy(snr, uid, length);
  *snr_len = int32_t(length);
  return 0;
}

int16_t M6Device::card_n_hex(int32_t icdev, uint8_t mode, int32_t* snr_len, char* snr) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kLongUidSize, snr_len, snr, [&](int32_t* length, uint8_t* uid) {
    return self.card_n(icdev, mode, length, uid);
  });
}

int16_t M6Device::pass_key_value(int32_t, uint8_t timeout, char* value) {
  if (value == nullptr) return -1;
  M6Request request(kKeyPad);
  request.u8(timeout).bytes(kKeyPadValue, sizeof kKeyPadValue);
  uint8_t length = 0;
  const int16_t result = length_reply(request, reader_wait_timeout(timeout),
                                      reinterpret_cast<uint8_t*>(value), &length);
  if (result == 0) value[length] = '\0';
  return result;
}

int16_t M6Device::down_4428(int32_t icdev) {
  ReaderDevice& self = *this;
  return self.cpudown(icdev);
}

int16_t M6Device::down_4442(int32_t icdev) {
  ReaderDevice& self = *this;
  return self.cpudown(icdev);
}

int16_t M6Device::MulticardStatus(int32_t, uint8_t* type) {
  if (type == nullptr) return -1;
  M6Request request(kMulticardStatus);
  uint8_t state = 0, card_type = 0;
  const int16_t result = byte_reply(request, {&state, &card_type});
  if (result != 0) return result;
  switch (state) {
    case kNoCardState:
      return kNoCardResult;
    case kOneCardState:
      *type = card_type;
      return 0;
    case kManyCardsState:
      return kManyCardsResult;
    default:
      return -1;
  }
}

int16_t M6Device::ReadIdCardInfo(int32_t icdev, int32_t time_ms, int32_t* rlen,
                                 unsigned char* rdata) {
  if (time_ms < 0 || time_ms >= kIdCardInfoMaxMs || rlen == nullptr || rdata == nullptr)
    return -1;
  ReaderDevice& self = *this;
  const int16_t result = self.read_idcard(icdev, uint8_t(time_ms / 1000), rdata);
  if (result == 0) *rlen = kIdCardInfoLength;
  return result;
}

int16_t M6Device::ReadRfTypeABATS(int32_t, int32_t* ats_len, unsigned char* ats) {
  if (ats_len == nullptr || ats == nullptr) return -1;
  const uint32_t length = state_.ats_length < sizeof state_.last_ats ? state_.ats_length
                                                                      : sizeof state_.last_ats;
  std::memcpy(ats, state_.last_ats, length);
  *ats_len = int32_t(length);
  return 0;
}

int16_t M6Device::ReadRfTypeABATS_hex(int32_t icdev, int32_t* ats_len, char* ats) {
  ReaderDevice& self = *this;
  return reply_hex_twin(sizeof state_.last_ats, ats_len, ats, [&](int32_t* length,
                                                                 uint8_t* bytes) {
    return self.ReadRfTypeABATS(icdev, length, bytes);
  });
}

int16_t M6Device::anticoll_mode(int32_t, uint8_t mode, uint8_t bcnt, int32_t* snr) {
  if (snr == nullptr) return -1;
  M6Request request(kAnticollMode);
  request.u8(mode).u8(bcnt).le32(uint32_t(*snr));
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, kDefaultTimeoutMs, 4, &answer);
  if (result != 0) return result;
  uint32_t serial = 0;
  answer.le32(serial);
  *snr = int32_t(serial);
  return 0;
}

int16_t M6Device::select_mode(int32_t, uint8_t mode, int32_t snr, uint8_t* size) {
  M6Request request(kSelectMode);
  request.le32(uint32_t(snr)).u8(mode);
  return byte_reply(request, {size});
}

int16_t M6Device::NtagCommand(int32_t, uint8_t type, uint8_t mode, int32_t slen,
                              const unsigned char* sdata, int32_t* rlen, unsigned char* rdata) {
  if (slen < 0 || slen > kNtagDataMax || (sdata == nullptr && slen > 0)) return -1;
  M6Request request(kNtagCommand);
  request.u8(type).u8(mode).bytes(sdata, size_t(slen));
  return counted_reply(request, kDefaultTimeoutMs, rdata, kReplyCapacity - 1, rlen);
}

// --- type B ---

int16_t M6Device::request_b_frame(uint8_t mode, uint8_t afi, uint8_t n, uint8_t* atqb) {
  M6Request request(kRequestB);
  request.u8(mode & 0x01 ? kRequestBWakeUp : 0x00).u8(afi).u8(n);
  uint8_t answer[kAtqbSize + 1] = {};
  const int16_t result = fixed_reply(request, answer, kAtqbSize);
  if (result != 0) return result;
  std::memcpy(atqb, answer, sizeof answer);
  state_.tcl_block_state = BlockChainer::kStateAfterActivation;
  std::memcpy(state_.last_ats, answer, sizeof answer);
  state_.ats_length = sizeof answer;
  return 0;
}

int16_t M6Device::attribInt(int32_t icdev, const unsigned char* pupi, uint8_t cid) {
  if (!newer_version()) {
    ReaderDevice& self = *this;
    return self.attrib(icdev, pupi, cid);
  }
  return send_attrib(icdev, pupi, kAttribParam2Newer, cid);
}

// --- identity card ---

int16_t M6Device::get_idsnr(int32_t icdev, unsigned char* data) {
  if (data == nullptr) return -1;
  ReaderDevice& self = *this;
  int16_t result = self.reset(icdev, kCardFieldResetMs);
  if (result == 0) result = self.config_card(icdev, kTypeB);
  if (result != 0) return result;
  uint8_t length = 0;
  uint8_t answer[kNarrowReplyMax];
  auto frame = [&](const uint8_t* bytes, size_t size, uint8_t timeout) {
    return self.pro_commandsource(icdev, uint8_t(size), bytes, &length, answer, timeout);
  };
  result = frame(kIdReqb, sizeof kIdReqb, kIdReqbTimeout);
  if (result == 0) result = frame(kIdAttrib, sizeof kIdAttrib, kIdAttribTimeout);
  if (result == 0) result = frame(kIdSerialRequest, sizeof kIdSerialRequest, kIdSerialTimeout);
  if (result != 0) return result;
  // The serial and 90 00; a shorter answer counts only with the 90 in place.
  const bool whole = length == kIdSerialAnswerLength ||
                     (length > kIdSerialSize && answer[kIdSerialSize] == kStatusWordOk);
  if (!whole) return -1;
  std::memcpy(data, answer, kIdSerialSize);
  return 0;
}

int16_t M6Device::get_idsnr_hex(int32_t icdev, char* data) {
  return block_out_twin(*this, &ReaderDevice::get_idsnr, kIdSerialSize, data, icdev);
}

int16_t M6Device::getuid_i_d(int32_t icdev, unsigned char* uid) {
  ReaderDevice& self = *this;
  return self.get_idsnr(icdev, uid);
}
