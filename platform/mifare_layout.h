// Layout of MIFARE Classic sector cards (1K and 4K), shared by the reader
// families that address such cards block by block.
//
// Sectors 0-31 hold 4 blocks, sectors 32-39 hold 16; the last block of each
// sector is its trailer (key A, access bytes, general-purpose byte, key B).
// Block numbers travel in one byte, so anything that would need more than
// 8 bits is refused instead of wrapping onto another sector.
#pragma once

#include <cstdint>

inline constexpr int kMifareSectorCount = 40;
inline constexpr int kMifareBlockSize = 16;
inline constexpr int kMifareKeySize = 6;
inline constexpr int kMifareLastBlock = 255;

// First block and trailer block of a sector; -1 outside 0-39.
int sector_first_block(int sector);
int sector_trailer_block(int sector);
// The sector a block belongs to; -1 outside 0-255.
int block_sector(int block);

// The 16-byte trailer: key A, access bytes 6-8 built from the access
// condition numbers b[0..3] (bit 2 C1, bit 1 C2, bit 0 C3 of blocks 0-3),
// the general-purpose byte and key B. False (nothing written) when any
// condition number is above 7.
bool build_sector_trailer(const uint8_t* key_a, const uint8_t conditions[4], uint8_t gpb,
                          const uint8_t* key_b, uint8_t trailer[16]);

// A 4-byte UID as the caller's 32-bit serial number: the first byte the
// card sent is the lowest. uid_bytes is the inverse.
uint32_t uid_value(const uint8_t uid[4]);
void uid_bytes(uint32_t value, uint8_t uid[4]);

// A value block: the value (little-endian), its complement, the value
// again, then the address, its complement, the address, its complement.
void build_value_block(uint32_t value, uint8_t adr, uint8_t block[16]);
// The value of a block whose two plain copies (bytes 0-3 and 8-11) and two
// address copies (bytes 12 and 14, 13 and 15) agree; false otherwise. The
// complement copies are not compared, as the readers' own check does not.
bool value_block_value(const uint8_t block[16], uint32_t* value);

// MIFARE Light: a card that answers the request with this tag type keeps a
// 16-bit value in block 4, twice: [low][high][~low][~high] in bytes 0-3 and
// the same in bytes 4-7.
inline constexpr uint16_t kLightTagType = 0x0010;
inline constexpr uint8_t kLightValueBlock = 4;
// Whether one 4-byte copy holds a value and its complement.
bool light_copy_ok(const uint8_t copy[4]);
// Which copy of a Light value block to take: 0 the first, 1 the second
// when only it is valid, -1 when neither is.
int light_value_copy(const uint8_t block[16]);
// The block that sets a Light value: one copy, then twelve bytes 0xFF.
void build_light_value_block(uint16_t value, uint8_t block[16]);
