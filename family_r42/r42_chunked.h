// Memories of the reader that move in chunks, one exchange per chunk:
// the reader EEPROM, the device-information area, the data flash, the out
// EEPROM, the multi-region flash, the contact memory cards and the zoned
// secure memory cards.
// Transfers are not atomic: chunks done before a failing one stay done on the
// reader (write) or in the caller's buffer (read).
#pragma once

#include <cstdint>
#include <optional>

#include "family_r42/r42_commands.h"
#include "platform/chunk_walk.h"

class R42Device;

struct ChunkedMemory {
  static constexpr uint64_t kNoBound = kUnboundedMemory;

  uint16_t read_code;
  uint16_t write_code;
  // offset + length may not exceed this; kNoBound when the host checks none.
  uint64_t capacity;
  uint32_t chunk_size;
  // Multi-region form: a type byte, the offset as two 32-bit halves and a
  // zero word before the length. Otherwise offset and length are 32 bits.
  bool multi_region = false;
  uint8_t region_type = 0;
  // A byte some memories take after the chunk length (which of a card's
  // memories the chunk is for); none when empty.
  std::optional<uint8_t> extra_byte = std::nullopt;
};

inline constexpr uint64_t kR42EepromSize = 16384;
inline constexpr uint64_t kR42InfoAreaSize = 4096;
inline constexpr ChunkedMemory kR42Eeprom = {r42_cmd::kReadEeprom, r42_cmd::kWriteEeprom,
                                             kR42EepromSize, 192};
inline constexpr ChunkedMemory kR42InfoArea = {r42_cmd::kReadInfoArea, r42_cmd::kWriteInfoArea,
                                               kR42InfoAreaSize, 192};
inline constexpr ChunkedMemory kR42DataFlash = {r42_cmd::kReadFlash, r42_cmd::kWriteFlash,
                                                ChunkedMemory::kNoBound, 192};
inline constexpr ChunkedMemory kR42OutEeprom = {r42_cmd::kReadOutEeprom, r42_cmd::kWriteOutEeprom,
                                                ChunkedMemory::kNoBound, 192};
inline ChunkedMemory r42_multi_flash(uint8_t type) {
  return ChunkedMemory{r42_cmd::kReadMultiFlash, r42_cmd::kWriteMultiFlash,
                       ChunkedMemory::kNoBound, 1920, true, type};
}

// Signed callers: a negative offset or length is refused with -1 before any
// I/O, as is a range past the capacity. Length 0 gives 0 without I/O.
// Results: 0, -1 (argument, exchange or short reply), -2 (reader status).
int16_t read_chunked(R42Device& device, const ChunkedMemory& memory, int64_t offset,
                     int64_t length, uint8_t* out);
int16_t write_chunked(R42Device& device, const ChunkedMemory& memory, int64_t offset,
                      int64_t length, const uint8_t* in);

// Whether read_chunked and write_chunked take this range; for twins that
// check before converting text.
bool chunked_range_ok(const ChunkedMemory& memory, int64_t offset, int64_t length);

// Unsigned 64-bit ranges (the multi-region flash). A range ending past
// 2^64 is refused with -1 before any I/O.
int16_t read_chunked_u64(R42Device& device, const ChunkedMemory& memory, uint64_t offset,
                         uint64_t length, uint8_t* out);
int16_t write_chunked_u64(R42Device& device, const ChunkedMemory& memory, uint64_t offset,
                          uint64_t length, const uint8_t* in);

// The 4096-byte device-information area.
int16_t read_info_area(R42Device& device, int16_t offset, int16_t length, uint8_t* out);
int16_t write_info_area(R42Device& device, int16_t offset, int16_t length, const uint8_t* in);

// Secure memory cards whose memory is split into zones (AT88SC1608,
// AT88SC153): user zones 0 to config_zone - 1, reached after a zone select,
// and the configuration zone `config_zone`, addressed without one. Chunk
// requests carry a kind byte (1 configuration, 0 user zone), the one-byte
// address within the zone and a one-byte count.
struct ZonedMemory {
  uint16_t read_code;
  uint16_t write_code;
  uint16_t select_code;
  uint8_t config_zone;
  uint32_t user_zone_size;
  uint32_t config_zone_size;
  uint32_t chunk_size;
};

// The largest zone of any zoned card.
inline constexpr uint32_t kLargestZone = 256;

// Whether zone, offset and length name bytes of one zone: the zone exists,
// offset and length are not negative and offset + length stays within it.
bool zoned_range_ok(const ZonedMemory& memory, uint8_t zone, int64_t offset, int64_t length);

// Results: 0; -1 (zone or range refused before any I/O, exchange, short
// reply); -2 (reader status). Length 0 gives 0 without I/O. A failing zone
// select moves no data.
int16_t read_zoned(R42Device& device, const ZonedMemory& memory, uint8_t zone, int64_t offset,
                   int64_t length, uint8_t* out);
int16_t write_zoned(R42Device& device, const ZonedMemory& memory, uint8_t zone, int64_t offset,
                    int64_t length, const uint8_t* in);
