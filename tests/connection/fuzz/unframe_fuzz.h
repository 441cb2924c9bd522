// Shared body of the m6 unframer fuzz targets: the input's first two bytes
// choose the reply capacity, the rest is everything the reader sends. The
// unframer must never crash, over-read, hand back more than the capacity,
// or ask the port for more than a reply of its framing can take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "connection/transport_protocol.h"
#include "memory_port.h"

template <typename Protocol>
void fuzz_unframe(const uint8_t* data, size_t size, size_t max_consumed) {
  if (size < 2) return;
  int32_t capacity = int32_t((data[0] << 8 | data[1]) % 2100);
  MemoryPort port(data + 2, size - 2);
  Protocol protocol(&port);
  // The buffer is exactly as large as the command or the capacity needs, so
  // the sanitizer sees any write past it.
  std::vector<uint8_t> buffer(size_t(capacity > 1 ? capacity : 1));
  buffer[0] = 0x80;
  int32_t n = protocol.transceive(buffer.data(), 1, capacity, 10);
  if (n < -1 || n > capacity) std::abort();
  if (port.consumed() > max_consumed) std::abort();
}
