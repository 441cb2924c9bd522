// The motorised self-service card device, contact-card states, contactless
// extras (RF front-end settings, several cards and antennas in the field),
// NFC peer mode and the second APDU channel (the cpy commands, which reach
// the contact card with 0xD011 and the contactless card with 0xD012).
#include <cstring>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"
#include "platform/apdu_follow_up.h"

namespace {

constexpr int32_t kRecoverTimeoutMs = 10000;
constexpr int32_t kContactApduTimeoutMs = 60000;
// The card-status commands answer with these reader statuses.
constexpr uint32_t kSensorsBlocked = 0x0900;
// NfcFetch: the reader had nothing from the peer.
constexpr uint32_t kNfcNothingReceived = 0x0001;
constexpr size_t kChipRegisterSize = 11;
constexpr size_t kMultiCardRecord = 256;
constexpr size_t kCpyKeySize = 16;
constexpr uint8_t kCpyReadKey = 0x00;
constexpr uint8_t kCpySetKey = 0x10;
constexpr size_t kIdUidSize = 8;
// Reply bytes: status word and spare byte, then these.
constexpr size_t kMultiCardReply = r42_cmd::kReplyHead + 2;      // state, type
constexpr size_t kAntennaMaskReply = r42_cmd::kReplyHead + 4;    // mask BE32
constexpr size_t kNfcReceiveReply = r42_cmd::kReplyHead + 1;     // flag, data

}  // namespace

// --- self-service card device ---

int16_t R42Device::SelfServiceDeviceCardStatus(int32_t, uint8_t* pos) {
  R42Request request(r42_cmd::kCardDevicePosition);
  return byte_reply(request, {pos});
}

int16_t R42Device::SelfServiceDeviceCardInject(int32_t, uint8_t time_s, uint8_t mode) {
  return map_status(status_command(r42_cmd::kCardDeviceInject, {time_s, mode},
                                   reader_wait_timeout(time_s)),
                    {{0x0901, 1}, {0x0902, 2}, {0x0903, 3}, {0x0904, 4}, {0x0905, 5},
                     {0x0906, 6}});
}

int16_t R42Device::SelfServiceDeviceCardEject(int32_t, uint8_t time_s, uint8_t mode) {
  return map_status(status_command(r42_cmd::kCardDeviceEject, {time_s, mode},
                                   reader_wait_timeout(time_s)),
                    {{0x0907, 1}, {0x0902, 2}, {0x0904, 3}, {0x0908, 4}, {0x0909, 5}});
}

int16_t R42Device::SelfServiceDeviceCardMove(int32_t, uint8_t time_s, uint8_t mode) {
  return map_status(status_command(r42_cmd::kCardDeviceMove, {time_s, mode},
                                   reader_wait_timeout(time_s)),
                    {{0x0907, 1}, {0x0902, 2}, {0x0904, 3}, {0x0909, 4}});
}

int16_t R42Device::SelfServiceDeviceSensorStatus(int32_t, uint8_t* value) {
  R42Request request(r42_cmd::kCardDeviceSensors);
  return map_status(byte_reply(request, {value}), {{kSensorsBlocked, 1}});
}

int16_t R42Device::SelfServiceDeviceConfig(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kCardDeviceConfig, {mode});
}

int16_t R42Device::SelfServiceDeviceConfigFront(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kCardDeviceFrontConfig, {mode});
}

int16_t R42Device::SelfServiceDeviceConfigBack(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kCardDeviceBackConfig, {mode});
}

int16_t R42Device::SelfServiceDeviceConfigPlace(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kCardDevicePlaceConfig, {mode});
}

int16_t R42Device::SelfServiceDeviceCheckCardType(int32_t) {
  R42Request request(r42_cmd::kCardDeviceCardType);
  return byte_result(request);
}

int16_t R42Device::SelfServiceDeviceReset(int32_t) {
  return status_command(r42_cmd::kCardDeviceReset);
}

int16_t R42Device::SelfServiceDeviceWriteMagConfig(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kSelfServiceMagConfig, {mode});
}

int16_t R42Device::SelfServiceDeviceShakeConfig(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kCardDeviceShake, {mode});
}

int16_t R42Device::SelfServiceDeviceSetFrontSwitch(int32_t icdev, uint8_t mode) {
  int16_t result = status_command(r42_cmd::kCardDeviceSetFront, {mode});
  if (result != 0) return result;
  ReaderDevice& self = *this;
  uint8_t read_back = 0;
  result = self.SelfServiceDeviceGetFrontSwitch(icdev, &read_back);
  if (result != 0) return result;
  return read_back == mode ? 0 : -1;
}

int16_t R42Device::SelfServiceDeviceGetFrontSwitch(int32_t, uint8_t* mode) {
  R42Request request(r42_cmd::kCardDeviceGetFront);
  return byte_reply(request, {mode});
}

