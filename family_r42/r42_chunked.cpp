#include "family_r42/r42_chunked.h"

#include "family_r42/r42_device.h"

namespace {

// Builds the request of one chunk; the data of a write follows it.
void put_chunk_header(R42Request& request, const ChunkedMemory& memory, uint64_t offset,
                      uint32_t length) {
  if (memory.multi_region) {
    request.u8(memory.region_type)
        .be32(uint32_t(offset >> 32))
        .be32(uint32_t(offset))
        .be32(0)
        .be32(length);
  } else {
    // Callers keep 32-bit memories below 2^32 (signed offset plus signed length).
    request.be32(uint32_t(offset)).be32(length);
  }
  if (memory.extra_byte) request.u8(*memory.extra_byte);
}

bool range_ok(const ChunkedMemory& memory, uint64_t offset, uint64_t length) {
  // The last byte, offset + length - 1, must exist in 64 bits.
  if (length > 0 && length - 1 > UINT64_MAX - offset) return false;
  if (memory.capacity != ChunkedMemory::kNoBound &&
      (offset > memory.capacity || length > memory.capacity - offset))
    return false;
  // Chunk offsets of the short form travel as 32 bits.
  if (!memory.multi_region && length > 0 && offset + length - 1 > UINT32_MAX) return false;
  return true;
}

template <typename Chunk>
int16_t for_each_chunk(const ChunkedMemory& memory, uint64_t length, Chunk chunk) {
  const uint64_t size = memory.chunk_size;
  const uint64_t whole = length / size;
  const uint64_t tail = length % size;
  for (uint64_t k = 0; k < whole; ++k) {
    int16_t result = chunk(k * size, uint32_t(size));
    if (result != 0) return result;
  }
  if (tail != 0) return chunk(whole * size, uint32_t(tail));
  return 0;
}

}  // namespace

int16_t read_chunked_u64(R42Device& device, const ChunkedMemory& memory, uint64_t offset,
                         uint64_t length, uint8_t* out) {
  if (!range_ok(memory, offset, length)) return -1;
  if (length == 0) return 0;
  if (out == nullptr) return -1;
  return for_each_chunk(memory, length, [&](uint64_t at, uint32_t count) -> int16_t {
    R42Request request(memory.read_code);
    put_chunk_header(request, memory, offset + at, count);
    ByteCursor reply(nullptr, 0);
    int16_t result =
        device.exchange(request, kR42DefaultTimeoutMs, r42_cmd::chunk_reply(count), &reply);
    if (result != 0) return result;
    return reply.take(out + at, count) ? 0 : -1;
  });
}

int16_t write_chunked_u64(R42Device& device, const ChunkedMemory& memory, uint64_t offset,
                          uint64_t length, const uint8_t* in) {
  if (!range_ok(memory, offset, length)) return -1;
  if (length == 0) return 0;
  if (in == nullptr) return -1;
  return for_each_chunk(memory, length, [&](uint64_t at, uint32_t count) -> int16_t {
    R42Request request(memory.write_code);
    put_chunk_header(request, memory, offset + at, count);
    request.bytes(in + at, count);
    return device.exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
  });
}

int16_t read_chunked(R42Device& device, const ChunkedMemory& memory, int64_t offset,
                     int64_t length, uint8_t* out) {
  if (offset < 0 || length < 0) return -1;
  return read_chunked_u64(device, memory, uint64_t(offset), uint64_t(length), out);
}

int16_t write_chunked(R42Device& device, const ChunkedMemory& memory, int64_t offset,
                      int64_t length, const uint8_t* in) {
  if (offset < 0 || length < 0) return -1;
  return write_chunked_u64(device, memory, uint64_t(offset), uint64_t(length), in);
}

int16_t read_info_area(R42Device& device, int16_t offset, int16_t length, uint8_t* out) {
  return read_chunked(device, kR42InfoArea, offset, length, out);
}

int16_t write_info_area(R42Device& device, int16_t offset, int16_t length, const uint8_t* in) {
  return write_chunked(device, kR42InfoArea, offset, length, in);
}
