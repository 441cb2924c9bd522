// MIFARE Plus (personalisation at level 0, AES authentication at levels 1
// and 3, the level-3 session with its counters, MACs and enciphered data)
// and MIFARE Ultralight C (triple-DES authentication and key change). The
// reader only carries the frames; the cryptography is the host's
// (platform/card_auth_crypto.h). Level-3 and personalisation frames travel
// whole through 0x0411, level-1 and Ultralight C frames through slot 82.
#include <cstring>

#include "family_r42/r42_card_io.h"
#include "family_r42/r42_device.h"
#include "platform/aes128.h"

namespace {

constexpr uint8_t kWritePerso = 0xA8;
constexpr uint8_t kCommitPerso = 0xAA;
constexpr uint8_t kFirstAuth = 0x76;
constexpr uint8_t kSecondAuth = 0x72;
constexpr uint8_t kReadPlain = 0x33;
constexpr uint8_t kReadEnciphered = 0x31;
constexpr uint8_t kWritePlain = 0xA3;
constexpr uint8_t kWriteEnciphered = 0xA1;
// The flag value that leaves enciphered data as it is.
constexpr uint8_t kRawFlag = 1;

constexpr uint32_t kLevel1Key = 0x9004;
constexpr uint32_t kSwitchToLevel2Key = 0x9002;
constexpr uint32_t kSwitchToLevel3Key = 0x9003;
constexpr uint32_t kSectorKeyA = 0x4000;

constexpr size_t kKey = 16;
constexpr size_t kBlock = 16;
constexpr size_t kMac = 8;
constexpr size_t kMaxData = kBlock * kMfpMaxBlocks;

constexpr uint8_t kUlcAuthenticate[2] = {0x1A, 0x00};
constexpr uint8_t kUlcMoreFrames = 0xAF;
constexpr uint8_t kUlcOk = 0x00;
constexpr size_t kUlcAnswer = 9;

// The card's status byte as a result: 90 is success, any other status s
// gives -s, and one whose negation would read as success gives -1.
int16_t card_status_result(uint8_t status) {
  if (status == kMfpOk) return 0;
  return status == 0 ? -1 : int16_t(-int(status));
}

bool blocks_ok(uint8_t numblock) { return numblock >= 1 && numblock <= kMfpMaxBlocks; }

// A key or perso block given as 32 hexadecimal characters.
template <typename Call>
int16_t with_block_text(const char* text, Call call) {
  return write_from_text(kKey, kKey, text, call);
}

}  // namespace

int16_t R42Device::card_flow(int32_t icdev, bool plain_frame, const uint8_t* frame,
                             size_t length, uint8_t* reply, size_t* reply_length) {
  int16_t result = 0;
  if (plain_frame) {
    ReaderDevice& self = *this;
    uint8_t narrow = 0;
    result = self.pro_commandsource(icdev, uint8_t(length), frame, &narrow, reply,
                                    kCardFlowTimeout);
    *reply_length = narrow;
  } else {
    result = card_flow_frame(frame, length, reply, reply_length);
  }
  if (result != 0) return result;
  return *reply_length == 0 ? -1 : 0;
}

// --- level 0 ---

int16_t R42Device::MFPL0_writeperso(int32_t icdev, int32_t bnr, const unsigned char* dataperso) {
  if (!R42Request::fits_u16(bnr) || dataperso == nullptr) return -1;
  uint8_t frame[3 + kBlock] = {kWritePerso, uint8_t(bnr), uint8_t(bnr >> 8)};
  std::memcpy(frame + 3, dataperso, kBlock);
  uint8_t reply[kNarrowReplyMax];
  size_t length = 0;
  const int16_t result = card_flow(icdev, false, frame, sizeof frame, reply, &length);
  return result != 0 ? result : card_status_result(reply[0]);
}

int16_t R42Device::MFPL0_writeperso_hex(int32_t icdev, int32_t bnr, const char* dataperso) {
  ReaderDevice& self = *this;
  return with_block_text(dataperso, [&](const uint8_t* block) {
    return self.MFPL0_writeperso(icdev, bnr, block);
  });
}