int16_t R42Device::SelfServiceDeviceRecoverError(int32_t, uint8_t type) {
  return status_command(r42_cmd::kCardDeviceRecover, {type}, kRecoverTimeoutMs);
}

// --- contact-card states ---

int16_t R42Device::card_status2(int32_t, uint8_t* pos) {
  R42Request request(r42_cmd::kContactCardPosition);
  return status_flag_result(byte_reply(request, {pos}));
}

int16_t R42Device::card_make_and_lock(int32_t, uint8_t flag) {
  return status_flag_result(status_command(r42_cmd::kCardMakeAndLock, {flag}));
}

int16_t R42Device::CpuCardStatus(int32_t) {
  const int16_t result =
      map_status(status_command(r42_cmd::kContactCardState, {contact_slot_}),
                 {{0x0302, 1}, {0x0301, 2}, {0x1004, 3}, {0x1003, 4}});
  // Every other status, success included, reads as 0.
  return result == -2 ? 0 : result;
}

// --- contactless extras ---

int16_t R42Device::anticoll_mode(int32_t, uint8_t mode, uint8_t, int32_t* snr) {
  if (snr == nullptr) return -1;
  R42Request request(r42_cmd::kAnticollision);
  request.u8(mode);
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, kR42DefaultTimeoutMs, r42_cmd::kAnticollisionReply,
                                  &reply);
  if (result != 0) return result;
  uint32_t serial = 0;
  // The UID's bytes in the order they arrive, the first least significant.
  if (!reply.skip(1) || !reply.le32(serial)) return -1;
  *snr = int32_t(serial);
  return 0;
}

int16_t R42Device::select_mode(int32_t, uint8_t mode, int32_t snr, uint8_t* size) {
  const uint32_t serial = uint32_t(snr);
  const uint8_t uid[4] = {uint8_t(serial), uint8_t(serial >> 8), uint8_t(serial >> 16),
                          uint8_t(serial >> 24)};
  R42Request request(r42_cmd::kSelect);
  request.u8(mode).u8(sizeof uid).bytes(uid, sizeof uid);
  return byte_reply(request, {size});
}

int16_t R42Device::RfGetCardType(int32_t) {
  R42Request request(r42_cmd::kRfCardType);
  return byte_result(request);
}

int16_t R42Device::RfWaveControl(int32_t, uint8_t mode) {
  return status_command(r42_cmd::kRfWave, {mode});
}

int16_t R42Device::RfReadChipRegister(int32_t, unsigned char* register_data) {
  R42Request request(r42_cmd::kReadChipRegisters);
  return fixed_reply(request, register_data, kChipRegisterSize);
}

int16_t R42Device::RfSetChipRegister(int32_t, uint8_t register_type, uint8_t register_value) {
  return status_command(r42_cmd::kSetChipRegister, {register_type, register_value});
}

int16_t R42Device::ReadRfCfgReg(int32_t, int32_t type, int32_t number, int32_t* value) {
  if (value == nullptr) return -1;
  R42Request request(r42_cmd::kReadRfConfig);
  request.checked_u8(type).checked_u8(number);
  uint8_t byte = 0;
  const int16_t result = byte_reply(request, {&byte});
  if (result == 0) *value = byte;
  return result;
}

int16_t R42Device::WriteRfCfgReg(int32_t, int32_t type, int32_t number, int32_t value) {
  R42Request request(r42_cmd::kWriteRfConfig);
  request.checked_u8(type).checked_u8(number).checked_u8(value);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::RfCrcModeConfig(int32_t, uint8_t tx_crc, uint8_t rx_crc) {
  return status_command(r42_cmd::kRfCrcMode, {tx_crc, rx_crc});
}

int16_t R42Device::RfFormatConfig(int32_t, int32_t mode, int32_t block_number, int32_t offset,
                                  int32_t length) {
  R42Request request(r42_cmd::kRfFormat);
  request.checked_u8(mode).checked_u8(block_number).checked_u8(offset).checked_u8(length);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::RfMarch(int32_t) { return status_command(r42_cmd::kRfMarch); }

int16_t R42Device::ReadRfTypeABATS(int32_t, int32_t* ats_len, unsigned char* ats) {
  R42Request request(r42_cmd::kReadAts);
  return counted_reply(request, kR42DefaultTimeoutMs, ats, kR42ReplyDataMax, ats_len);
}

int16_t R42Device::ReadRfTypeABATS_hex(int32_t icdev, int32_t* ats_len, char* ats) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kR42BufferSize, ats_len, ats, [&](int32_t* length, uint8_t* bytes) {
    return self.ReadRfTypeABATS(icdev, length, bytes);
  });
}

