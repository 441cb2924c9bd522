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