int16_t R42Device::MFPL0_commitperso(int32_t icdev) {
  const uint8_t frame[1] = {kCommitPerso};
  uint8_t reply[kNarrowReplyMax];
  size_t length = 0;
  const int16_t result = card_flow(icdev, false, frame, sizeof frame, reply, &length);
  return result != 0 ? result : card_status_result(reply[0]);
}

// --- authentication ---

int16_t R42Device::mfp_authenticate(int32_t icdev, bool level1, uint32_t key_number,
                                    const uint8_t* key) {
  if (key == nullptr || !R42Request::fits_u16(key_number)) return -1;
  uint8_t rnd_a[16];
  if (draw_challenge(rnd_a, sizeof rnd_a) != 0) return -1;
  if (!level1) {
    mfp_session_.read_counter = 0;
    mfp_session_.write_counter = 0;
  }
  // Level 3 asks for no capabilities: the first frame ends with length 0.
  const uint8_t first[4] = {kFirstAuth, uint8_t(key_number), uint8_t(key_number >> 8), 0x00};
  uint8_t reply[kNarrowReplyMax];
  size_t length = 0;
  int16_t result = card_flow(icdev, level1, first, level1 ? 3 : 4, reply, &length);
  if (result != 0) return result;
  if (reply[0] != kMfpOk) return card_status_result(reply[0]);
  if (length < 1 + 16) return -1;
  uint8_t frame[1 + 32] = {kSecondAuth};
  uint8_t rnd_b[16];
  mfp_host_token(key, rnd_a, reply + 1, rnd_b, frame + 1);
  result = card_flow(icdev, level1, frame, sizeof frame, reply, &length);
  if (result != 0) return result;
  if (reply[0] != kMfpOk) return card_status_result(reply[0]);
  // Level 1: E(RndA'); level 3: E(TI || RndA' || capabilities).
  const size_t answer = level1 ? 16 : 32;
  if (length < 1 + answer) return -1;
  uint8_t plain[32];
  const bool proven = mfp_check_card(key, rnd_a, reply + 1, answer, level1 ? 0 : 4, plain);
  if (level1) return proven ? 0 : -1;
  // The card's TI is kept even when RndA' then fails the check.
  std::memcpy(mfp_session_.transaction_id, plain, sizeof mfp_session_.transaction_id);
  if (!proven) return -1;
  mfp_session_keys(key, rnd_a, rnd_b, mfp_session_.enc_key, mfp_session_.mac_key);
  return 0;
}

int16_t R42Device::MFPL1_authl1key(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate(icdev, true, kLevel1Key, authkey);
}

int16_t R42Device::MFPL1_authl1key_hex(int32_t icdev, const char* authkey) {
  ReaderDevice& self = *this;
  return with_block_text(authkey,
                         [&](const uint8_t* key) { return self.MFPL1_authl1key(icdev, key); });
}

int16_t R42Device::MFPL1_switchtol2(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate(icdev, false, kSwitchToLevel2Key, authkey);
}

int16_t R42Device::MFPL1_switchtol3(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate(icdev, false, kSwitchToLevel3Key, authkey);
}

int16_t R42Device::MFPL2_switchtol3(int32_t icdev, const unsigned char* authkey) {
  return mfp_authenticate(icdev, false, kSwitchToLevel3Key, authkey);
}

int16_t R42Device::MFPL3_authl3key(int32_t icdev, int32_t key_bnr, const unsigned char* authkey) {
  if (!R42Request::fits_u16(key_bnr)) return -1;
  return mfp_authenticate(icdev, false, uint32_t(key_bnr), authkey);
}

int16_t R42Device::MFPL3_authl3key_hex(int32_t icdev, int32_t key_bnr, const char* authkey) {
  ReaderDevice& self = *this;
  return with_block_text(authkey, [&](const uint8_t* key) {
    return self.MFPL3_authl3key(icdev, key_bnr, key);
  });
}

int16_t R42Device::MFPL3_authl3sectorkey(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                         const unsigned char* authkey) {
  const int64_t key_number = kSectorKeyA + 2 * int64_t(sector_bnr) + (mode == 0 ? 0 : 1);
  if (sector_bnr < 0 || !R42Request::fits_u16(key_number)) return -1;
  return mfp_authenticate(icdev, false, uint32_t(key_number), authkey);
}

