// Extended card channels of the r42 reader: the long APDU channels for
// contact (0x0304) and contactless (0x0411) processor cards, the raw
// contactless frame (0x0436), contact hot reset, card presence, the combined
// type A / type B search, the cascade-aware UID read and the RF chip
// registers. Compositions call their steps through the device interface.
#include <cstdio>
#include <cstring>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"

namespace {

constexpr int32_t kContactApduTimeoutMs = 60000;
// The field reset before a type A / type B search, in ms.
constexpr uint16_t kSearchFieldResetMs = 10;
constexpr uint8_t kTypeA = 'A';
constexpr uint8_t kTypeB = 'B';
// What cardAB reports as the length of a type B answer.
constexpr uint8_t kTypeBAnswerLength = 12;
constexpr int16_t kRequestBNoCard = 125;
constexpr uint8_t kSakUidIncomplete = 0x04;
// Bytes 0A 01 of the raw frame command: the reader's own.
constexpr uint8_t kRawFrameHead[2] = {0x0A, 0x01};

// Reader statuses that the presence queries turn into results.
constexpr uint32_t kNoCardStatus = 0x0307;

}  // namespace

// --- channels ---

int16_t R42Device::cpuapduInt(int32_t, int32_t slen, const unsigned char* sendbuffer,
                              int32_t* rlen, unsigned char* databuffer) {
  if (!channel_input_ok(slen, sendbuffer) || rlen == nullptr || databuffer == nullptr) return -1;
  R42Request request(r42_cmd::kContactApdu);
  request.u8(contact_slot_).bytes(sendbuffer, case4_send_length(sendbuffer, size_t(slen)));
  // Every reply fits: the caller takes all the data there is.
  return counted_reply(request, kContactApduTimeoutMs, databuffer, kR42ReplyDataMax, rlen);
}

int16_t R42Device::cpuapduInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                  int32_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.cpuapduInt(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::cpuapdusourceEXT(int32_t icdev, int16_t slen, const unsigned char* sendbuffer,
                                    int16_t* rlen, unsigned char* databuffer) {
  if (rlen == nullptr) return -1;
  ReaderDevice& self = *this;
  int32_t length = 0;
  const int16_t result = self.cpuapduInt(icdev, slen, sendbuffer, &length, databuffer);
  if (result != 0) return result;
  if (length < 0 || length > INT16_MAX) return -1;
  *rlen = int16_t(length);
  return 0;
}

int16_t R42Device::cpuapdusourceEXT_hex(int32_t icdev, int16_t slen, const char* sendbuffer,
                                        int16_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int16_t* length, uint8_t* reply) {
                         return self.cpuapdusourceEXT(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::cpuapduEXT(int32_t icdev, int16_t slen, const unsigned char* sendbuffer,
                              int16_t* rlen, unsigned char* databuffer) {
  ReaderDevice& self = *this;
  return self.cpuapdusourceEXT(icdev, slen, sendbuffer, rlen, databuffer);
}

int16_t R42Device::cpuapduEXT_hex(int32_t icdev, int16_t slen, const char* sendbuffer,
                                  int16_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int16_t* length, uint8_t* reply) {
                         return self.cpuapduEXT(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::block_apdu(const uint8_t* apdu, int32_t slen, bool case4_cut, uint8_t timeout,
                              int32_t* rlen, uint8_t* out) {
  if (!channel_input_ok(slen, apdu) || rlen == nullptr || out == nullptr) return -1;
  const size_t sent = case4_cut ? case4_send_length(apdu, size_t(slen)) : size_t(slen);
  R42Request request(r42_cmd::kBlockApdu);
  request.be16(uint16_t(sent)).bytes(apdu, sent);
  return be16_counted_reply(request, card_timeout_ms(timeout), out, rlen);
}

int16_t R42Device::card_flow_frame(const uint8_t* frame, size_t length, uint8_t* reply,
                                   size_t* reply_length) {
  uint8_t narrow = 0;
  const int16_t result = narrow_channel<int32_t>(
      kR42BufferSize, &narrow, reply, [&](int32_t* received, uint8_t* response) {
        return block_apdu(frame, int32_t(length), false, kCardFlowTimeout, received, response);
      });
  if (result == 0) *reply_length = narrow;
  return result;
}

int16_t R42Device::pro_commandlinkEXT(int32_t, int32_t slen, const unsigned char* sendbuffer,
                                      int32_t* rlen, unsigned char* databuffer, uint8_t timeout,
                                      uint8_t) {
  return block_apdu(sendbuffer, slen, true, timeout, rlen, databuffer);
}

int16_t R42Device::pro_commandlinkEXT_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                          int32_t* rlen, char* databuffer, uint8_t timeout,
                                          uint8_t fg) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.pro_commandlinkEXT(icdev, slen, apdu, length, reply,
                                                        timeout, fg);
                       });
}

int16_t R42Device::pro_commandlinkInt(int32_t icdev, int32_t slen,
                                      const unsigned char* sendbuffer, int32_t* rlen,
                                      unsigned char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return self.pro_commandlinkEXT(icdev, slen, sendbuffer, rlen, databuffer, timeout, kLinkFg);
}

int16_t R42Device::pro_commandlinkInt_hex(int32_t icdev, int32_t slen, const char* sendbuffer,
                                          int32_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, int32_t* length, uint8_t* reply) {
                         return self.pro_commandlinkInt(icdev, slen, apdu, length, reply,
                                                        timeout);
                       });
}

