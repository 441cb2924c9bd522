// Contactless processor cards: activation of a type A card up to its ATS or
// of a type B card up to its ATQB (0x0443, with the older 0x0410 behind it),
// APDUs in the ISO/IEC 14443-4 block protocol (0x0411) or as plain frames
// (0x0436), deactivation, the legacy DESFire authentication and the
// identity-card serial read.
#include <cstring>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"

namespace {

constexpr uint8_t kTypeAMode = 1;
constexpr uint8_t kTypeBMode = 2;
constexpr uint8_t kTypeAKind = 10;
constexpr uint8_t kTypeBKind = 11;
constexpr size_t kAtsCapacity = 255;
constexpr uint16_t kHaltParameter = 100;

// The identity-card read carries its time in milliseconds, 16 bits.
constexpr uint8_t kMaxIdCardSeconds = 65;
constexpr size_t kIdCardSerial = 5;

// One activation command, whose reply is [kind][id length][id][answer
// length][answer]. The card's kind must pass `kind_ok`; `*length` gets the
// answer length and `answer` that many bytes from the answer on, or from its
// length byte on (`from_length_byte`). -1 for a malformed reply or an
// answer over `capacity` bytes.
template <typename KindOk>
int16_t take_activation(R42Device& device, uint16_t code, bool from_length_byte, KindOk kind_ok,
                        uint8_t* length, uint8_t* answer, size_t capacity) {
  R42Request request(code);
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      device.exchange(request, kR42DefaultTimeoutMs, r42_cmd::kDataReply, &reply);
  if (result != 0) return result;
  uint8_t kind = 0, id_length = 0, answer_length = 0;
  if (!reply.u8(kind) || !reply.u8(id_length) || !reply.skip(id_length)) return -1;
  const uint8_t* length_byte = reply.here();
  if (!reply.u8(answer_length) || reply.remaining() < answer_length) return -1;
  if (!kind_ok(kind) || answer_length > capacity) return -1;
  *length = answer_length;
  if (answer_length)
    std::memcpy(answer, from_length_byte ? length_byte : reply.here(), answer_length);
  return 0;
}

// 0x0443: the activation answer (ATS or ATQB) of a card of the kind the
// mode asks for (0 any, 1 type A, 2 type B). -2 for a reader status (the
// callers then try 0x0410).
int16_t activate(R42Device& device, uint8_t mode, uint8_t* length, uint8_t* answer,
                 size_t capacity) {
  return take_activation(
      device, r42_cmd::kActivation, false,
      [mode](uint8_t kind) {
        if (mode == kTypeAMode) return kind == kTypeAKind;
        if (mode == kTypeBMode) return kind == kTypeBKind;
        return mode == 0;
      },
      length, answer, capacity);
}

// 0x0410 for a card of `kind`: L2 bytes from the L2 byte itself.
int16_t legacy_activate(R42Device& device, uint8_t kind, uint8_t* length, uint8_t* answer,
                        size_t capacity) {
  return take_activation(
      device, r42_cmd::kLegacyActivation, true, [kind](uint8_t card) { return card == kind; },
      length, answer, capacity);
}

}  // namespace

// --- activation ---

int16_t R42Device::pro_reset(int32_t, uint8_t* rlen, unsigned char* receive_data) {
  if (rlen == nullptr || receive_data == nullptr) return -1;
  const int16_t result = activate(*this, kTypeAMode, rlen, receive_data, kAtsCapacity);
  if (result != -2) return result;
  return legacy_activate(*this, kTypeAKind, rlen, receive_data, kAtsCapacity);
}

int16_t R42Device::pro_resetInt(int32_t icdev, uint8_t* rlen, unsigned char* receive_data) {
  ReaderDevice& self = *this;
  return self.pro_reset(icdev, rlen, receive_data);
}

int16_t R42Device::pro_resethex(int32_t icdev, uint8_t* rlen, char* receive_data) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kR42BufferSize, rlen, receive_data, [&](uint8_t* length, uint8_t* answer) {
    return self.pro_reset(icdev, length, answer);
  });
}

int16_t R42Device::pro_resetInt_hex(int32_t icdev, uint8_t* rlen, char* receive_data) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kR42BufferSize, rlen, receive_data, [&](uint8_t* length, uint8_t* answer) {
    return self.pro_resetInt(icdev, length, answer);
  });
}

int16_t R42Device::request_b(int32_t, uint8_t, uint8_t, uint8_t, unsigned char* atqb) {
  if (atqb == nullptr) return -1;
  uint8_t length = 0;
  int16_t result = activate(*this, kTypeBMode, &length, atqb, kTypeBAnswerRoom);
  if (result != -2) return result;
  // The older command's answer is followed by a NUL within the 32 bytes.
  result = legacy_activate(*this, kTypeBKind, &length, atqb, kTypeBAnswerRoom - 1);
  if (result != 0) return result;
  atqb[length] = '\0';
  return 0;
}