int16_t R42Device::MFPL3_authl3sectorkey_hex(int32_t icdev, uint8_t mode, int32_t sector_bnr,
                                             const char* authkey) {
  ReaderDevice& self = *this;
  return with_block_text(authkey, [&](const uint8_t* key) {
    return self.MFPL3_authl3sectorkey(icdev, mode, sector_bnr, key);
  });
}

// --- level-3 data ---

int16_t R42Device::mfp_read(int32_t icdev, uint8_t code, int32_t bnr, uint8_t numblock,
                            uint8_t* out, bool decipher) {
  if (!R42Request::fits_u16(bnr) || !blocks_ok(numblock) || out == nullptr) return -1;
  const size_t size = kBlock * numblock;
  // BNr and n, then (for the response MAC) the data.
  uint8_t tail[3 + kMaxData] = {uint8_t(bnr), uint8_t(bnr >> 8), numblock};
  uint8_t frame[4 + kMac] = {code, tail[0], tail[1], numblock};
  mfp_mac(mfp_session_, code, mfp_session_.read_counter, tail, 3, frame + 4);
  uint8_t reply[kNarrowReplyMax];
  size_t length = 0;
  const int16_t result = card_flow(icdev, false, frame, sizeof frame, reply, &length);
  if (result != 0) return result;
  if (reply[0] != kMfpOk) return card_status_result(reply[0]);
  ++mfp_session_.read_counter;
  if (length < 1 + size + kMac) return -1;
  std::memcpy(tail + 3, reply + 1, size);
  uint8_t mac[kMac];
  mfp_mac(mfp_session_, kMfpOk, mfp_session_.read_counter, tail, 3 + size, mac);
  if (std::memcmp(mac, reply + 1 + size, kMac) != 0) return -1;
  uint8_t* data = tail + 3;
  if (decipher) {
    uint8_t iv[16];
    mfp_read_iv(mfp_session_, iv);
    aes128_cbc(0, data, int(size), mfp_session_.enc_key, iv);
  }
  std::memcpy(out, data, size);
  return 0;
}

int16_t R42Device::mfp_write(int32_t icdev, uint8_t code, int32_t bnr, uint8_t numblock,
                             const uint8_t* data, bool encipher) {
  if (!R42Request::fits_u16(bnr) || !blocks_ok(numblock) || data == nullptr) return -1;
  const size_t size = kBlock * numblock;
  // [code][BNr][D][MAC]; the caller's data is copied, never changed.
  uint8_t frame[3 + kMaxData + kMac] = {code, uint8_t(bnr), uint8_t(bnr >> 8)};
  std::memcpy(frame + 3, data, size);
  if (encipher) {
    uint8_t iv[16];
    mfp_write_iv(mfp_session_, iv);
    aes128_cbc(1, frame + 3, int(size), mfp_session_.enc_key, iv);
  }
  mfp_mac(mfp_session_, code, mfp_session_.write_counter, frame + 1, 2 + size, frame + 3 + size);
  uint8_t reply[kNarrowReplyMax];
  size_t length = 0;
  const int16_t result = card_flow(icdev, false, frame, 3 + size + kMac, reply, &length);
  if (result != 0) return result;
  if (reply[0] != kMfpOk) return card_status_result(reply[0]);
  ++mfp_session_.write_counter;
  if (length < 1 + kMac) return -1;
  uint8_t mac[kMac];
  mfp_mac(mfp_session_, kMfpOk, mfp_session_.write_counter, nullptr, 0, mac);
  return std::memcmp(mac, reply + 1, kMac) == 0 ? 0 : -1;
}

int16_t R42Device::MFPL3_readinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                                     unsigned char* readdata) {
  return mfp_read(icdev, kReadPlain, bnr, numblock, readdata, false);
}

int16_t R42Device::MFPL3_readencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                                       unsigned char* readdata, uint8_t flag) {
  return mfp_read(icdev, kReadEnciphered, bnr, numblock, readdata, flag != kRawFlag);
}

int16_t R42Device::MFPL3_writeinplain(int32_t icdev, int32_t bnr, uint8_t numblock,
                                      const unsigned char* writedata) {
  return mfp_write(icdev, kWritePlain, bnr, numblock, writedata, false);
}

