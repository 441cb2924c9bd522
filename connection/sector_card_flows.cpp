#include "connection/sector_card_flows.h"

#include <cstring>

#include "connection/card_io.h"
#include "platform/byte_helpers.h"
#include "platform/mifare_layout.h"
#include "platform/text_helpers.h"

namespace sector_flow {

namespace {

constexpr uint8_t kSakUidIncomplete = 0x04;
constexpr size_t kLevelSize = 4;
constexpr size_t kLongUidSize = 7;
constexpr int kBlockSize = kMifareBlockSize;
constexpr int kKeySize = kMifareKeySize;

}  // namespace

int16_t card_uid(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t* uid, size_t* length) {
  uint16_t tag_type = 0;
  int16_t result = d.request(icdev, mode, &tag_type);
  if (result != 0) return result;
  uint32_t serial = 0;
  result = d.anticoll(icdev, 0, &serial);
  if (result != 0) return result;
  uint8_t size = 0;
  result = d.select(icdev, serial, &size);
  if (result != 0) return result;
  uint8_t level[kLevelSize];
  uid_bytes(serial, level);
  if (!(size & kSakUidIncomplete)) {
    std::memcpy(uid, level, kLevelSize);
    *length = kLevelSize;
    return 0;
  }
  // Byte 0 of level 1 is the cascade tag; the UID goes on at level 2.
  std::memcpy(uid, level + 1, 3);
  serial = 0;
  result = d.anticoll2(icdev, 0, &serial);
  if (result != 0) return result;
  result = d.select2(icdev, serial, &size);
  if (result != 0) return result;
  uid_bytes(serial, uid + 3);
  *length = kLongUidSize;
  return 0;
}

int16_t card(ReaderDevice& d, int32_t icdev, uint8_t mode, uint32_t* snr) {
  if (snr == nullptr) return -1;
  uint16_t tag_type = 0;
  int16_t result = d.request(icdev, mode, &tag_type);
  if (result != 0) return result;
  *snr = 0;
  result = d.anticoll(icdev, 0, snr);
  if (result != 0) return result;
  uint8_t size = 0;
  return d.select(icdev, *snr, &size);
}

int16_t card_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, char* text) {
  return read_as_text(4, 4, text, [&](uint8_t* bytes) {
    uint32_t snr = 0;
    const int16_t result = d.card(icdev, mode, &snr);
    store_be32(snr, bytes);
    return result;
  });
}

int16_t card_double(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t* uid) {
  if (uid == nullptr) return -1;
  uint8_t bytes[kLongUidSize];
  size_t length = 0;
  const int16_t result = card_uid(d, icdev, mode, bytes, &length);
  if (result == 0) std::memcpy(uid, bytes, length);
  return result;
}

int16_t card_double_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, char* text) {
  if (text == nullptr) return -1;
  uint8_t bytes[kLongUidSize];
  size_t length = 0;
  const int16_t result = card_uid(d, icdev, mode, bytes, &length);
  if (result == 0) hex_twin_output(bytes, length, text);
  return result;
}

int16_t changeb3(ReaderDevice& d, int32_t icdev, uint8_t sector, const uint8_t* key_a,
                 uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t bk,
                 const uint8_t* key_b) {
  // A trailer past sector 39 would wrap onto another sector's block.
  const int trailer_block = sector_trailer_block(sector);
  if (key_a == nullptr || key_b == nullptr || trailer_block < 0) return -1;
  const uint8_t conditions[4] = {b0, b1, b2, b3};
  uint8_t trailer[kBlockSize];
  if (!build_sector_trailer(key_a, conditions, bk, key_b, trailer)) return -1;
  return d.write(icdev, uint8_t(trailer_block), trailer);
}

