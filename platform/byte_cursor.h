// Bounds-checked reading of a reader's reply. Every take fails cleanly past
// the end and then leaves the cursor where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteCursor {
 public:
  ByteCursor(const uint8_t* data, size_t length) : data_(data), length_(data ? length : 0) {}

  size_t remaining() const { return length_ - pos_; }
  size_t position() const { return pos_; }
  const uint8_t* here() const { return data_ + pos_; }

  bool skip(size_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
  }
  bool u8(uint8_t& out) {
    if (remaining() < 1) return false;
    out = data_[pos_++];
    return true;
  }
  bool be16(uint16_t& out) {
    if (remaining() < 2) return false;
    out = uint16_t(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return true;
  }
  bool be32(uint32_t& out) {
    if (remaining() < 4) return false;
    out = uint32_t(data_[pos_]) << 24 | uint32_t(data_[pos_ + 1]) << 16 |
          uint32_t(data_[pos_ + 2]) << 8 | uint32_t(data_[pos_ + 3]);
    pos_ += 4;
    return true;
  }
  bool le16(uint16_t& out) {
    if (remaining() < 2) return false;
    out = uint16_t(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool le32(uint32_t& out) {
    if (remaining() < 4) return false;
    out = uint32_t(data_[pos_]) | uint32_t(data_[pos_ + 1]) << 8 |
          uint32_t(data_[pos_ + 2]) << 16 | uint32_t(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return true;
  }
  // Copies n bytes to out (which may be null only when n is 0).
  bool take(uint8_t* out, size_t n) {
    if (n > remaining()) return false;
    if (n) std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t length_;
  size_t pos_ = 0;
};
