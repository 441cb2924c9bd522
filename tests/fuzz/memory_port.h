// A Port over bytes in memory, for framing tests, fuzz targets and
// benchmarks.
// Reads take from `input` without waiting; a read asking for more than is
// left takes what is there and fails, as a serial read that times out part
// way does. Writes are recorded. Every read length is recorded too, so a
// test can see how a framing asks for its reply.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "connection/port.h"

class MemoryPort : public Port {
 public:
  MemoryPort() = default;
  MemoryPort(const uint8_t* data, size_t size) : input(data, data + size) {}
  explicit MemoryPort(std::vector<uint8_t> bytes) : input(std::move(bytes)) {}

  // Replays the same input again and forgets the reads so far (benchmarks).
  void rewind() {
    at = 0;
    reads.clear();
  }

  void close() override {}
  bool read(uint8_t* buffer, int32_t length, int32_t) override {
    reads.push_back(length);
    if (length < 0) return false;
    if (size_t(length) > input.size() - at) {
      at = input.size();
      return false;
    }
    if (length > 0) std::memcpy(buffer, input.data() + at, size_t(length));
    at += size_t(length);
    return true;
  }
  bool write(const uint8_t* buffer, int32_t length, int32_t) override {
    const int index = writes++;
    if (length < 0 || (fail_from_write >= 0 && index >= fail_from_write)) return false;
    written.insert(written.end(), buffer, buffer + length);
    return true;
  }
  void purge() override {}
  int32_t available() override { return int32_t(input.size() - at); }
  bool isOpen() override { return true; }
  bool reopen() override { return true; }

  // Bytes taken from `input` so far, by good reads and short ones.
  size_t consumed() const { return at; }

  std::vector<uint8_t> input;
  size_t at = 0;
  std::vector<int32_t> reads;  // the length of every read, in order
  std::vector<uint8_t> written;
  int writes = 0;
  int fail_from_write = -1;  // writes from this index on fail
};

// A frame as an m6 reader sends it over HID: 32-byte reports, each led by
// 0x82 when more follow and 0x02 for the last, the last padded with zeros.
inline std::vector<uint8_t> as_reports(const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < frame.size(); at += 31) {
    size_t piece = std::min<size_t>(31, frame.size() - at);
    std::vector<uint8_t> r(32, 0);
    r[0] = at + piece < frame.size() ? 0x82 : 0x02;
    std::copy(frame.begin() + long(at), frame.begin() + long(at + piece), r.begin() + 1);
    out.insert(out.end(), r.begin(), r.end());
  }
  return out;
}
