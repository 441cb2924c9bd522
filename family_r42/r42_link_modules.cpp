// Modules the host reaches through reader commands: the Bluetooth module
// (0x2000-0x200F), the wireless network module (0x2600-0x261F), the GPS
// receiver, the fingerprint module, the SMS sender, the APDU form of the
// 2.4 GHz link, and the identity-card security module (its serial number,
// the card's fingerprint data and the combined card read).
#include <cstdio>
#include <cstring>

#include "connection/radio24_module.h"
#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"
#include "family_r42/security_module.h"

namespace {

constexpr int32_t kTcpOpenTimeoutMs = 180000;
constexpr int32_t kCardPartsTimeoutMs = 20000;
// Seconds byte and length BE16 before the fingerprint module's request.
constexpr size_t kFingerprintRequestMax = kR42LongBufferSize - r42_cmd::kReplyHead - 3;
// The SMS length field counts the two tags and the two BE32 lengths too.
constexpr size_t kSmsFieldOverhead = 16;
constexpr size_t kSmsMax = kR42LongBufferSize - 5;
constexpr uint32_t kSmsPhoneTag = 1;
constexpr uint32_t kSmsTextTag = 2;
constexpr size_t kCardPartsCapacity = 4096;
constexpr size_t kCardParts = 4;
constexpr uint8_t kRead = 0x00;
constexpr uint8_t kWrite = 0x01;
constexpr uint8_t kRest = 0x00;
// The 2.4 GHz command carries APDUs of up to this length behind their head.
constexpr int32_t kRadioApduMax = 2035;
// Where the fingerprint read's answer sits in the reply payload (from reply
// byte 3): the reader's length, the module frame's preamble, length and
// status bytes, then the text, photo and fingerprint lengths.
constexpr size_t kFingerAnswerAt = 2 + 5 + 2 + 3;
constexpr size_t kModuleSerialSize = 16;
constexpr size_t kModuleSerialText = 45;

// Reply bytes: status word and spare byte, then these.
constexpr size_t kSignalReply = r42_cmd::kReplyHead + 3;      // state, value BE16
constexpr size_t kAddressReply = r42_cmd::kReplyHead + 1;     // length, bytes

}  // namespace

// --- Bluetooth module and power ---

int16_t R42Device::bt_byte_setting(uint16_t code, uint8_t flag, uint8_t* value) {
  if (value == nullptr) return -1;
  if (flag != kRead) return status_command(code, {flag, *value});
  R42Request request(code);
  request.u8(kRead);
  return byte_reply(request, {value});
}

int16_t R42Device::bt_text_setting(uint16_t code, uint8_t flag, char* value) {
  if (value == nullptr) return -1;
  R42Request request(code);
  if (flag == kRead) {
    request.u8(kRead);
    return text_reply(request, kR42DefaultTimeoutMs, reinterpret_cast<uint8_t*>(value),
                      kR42ReplyDataMax);
  }
  request.u8(flag).text(value);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::BtModeControl(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kBtMode, {mode});
}

int16_t R42Device::BtBaudrateControl(int32_t, uint8_t flag, uint8_t* value) {
  return bt_byte_setting(r42_cmd::kBtBaudrate, flag, value);
}

int16_t R42Device::BtPasswordControl(int32_t, uint8_t flag, char* value) {
  return bt_text_setting(r42_cmd::kBtPassword, flag, value);
}

int16_t R42Device::BtAddressControl(int32_t, uint8_t flag, uint8_t* length,
                                    unsigned char* value) {
  if (length == nullptr || value == nullptr) return -1;
  R42Request request(r42_cmd::kBtAddress);
  if (flag != kRead) {
    request.u8(flag).u8_counted(value, *length);
    return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
  }
  request.u8(kRead);
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, kR42DefaultTimeoutMs, kAddressReply, &reply);
  if (result != 0) return result;
  uint8_t count = 0;
  if (!reply.u8(count) || count > reply.remaining()) return -1;
  *length = count;
  reply.take(value, count);
  return 0;
}

