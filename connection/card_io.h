// Shapes that the operations of both reader families are built from: the
// case-4 rule, replies handed to 8-bit lengths, and the hexadecimal twins of
// operations that take and give a length and a buffer.
//
// A twin checks the caller's length (and, for a memory, the whole range)
// before it reads any text or allocates anything; the area it converts
// through then holds exactly the bytes asked for, from the heap, so no
// length can push it past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "connection/reader_device.h"
#include "platform/text_helpers.h"

// The most a reply may hand to an 8-bit length.
inline constexpr int32_t kNarrowReplyMax = 255;

// How many bytes of an APDU the contact and contactless channels send: Le
// of a case-4 APDU (6 bytes or more, Lc + 6 long) stays behind.
inline size_t case4_send_length(const uint8_t* apdu, size_t length) {
  return length >= 6 && length == size_t(apdu[4]) + 6 ? length - 1 : length;
}

// An area of `size` bytes for one twin's conversion; null when the heap
// has none.
inline std::unique_ptr<uint8_t[]> twin_area(uint64_t size) {
  if (size > SIZE_MAX) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size ? size_t(size) : 1]);
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

// An 8-bit form over a wide channel: `call`(length, bytes) fills an area of
// `room` bytes (the most the channel gives), which narrow_reply hands on.
template <typename Length, typename Call>
int16_t narrow_channel(size_t room, uint8_t* rlen, uint8_t* out, Call call) {
  if (rlen == nullptr || out == nullptr) return -1;
  auto reply = twin_area(room);
  if (!reply) return -1;
  Length length = 0;
  const int16_t result = call(&length, reply.get());
  return narrow_reply(result, int32_t(length), reply.get(), rlen, out);
}

// The output half of a hexadecimal twin: `call`(length, bytes) fills an
// area of `room` bytes; on success the length goes to `rlen` and the bytes
// as text to `out`. A length past the area (an override's) gives -1.
template <typename Length, typename Call>
int16_t reply_hex_twin(size_t room, Length* rlen, char* out, Call call) {
  if (rlen == nullptr || out == nullptr) return -1;
  auto reply = twin_area(room);
  if (!reply) return -1;
  Length length = 0;
  const int16_t result = call(&length, reply.get());
  if (result != 0) return result;
  if (int64_t(length) < 0 || uint64_t(length) > room) return -1;
  *rlen = length;
  hex_twin_output(reply.get(), size_t(length), out);
  return 0;
}

// A whole hexadecimal twin of an APDU operation: `slen` (at most `room`)
// bytes from 2 x `slen` characters of `in`, then as reply_hex_twin with
// `call`(apdu, length, bytes).
template <typename InLength, typename Length, typename Call>
int16_t apdu_hex_twin(size_t room, InLength slen, const char* in, Length* rlen, char* out,
                      Call call) {
  if (int64_t(slen) < 0 || uint64_t(slen) > room || in == nullptr || rlen == nullptr ||
      out == nullptr)
    return -1;
  auto apdu = twin_area(uint64_t(slen));
  if (!apdu || hex_twin_input(in, int64_t(slen), apdu.get()) != 0) return -1;
  return reply_hex_twin(room, rlen, out, [&](Length* length, uint8_t* reply) {
    return call(static_cast<const uint8_t*>(apdu.get()), length, reply);
  });
}

// Text twin of a read of `length` bytes (at most `most`).
template <typename Read>
int16_t read_as_text(int64_t length, uint64_t most, char* text, Read read) {
  if (text == nullptr || length < 0 || uint64_t(length) > most) return -1;
  auto area = twin_area(uint64_t(length));
  if (!area) return -1;
  const int16_t result = read(area.get());
  if (result == 0) hex_twin_output(area.get(), size_t(length), text);
  return result;
}

// Text twin of a write: 2 x `length` digits (at most `most` bytes) must
// give `length` bytes.
template <typename Write>
int16_t write_from_text(int64_t length, uint64_t most, const char* text, Write write) {
  if (length < 0 || uint64_t(length) > most) return -1;
  auto area = twin_area(uint64_t(length));
  if (!area || hex_twin_input(text, length, area.get()) != 0) return -1;
  return write(static_cast<const uint8_t*>(area.get()));
}

// Text twins of a memory's read and write at an offset, made through the
// device interface so that an override takes effect. `in_range` is the
// memory's own check of offset and length, made first.
template <typename Number>
int16_t memory_read_hex(ReaderDevice& self,
                        int16_t (ReaderDevice::*read)(int32_t, Number, Number, unsigned char*),
                        int32_t icdev, Number offset, Number length, bool in_range, char* text) {
  if (!in_range) return -1;
  return read_as_text(length, uint64_t(length), text, [&](uint8_t* area) {
    return (self.*read)(icdev, offset, length, area);
  });
}

template <typename Number>
int16_t memory_write_hex(ReaderDevice& self,
                         int16_t (ReaderDevice::*write)(int32_t, Number, Number,
                                                        const unsigned char*),
                         int32_t icdev, Number offset, Number length, bool in_range,
                         const char* text) {
  if (!in_range) return -1;
  return write_from_text(length, uint64_t(length), text, [&](const uint8_t* area) {
    return (self.*write)(icdev, offset, length, area);
  });
}

// Twins of a slot whose last argument is a block of `size` bytes (a PSC, a
// UID, a tag block): (self.*slot)(icdev, args..., bytes), made through the
// device interface. The input twin takes the block from 2 x `size`
// characters; the output twin writes it as 2 x `size` characters and a NUL
// once the slot gave 0.
template <typename Slot, typename... Args>
int16_t block_in_twin(ReaderDevice& self, Slot slot, size_t size, const char* text,
                      int32_t icdev, Args... args) {
  return write_from_text(int64_t(size), size, text, [&](const uint8_t* bytes) {
    return (self.*slot)(icdev, args..., bytes);
  });
}

template <typename Slot, typename... Args>
int16_t block_out_twin(ReaderDevice& self, Slot slot, size_t size, char* text, int32_t icdev,
                       Args... args) {
  return read_as_text(int64_t(size), size, text, [&](uint8_t* bytes) {
    return (self.*slot)(icdev, args..., bytes);
  });
}

// The text twin of the DESFire authentication: keylen 8 or 16, the key as
// 2 x keylen characters and RndA as 16 (else -1 before anything else);
// RndB comes back as 16 characters and a NUL.
inline int16_t desfire_auth_hex_twin(ReaderDevice& self, int32_t icdev, uint8_t keyno,
                                     uint8_t keylen, const char* authkey, const char* rand_a,
                                     char* rand_b) {
  constexpr size_t kBlock = 8;
  if ((keylen != 8 && keylen != 16) || rand_b == nullptr) return -1;
  uint8_t key[16], a[kBlock], b[kBlock];
  if (hex_twin_input(authkey, keylen, key) != 0 || hex_twin_input(rand_a, kBlock, a) != 0)
    return -1;
  const int16_t result = self.mfdes_auth(icdev, keyno, keylen, key, a, b);
  if (result != 0) return result;
  hex_twin_output(b, kBlock, rand_b);
  return 0;
}