int16_t R42Device::raw_frame(const uint8_t* frame, int32_t slen, const uint8_t* trailer,
                             uint8_t timeout, int32_t* rlen, uint8_t* out) {
  if (!channel_input_ok(slen, frame) || rlen == nullptr || out == nullptr) return -1;
  R42Request request(r42_cmd::kRawFrame);
  request.bytes(kRawFrameHead, sizeof kRawFrameHead).be16(uint16_t(slen)).bytes(frame,
                                                                                 size_t(slen));
  if (trailer != nullptr) request.u8(*trailer);
  return be16_counted_reply(request, card_timeout_ms(timeout), out, rlen);
}

int16_t R42Device::pro_commandsourceCRC(int32_t, uint8_t slen, const unsigned char* sendbuffer,
                                        uint8_t* rlen, unsigned char* databuffer,
                                        uint8_t timeout, uint8_t crcstu) {
  return narrow_channel<int32_t>(
      kR42BufferSize, rlen, databuffer, [&](int32_t* length, uint8_t* reply) {
        return raw_frame(sendbuffer, slen, &crcstu, timeout, length, reply);
      });
}

int16_t R42Device::pro_commandsourceCRChex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                           uint8_t* rlen, char* databuffer, uint8_t timeout,
                                           uint8_t crcstu) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* frame, uint8_t* length, uint8_t* reply) {
                         return self.pro_commandsourceCRC(icdev, slen, frame, length, reply,
                                                          timeout, crcstu);
                       });
}

int16_t R42Device::cpuhotreset(int32_t, uint8_t* rlen, unsigned char* databuffer) {
  R42Request request(r42_cmd::kContactHotReset);
  request.u8(contact_slot_);
  return contact_answer_to_reset(request, rlen, databuffer);
}

int16_t R42Device::cpuhotreset_hex(int32_t icdev, uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kR42BufferSize, rlen, databuffer, [&](uint8_t* length, uint8_t* atr) {
    return self.cpuhotreset(icdev, length, atr);
  });
}

int16_t R42Device::getcpupara(int32_t, uint8_t cputype, uint8_t* cpupro, uint8_t* cpuetu) {
  const int slot = contact_slot_index(cputype);
  if (slot < 0 || cpupro == nullptr || cpuetu == nullptr) return -1;
  *cpupro = cpu_protocol_by_slot_[slot];
  *cpuetu = cpu_etu_by_slot_[slot];
  return 0;
}

