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
