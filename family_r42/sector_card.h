// The reader's key store for contactless sector cards. The card layout
// itself (sectors, blocks, trailers) is in platform/mifare_layout.h.
#pragma once

#include <cstdint>

#include "platform/mifare_layout.h"

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
