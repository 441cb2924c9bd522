// A Port in memory: reads are served from a fixed input, writes are
// recorded. A read asking for more than is left fails (as a silent peer's
// would) and consumes nothing.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "connection/port.h"

class MemoryPort : public Port {
 public:
  MemoryPort() = default;
  MemoryPort(const uint8_t* data, size_t size) : input(data, data + size) {}
  explicit MemoryPort(std::vector<uint8_t> bytes) : input(std::move(bytes)) {}

  void close() override {}
  bool read(uint8_t* buffer, int32_t length, int32_t) override {
    ++reads;
    if (length < 0) return false;
    if (size_t(length) > input.size() - at) return false;
    if (length) std::memcpy(buffer, input.data() + at, size_t(length));
    at += size_t(length);
    return true;
  }
  bool write(const uint8_t* buffer, int32_t length, int32_t) override {
    int index = writes++;
    if (length < 0 || (fail_from_write >= 0 && index >= fail_from_write)) return false;
    written.insert(written.end(), buffer, buffer + length);
    return true;
  }
  void purge() override {}
  int32_t available() override { return int32_t(input.size() - at); }
  bool isOpen() override { return true; }
  bool reopen() override { return true; }

  size_t consumed() const { return at; }

  std::vector<uint8_t> input;
  size_t at = 0;
  std::vector<uint8_t> written;
  int reads = 0;
  int writes = 0;
  int fail_from_write = -1;  // writes from this index on fail
};

// A frame as a reader sends it over HID: 32-byte reports, each led by 0x82
// when more follow and 0x02 for the last, the last padded with zeros.
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
