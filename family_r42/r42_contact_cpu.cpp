// Contact processor cards and SAMs in up to ten slots: slot choice and card
// parameters, power up with the answer to reset, APDUs with the 61xx/6Cxx
// follow-up, power down and the T=0/T=1 check. The APDUs themselves travel
// through the extended contact channel (cpuapdusourceEXT).
#include <cstring>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"
#include "platform/apdu_follow_up.h"
#include "platform/card_answers.h"

namespace {

constexpr uint8_t kKeepSlot = 16;
constexpr uint8_t kEtuBaud0 = 92;
constexpr uint8_t kEtuBaud2 = 20;
constexpr uint8_t kUserCardSlotCode = 12;

}  // namespace

int contact_slot_index(uint8_t code) {
  static constexpr int8_t kSecondNumbering[11] = {1, 0, 2, 3, 4, 0, 5, 6, 7, 8, 9};
  if (code <= 9) return code;
  if (code >= 11 && code <= 21) return kSecondNumbering[code - 11];
  return -1;
}

int16_t R42Device::setcpu(int32_t, uint8_t code) {
  const int slot = contact_slot_index(code);
  if (slot < 0) return -1;
  if (code != kKeepSlot) contact_slot_ = uint8_t(slot);
  return 0;
}

int16_t R42Device::setcpupara(int32_t icdev, uint8_t cputype, uint8_t cpupro, uint8_t cpuetu) {
  ReaderDevice& self = *this;
  const int16_t result = self.setcpu(icdev, cputype);
  if (result != 0) return result;
  if (cpuetu == kEtuBaud0) cpu_baud_selector_ = 0;
  if (cpuetu == kEtuBaud2) cpu_baud_selector_ = 2;
  cpu_protocol_by_slot_[contact_slot_] = cpupro;
  cpu_etu_by_slot_[contact_slot_] = cpuetu;
  return 0;
}

int16_t R42Device::contact_answer_to_reset(R42Request& request, uint8_t* rlen, uint8_t* atr) {
  if (rlen == nullptr || atr == nullptr) return -1;
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kAnswerToResetReply, &reply);
  if (result != 0) return result;
  // Byte 3 is the reader's own; the answer to reset follows it.
  if (!reply.skip(1)) return -1;
  return narrow_reply(0, int32_t(reply.remaining()), reply.here(), rlen, atr);
}

int16_t R42Device::cpureset(int32_t, uint8_t* rlen, unsigned char* databuffer) {
  R42Request request(r42_cmd::kContactPowerUp);
  request.u8(contact_slot_).u8(cpu_baud_selector_).u8(contact_voltage_);
  return contact_answer_to_reset(request, rlen, databuffer);
}

int16_t R42Device::cpureset_hex(int32_t icdev, uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kR42BufferSize, rlen, databuffer, [&](uint8_t* length, uint8_t* atr) {
    return self.cpureset(icdev, length, atr);
  });
}

int16_t R42Device::cpudown(int32_t) {
  return status_command(r42_cmd::kContactPowerDown, {contact_slot_});
}

int16_t R42Device::cpuapdusource(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                                 uint8_t* rlen, unsigned char* databuffer) {
  ReaderDevice& self = *this;
  return narrow_channel<int16_t>(
      kR42BufferSize, rlen, databuffer, [&](int16_t* length, uint8_t* reply) {
        return self.cpuapdusourceEXT(icdev, slen, sendbuffer, length, reply);
      });
}

int16_t R42Device::cpuapdu(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                           uint8_t* rlen, unsigned char* databuffer) {
  ReaderDevice& self = *this;
  return self.cpuapdusource(icdev, slen, sendbuffer, rlen, databuffer);
}

int16_t R42Device::cpuapdusource_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                     uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.cpuapdusource(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::cpuapdu_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                               uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.cpuapdu(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::cpuapdurespon(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                                 uint8_t* rlen, unsigned char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_follow_up::run<256>(sendbuffer, slen, rlen, databuffer,
                                  [&](const uint8_t* apdu, size_t length, uint8_t* count,
                                      uint8_t* reply) {
                                    return self.cpuapdu(icdev, uint8_t(length), apdu, count,
                                                        reply);
                                  });
}

int16_t R42Device::cpuapdurespon_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                     uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kR42BufferSize, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.cpuapdurespon(icdev, slen, apdu, length, reply);
                       });
}

int16_t R42Device::Check_CPU(int32_t icdev) {
  ReaderDevice& self = *this;
  int16_t result = self.setcpu(icdev, kUserCardSlotCode);
  if (result != 0) return result;
  uint8_t atr[256];
  uint8_t length = 0;
  result = self.cpureset(icdev, &length, atr);
  if (result != 0) return result;
  const int protocol = atr_first_protocol(atr, length);
  if (protocol < 0) return -1;
  return protocol == 1 ? 1 : 0;
}
