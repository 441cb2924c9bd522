// Frames of the security module inside the reader that reads identity
// cards. The reader carries one host frame to the module with command
// 0x0424 and brings the module's answer frame back after its own two length
// bytes. Both directions, numbers big-endian:
//
//   AA AA AA 96 69 | L (u16) | body | check byte
//
// L counts what follows it: the host's command word and data, or the
// module's three status bytes and answer, and the check byte, which is the
// XOR of the length field and the body.
#pragma once

#include <cstddef>
#include <cstdint>

#include "family_r42/r42_device.h"
#include "platform/byte_cursor.h"

namespace security_module {

// Module command words.
inline constexpr uint16_t kFindCard = 0x2001;
inline constexpr uint16_t kSelectCard = 0x2002;
inline constexpr uint16_t kReadTextPhotoFinger = 0x3010;
inline constexpr uint16_t kReadTextPhoto = 0x3001;
inline constexpr uint16_t kReadExtraText = 0x3003;
inline constexpr uint16_t kSerialNumber = 0x12FF;

// A tunnel exchange takes a request and reply of kR42LongBufferSize.
// Preamble, length, command word and check byte around the host's data.
inline constexpr size_t kHostFrameOverhead = 10;
// The most data one host frame carries behind the reader's 3-byte head.
inline constexpr size_t kMaxHostData = kR42LongBufferSize - 3 - kHostFrameOverhead;

// Appends the host frame for `command` with `size` data bytes to a tunnel
// request (R42Request(r42_cmd::kIdModuleTunnel, kR42LongBufferSize)). Null
// data only with size 0; data past the request's room marks it overflowed.
void build_request(R42Request& request, uint16_t command, const uint8_t* data, size_t size);

// Checks the module's answer frame to `command` in a tunnel reply's payload
// (the reply from byte 3: the reader's length field, then the frame): the
// preamble, a length of at least the status bytes and check byte, the whole
// frame received, its check byte, and the status 00 00 9F for a card search
// or 00 00 90 for anything else. True with `answer` covering the answer
// data.
bool read_answer(ByteCursor payload, uint16_t command, ByteCursor* answer);

}  // namespace security_module
