// MIFARE Plus through an m6 reader. The flows are the host's
// (platform/mifare_plus_ulc_flow.h); level-0 and level-3 frames go whole
// through the host's block protocol (frame size 64, time-out class 7, and
// no case-4 cut, which would drop the last byte of a frame whose byte 4
// happens to equal its length - 6), level-1 frames bare through slot 82.
#include "connection/mifare_plus_ulc_slots.h"
#include "family_m6/m6_device.h"

namespace {

// The most blocks an m6 reader's frames carry in one read or write.
constexpr int kM6MfpMaxBlocks = kMfpBlocksMost;

}  // namespace

CardFlowChannel M6Device::card_flows(int32_t icdev) {
  return {whole_card_frames(icdev), bare_card_frames(*this, icdev)};
}

// --- level 0 ---

int16_t M6Device::MFPL0_writeperso(int32_t icdev, int32_t bnr, const unsigned char* dataperso) {
  return mfp_write_perso(card_flows(icdev).block, bnr, dataperso);
}

int16_t M6Device::MFPL0_writeperso_hex(int32_t icdev, int32_t bnr, const char* dataperso) {
  return mfp_twins::writeperso(*this, icdev, bnr, dataperso);
}

int16_t M6Device::MFPL0_commitperso(int32_t icdev) {
  return mfp_commit_perso(card_flows(icdev).block);
}

// --- authentication ---

int16_t M6Device::MFPL1_authl1key(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l1(card_flows(icdev).raw, authkey);
}

int16_t M6Device::MFPL1_authl1key_hex(int32_t icdev, const char* authkey) {
  return mfp_twins::authl1key(*this, icdev, authkey);
}

int16_t M6Device::MFPL1_switchtol2(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, state_.mfp_session, kMfpSwitchToLevel2Key,
                             authkey);
}

int16_t M6Device::MFPL1_switchtol3(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, state_.mfp_session, kMfpSwitchToLevel3Key,
                             authkey);
}

int16_t M6Device::MFPL2_switchtol3(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, state_.mfp_session, kMfpSwitchToLevel3Key,
                             authkey);
}

int16_t M6Device::MFPL3_authl3key(int32_t icdev, int32_t key_bnr, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, state_.mfp_session, key_bnr, authkey);
}

int16_t M6Device::MFPL3_authl3key_hex(int32_t icdev, int32_t key_bnr, const char* authkey) {
  return mfp_twins::authl3key(*this, icdev, key_bnr, authkey);
}

int16_t M6Device::MFPL3_authl3sectorkey(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                        const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, state_.mfp_session,
                             mfp_sector_key(mode, sector_bnr), authkey);
}

int16_t M6Device::MFPL3_authl3sectorkey_hex(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                            const char* authkey) {
  return mfp_twins::authl3sectorkey(*this, icdev, mode, sector_bnr, authkey);
}

// --- level-3 data ---

int16_t M6Device::MFPL3_readinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                                    unsigned char* readdata) {
  return mfp_read(card_flows(icdev).block, state_.mfp_session, kM6MfpMaxBlocks, false, 0, bnr,
                  numblock, readdata);
}

int16_t M6Device::MFPL3_readencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                                      unsigned char* readdata, uint8_t flag) {
  return mfp_read(card_flows(icdev).block, state_.mfp_session, kM6MfpMaxBlocks, true, flag, bnr,
                  numblock, readdata);
}

int16_t M6Device::MFPL3_writeinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                                     const unsigned char* writedata) {
  return mfp_write(card_flows(icdev).block, state_.mfp_session, kM6MfpMaxBlocks, false, 0, bnr,
                   numblock, writedata);
}

int16_t M6Device::MFPL3_writeencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                                       const unsigned char* writedata, uint8_t flag) {
  return mfp_write(card_flows(icdev).block, state_.mfp_session, kM6MfpMaxBlocks, true, flag, bnr,
                   numblock, writedata);
}

int16_t M6Device::MFPL3_readinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                        char* readdata) {
  return mfp_twins::readinplain(*this, kM6MfpMaxBlocks, icdev, bnr, numblock, readdata);
}

int16_t M6Device::MFPL3_readencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                          char* readdata, uint8_t flag) {
  return mfp_twins::readencrypted(*this, kM6MfpMaxBlocks, icdev, bnr, numblock, readdata, flag);
}

int16_t M6Device::MFPL3_writeinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                         const char* writedata) {
  return mfp_twins::writeinplain(*this, kM6MfpMaxBlocks, icdev, bnr, numblock, writedata);
}

int16_t M6Device::MFPL3_writeencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                           const char* writedata, uint8_t flag) {
  return mfp_twins::writeencrypted(*this, kM6MfpMaxBlocks, icdev, bnr, numblock, writedata,
                                   flag);
}
