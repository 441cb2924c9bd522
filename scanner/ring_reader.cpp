#include "scanner/ring_reader.h"

#include "platform/deadline.h"

size_t read_reply(ReceiveRing& ring, uint8_t* buffer, size_t capacity, int32_t first_byte_ms,
                  int32_t silence_ms, const std::atomic<bool>* stop) {
  if (!buffer || capacity == 0) return 0;
  size_t length = ring.read(buffer, capacity, Deadline(first_byte_ms), stop);
  while (length > 0 && length < capacity) {
    const size_t n = ring.read(buffer + length, capacity - length, Deadline(silence_ms), stop);
    if (n == 0) break;
    length += n;
  }
  return length;
}
