// The 2.4 GHz module's reset and APDU, which both families build from their
// module command (slot 336, op_2dot4_command) through the device interface,
// so that an override of the command takes effect.
#pragma once

#include <cstdint>
#include <cstring>

#include "connection/card_io.h"
#include "connection/reader_device.h"

// The module's reset, its APDU head, and the time-out argument both go with.
inline constexpr uint8_t kRadio24Reset[4] = {0xA2, 0x31, 0x00, 0x00};
inline constexpr uint8_t kRadio24ApduHead[2] = {0xA2, 0x33};
inline constexpr uint8_t kRadio24Timeout = 5;

// The reset's answer, from an area of `room` bytes (the most the command
// gives), handed to an 8-bit length as narrow_channel does.
inline int16_t radio24_reset(ReaderDevice& self, int32_t icdev, size_t room, uint8_t* rlen,
                             uint8_t* out) {
  return narrow_channel<int32_t>(room, rlen, out, [&](int32_t* length, uint8_t* reply) {
    return self.op_2dot4_command(icdev, int32_t(sizeof kRadio24Reset), kRadio24Reset, length,
                                 reply, kRadio24Timeout);
  });
}

// [A2 33][APDU]: `slen` outside 0 to `most`, a null APDU of some length or
// a null output gives -1 before any I/O.
inline int16_t radio24_apdu(ReaderDevice& self, int32_t icdev, int32_t slen, const uint8_t* apdu,
                            int32_t most, int32_t* rlen, uint8_t* out) {
  if (slen < 0 || slen > most || (slen > 0 && apdu == nullptr) || rlen == nullptr ||
      out == nullptr)
    return -1;
  auto command = twin_area(sizeof kRadio24ApduHead + uint64_t(slen));
  if (!command) return -1;
  std::memcpy(command.get(), kRadio24ApduHead, sizeof kRadio24ApduHead);
  if (slen > 0) std::memcpy(command.get() + sizeof kRadio24ApduHead, apdu, size_t(slen));
  return self.op_2dot4_command(icdev, int32_t(sizeof kRadio24ApduHead) + slen, command.get(),
                               rlen, out, kRadio24Timeout);
}