int16_t R42Device::MFPL3_writeencrypted(int32_t icdev, int32_t bnr, uint8_t numblock,
                                        const unsigned char* writedata, uint8_t flag) {
  return mfp_write(icdev, kWriteEnciphered, bnr, numblock, writedata, flag != kRawFlag);
}

int16_t R42Device::MFPL3_readinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                         char* readdata) {
  if (!blocks_ok(numblock)) return -1;
  ReaderDevice& self = *this;
  return read_as_text(kBlock * numblock, kMaxData, readdata, [&](uint8_t* data) {
    return self.MFPL3_readinplain(icdev, bnr, numblock, data);
  });
}

int16_t R42Device::MFPL3_readencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                           char* readdata, uint8_t flag) {
  if (!blocks_ok(numblock)) return -1;
  ReaderDevice& self = *this;
  return read_as_text(kBlock * numblock, kMaxData, readdata, [&](uint8_t* data) {
    return self.MFPL3_readencrypted(icdev, bnr, numblock, data, flag);
  });
}

int16_t R42Device::MFPL3_writeinplain_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                          const char* writedata) {
  if (!blocks_ok(numblock)) return -1;
  ReaderDevice& self = *this;
  return write_from_text(kBlock * numblock, kMaxData, writedata, [&](const uint8_t* data) {
    return self.MFPL3_writeinplain(icdev, bnr, numblock, data);
  });
}

int16_t R42Device::MFPL3_writeencrypted_hex(int32_t icdev, int32_t bnr, uint8_t numblock,
                                            const char* writedata, uint8_t flag) {
  if (!blocks_ok(numblock)) return -1;
  ReaderDevice& self = *this;
  return write_from_text(kBlock * numblock, kMaxData, writedata, [&](const uint8_t* data) {
    return self.MFPL3_writeencrypted(icdev, bnr, numblock, data, flag);
  });
}

// --- Ultralight C ---

int16_t R42Device::auth_ulc(int32_t icdev, const unsigned char* key) {
  if (key == nullptr) return -1;
  uint8_t rnd_a[8];
  if (draw_challenge(rnd_a, sizeof rnd_a) != 0) return -1;
  uint8_t reply[kNarrowReplyMax];
  size_t length = 0;
  int16_t result =
      card_flow(icdev, true, kUlcAuthenticate, sizeof kUlcAuthenticate, reply, &length);
  if (result != 0) return result;
  if (reply[0] != kUlcMoreFrames || length < kUlcAnswer) return -1;
  uint8_t frame[1 + 16] = {kUlcMoreFrames};
  uint8_t rnd_b[8];
  ulc_host_token(key, rnd_a, reply + 1, rnd_b, frame + 1);
  result = card_flow(icdev, true, frame, sizeof frame, reply, &length);
  if (result != 0) return result;
  if (reply[0] != kUlcOk || length < kUlcAnswer) return -1;
  return ulc_check_card(key, rnd_a, frame + 1, reply + 1) ? 0 : -1;
}

int16_t R42Device::auth_ulc_hex(int32_t icdev, const char* key) {
  ReaderDevice& self = *this;
  return with_block_text(key, [&](const uint8_t* bytes) { return self.auth_ulc(icdev, bytes); });
}

int16_t R42Device::changekey_ulc(int32_t icdev, const unsigned char* newkey) {
  if (newkey == nullptr) return -1;
  ReaderDevice& self = *this;
  uint8_t pages[4][4];
  ulc_key_pages(newkey, pages);
  for (int page = 0; page < 4; ++page) {
    // The card keeps the first four bytes of a write.
    uint8_t block[kBlock] = {};
    std::memcpy(block, pages[page], 4);
    const int16_t result = self.write(icdev, uint8_t(kUlcFirstKeyPage + page), block);
    if (result != 0) return result;
  }
  return 0;
}

int16_t R42Device::changekey_ulc_hex(int32_t icdev, const char* newkey) {
  ReaderDevice& self = *this;
  return with_block_text(newkey,
                         [&](const uint8_t* bytes) { return self.changekey_ulc(icdev, bytes); });
}