int16_t R42Device::BtNameControl(int32_t, uint8_t flag, char* value) {
  return bt_text_setting(r42_cmd::kBtName, flag, value);
}

int16_t R42Device::BtUserControl(int32_t, uint8_t flag, int32_t offset, int32_t length,
                                 unsigned char* value) {
  if (value == nullptr && (flag == kRead || length > 0)) return -1;
  R42Request request(r42_cmd::kBtUserArea);
  request.u8(flag).checked_u8(offset).checked_u8(length);
  if (flag != kRead) {
    if (!request.overflowed()) request.bytes(value, size_t(length));
    return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
  }
  // The area asked for bounds what the reply may bring.
  int32_t count = 0;
  return counted_reply(request, kR42DefaultTimeoutMs, value, size_t(length < 0 ? 0 : length),
                       &count);
}

int16_t R42Device::BtReset(int32_t) { return status_command(r42_cmd::kBtReset); }

int16_t R42Device::BtCommunicationTest(int32_t, int32_t length, const unsigned char* value) {
  R42Request request(r42_cmd::kBtLoopTest);
  request.u8_counted(value, length);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::BtWithReaderBaudrateControl(int32_t, uint8_t flag, uint8_t* value) {
  return bt_byte_setting(r42_cmd::kBtReaderBaudrate, flag, value);
}

int16_t R42Device::BtCommand(int32_t, int32_t slen, const unsigned char* sdata, int32_t* rlen,
                             unsigned char* rdata) {
  if (!channel_input_ok(slen, sdata)) return -1;
  R42Request request(r42_cmd::kBtCommand);
  request.be16(uint16_t(slen)).bytes(sdata, size_t(slen));
  return be16_counted_reply(request, kR42DefaultTimeoutMs, rdata, rlen);
}

int16_t R42Device::ReadModuleMacAddress(int32_t, int32_t type, char* value) {
  R42Request request(r42_cmd::kModuleMacAddress);
  request.u8(kRead).checked_u8(type);
  return text_reply(request, kR42DefaultTimeoutMs, reinterpret_cast<uint8_t*>(value),
                    kR42ReplyDataMax);
}

int16_t R42Device::WriteModuleMacAddress(int32_t, int32_t type, const char* value) {
  R42Request request(r42_cmd::kModuleMacAddress);
  request.u8(kWrite).checked_u8(type).u8_counted_text(value);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::BtSignalStrength(int32_t, uint8_t* state, int16_t* value) {
  if (state == nullptr || value == nullptr) return -1;
  R42Request request(r42_cmd::kBtSignal);
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, kR42DefaultTimeoutMs, kSignalReply, &reply);
  if (result != 0) return result;
  uint8_t link = 0;
  uint16_t strength = 0;
  if (!reply.u8(link) || !reply.be16(strength)) return -1;
  *state = link;
  *value = int16_t(strength);
  return 0;
}

int16_t R42Device::BtDataResponse(int32_t, int32_t* length, unsigned char* value) {
  R42Request request(r42_cmd::kBtReceived);
  return counted_reply(request, kR42DefaultTimeoutMs, value, kR42ReplyDataMax, length);
}

int16_t R42Device::BtDataTransmit(int32_t, int32_t slen, const unsigned char* sdata,
                                  int32_t* rlen, unsigned char* rdata) {
  if (!channel_input_ok(slen, sdata)) return -1;
  R42Request request(r42_cmd::kBtTransmit);
  request.bytes(sdata, size_t(slen));
  return counted_reply(request, kR42DefaultTimeoutMs, rdata, kR42ReplyDataMax, rlen);
}

int16_t R42Device::RestDevice(int32_t) { return status_command(r42_cmd::kWake, {kRest}); }

int16_t R42Device::GetBatteryValue(int32_t, uint8_t* value) {
  R42Request request(r42_cmd::kBattery);
  return byte_reply(request, {value});
}

// --- wireless network module and GPS ---

int16_t R42Device::WirelessPowerControl(int32_t, uint8_t value) {
  return status_command(r42_cmd::kWirelessPower, {value});
}

int16_t R42Device::WirelessTcpOpen(int32_t, uint8_t type, const char* network_address,
                                   const char* network_port) {
  R42Request request(r42_cmd::kTcpOpen);
  request.u8(type).u8_counted_text(network_address).u8_counted_text(network_port);
  return exchange(request, kTcpOpenTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::WirelessTcpClose(int32_t) { return status_command(r42_cmd::kTcpClose); }

int16_t R42Device::WirelessGetStatus(int32_t, uint8_t* value) {
  R42Request request(r42_cmd::kWirelessStatus);
  return byte_reply(request, {value});
}

int16_t R42Device::WirelessSend(int32_t, uint8_t type, const unsigned char* data_buffer,
                                int32_t data_len) {
  return data_command(r42_cmd::kWirelessSend, {type}, data_buffer, data_len);
}

int16_t R42Device::WirelessRecv(int32_t, uint8_t type, uint8_t mode, uint8_t time_100ms,
                                unsigned char* data_buffer, int32_t* data_len) {
  R42Request request(r42_cmd::kWirelessReceive);
  request.u8(type).u8(mode).u8(time_100ms);
  // The module's own wait comes first; the reply may take that long.
  const int32_t timeout_ms = int32_t(time_100ms) * 100 + kR42DefaultTimeoutMs;
  return counted_reply(request, timeout_ms, data_buffer, kR42ReplyDataMax, data_len);
}

int16_t R42Device::WirelessWifiConfig(int32_t, uint8_t type, const char* ssid,
                                      const char* password) {
  R42Request request(r42_cmd::kWifiConfig);
  request.u8(type).u8_counted_text(ssid).u8_counted_text(password);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::TcpGetInfo(int32_t, uint8_t type, unsigned char* data_buffer,
                              int32_t* data_len) {
  R42Request request(r42_cmd::kTcpInfo);
  request.u8(type);
  return counted_reply(request, kR42DefaultTimeoutMs, data_buffer, kR42ReplyDataMax, data_len);
}

int16_t R42Device::GpsGetInfo(int32_t, int32_t time_ms, unsigned char* data_buffer,
                              int32_t* data_len) {
  if (!R42Request::fits_u16(time_ms)) return -1;
  R42Request request(r42_cmd::kGpsInfo);
  request.be16(uint16_t(time_ms));
  return counted_reply(request, time_ms + kR42DefaultTimeoutMs, data_buffer, kR42ReplyDataMax,
                       data_len);
}

// --- other modules ---

int16_t R42Device::fingerprint_io_control(int32_t, uint8_t ctime, const unsigned char* request,
                                          int32_t request_len, unsigned char* response,
                                          int32_t* response_len) {
  if (request_len < 0 || size_t(request_len) > kFingerprintRequestMax ||
      (request == nullptr && request_len > 0))
    return -1;
  R42Request command(r42_cmd::kFingerprintModule, kR42LongBufferSize);
  command.u8(ctime).be16(uint16_t(request_len)).bytes(request, size_t(request_len));
  return be16_counted_reply(command, reader_wait_timeout(ctime), response, response_len);
}

int16_t R42Device::send_sms(int32_t, const char* phone_no, const char* sms_content) {
  if (phone_no == nullptr || sms_content == nullptr) return -1;
  const size_t phone = strnlen(phone_no, kSmsMax + 1);
  const size_t text = strnlen(sms_content, kSmsMax + 1);
  const size_t field = phone + text + kSmsFieldOverhead;
  if (field > kSmsMax) return -1;
  R42Request request(r42_cmd::kSendSms, kR42LongBufferSize);
  request.be16(uint16_t(field))
      .be32(kSmsPhoneTag)
      .be32(uint32_t(phone))
      .bytes(phone_no, phone)
      .be32(kSmsTextTag)
      .be32(uint32_t(text))
      .bytes(sms_content, text);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::op_2dot4Apdu(int32_t icdev, int32_t slen, const unsigned char* sendbuffer,
                                int32_t* rlen, unsigned char* databuffer) {
  return radio24_apdu(*this, icdev, slen, sendbuffer, kRadioApduMax, rlen, databuffer);
}

int16_t R42Device::op_2dot4Apdu_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                    int32_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.op_2dot4Apdu(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::getfingerdata(int32_t, int32_t* length, char* data) {
  if (length == nullptr || data == nullptr) return -1;
  using namespace security_module;
  // Search, select, then read text, photo and fingerprint; the answer
  // frames are taken as they come.
  for (uint16_t command : {kFindCard, kSelectCard, kReadTextPhotoFinger}) {
    R42Request request(r42_cmd::kIdModuleTunnel, kR42LongBufferSize);
    build_request(request, command, nullptr, 0);
    ByteCursor payload(nullptr, 0);
    const int16_t result =
        exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly, &payload);
    if (result != 0) return result;
    if (command != kReadTextPhotoFinger) continue;
    uint16_t text = 0, photo = 0, finger = 0;
    if (!payload.skip(kFingerAnswerAt) || !payload.be16(text) || !payload.be16(photo) ||
        !payload.be16(finger) || !payload.skip(size_t(text) + photo) ||
        payload.remaining() < finger)
      return -1;
    hex_twin_output(payload.here(), finger, data);
    *length = 2 * int32_t(finger);
  }
  return 0;
}

int16_t R42Device::SamAReadSerialNumber(int32_t icdev, char* number) {
  if (number == nullptr) return -1;
  ReaderDevice& self = *this;
  uint8_t answer[kR42LongBufferSize];
  int32_t rlen = 0;
  if (self.SamAControl(icdev, security_module::kSerialNumber, 0, nullptr, &rlen, answer) != 0 ||
      rlen < int32_t(kModuleSerialSize) || size_t(rlen) > sizeof answer)
    return -1;
  ByteCursor serial(answer, kModuleSerialSize);
  uint16_t a = 0, b = 0;
  uint32_t c = 0, d = 0, e = 0;
  serial.le16(a);
  serial.le16(b);
  serial.le32(c);
  serial.le32(d);
  serial.le32(e);
  std::snprintf(number, kModuleSerialText, "%02u.%02u-%08u-%010u-%010u", unsigned(a),
                unsigned(b), unsigned(c), unsigned(d), unsigned(e));
  return 0;
}

int16_t R42Device::IdCardReadCardInfo(int32_t, uint8_t mode, uint8_t type, int32_t* text_len,
                                      unsigned char* text, int32_t* photo_len,
                                      unsigned char* photo, int32_t* fingerprint_len,
                                      unsigned char* fingerprint, int32_t* extra_len,
                                      unsigned char* extra) {
  int32_t* const lengths[kCardParts] = {text_len, photo_len, fingerprint_len, extra_len};
  unsigned char* const parts[kCardParts] = {text, photo, fingerprint, extra};
  if (type != 0) {
    for (size_t i = 0; i < kCardParts; ++i)
      if (lengths[i] == nullptr || parts[i] == nullptr) return -1;
  }
  R42Request request(r42_cmd::kIdReadParts, kCardPartsCapacity);
  request.u8(mode).u8(type);
  ByteCursor reply(nullptr, 0);
  int32_t received = -1;
  const int16_t result =
      exchange(request, kCardPartsTimeoutMs, r42_cmd::kReplyHead, &reply, &received);
  // The reply's length counts before its status.
  if (result == -2 && received < int32_t(r42_cmd::kReplyHead)) return -1;
  if (result != 0) return result;
  if (type == 0) {
    // Nothing is read, and the lengths say so: a caller (or the call trace)
    // that reads a buffer by its length reads none of it.
    for (int32_t* length : lengths)
      if (length != nullptr) *length = 0;
    return 0;
  }
  uint16_t sizes[kCardParts] = {};
  size_t total = 0;
  for (uint16_t& size : sizes) {
    if (!reply.be16(size)) return -1;
    total += size;
  }
  if (total > reply.remaining()) return -1;
  for (size_t i = 0; i < kCardParts; ++i) {
    reply.take(parts[i], sizes[i]);
    *lengths[i] = sizes[i];
  }
  return 0;
}