// --- presence ---

int16_t R42Device::card_exist(int32_t, uint16_t* flag) {
  if (flag == nullptr) return -1;
  R42Request request(r42_cmd::kCardPresence);
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kCardPresenceReply, &reply);
  if (result == -2 && last_status_ == kNoCardStatus) return 1;
  if (result != 0) return result;
  uint8_t value = 0;
  if (!reply.u8(value)) return -1;
  *flag = value;
  return 0;
}

int16_t R42Device::card_status(int32_t) {
  const int16_t result = status_command(r42_cmd::kContactCardStatus, {contact_slot_});
  return result == -2 ? 1 : result;
}

int16_t R42Device::typeab_card_status(int32_t) {
  const int16_t result = status_command(r42_cmd::kTypeAbCardStatus);
  if (result == -1) return -1;
  // The answer is the status itself; success names no card state.
  if (result == 0) return -2;
  if (last_status_ == kNoCardStatus) return 0;
  if (last_status_ >= 1 && last_status_ <= 3) return int16_t(last_status_);
  return -2;
}

// --- card search ---

int16_t R42Device::getlongver(int32_t icdev, char* sver) {
  ReaderDevice& self = *this;
  return self.getver(icdev, sver);
}

int16_t R42Device::cardstr(int32_t icdev, uint8_t mode, char* strsnr) {
  if (strsnr == nullptr) return -1;
  ReaderDevice& self = *this;
  uint32_t snr = 0;
  const int16_t result = self.card(icdev, mode, &snr);
  if (result != 0) return result;
  // At most ten digits and the NUL.
  std::snprintf(strsnr, 11, "%u", snr);
  return 0;
}

int16_t R42Device::cardAB(int32_t icdev, uint8_t* rlen, unsigned char* rbuf, uint8_t* type) {
  if (rlen == nullptr || rbuf == nullptr || type == nullptr) return -1;
  ReaderDevice& self = *this;
  self.reset(icdev, kSearchFieldResetMs);
  self.config_card(icdev, kTypeA);
  uint32_t snr = 0;
  if (self.card(icdev, 0, &snr) == 0) {
    const int16_t result = self.pro_reset(icdev, rlen, rbuf);
    if (result != 0) return result;
    *type = kTypeA;
    return 0;
  }
  int16_t result = self.config_card(icdev, kTypeB);
  if (result == 0) result = self.request_b(icdev, 0, 0, 0, rbuf);
  if (result == 0) result = self.attrib(icdev, rbuf + 1, 0);
  if (result != 0) return result;
  *rlen = kTypeBAnswerLength;
  *type = kTypeB;
  return 0;
}

int16_t R42Device::card_b(int32_t icdev, unsigned char* rbuf) {
  if (rbuf == nullptr) return -1;
  ReaderDevice& self = *this;
  const int16_t result = self.request_b(icdev, 0, 0, 0, rbuf);
  if (result == kRequestBNoCard) return 1;
  if (result != 0) return result;
  return self.attrib(icdev, rbuf + 1, 0);
}

int16_t R42Device::card_b_hex(int32_t icdev, char* rbuf) {
  if (rbuf == nullptr) return -1;
  ReaderDevice& self = *this;
  // Zeros past a shorter answer, as the older command's NUL: the text is
  // always the same 12 bytes.
  uint8_t atqb[kTypeBAnswerRoom] = {};
  const int16_t result = self.card_b(icdev, atqb);
  if (result != 0) return result;
  hex_twin_output(atqb, kTypeBAnswerLength, rbuf);
  return 0;
}