int16_t R42Device::MulticardStatus(int32_t, uint8_t* type) {
  if (type == nullptr) return -1;
  R42Request request(r42_cmd::kMultiCardStatus);
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, kR42DefaultTimeoutMs, kMultiCardReply, &reply);
  if (result != 0) return result;
  uint8_t state = 0, kind = 0;
  if (!reply.u8(state) || !reply.u8(kind)) return -1;
  switch (state) {
    case 0:  // no card
      return 1;
    case 1:
      *type = kind;
      return 0;
    case 2:
      return 2;
    default:
      return -1;
  }
}

int16_t R42Device::RequestMultiCard(int32_t, unsigned char* uid_data) {
  R42Request request(r42_cmd::kRequestMultiCard);
  int32_t length = 0;
  return counted_reply(request, kR42DefaultTimeoutMs, uid_data, kMultiCardRecord, &length);
}

int16_t R42Device::ActivateCard(int32_t, uint8_t uid_len, const unsigned char* uid) {
  return data_command(r42_cmd::kActivateCard, {uid_len}, uid, uid_len);
}

int16_t R42Device::RfMultiRequest(int32_t) {
  return map_status(status_command(r42_cmd::kMultiRequest),
                    {{0x0423, 1}, {0x0429, 2}, {0x042A, 3}, {0x042B, 4}, {0x042C, 5},
                     {0x042D, 6}});
}

int16_t R42Device::MultiAntennaStartOrStop(int32_t, uint8_t flag, uint32_t* mask) {
  if (mask == nullptr) return -1;
  R42Request request(r42_cmd::kMultiAntenna);
  request.be32(*mask).u8(flag);
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, kR42DefaultTimeoutMs, kAntennaMaskReply, &reply);
  if (result != 0) return result;
  uint32_t answered = 0;
  if (!reply.be32(answered)) return -1;
  *mask = answered;
  return 0;
}

int16_t R42Device::MultiAntennaGetCardStatus(int32_t, int32_t* rlen, unsigned char* rdata) {
  R42Request request(r42_cmd::kAntennaCardStatus);
  return counted_reply(request, kR42DefaultTimeoutMs, rdata, kR42ReplyDataMax, rlen);
}

int16_t R42Device::SelectAntenna(int32_t, uint8_t number) {
  return status_command(r42_cmd::kSelectAntenna, {number});
}

int16_t R42Device::ReadIdCardInfo(int32_t, int32_t time_ms, int32_t* rlen, unsigned char* rdata) {
  if (!R42Request::fits_u16(time_ms)) return -1;
  R42Request request(r42_cmd::kIdReadRaw);
  request.be16(uint16_t(time_ms));
  return counted_reply(request, time_ms + kR42DefaultTimeoutMs, rdata, kR42ReplyDataMax, rlen);
}

int16_t R42Device::get_idsnr(int32_t icdev, unsigned char* data) {
  ReaderDevice& self = *this;
  return self.getuid_i_d(icdev, data);
}

int16_t R42Device::get_idsnr_hex(int32_t icdev, char* data) {
  if (data == nullptr) return -1;
  ReaderDevice& self = *this;
  uint8_t uid[kIdUidSize];
  const int16_t result = self.get_idsnr(icdev, uid);
  if (result != 0) return result;
  hex_twin_output(uid, sizeof uid, data);
  return 0;
}

int16_t R42Device::attribInt(int32_t, const unsigned char*, uint8_t) { return 0; }

// --- NFC peer mode ---

int16_t R42Device::NfcInit(int32_t) { return status_command(r42_cmd::kNfcInit); }

int16_t R42Device::NfcActivate(int32_t, unsigned char* atr, int32_t* atr_len) {
  R42Request request(r42_cmd::kNfcActivate);
  return counted_reply(request, kR42DefaultTimeoutMs, atr, kR42ReplyDataMax, atr_len);
}

int16_t R42Device::NfcDeactivate(int32_t) { return status_command(r42_cmd::kNfcDeactivate); }

int16_t R42Device::NfcPush(int32_t, const unsigned char* request_data, int32_t request_len) {
  return data_command(r42_cmd::kNfcPush, {}, request_data, request_len);
}

int16_t R42Device::NfcService(int32_t, int32_t flag) {
  R42Request request(r42_cmd::kNfcService);
  request.checked_u8(flag);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::NfcFetch(int32_t, unsigned char* response, int32_t* response_len,
                            int32_t time_ms) {
  if (response == nullptr || response_len == nullptr || time_ms < 0) return -1;
  // Nothing goes out: the area only takes what the reader sends.
  R42Request area(0);
  ByteCursor reply(nullptr, 0);
  const int16_t result = receive(area, time_ms, r42_cmd::kDataReply, &reply);
  if (result == -2) return last_status_ == kNfcNothingReceived ? 2 : 1;
  if (result != 0) return result;
  *response_len = int32_t(reply.remaining());
  reply.take(response, reply.remaining());
  return 0;
}

int16_t R42Device::NfcDataReceiver(int32_t, int32_t time_ms, uint8_t* flag,
                                   unsigned char* response, int32_t* response_len) {
  if (time_ms < 0 || flag == nullptr || response == nullptr || response_len == nullptr)
    return -1;
  R42Request request(r42_cmd::kNfcReceive);
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, time_ms, kNfcReceiveReply, &reply);
  if (result != 0) return result;
  if (!reply.u8(*flag)) return -1;
  *response_len = int32_t(reply.remaining());
  reply.take(response, reply.remaining());
  return 0;
}

