// Contact processor cards and SAMs through an m6 reader. The reader powers
// the card and carries APDUs (0x7D); for a card whose ATR names T=1 the
// host builds the T=1 blocks itself (t1::exchange), keeping the slot's
// send-sequence bit.
#include <cstring>
#include <vector>

#include "connection/card_io.h"
#include "connection/m6_frame_limits.h"
#include "family_m6/m6_device.h"
#include "platform/apdu_follow_up.h"
#include "platform/card_answers.h"

namespace {

constexpr uint8_t kSetSlot = 0x83;
constexpr uint8_t kColdReset = 0x7E;
constexpr uint8_t kApdu = 0x7D;
constexpr uint8_t kPowerDown = 0x7C;
constexpr uint8_t kSlotParameters = 0xE9;
constexpr int32_t kApduTimeoutMs = 60000;

// Slot codes: 12-15 the slots 0-3, 17 slot 5; any other code leaves the
// slot as it is.
constexpr uint8_t kFirstSlotCode = 12;
constexpr uint8_t kLastSlotCode = 15;
constexpr uint8_t kSlot5Code = 17;
constexpr uint8_t kSlot5 = 5;

constexpr int kProtocolT1 = 1;

}  // namespace

int16_t M6Device::setcpu(int32_t, uint8_t code) {
  const int16_t result = status_command(kSetSlot, {code});
  if (result != 0) return result;
  if (code >= kFirstSlotCode && code <= kLastSlotCode) state_.contact_slot = code - kFirstSlotCode;
  if (code == kSlot5Code) state_.contact_slot = kSlot5;
  return 0;
}

int16_t M6Device::contact_reset(M6Request& request, uint8_t* rlen, uint8_t* atr) {
  state_.slot_t1_flag[state_.contact_slot] = 0;
  state_.slot_t1_ns[state_.contact_slot] = 0;
  const int16_t result = length_reply(request, kDefaultTimeoutMs, atr, rlen);
  if (result != 0) return result;
  if (atr_first_protocol(atr, *rlen) == kProtocolT1) state_.slot_t1_flag[state_.contact_slot] = 1;
  return 0;
}

int16_t M6Device::cpureset(int32_t, uint8_t* rlen, unsigned char* databuffer) {
  M6Request request(kColdReset);
  return contact_reset(request, rlen, databuffer);
}

int16_t M6Device::cpureset_hex(int32_t icdev, uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return reply_hex_twin(kNarrowReplyMax, rlen, databuffer, [&](uint8_t* length, uint8_t* atr) {
    return self.cpureset(icdev, length, atr);
  });
}

int16_t M6Device::cpuapdusource(int32_t, uint8_t slen, const unsigned char* sendbuffer,
                                uint8_t* rlen, unsigned char* databuffer) {
  M6Request request(kApdu);
  request.u8(slen).bytes(sendbuffer, slen);
  return length_reply(request, kApduTimeoutMs, databuffer, rlen);
}

int16_t M6Device::cpuapdusource_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                    uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.cpuapdusource(icdev, slen, apdu, length, reply);
                       });
}

int16_t M6Device::cpuapdu(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                          uint8_t* rlen, unsigned char* databuffer) {
  ReaderDevice& self = *this;
  return slot_apdu(sendbuffer, slen, rlen, databuffer, size_t(kNarrowReplyMax),
                   [&](const uint8_t* apdu, uint8_t n, uint8_t* count, uint8_t* reply) {
                     return self.cpuapdusource(icdev, n, apdu, count, reply);
                   });
}

int16_t M6Device::cpuapdu_hex(int32_t icdev, uint8_t slen, const char* sendbuffer, uint8_t* rlen,
                              char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.cpuapdu(icdev, slen, apdu, length, reply);
                       });
}

int16_t M6Device::cpuapdurespon(int32_t icdev, uint8_t slen, const unsigned char* sendbuffer,
                                uint8_t* rlen, unsigned char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_follow_up::run<kNarrowReplyMax + 1>(
      sendbuffer, slen, rlen, databuffer,
      [&](const uint8_t* apdu, size_t length, uint8_t* count, uint8_t* reply) {
        return self.cpuapdu(icdev, uint8_t(length), apdu, count, reply);
      });
}

int16_t M6Device::cpuapdurespon_hex(int32_t icdev, uint8_t slen, const char* sendbuffer,
                                    uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* apdu, uint8_t* length, uint8_t* reply) {
                         return self.cpuapdurespon(icdev, slen, apdu, length, reply);
                       });
}

int16_t M6Device::cpudown(int32_t) { return status_command(kPowerDown); }

int16_t M6Device::setcpupara(int32_t icdev, uint8_t cputype, uint8_t cpupro, uint8_t cpuetu) {
  ReaderDevice& self = *this;
  const int16_t result = self.setcpu(icdev, cputype);
  if (result != 0) return result;
  return status_command(kSlotParameters, {cputype, cpupro, cpuetu});
}

int32_t M6Device::raw_exchange(M6Request& request, int32_t timeout_ms) {
  if (!ready(request, kM6FrameCommandMax)) return -1;
  port_->purge();
  const int32_t n =
      protocol_->transceive(request.buffer(), int32_t(request.size()), kReplyCapacity, timeout_ms);
  return n < 1 || n > kReplyCapacity ? -1 : n;
}

int16_t M6Device::command(int32_t, uint8_t cmd, uint8_t slen, const unsigned char* sendbuffer,
                          uint8_t* rlen, unsigned char* databuffer) {
  if (rlen == nullptr || databuffer == nullptr) return -1;
  M6Request request(cmd);
  request.bytes(sendbuffer, slen);
  const int32_t n = raw_exchange(request, kDefaultTimeoutMs);
  return narrow_reply(n < 0 ? int16_t(-1) : int16_t(0), n, request.buffer(), rlen, databuffer);
}

int16_t M6Device::command_hex(int32_t icdev, uint8_t cmd, uint8_t slen, const char* sendbuffer,
                              uint8_t* rlen, char* databuffer) {
  ReaderDevice& self = *this;
  return apdu_hex_twin(kNarrowReplyMax, slen, sendbuffer, rlen, databuffer,
                       [&](const uint8_t* data, uint8_t* length, uint8_t* reply) {
                         return self.command(icdev, cmd, slen, data, length, reply);
                       });
}

int16_t M6Device::Check_CPU(int32_t icdev) {
  ReaderDevice& self = *this;
  uint8_t byte = 0;
  int16_t result = self.read_24c(icdev, 0, 1, &byte);
  if (result != 0) return result;
  uint8_t length = 0;
  uint8_t atr[kNarrowReplyMax];
  result = self.cpureset(icdev, &length, atr);
  if (result != 0) return result;
  return state_.slot_t1_flag[state_.contact_slot];
}
