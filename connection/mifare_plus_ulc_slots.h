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

// The MIFARE Plus and Ultralight C operations, alike in both families over
// what each gives: its two frame channels, its level-3 session and the most
// blocks its frames carry in one read or write. Block and key numbers 0 to
// 65535, sectors 0 to 24575, block counts 1 to that most; anything else
// gives -1 before a frame goes.
class MifarePlusUlcDevice : public ReaderDevice {
 public:
  int16_t MFPL0_writeperso(int32_t icdev, int32_t bnr, const unsigned char* dataperso) override;
  int16_t MFPL0_writeperso_hex(int32_t icdev, int32_t bnr, const char* dataperso) override;
  int16_t MFPL0_commitperso(int32_t icdev) override;
  int16_t MFPL1_authl1key(int32_t icdev, const unsigned char* authkey) override;
  int16_t MFPL1_authl1key_hex(int32_t icdev, const char* authkey) override;
  int16_t MFPL1_switchtol2(int32_t icdev, const unsigned char* authkey) override;
  int16_t MFPL1_switchtol3(int32_t icdev, const unsigned char* authkey) override;
  int16_t MFPL2_switchtol3(int32_t icdev, const unsigned char* authkey) override;
  int16_t MFPL3_authl3key(int32_t icdev, int32_t key_bnr, const unsigned char* authkey) override;
  int16_t MFPL3_authl3key_hex(int32_t icdev, int32_t key_bnr, const char* authkey) override;
  int16_t MFPL3_authl3sectorkey(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                const unsigned char* authkey) override;
  int16_t MFPL3_authl3sectorkey_hex(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                    const char* authkey) override;
  int16_t MFPL3_readinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                            unsigned char* readdata) override;
  int16_t MFPL3_readinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                char* readdata) override;
  int16_t MFPL3_readencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                              unsigned char* readdata, uint8_t flag) override;
  int16_t MFPL3_readencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock, char* readdata,
                                  uint8_t flag) override;
  int16_t MFPL3_writeinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                             const unsigned char* writedata) override;
  int16_t MFPL3_writeinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                 const char* writedata) override;
  // The caller's data stays as it is; the card gets an enciphered copy.
  int16_t MFPL3_writeencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                               const unsigned char* writedata, uint8_t flag) override;
  int16_t MFPL3_writeencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                   const char* writedata, uint8_t flag) override;
  int16_t auth_ulc(int32_t icdev, const unsigned char* key) override;
  int16_t auth_ulc_hex(int32_t icdev, const char* key) override;
  // Pages 2C-2F through kx_write, in that order, zeros after each page's
  // four bytes; the first failing write ends it and earlier pages stay.
  int16_t changekey_ulc(int32_t icdev, const unsigned char* newkey) override;
  int16_t changekey_ulc_hex(int32_t icdev, const char* newkey) override;

 protected:
  explicit MifarePlusUlcDevice(int mfp_max_blocks) : mfp_max_blocks_(mfp_max_blocks) {}
  // The two ways a flow's frame reaches the card: whole through the
  // family's card-frame channel, or bare through slot 82.
  virtual CardFlowChannel card_flows(int32_t icdev) = 0;
  // The level-3 session, which outlives a card change.
  virtual MfpSession& mfp_session() = 0;

 private:
  const int mfp_max_blocks_;
};