int16_t R42Device::card_n(int32_t icdev, uint8_t mode, int32_t* snr_len, unsigned char* snr) {
  if (snr_len == nullptr || snr == nullptr) return -1;
  ReaderDevice& self = *this;
  uint16_t tag_type = 0;
  int16_t result = self.request(icdev, mode, &tag_type);
  if (result != 0) return result;
  uint32_t serial = 0;
  result = self.anticoll(icdev, 0, &serial);
  if (result != 0) return result;
  uint8_t sak = 0;
  result = self.select(icdev, serial, &sak);
  if (result != 0) return result;
  if (!(sak & kSakUidIncomplete)) {
    store_be32(serial, snr);
    *snr_len = 4;
    return 0;
  }
  uint8_t uid[7];
  // The level-1 serial holds the UID's first bytes after the cascade tag,
  // in the order they came.
  for (int i = 0; i < 3; ++i) uid[i] = uint8_t(serial >> (8 * (i + 1)));
  result = self.anticoll2(icdev, 0, &serial);
  if (result != 0) return result;
  result = self.select2(icdev, serial, &sak);
  if (result != 0) return result;
  store_be32(serial, uid + 3);
  std::memcpy(snr, uid, sizeof uid);
  *snr_len = int32_t(sizeof uid);
  return 0;
}

int16_t R42Device::card_n_hex(int32_t icdev, uint8_t mode, int32_t* snr_len, char* snr) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kR42BufferSize, snr_len, snr, [&](int32_t* length, uint8_t* uid) {
    return self.card_n(icdev, mode, length, uid);
  });
}

// --- RF chip registers ---

int16_t R42Device::rw_rfreg(int32_t, uint8_t flag, uint8_t adr, unsigned char* data) {
  if (data == nullptr) return -1;
  if (flag != 0) return status_command(r42_cmd::kWriteRfRegister, {adr, *data});
  R42Request request(r42_cmd::kReadRfRegister);
  request.u8(adr);
  return byte_reply(request, {data});
}

int16_t R42Device::rw_rfreg_hex(int32_t icdev, uint8_t flag, uint8_t adr, char* data) {
  if (data == nullptr) return -1;
  ReaderDevice& self = *this;
  uint8_t value = 0;
  if (flag != 0) {
    if (hex_twin_input(data, 1, &value) != 0) return -1;
    return self.rw_rfreg(icdev, flag, adr, &value);
  }
  const int16_t result = self.rw_rfreg(icdev, flag, adr, &value);
  if (result != 0) return result;
  hex_twin_output(&value, 1, data);
  return 0;
}

// --- not on this family: no I/O ---

int16_t R42Device::getrcinfo(int32_t, unsigned char*) { return -1; }
int16_t R42Device::getrcinfo_hex(int32_t, char*) { return -1; }
int16_t R42Device::dispmap_V7(int32_t, const unsigned char*) { return -1; }
int16_t R42Device::displow_V7(int32_t, uint8_t, uint8_t) { return -1; }
int16_t R42Device::mulrequest_b(int32_t, uint8_t, uint8_t, uint8_t*, unsigned char*) { return -1; }
int16_t R42Device::hltb(int32_t, const unsigned char*) { return -1; }
int16_t R42Device::set_poweroff(int32_t, int32_t, uint8_t, uint8_t) { return -1; }
int16_t R42Device::exchangeblock(int32_t, uint8_t, const unsigned char*, uint8_t*,
                                 unsigned char*, uint8_t) {
  return -1;
}
int16_t R42Device::exchangeblock_hex(int32_t, uint8_t, const char*, uint8_t*, char*, uint8_t) {
  return -1;
}
int16_t R42Device::write1024(int32_t, int32_t, int32_t, const unsigned char*) { return -1; }
int16_t R42Device::write1024_hex(int32_t, int32_t, int32_t, const char*) { return -1; }
int16_t R42Device::read1024(int32_t, int32_t, int32_t, unsigned char*) { return -1; }
int16_t R42Device::read1024_hex(int32_t, int32_t, int32_t, char*) { return -1; }
int16_t R42Device::switch_linux(int32_t) { return -1; }
int16_t R42Device::card_n_number(int32_t, uint8_t, char*) { return -1; }
