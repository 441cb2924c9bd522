// MIFARE Plus (personalisation at level 0, AES authentication at levels 1
// and 3, the level-3 session) and MIFARE Ultralight C (triple-DES
// authentication and key change). The reader only carries the frames; the
// flows are the host's (platform/mifare_plus_ulc_flow.h). Level-3 and
// personalisation frames travel whole through 0x0411, level-1 and
// Ultralight C frames through slot 82.
#include "connection/mifare_plus_ulc_slots.h"
#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"
#include "platform/mifare_plus_ulc_flow.h"

namespace {

// r42 readers take at most 14 blocks in one level-3 read or write.
constexpr int kMfpMaxBlocks = 14;

}  // namespace

CardFlowChannel R42Device::card_flows(int32_t icdev) {
  return {[this](const uint8_t* frame, size_t length, uint8_t* reply, size_t* reply_length) {
            return card_flow_frame(frame, length, reply, reply_length);
          },
          bare_card_frames(*this, icdev)};
}

// --- level 0 ---

int16_t R42Device::MFPL0_writeperso(int32_t icdev, int32_t bnr, const unsigned char* dataperso) {
  return mfp_write_perso(card_flows(icdev).block, bnr, dataperso);
}

int16_t R42Device::MFPL0_writeperso_hex(int32_t icdev, int32_t bnr, const char* dataperso) {
  return mfp_twins::writeperso(*this, icdev, bnr, dataperso);
}

int16_t R42Device::MFPL0_commitperso(int32_t icdev) {
  return mfp_commit_perso(card_flows(icdev).block);
}

// --- authentication ---

int16_t R42Device::MFPL1_authl1key(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l1(card_flows(icdev).raw, authkey);
}

int16_t R42Device::MFPL1_authl1key_hex(int32_t icdev, const char* authkey) {
  return mfp_twins::authl1key(*this, icdev, authkey);
}

int16_t R42Device::MFPL1_switchtol2(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session_, kMfpSwitchToLevel2Key,
                             authkey);
}

int16_t R42Device::MFPL1_switchtol3(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session_, kMfpSwitchToLevel3Key,
                             authkey);
}

int16_t R42Device::MFPL2_switchtol3(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session_, kMfpSwitchToLevel3Key,
                             authkey);
}

int16_t R42Device::MFPL3_authl3key(int32_t icdev, int32_t key_bnr, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session_, key_bnr, authkey);
}

int16_t R42Device::MFPL3_authl3key_hex(int32_t icdev, int32_t key_bnr, const char* authkey) {
  return mfp_twins::authl3key(*this, icdev, key_bnr, authkey);
}

int16_t R42Device::MFPL3_authl3sectorkey(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                         const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session_,
                             mfp_sector_key(mode, sector_bnr), authkey);
}

int16_t R42Device::MFPL3_authl3sectorkey_hex(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                             const char* authkey) {
  return mfp_twins::authl3sectorkey(*this, icdev, mode, sector_bnr, authkey);
}

// --- level-3 data ---

int16_t R42Device::MFPL3_readinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                                     unsigned char* readdata) {
  return mfp_read(card_flows(icdev).block, mfp_session_, kMfpMaxBlocks, false, 0, bnr, numblock,
                  readdata);
}

int16_t R42Device::MFPL3_readencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                                       unsigned char* readdata, uint8_t flag) {
  return mfp_read(card_flows(icdev).block, mfp_session_, kMfpMaxBlocks, true, flag, bnr,
                  numblock, readdata);
}

int16_t R42Device::MFPL3_writeinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                                      const unsigned char* writedata) {
  return mfp_write(card_flows(icdev).block, mfp_session_, kMfpMaxBlocks, false, 0, bnr,
                   numblock, writedata);
}

int16_t R42Device::MFPL3_writeencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                                        const unsigned char* writedata, uint8_t flag) {
  return mfp_write(card_flows(icdev).block, mfp_session_, kMfpMaxBlocks, true, flag, bnr,
                   numblock, writedata);
}

int16_t R42Device::MFPL3_readinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                         char* readdata) {
  return mfp_twins::readinplain(*this, kMfpMaxBlocks, icdev, bnr, numblock, readdata);
}

int16_t R42Device::MFPL3_readencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                           char* readdata, uint8_t flag) {
  return mfp_twins::readencrypted(*this, kMfpMaxBlocks, icdev, bnr, numblock, readdata, flag);
}

int16_t R42Device::MFPL3_writeinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                          const char* writedata) {
  return mfp_twins::writeinplain(*this, kMfpMaxBlocks, icdev, bnr, numblock, writedata);
}

int16_t R42Device::MFPL3_writeencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                            const char* writedata, uint8_t flag) {
  return mfp_twins::writeencrypted(*this, kMfpMaxBlocks, icdev, bnr, numblock, writedata, flag);
}

// --- Ultralight C ---

int16_t R42Device::auth_ulc(int32_t icdev, const unsigned char* key) {
  return ulc_authenticate(card_flows(icdev).raw, key);
}

int16_t R42Device::auth_ulc_hex(int32_t icdev, const char* key) {
  return mfp_twins::auth_ulc(*this, icdev, key);
}

int16_t R42Device::changekey_ulc(int32_t icdev, const unsigned char* newkey) {
  return ulc_change_key(page_writes(*this, icdev), newkey);
}

int16_t R42Device::changekey_ulc_hex(int32_t icdev, const char* newkey) {
  return mfp_twins::changekey_ulc(*this, icdev, newkey);
}