int16_t R42Device::NfcSimulateCardConfig(int32_t, int32_t mode) {
  R42Request request(r42_cmd::kNfcCardEmulation);
  request.checked_u8(mode);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

// --- the second APDU channel ---

int16_t R42Device::cpy_getkey(int32_t, unsigned char* respkey, int32_t* resplen) {
  R42Request request(r42_cmd::kCpyKey);
  request.u8(kCpyReadKey);
  return counted_reply(request, kR42DefaultTimeoutMs, respkey, kR42ReplyDataMax, resplen);
}

int16_t R42Device::cpy_setkey(int32_t, const unsigned char* genkey, int32_t keylen) {
  if (keylen < 0 || size_t(keylen) > kCpyKeySize || (genkey == nullptr && keylen > 0)) return -1;
  uint8_t field[kCpyKeySize] = {};
  if (keylen > 0) std::memcpy(field, genkey, size_t(keylen));
  R42Request request(r42_cmd::kCpyKey);
  request.u8(kCpySetKey).bytes(field, sizeof field);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::cpy_cpuapduInt(int32_t, int32_t slen, const unsigned char* sendbuffer,
                                  int32_t* rlen, unsigned char* databuffer) {
  if (!channel_input_ok(slen, sendbuffer)) return -1;
  R42Request request(r42_cmd::kCpyContactApdu);
  request.u8(contact_slot_).bytes(sendbuffer, size_t(slen));
  return counted_reply(request, kContactApduTimeoutMs, databuffer, kR42ReplyDataMax, rlen);
}

int16_t R42Device::cpy_cpuapduInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                      int32_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.cpy_cpuapduInt(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::cpy_cpuapdu(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                               uint8_t* rlen, unsigned char* databuffer) {
  ReaderDevice& self = *this;
  return narrow_channel<int32_t>(
      kR42BufferSize, rlen, databuffer, [&](int32_t* length, uint8_t* reply) {
        return self.cpy_cpuapduInt(icdev, slen, sendbuffer, length, reply);
      });
}

int16_t R42Device::cpy_cpuapdu_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                   uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.cpy_cpuapdu(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::cpy_procommandInt(int32_t, int32_t slen, const unsigned char* sendbuffer,
                                     int32_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  if (!channel_input_ok(slen, sendbuffer)) return -1;
  R42Request request(r42_cmd::kCpyContactlessApdu);
  request.be16(uint16_t(slen)).bytes(sendbuffer, size_t(slen));
  return be16_counted_reply(request, card_timeout_ms(timeout), databuffer, rlen);
}

int16_t R42Device::cpy_procommandInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                         int32_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.cpy_procommandInt(icdev, slen, apdu, length, reply, timeout);
                       });
}

int16_t R42Device::cpy_procommand(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                                  uint8_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return narrow_channel<int32_t>(
      kR42BufferSize, rlen, databuffer, [&](int32_t* length, uint8_t* reply) {
        return self.cpy_procommandInt(icdev, slen, sendbuffer, length, reply, timeout);
      });
}

int16_t R42Device::cpy_procommand_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                      uint8_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.cpy_procommand(icdev, slen, apdu, length, reply, timeout);
                       });
}

int16_t R42Device::cpuapduresponInt(int32_t icdev, int32_t slen, const unsigned char* sendbuffer,
                                    int32_t* rlen, unsigned char* databuffer) {
  if (!channel_input_ok(slen, sendbuffer)) return -1;
  ReaderDevice& self = *this;
  return apdu_follow_up::run<kR42BufferSize>(
      sendbuffer, size_t(slen), rlen, databuffer,
      [&](const uint8_t* apdu, size_t length, int32_t* count, uint8_t* reply) {
        return self.cpuapduInt(icdev, int32_t(length), apdu, count, reply);
      });
}

int16_t R42Device::cpuapduresponInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                        int32_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.cpuapduresponInt(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::GlyProCommand(int32_t icdev, int32_t slen, const unsigned char* sendbuffer,
                                 int32_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return self.pro_commandlinkInt(icdev, slen, sendbuffer, rlen, databuffer, timeout);
}

int16_t R42Device::GlyProCommand_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                     int32_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return self.pro_commandlinkInt_hex(icdev, slen, sendbuffer, rlen, databuffer, timeout);
}
