#include "connection/mifare_plus_ulc_slots.h"

#include "connection/card_io.h"

namespace {

constexpr int64_t kKey = 16;
constexpr int64_t kBlock = 16;

// A key or block of 32 characters.
template <typename Call>
int16_t with_key_text(const char* text, Call call) {
  return write_from_text(kKey, kKey, text, call);
}

// The data of `numblock` blocks, checked against the family's limit first.
template <typename Call>
int16_t read_blocks_text(int max_blocks, uint8_t numblock, char* text, Call call) {
  if (!mfp_block_count_ok(numblock, max_blocks)) return -1;
  return read_as_text(kBlock * numblock, kBlock * numblock, text, call);
}

template <typename Call>
int16_t write_blocks_text(int max_blocks, uint8_t numblock, const char* text, Call call) {
  if (!mfp_block_count_ok(numblock, max_blocks)) return -1;
  return write_from_text(kBlock * numblock, kBlock * numblock, text, call);
}

}  // namespace

CardFrameExchange bare_card_frames(ReaderDevice& self, int32_t icdev) {
  return [&self, icdev](const uint8_t* frame, size_t length, uint8_t* reply,
                        size_t* reply_length) {
    uint8_t narrow = 0;
    const int16_t result =
        self.pro_commandsource(icdev, uint8_t(length), frame, &narrow, reply, kCardFlowTimeout);
    *reply_length = narrow;
    return result;
  };
}

UlcPageWrite page_writes(ReaderDevice& self, int32_t icdev) {
  return [&self, icdev](uint8_t page, const uint8_t block[16]) {
    return self.write(icdev, page, block);
  };
}

namespace mfp_twins {

int16_t writeperso(ReaderDevice& self, int32_t icdev, int32_t bnr, const char* data) {
  return with_key_text(data, [&](const uint8_t* block) {
    return self.MFPL0_writeperso(icdev, bnr, block);
  });
}

int16_t authl1key(ReaderDevice& self, int32_t icdev, const char* key) {
  return with_key_text(key, [&](const uint8_t* k) { return self.MFPL1_authl1key(icdev, k); });
}

int16_t authl3key(ReaderDevice& self, int32_t icdev, int32_t key_bnr, const char* key) {
  return with_key_text(key, [&](const uint8_t* k) {
    return self.MFPL3_authl3key(icdev, key_bnr, k);
  });
}

int16_t authl3sectorkey(ReaderDevice& self, int32_t icdev, uint8_t mode, int32_t sector_bnr,
                        const char* key) {
  return with_key_text(key, [&](const uint8_t* k) {
    return self.MFPL3_authl3sectorkey(icdev, mode, sector_bnr, k);
  });
}

int16_t readinplain(ReaderDevice& self, int max_blocks, int32_t icdev, int32_t bnr,
                    uint8_t numblock, char* data) {
  return read_blocks_text(max_blocks, numblock, data, [&](uint8_t* area) {
    return self.MFPL3_readinplain(icdev, bnr, numblock, area);
  });
}

int16_t readencrypted(ReaderDevice& self, int max_blocks, int32_t icdev, int32_t bnr,
                      uint8_t numblock, char* data, uint8_t flag) {
  return read_blocks_text(max_blocks, numblock, data, [&](uint8_t* area) {
    return self.MFPL3_readencrypted(icdev, bnr, numblock, area, flag);
  });
}

int16_t writeinplain(ReaderDevice& self, int max_blocks, int32_t icdev, int32_t bnr,
                     uint8_t numblock, const char* data) {
  return write_blocks_text(max_blocks, numblock, data, [&](const uint8_t* area) {
    return self.MFPL3_writeinplain(icdev, bnr, numblock, area);
  });
}

int16_t writeencrypted(ReaderDevice& self, int max_blocks, int32_t icdev, int32_t bnr,
                       uint8_t numblock, const char* data, uint8_t flag) {
  return write_blocks_text(max_blocks, numblock, data, [&](const uint8_t* area) {
    return self.MFPL3_writeencrypted(icdev, bnr, numblock, area, flag);
  });
}

int16_t auth_ulc(ReaderDevice& self, int32_t icdev, const char* key) {
  return with_key_text(key, [&](const uint8_t* k) { return self.auth_ulc(icdev, k); });
}

int16_t changekey_ulc(ReaderDevice& self, int32_t icdev, const char* key) {
  return with_key_text(key, [&](const uint8_t* k) { return self.changekey_ulc(icdev, k); });
}

}  // namespace mfp_twins

// --- level 0 ---

int16_t MifarePlusUlcDevice::MFPL0_writeperso(int32_t icdev, int32_t bnr, const unsigned char* dataperso) {
  return mfp_write_perso(card_flows(icdev).block, bnr, dataperso);
}

