// Memories that move in chunks, one reader command per chunk: the range
// check made before any I/O and the walk over the chunks.
#pragma once

#include <cstdint>

// A memory without a size the host checks.
inline constexpr uint64_t kUnboundedMemory = UINT64_MAX;

// Whether bytes offset .. offset + length - 1 exist in 64 bits and, for a
// memory of `size` bytes (kUnboundedMemory: any), lie within it. Nothing
// wraps, whatever the numbers.
inline bool range_ok(uint64_t offset, uint64_t length, uint64_t size) {
  if (length > 0 && length - 1 > UINT64_MAX - offset) return false;
  return size == kUnboundedMemory || (offset <= size && length <= size - offset);
}

// The same for a caller's signed numbers: negative ones are refused.
inline bool signed_range_ok(int64_t offset, int64_t length, uint64_t size) {
  return offset >= 0 && length >= 0 && range_ok(uint64_t(offset), uint64_t(length), size);
}

// Whole chunks of `size` first, then the rest; `chunk`(at, count) moves
// one, `at` counted from the start of the transfer. The first failing chunk
// ends the walk with its result; the ones before it stay done.
template <typename Chunk>
int16_t for_each_chunk(uint64_t size, uint64_t length, Chunk chunk) {
  const uint64_t whole = length / size;
  const uint64_t tail = length % size;
  for (uint64_t k = 0; k < whole; ++k) {
    const int16_t result = chunk(k * size, uint32_t(size));
    if (result != 0) return result;
  }
  if (tail != 0) return chunk(whole * size, uint32_t(tail));
  return 0;
}
