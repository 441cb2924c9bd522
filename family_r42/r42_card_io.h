// Shapes of the card operations of the r42 family; those both families use
// (the case-4 rule, narrow replies, the hexadecimal twins) are in
// connection/card_io.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "connection/card_io.h"
#include "family_r42/r42_device.h"

// A type B card's answer as request_b gives it: the ATQB, or the older
// command's answer and a NUL, within this many bytes.
inline constexpr size_t kTypeBAnswerRoom = 32;

// The contact slot a slot code names: 0-9 themselves, 11-21 the reader's
// second numbering (16 meaning slot 0); -1 for 10 and above 21.
int contact_slot_index(uint8_t code);

// An input of `length` bytes at `data` that a channel can take: not
// negative, within one request buffer, and present when not empty.
inline bool channel_input_ok(int64_t length, const void* data) {
  return length >= 0 && length <= int64_t(kR42BufferSize) && (length == 0 || data != nullptr);
}

// A command whose parameters are one block of `size` bytes of the caller's
// (a PIN, a password, an authentication value) and whose reply is the
// status alone. A null block gives -1 before any I/O.
inline int16_t block_command(R42Device& device, uint16_t code, const uint8_t* block,
                             size_t size) {
  if (block == nullptr) return -1;
  R42Request request(code);
  request.bytes(block, size);
  return device.exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}