int16_t MifarePlusUlcDevice::MFPL0_writeperso_hex(int32_t icdev, int32_t bnr, const char* dataperso) {
  return mfp_twins::writeperso(*this, icdev, bnr, dataperso);
}

int16_t MifarePlusUlcDevice::MFPL0_commitperso(int32_t icdev) {
  return mfp_commit_perso(card_flows(icdev).block);
}

// --- authentication ---

int16_t MifarePlusUlcDevice::MFPL1_authl1key(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l1(card_flows(icdev).raw, authkey);
}

int16_t MifarePlusUlcDevice::MFPL1_authl1key_hex(int32_t icdev, const char* authkey) {
  return mfp_twins::authl1key(*this, icdev, authkey);
}

int16_t MifarePlusUlcDevice::MFPL1_switchtol2(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session(), kMfpSwitchToLevel2Key,
                             authkey);
}

int16_t MifarePlusUlcDevice::MFPL1_switchtol3(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session(), kMfpSwitchToLevel3Key,
                             authkey);
}

int16_t MifarePlusUlcDevice::MFPL2_switchtol3(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session(), kMfpSwitchToLevel3Key,
                             authkey);
}

int16_t MifarePlusUlcDevice::MFPL3_authl3key(int32_t icdev, int32_t key_bnr, const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session(), key_bnr, authkey);
}

int16_t MifarePlusUlcDevice::MFPL3_authl3key_hex(int32_t icdev, int32_t key_bnr, const char* authkey) {
  return mfp_twins::authl3key(*this, icdev, key_bnr, authkey);
}

int16_t MifarePlusUlcDevice::MFPL3_authl3sectorkey(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                         const unsigned char* authkey) {
  return mfp_authenticate_l3(card_flows(icdev).block, mfp_session(),
                             mfp_sector_key(mode, sector_bnr), authkey);
}

int16_t MifarePlusUlcDevice::MFPL3_authl3sectorkey_hex(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                             const char* authkey) {
  return mfp_twins::authl3sectorkey(*this, icdev, mode, sector_bnr, authkey);
}

// --- level-3 data ---

int16_t MifarePlusUlcDevice::MFPL3_readinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                                     unsigned char* readdata) {
  return mfp_read(card_flows(icdev).block, mfp_session(), mfp_max_blocks_, false, 0, bnr, numblock,
                  readdata);
}

int16_t MifarePlusUlcDevice::MFPL3_readencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                                       unsigned char* readdata, uint8_t flag) {
  return mfp_read(card_flows(icdev).block, mfp_session(), mfp_max_blocks_, true, flag, bnr,
                  numblock, readdata);
}

int16_t MifarePlusUlcDevice::MFPL3_writeinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                                      const unsigned char* writedata) {
  return mfp_write(card_flows(icdev).block, mfp_session(), mfp_max_blocks_, false, 0, bnr,
                   numblock, writedata);
}

int16_t MifarePlusUlcDevice::MFPL3_writeencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                                        const unsigned char* writedata, uint8_t flag) {
  return mfp_write(card_flows(icdev).block, mfp_session(), mfp_max_blocks_, true, flag, bnr,
                   numblock, writedata);
}

int16_t MifarePlusUlcDevice::MFPL3_readinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                         char* readdata) {
  return mfp_twins::readinplain(*this, mfp_max_blocks_, icdev, bnr, numblock, readdata);
}

int16_t MifarePlusUlcDevice::MFPL3_readencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                           char* readdata, uint8_t flag) {
  return mfp_twins::readencrypted(*this, mfp_max_blocks_, icdev, bnr, numblock, readdata, flag);
}

int16_t MifarePlusUlcDevice::MFPL3_writeinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                          const char* writedata) {
  return mfp_twins::writeinplain(*this, mfp_max_blocks_, icdev, bnr, numblock, writedata);
}

int16_t MifarePlusUlcDevice::MFPL3_writeencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                            const char* writedata, uint8_t flag) {
  return mfp_twins::writeencrypted(*this, mfp_max_blocks_, icdev, bnr, numblock, writedata, flag);
}

// --- Ultralight C ---

int16_t MifarePlusUlcDevice::auth_ulc(int32_t icdev, const unsigned char* key) {
  return ulc_authenticate(bare_card_frames(*this, icdev), key);
}

int16_t MifarePlusUlcDevice::auth_ulc_hex(int32_t icdev, const char* key) {
  return mfp_twins::auth_ulc(*this, icdev, key);
}

int16_t MifarePlusUlcDevice::changekey_ulc(int32_t icdev, const unsigned char* newkey) {
  return ulc_change_key(page_writes(*this, icdev), newkey);
}

int16_t MifarePlusUlcDevice::changekey_ulc_hex(int32_t icdev, const char* newkey) {
  return mfp_twins::changekey_ulc(*this, icdev, newkey);
}