int16_t R42Device::slotmarker(int32_t icdev, uint8_t, unsigned char* atqb) {
  if (atqb == nullptr) return -1;
  ReaderDevice& self = *this;
  uint8_t answer[256];
  uint8_t length = 0;
  const int16_t result = self.pro_reset(icdev, &length, answer);
  if (result != 0) return result;
  if (length == 0) return 0;
  if (length - 1u > kTypeBAnswerRoom) return -1;
  std::memcpy(atqb, answer + 1, length - 1u);
  return 0;
}

int16_t R42Device::pro_halt(int32_t) {
  R42Request request(r42_cmd::kProcessorHalt);
  request.be16(kHaltParameter);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

// --- APDUs and frames ---

int16_t R42Device::pro_commandlink(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                                   uint8_t* rlen, unsigned char* databuffer, uint8_t timeout,
                                   uint8_t fg) {
  ReaderDevice& self = *this;
  return narrow_channel<int32_t>(
      kR42BufferSize, rlen, databuffer, [&](int32_t* length, uint8_t* reply) {
        return self.pro_commandlinkEXT(icdev, slen, sendbuffer, length, reply, timeout, fg);
      });
}

int16_t R42Device::pro_commandlink_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                       uint8_t* rlen, char* databuffer, uint8_t timeout,
                                       uint8_t fg) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.pro_commandlink(icdev, slen, apdu, length, reply, timeout,
                                                     fg);
                       });
}

int16_t R42Device::pro_command(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                               uint8_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return self.pro_commandlink(icdev, slen, sendbuffer, rlen, databuffer, timeout, kLinkFg);
}

int16_t R42Device::pro_commandhex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                  uint8_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.pro_command(icdev, slen, apdu, length, reply, timeout);
                       });
}

int16_t R42Device::pro_commandsource_int(int32_t, int32_t slen, const unsigned char* sendbuffer,
                                         int32_t* rlen, unsigned char* databuffer,
                                         uint8_t timeout) {
  return raw_frame(sendbuffer, slen, nullptr, timeout, rlen, databuffer);
}

int16_t R42Device::pro_commandsource(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                                     uint8_t* rlen, unsigned char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return narrow_channel<int32_t>(
      kR42BufferSize, rlen, databuffer, [&](int32_t* length, uint8_t* reply) {
        return self.pro_commandsource_int(icdev, slen, sendbuffer, length, reply, timeout);
      });
}

int16_t R42Device::pro_commandsourcehex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                        uint8_t* rlen, char* databuffer, uint8_t timeout) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* frame, uint8_t* length, uint8_t* reply) {
                         return self.pro_commandsource(icdev, slen, frame, length, reply,
                                                       timeout);
                       });
}

// --- DESFire ---

int16_t R42Device::mfdes_auth(int32_t, uint8_t keyno, uint8_t keylen, const unsigned char* authkey,
                              const unsigned char* rand_a, unsigned char* rand_b) {
  return desfire_authenticate(
      [this](const uint8_t* frame, size_t length, uint8_t* reply, size_t* reply_length) {
        return card_flow_frame(frame, length, reply, reply_length);
      },
      keyno, authkey, keylen, rand_a, rand_b);
}

int16_t R42Device::mfdes_auth_hex(int32_t icdev, uint8_t keyno, uint8_t keylen,
                                  const char* authkey, const char* rand_a, char* rand_b) {
  return desfire_auth_hex_twin(*this, icdev, keyno, keylen, authkey, rand_a, rand_b);
}

// --- identity-card serial ---

int16_t R42Device::read_idcard(int32_t icdev, uint8_t times, unsigned char* data) {
  if (data == nullptr || times > kMaxIdCardSeconds) return -1;
  ReaderDevice& self = *this;
  uint8_t answer[kR42BufferSize];
  int32_t length = 0;
  const int16_t result = self.ReadIdCardInfo(icdev, int32_t(times) * 1000, &length, answer);
  if (result != 0) return result;
  if (length < int32_t(kIdCardSerial)) return -1;
  std::memcpy(data, answer, kIdCardSerial);
  return 0;
}

int16_t R42Device::read_idcard_hex(int32_t icdev, uint8_t times, char* data) {
  if (data == nullptr) return -1;
  ReaderDevice& self = *this;
  uint8_t serial[kIdCardSerial];
  const int16_t result = self.read_idcard(icdev, times, serial);
  if (result != 0) return result;
  hex_twin_output(serial, sizeof serial, data);
  return 0;
}
