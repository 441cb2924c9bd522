// Addressing of contactless sector cards and of the reader's key store.
//
// Sectors 0-31 hold 4 blocks, sectors 32-39 hold 16; the last block of each
// sector is its trailer (key A, access bytes, general-purpose byte, key B).
// Block numbers travel in one byte, so anything that would need more than
// 8 bits is refused instead of wrapping onto another sector.
#pragma once

#include <cstdint>

inline constexpr int kSectorCount = 40;
inline constexpr int kBlockSize = 16;
inline constexpr int kKeySize = 6;

// First block and trailer block of a sector; -1 for a sector above 39.
int sector_first_block(int sector);
int sector_trailer_block(int sector);
// The sector a block belongs to; -1 outside 0-255.
int block_sector(int block);

// Where a key lives in the reader's key store and which key the card is
// asked to check. Three key sets of 40 sectors x (key A, key B):
//   mode 0/1/2: key A of set 0/1/2, mode 4/5/6: key B of set 0/1/2.
struct KeyStoreSlot {
  int16_t offset;    // byte offset of the 6-byte key in the reader EEPROM
  uint8_t key_byte;  // 0x60 key A, 0x61 key B
};
// False for mode 3, a mode above 6 or a sector above 39: such a key would
// land on another key set, the device serial or the user area.
bool key_store_slot(uint8_t mode, int sector, KeyStoreSlot* slot);

// The 16-byte trailer: key A, access bytes 6-8 built from the access
// condition numbers b[0..3] (bit 2 C1, bit 1 C2, bit 0 C3 of blocks 0-3),
// the general-purpose byte and key B. False (nothing written) when any
// condition number is above 7.
bool build_sector_trailer(const uint8_t* key_a, const uint8_t conditions[4], uint8_t gpb,
                          const uint8_t* key_b, uint8_t trailer[16]);
