// What both reader families build alike for the MIFARE Plus and Ultralight
// C operations: the bare card-frame exchange through slot 82, the page
// writes through slot 13, and the text twins. Each calls the device's
// operations through its interface, so an override takes effect.
//
// The twins convert their text and call the binary operation.
// Keys and personalisation blocks are 32 characters; data is 32 characters
// a block. A block count outside 1 to `max_blocks` (the family's limit) is
// refused before any text is read; a text that does not give exactly the
// bytes needed gives -1 without an exchange. Read twins write their text
// only on success.
#pragma once

#include <cstdint>

#include "connection/reader_device.h"
#include "platform/mifare_plus_ulc_flow.h"

// A flow's bare frame through the device's kx_pro_commandsource (slot 82),
// with the flows' time-out byte.
CardFrameExchange bare_card_frames(ReaderDevice& self, int32_t icdev);
// An Ultralight C page write through the device's kx_write (slot 13).
UlcPageWrite page_writes(ReaderDevice& self, int32_t icdev);

namespace mfp_twins {

int16_t writeperso(ReaderDevice& self, int32_t icdev, int32_t bnr, const char* data);
int16_t authl1key(ReaderDevice& self, int32_t icdev, const char* key);
int16_t authl3key(ReaderDevice& self, int32_t icdev, int32_t key_bnr, const char* key);
int16_t authl3sectorkey(ReaderDevice& self, int32_t icdev, uint8_t mode, int32_t sector_bnr,
                        const char* key);
int16_t readinplain(ReaderDevice& self, int max_blocks, int32_t icdev, int32_t bnr,
                    uint8_t numblock, char* data);
int16_t readencrypted(ReaderDevice& self, int max_blocks, int32_t icdev, int32_t bnr,
                      uint8_t numblock, char* data, uint8_t flag);
int16_t writeinplain(ReaderDevice& self, int max_blocks, int32_t icdev, int32_t bnr,
                     uint8_t numblock, const char* data);
int16_t writeencrypted(ReaderDevice& self, int max_blocks, int32_t icdev, int32_t bnr,
                       uint8_t numblock, const char* data, uint8_t flag);
int16_t auth_ulc(ReaderDevice& self, int32_t icdev, const char* key);
int16_t changekey_ulc(ReaderDevice& self, int32_t icdev, const char* key);

}  // namespace mfp_twins
