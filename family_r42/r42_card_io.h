// Shapes shared by the card operations of the r42 family: the case-4 rule,
// replies handed to 8-bit lengths and the hexadecimal twins of operations
// that take and give a length and a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "family_r42/r42_device.h"
#include "platform/text_helpers.h"

// The most a reply may hand to an 8-bit length.
inline constexpr int32_t kNarrowReplyMax = 255;

// A type B card's answer as request_b gives it: the ATQB, or the older
// command's answer and a NUL, within this many bytes.
inline constexpr size_t kAtqbSize = 32;
// The frame size FG of the linked exchanges when the caller names none.
inline constexpr uint8_t kLinkFg = 64;

// The time-out byte of every frame of a card session flow (DESFire, MIFARE
// Plus, Ultralight C): (7 + 20) x 250 = 6750 ms.
inline constexpr uint8_t kCardFlowTimeout = 7;

// How many bytes of an APDU the contact and contactless channels send: Le
// of a case-4 APDU (6 bytes or more, Lc + 6 long) stays behind.
inline size_t case4_send_length(const uint8_t* apdu, size_t length) {
  return length >= 6 && length == size_t(apdu[4]) + 6 ? length - 1 : length;
}

// The contact slot a slot code names: 0-9 themselves, 11-21 the reader's
// second numbering (16 meaning slot 0); -1 for 10 and above 21.
int contact_slot_index(uint8_t code);

// An input of `length` bytes at `data` that a channel can take: not
// negative, within one request buffer, and present when not empty.
inline bool channel_input_ok(int64_t length, const void* data) {
  return length >= 0 && length <= int64_t(kR42BufferSize) && (length == 0 || data != nullptr);
}

// Hands a reply that a wide channel left in `reply` to an 8-bit length and
// the caller's buffer: a non-zero result is returned, a reply over 255
// bytes gives -1, and only then is anything written.
inline int16_t narrow_reply(int16_t result, int32_t length, const uint8_t* reply, uint8_t* rlen,
                            uint8_t* out) {
  if (result != 0) return result;
  if (length < 0 || length > kNarrowReplyMax) return -1;
  *rlen = uint8_t(length);
  if (length) std::memcpy(out, reply, size_t(length));
  return 0;
}

// An 8-bit form over a wide channel: `call`(length, bytes) fills a local
// area, which narrow_reply then hands on.
template <typename Length, typename Call>
int16_t narrow_channel(uint8_t* rlen, uint8_t* out, Call call) {
  if (rlen == nullptr || out == nullptr) return -1;
  uint8_t reply[kR42BufferSize];
  Length length = 0;
  const int16_t result = call(&length, reply);
  return narrow_reply(result, int32_t(length), reply, rlen, out);
}

// The output half of a hexadecimal twin: `call`(length, bytes) fills a
// local area; on success the length goes to `rlen` and the bytes as text to
// `out`. A length the area cannot hold (an override's) gives -1.
template <typename Length, typename Call>
int16_t reply_hex_twin(Length* rlen, char* out, Call call) {
  if (rlen == nullptr || out == nullptr) return -1;
  uint8_t reply[kR42BufferSize];
  Length length = 0;
  const int16_t result = call(&length, reply);
  if (result != 0) return result;
  if (int64_t(length) < 0 || int64_t(length) > int64_t(sizeof reply)) return -1;
  *rlen = length;
  hex_twin_output(reply, size_t(length), out);
  return 0;
}

// A whole hexadecimal twin of an APDU operation: `slen` bytes from 2 x
// `slen` characters of `in` (checked before any conversion), then as above
// with `call`(apdu, length, bytes).
template <typename InLength, typename Length, typename Call>
int16_t apdu_hex_twin(InLength slen, const char* in, Length* rlen, char* out, Call call) {
  if (!channel_input_ok(int64_t(slen), in) || rlen == nullptr || out == nullptr) return -1;
  uint8_t apdu[kR42BufferSize];
  if (hex_twin_input(in, int64_t(slen), apdu) != 0) return -1;
  return reply_hex_twin(rlen, out, [&](Length* length, uint8_t* reply) {
    return call(static_cast<const uint8_t*>(apdu), length, reply);
  });
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

// Text twin of a read of `length` bytes, through an area of N bytes that
// holds the largest read the memory allows.
template <size_t N, typename Read>
int16_t read_as_text(int64_t length, char* text, Read read) {
  if (text == nullptr || length < 0 || uint64_t(length) > N) return -1;
  uint8_t area[N];
  const int16_t result = read(area);
  if (result != 0) return result;
  hex_twin_output(area, size_t(length), text);
  return 0;
}

// Text twin of a write: 2 x `length` digits must give `length` bytes. The
// length is checked against the area before any text is read.
template <size_t N, typename Write>
int16_t write_from_text(int64_t length, const char* text, Write write) {
  if (length < 0 || uint64_t(length) > N) return -1;
  uint8_t area[N];
  if (hex_twin_input(text, length, area) != 0) return -1;
  return write(area);
}

// Text twins of a card memory's read and write at an offset, made through
// the device interface so that an override takes effect; N bytes hold the
// largest transfer.
template <size_t N, typename Number>
int16_t memory_read_hex(ReaderDevice& self,
                        int16_t (ReaderDevice::*read)(int32_t, Number, Number, unsigned char*),
                        int32_t icdev, Number offset, Number length, char* text) {
  return read_as_text<N>(length, text, [&](uint8_t* area) {
    return (self.*read)(icdev, offset, length, area);
  });
}

template <size_t N, typename Number>
int16_t memory_write_hex(ReaderDevice& self,
                         int16_t (ReaderDevice::*write)(int32_t, Number, Number,
                                                        const unsigned char*),
                         int32_t icdev, Number offset, Number length, const char* text) {
  return write_from_text<N>(length, text, [&](const uint8_t* area) {
    return (self.*write)(icdev, offset, length, area);
  });
}
