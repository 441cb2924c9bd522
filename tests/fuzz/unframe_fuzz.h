// The body both unframing fuzzers share: the first two input bytes pick the
// reply capacity (0-4096) and the rest is what the reader "sends". The
// caller's buffer is exactly the capacity, so any write past it is caught.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz/feed_port.h"

template <typename Protocol>
int fuzz_unframe(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t capacity = int32_t((uint32_t(data[0]) << 8 | data[1]) % 4097);
  FeedPort port;
  port.record_reads = false;
  port.feed(data + 2, size - 2);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size_t(capacity)]);
  Protocol protocol(&port);
  const int32_t result = protocol.transceive(buffer.get(), 0, capacity, 10);
  if (result < -1 || result > capacity) std::abort();
  return 0;
}
