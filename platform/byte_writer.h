// Bounds-checked building of a reader request in a buffer, the writing
// twin of ByteCursor. An append that does not fit marks the writer as
// overflowed and writes nothing; every later append is refused too, so a
// request is either whole or refused, and the exchange refuses it before
// any I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/byte_helpers.h"

class ByteWriter {
 public:
  ByteWriter(uint8_t* data, size_t capacity) : data_(data), capacity_(data ? capacity : 0) {}
  ByteWriter(const ByteWriter&) = delete;
  ByteWriter& operator=(const ByteWriter&) = delete;

  ByteWriter& u8(uint8_t value) { return bytes(&value, 1); }
  ByteWriter& be16(uint16_t value) {
    uint8_t b[2];
    store_be16(value, b);
    return bytes(b, 2);
  }
  ByteWriter& be32(uint32_t value) {
    uint8_t b[4];
    store_be32(value, b);
    return bytes(b, 4);
  }
  ByteWriter& le16(uint16_t value) {
    const uint8_t b[2] = {uint8_t(value), uint8_t(value >> 8)};
    return bytes(b, 2);
  }
  ByteWriter& le32(uint32_t value) {
    const uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                          uint8_t(value >> 24)};
    return bytes(b, 4);
  }
  // `count` bytes from `data` (which may be null only when count is 0).
  ByteWriter& bytes(const void* data, size_t count) {
    if (overflowed_ || count > capacity_ - size_ || (data == nullptr && count > 0)) {
      overflowed_ = true;
      return *this;
    }
    if (count) std::memcpy(data_ + size_, data, count);
    size_ += count;
    return *this;
  }

  // Whether a caller's number fits a one-byte or a two-byte field.
  static constexpr bool fits_u8(int64_t value) { return value >= 0 && value <= 0xFF; }
  static constexpr bool fits_u16(int64_t value) { return value >= 0 && value <= 0xFFFF; }
  // A caller's number in a one-byte or a BE16 field. A value that does not
  // fit refuses the request as an overflow does.
  ByteWriter& checked_u8(int64_t value) { return fits_u8(value) ? u8(uint8_t(value)) : refuse(); }
  ByteWriter& checked_be16(int64_t value) {
    return fits_u16(value) ? be16(uint16_t(value)) : refuse();
  }
  // `length` bytes of the caller's after their count, in one byte or BE16.
  // A count its field cannot hold, or null data with a positive count,
  // refuses the request the same way.
  ByteWriter& u8_counted(const void* data, int64_t length) {
    if (!fits_u8(length) || (data == nullptr && length > 0)) return refuse();
    return u8(uint8_t(length)).bytes(data, size_t(length));
  }
  ByteWriter& be16_counted(const void* data, int64_t length) {
    if (!fits_u16(length) || (data == nullptr && length > 0)) return refuse();
    return be16(uint16_t(length)).bytes(data, size_t(length));
  }
  // A text's characters without its terminator, counted in one byte; a
  // null text or one over 255 characters refuses the request.
  ByteWriter& u8_counted_text(const char* text) {
    if (text == nullptr) return refuse();
    return u8_counted(text, int64_t(strnlen(text, 0xFF + 1)));
  }
  // The characters of a text without its terminator, as far as the buffer
  // can take them: one more than it has room for overflows it. Null refuses.
  ByteWriter& text(const char* text) {
    if (text == nullptr) return refuse();
    return bytes(text, strnlen(text, capacity_ - size_ + 1));
  }
  // Marks the request as refused (an argument the caller got wrong).
  ByteWriter& refuse() {
    overflowed_ = true;
    return *this;
  }

  bool overflowed() const { return overflowed_; }
  size_t size() const { return size_; }
  // The most the buffer may hold.
  size_t capacity() const { return capacity_; }
  uint8_t* buffer() { return data_; }

 protected:
  // Moves the writer onto another buffer before anything was written.
  void attach(uint8_t* data, size_t capacity) {
    data_ = data;
    capacity_ = data ? capacity : 0;
  }

 private:
  uint8_t* data_;
  size_t capacity_;
  size_t size_ = 0;
  bool overflowed_ = false;
};
