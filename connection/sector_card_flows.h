// Sector-card operations that both reader families build from their own
// single-command slots: card search, 7-byte UIDs, trailers, Light values,
// the write check and the hexadecimal twins. Each calls its steps through
// the device interface with the caller's handle, so every step behaves as
// the slot it names (an override included), and returns the first failing
// step's result unchanged. Outputs are written only on success, but for
// card's serial, which holds what the anticollision found even when the
// select then fails.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connection/reader_device.h"

namespace sector_flow {

// request, anticollision (from serial 0) and select; the serial to *snr.
int16_t card(ReaderDevice& d, int32_t icdev, uint8_t mode, uint32_t* snr);
// The serial as 8 hex characters, most significant byte first.
int16_t card_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, char* text);
// The 4- or 7-byte UID in the order the card sent it: a level-1 size byte
// with bit 2 set sends the search on to level 2 (a third level is not
// asked for, so a 10-byte UID gives its first 7 bytes).
int16_t card_double(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t* uid);
// The same into `uid` (room for 7 bytes) with its length; nothing checked.
int16_t card_uid(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t* uid, size_t* length);
int16_t card_double_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, char* text);

// Builds the trailer of a sector (0-39; conditions 0-7) and writes it.
int16_t changeb3(ReaderDevice& d, int32_t icdev, uint8_t sector, const uint8_t* key_a,
                 uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t bk,
                 const uint8_t* key_b);
int16_t changeb3_hex(ReaderDevice& d, int32_t icdev, uint8_t sector, const char* key_a,
                     uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t bk,
                     const char* key_b);
// Authentication with a given key at the trailer of a sector (0-39).
int16_t authentication_pass(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t sector,
                            const uint8_t* key);
// The Light value: the first valid copy of block 4.
int16_t readval_ml(ReaderDevice& d, int32_t icdev, uint16_t* value);
// card(0); -1 for another serial; authentication of the block's sector;
// the block read back: 0 when it equals `data`, else -2.
int16_t check_write(ReaderDevice& d, int32_t icdev, uint32_t snr, uint8_t authmode, uint8_t adr,
                    const uint8_t* data);

// Hexadecimal twins of the slots they name.
int16_t read_hex(ReaderDevice& d, int32_t icdev, uint8_t adr, char* text);
int16_t write_hex(ReaderDevice& d, int32_t icdev, uint8_t adr, const char* text);
int16_t load_key_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t sector,
                     const char* key);
int16_t authentication_pass_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t sector,
                                const char* key);
int16_t authentication_passaddr_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t addr,
                                    const char* key);
int16_t HL_writehex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t adr, uint32_t* snr,
                    const char* text);
int16_t HL_readhex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t adr, uint32_t snr,
                   char* text, uint32_t* nsnr);
int16_t check_writehex(ReaderDevice& d, int32_t icdev, uint32_t snr, uint8_t authmode,
                       uint8_t adr, const char* text);

}  // namespace sector_flow
