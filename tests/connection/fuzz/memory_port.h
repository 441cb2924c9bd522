// A Port in memory: reads are served from a fixed input, writes are
// recorded. A read asking for more than is left fails (as a silent peer's
// would) and consumes nothing.
#pragma once

#include <cstdint>
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
    ++writes;
    if (length < 0 || fail_writes) return false;
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
  bool fail_writes = false;
};
