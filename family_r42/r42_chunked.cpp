#include "family_r42/r42_chunked.h"

#include "family_r42/r42_device.h"
#include "platform/chunk_walk.h"

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

bool memory_range_ok(const ChunkedMemory& memory, uint64_t offset, uint64_t length) {
  if (!range_ok(offset, length, memory.capacity)) return false;
  // Chunk offsets of the short form travel as 32 bits.
  if (!memory.multi_region && length > 0 && offset + length - 1 > UINT32_MAX) return false;
  return true;
}

}  // namespace

int16_t read_chunked_u64(R42Device& device, const ChunkedMemory& memory, uint64_t offset,
                         uint64_t length, uint8_t* out) {
  if (!memory_range_ok(memory, offset, length)) return -1;
  if (length == 0) return 0;
  if (out == nullptr) return -1;
  return for_each_chunk(memory.chunk_size, length, [&](uint64_t at, uint32_t count) {
    R42Request request(memory.read_code);
    put_chunk_header(request, memory, offset + at, count);
    return device.fixed_reply(request, out + at, count);
  });
}

int16_t write_chunked_u64(R42Device& device, const ChunkedMemory& memory, uint64_t offset,
                          uint64_t length, const uint8_t* in) {
  if (!memory_range_ok(memory, offset, length)) return -1;
  if (length == 0) return 0;
  if (in == nullptr) return -1;
  return for_each_chunk(memory.chunk_size, length, [&](uint64_t at, uint32_t count) {
    R42Request request(memory.write_code);
    put_chunk_header(request, memory, offset + at, count);
    request.bytes(in + at, count);
    return device.exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
  });
}

bool chunked_range_ok(const ChunkedMemory& memory, int64_t offset, int64_t length) {
  return offset >= 0 && length >= 0 && memory_range_ok(memory, uint64_t(offset), uint64_t(length));
}

int16_t read_chunked(R42Device& device, const ChunkedMemory& memory, int64_t offset,
                     int64_t length, uint8_t* out) {
  if (!chunked_range_ok(memory, offset, length)) return -1;
  return read_chunked_u64(device, memory, uint64_t(offset), uint64_t(length), out);
}

int16_t write_chunked(R42Device& device, const ChunkedMemory& memory, int64_t offset,
                      int64_t length, const uint8_t* in) {
  if (!chunked_range_ok(memory, offset, length)) return -1;
  return write_chunked_u64(device, memory, uint64_t(offset), uint64_t(length), in);
}

int16_t read_info_area(R42Device& device, int16_t offset, int16_t length, uint8_t* out) {
  return read_chunked(device, kR42InfoArea, offset, length, out);
}

int16_t write_info_area(R42Device& device, int16_t offset, int16_t length, const uint8_t* in) {
  return write_chunked(device, kR42InfoArea, offset, length, in);
}

// --- zoned memory cards ---

bool zoned_range_ok(const ZonedMemory& memory, uint8_t zone, int64_t offset, int64_t length) {
  if (zone > memory.config_zone || offset < 0 || length < 0) return false;
  const uint64_t size = zone == memory.config_zone ? memory.config_zone_size
                                                   : memory.user_zone_size;
  return uint64_t(offset) <= size && uint64_t(length) <= size - uint64_t(offset);
}

namespace {

constexpr uint8_t kUserZoneKind = 0;
constexpr uint8_t kConfigZoneKind = 1;

// The zone select a user zone needs before its chunks; the configuration
// zone needs none.
int16_t select_zone(R42Device& device, const ZonedMemory& memory, uint8_t zone) {
  if (zone == memory.config_zone) return 0;
  return device.status_command(memory.select_code, {zone});
}

// [code][00][kind][address][count]: the head of one chunk of a zone.
void put_zone_chunk_header(R42Request& request, const ZonedMemory& memory, uint8_t zone,
                           uint64_t address, uint32_t count) {
  // Zones hold at most 256 bytes and a chunk at most 192: both fit a byte.
  request.u8(zone == memory.config_zone ? kConfigZoneKind : kUserZoneKind)
      .u8(uint8_t(address))
      .u8(uint8_t(count));
}

// Checks the range, selects the zone and walks the chunks; `send`(request,
// at, count) completes and sends the chunk request that `code` begins.
template <typename Send>
int16_t zoned_transfer(R42Device& device, const ZonedMemory& memory, uint16_t code, uint8_t zone,
                       int64_t offset, int64_t length, const void* buffer, Send send) {
  if (!zoned_range_ok(memory, zone, offset, length)) return -1;
  if (length == 0) return 0;
  if (buffer == nullptr) return -1;
  const int16_t selected = select_zone(device, memory, zone);
  if (selected != 0) return selected;
  return for_each_chunk(memory.chunk_size, uint64_t(length), [&](uint64_t at, uint32_t count) {
    R42Request request(code);
    put_zone_chunk_header(request, memory, zone, uint64_t(offset) + at, count);
    return send(request, at, count);
  });
}

}  // namespace

int16_t read_zoned(R42Device& device, const ZonedMemory& memory, uint8_t zone, int64_t offset,
                   int64_t length, uint8_t* out) {
  return zoned_transfer(device, memory, memory.read_code, zone, offset, length, out,
                        [&](R42Request& request, uint64_t at, uint32_t count) {
                          return device.fixed_reply(request, out + at, count);
                        });
}

int16_t write_zoned(R42Device& device, const ZonedMemory& memory, uint8_t zone, int64_t offset,
                    int64_t length, const uint8_t* in) {
  return zoned_transfer(device, memory, memory.write_code, zone, offset, length, in,
                        [&](R42Request& request, uint64_t at, uint32_t count) {
                          request.bytes(in + at, count);
                          return device.exchange(request, kR42DefaultTimeoutMs,
                                                 r42_cmd::kStatusOnly);
                        });
}