int16_t changeb3_hex(ReaderDevice& d, int32_t icdev, uint8_t sector, const char* key_a,
                     uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t bk,
                     const char* key_b) {
  uint8_t a[kKeySize], b[kKeySize];
  if (hex_twin_input(key_a, kKeySize, a) != 0 || hex_twin_input(key_b, kKeySize, b) != 0)
    return -1;
  return d.changeb3(icdev, sector, a, b0, b1, b2, b3, bk, b);
}

int16_t authentication_pass(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t sector,
                            const uint8_t* key) {
  const int trailer = sector_trailer_block(sector);
  if (key == nullptr || trailer < 0) return -1;
  return d.authentication_passaddr(icdev, mode, uint8_t(trailer), key);
}

int16_t readval_ml(ReaderDevice& d, int32_t icdev, uint16_t* value) {
  if (value == nullptr) return -1;
  uint8_t block[kBlockSize];
  const int16_t result = d.read(icdev, kLightValueBlock, block);
  if (result != 0) return result;
  const int copy = light_value_copy(block);
  if (copy < 0) return -1;
  *value = uint16_t(block[4 * copy] | block[4 * copy + 1] << 8);
  return 0;
}

int16_t check_write(ReaderDevice& d, int32_t icdev, uint32_t snr, uint8_t authmode, uint8_t adr,
                    const uint8_t* data) {
  if (data == nullptr) return -1;
  uint32_t serial = 0;
  int16_t result = d.card(icdev, 0, &serial);
  if (result != 0) return result;
  if (serial != snr) return -1;
  result = d.authentication(icdev, authmode, uint8_t(block_sector(adr)));
  if (result != 0) return result;
  uint8_t block[kBlockSize];
  result = d.read(icdev, adr, block);
  if (result != 0) return result;
  // A block that reads back otherwise counts as a reader refusal.
  return std::memcmp(block, data, kBlockSize) == 0 ? 0 : -2;
}

int16_t read_hex(ReaderDevice& d, int32_t icdev, uint8_t adr, char* text) {
  return read_as_text(kBlockSize, kBlockSize, text,
                      [&](uint8_t* block) { return d.read(icdev, adr, block); });
}

int16_t write_hex(ReaderDevice& d, int32_t icdev, uint8_t adr, const char* text) {
  return write_from_text(kBlockSize, kBlockSize, text,
                         [&](const uint8_t* block) { return d.write(icdev, adr, block); });
}

int16_t load_key_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t sector,
                     const char* key) {
  return write_from_text(kKeySize, kKeySize, key,
                         [&](const uint8_t* bytes) { return d.load_key(icdev, mode, sector, bytes); });
}

int16_t authentication_pass_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t sector,
                                const char* key) {
  return write_from_text(kKeySize, kKeySize, key, [&](const uint8_t* bytes) {
    return d.authentication_pass(icdev, mode, sector, bytes);
  });
}

int16_t authentication_passaddr_hex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t addr,
                                    const char* key) {
  return write_from_text(kKeySize, kKeySize, key, [&](const uint8_t* bytes) {
    return d.authentication_passaddr(icdev, mode, addr, bytes);
  });
}

int16_t HL_writehex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t adr, uint32_t* snr,
                    const char* text) {
  return write_from_text(kBlockSize, kBlockSize, text, [&](const uint8_t* block) {
    return d.HL_write(icdev, mode, adr, snr, block);
  });
}

int16_t HL_readhex(ReaderDevice& d, int32_t icdev, uint8_t mode, uint8_t adr, uint32_t snr,
                   char* text, uint32_t* nsnr) {
  return read_as_text(kBlockSize, kBlockSize, text, [&](uint8_t* block) {
    return d.HL_read(icdev, mode, adr, snr, block, nsnr);
  });
}

int16_t check_writehex(ReaderDevice& d, int32_t icdev, uint32_t snr, uint8_t authmode,
                       uint8_t adr, const char* text) {
  return write_from_text(kBlockSize, kBlockSize, text, [&](const uint8_t* block) {
    return d.check_write(icdev, snr, authmode, adr, block);
  });
}

}  // namespace sector_flow
