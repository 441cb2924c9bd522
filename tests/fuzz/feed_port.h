// A Port over bytes in memory, for framing tests, fuzzers and benchmarks.
// Reads take from `input` and fail (without waiting) when too few bytes are
// left; writes go nowhere. Every read length is recorded.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "connection/port.h"

class FeedPort : public Port {
 public:
  FeedPort() = default;
  explicit FeedPort(std::vector<uint8_t> bytes) : input(std::move(bytes)) {}

  // Replays the same input again (benchmarks).
  void rewind() { position = 0; }
  void feed(const uint8_t* data, size_t n) {
    data_ = data;
    size_ = n;
    position = 0;
  }

  void close() override { open = false; }
  bool read(uint8_t* buffer, int32_t length, int32_t) override {
    if (record_reads) reads.push_back(length);
    if (!open || length < 0) return false;
    const uint8_t* src = data_ ? data_ : input.data();
    size_t size = data_ ? size_ : input.size();
    if (size_t(length) > size - position) {
      position = size;  // a short read consumes what was there
      return false;
    }
    if (length > 0) std::memcpy(buffer, src + position, size_t(length));
    position += size_t(length);
    return true;
  }
  bool write(const uint8_t*, int32_t length, int32_t) override {
    if (!open || length < 0) return false;
    return !fail_writes;
  }
  void purge() override {}
  int32_t available() override { return 0; }
  bool isOpen() override { return open; }
  bool reopen() override { return open = true; }

  std::vector<uint8_t> input;
  std::vector<int32_t> reads;
  size_t position = 0;
  bool open = true;
  bool fail_writes = false;
  bool record_reads = true;

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
