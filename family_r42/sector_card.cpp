// Contactless sector cards (MIFARE Classic 1K/4K, MIFARE Light values,
// FM11RF005) and the key store in the reader's EEPROM. The reader runs the
// card protocol itself; the host addresses cards, blocks and keys. Composite
// operations call their steps through the device interface with the caller's
// handle, so an override of a step takes effect.
#include "family_r42/sector_card.h"

#include <cstring>

#include "connection/sector_card_flows.h"
#include "family_r42/r42_device.h"

namespace {

constexpr uint8_t kCascadeLevel1 = 0x93;
constexpr uint8_t kCascadeLevel2 = 0x95;
constexpr uint8_t kSakUidIncomplete = 0x04;

constexpr uint8_t kFm11rf005SerialBlock = 1;

constexpr int kBlockSize = kMifareBlockSize;
constexpr int kKeySize = kMifareKeySize;

uint8_t request_mode_byte(uint8_t mode) { return mode == 0 ? 0x26 : 0x52; }

}  // namespace

bool key_store_slot(uint8_t mode, int sector, KeyStoreSlot* slot) {
  if (slot == nullptr || sector < 0 || sector >= kMifareSectorCount) return false;
  // Per key set: 40 sectors of key A then key B, 6 bytes each.
  constexpr int kSetSize = kMifareSectorCount * 2 * kKeySize;
  int set = 0;
  bool key_b = false;
  switch (mode) {
    case 0: case 1: case 2: set = mode; break;
    case 4: case 5: case 6: set = mode - 4; key_b = true; break;
    default: return false;
  }
  slot->offset = int16_t(set * kSetSize + sector * 2 * kKeySize + (key_b ? kKeySize : 0));
  slot->key_byte = key_b ? 0x61 : 0x60;
  return true;
}

// --- requests, anticollision and select ---

int16_t R42Device::card_request(uint16_t code, uint8_t mode, uint16_t* tag_type) {
  R42Request request(code);
  request.u8(request_mode_byte(mode));
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, kR42DefaultTimeoutMs, r42_cmd::kCardAnswerReply, &reply);
  if (result == -2) return 1;  // no card answered
  if (result != 0) return -1;
  uint16_t atqa = 0;
  if (!reply.le16(atqa)) return -1;
  tag_type_ = atqa;
  request_mode_ = mode;
  if (tag_type != nullptr) *tag_type = atqa;
  return 0;
}

int16_t R42Device::request(int32_t, uint8_t mode, uint16_t* tag_type) {
  if (tag_type == nullptr) return -1;
  return card_request(r42_cmd::kCardRequest, mode, tag_type);
}

int16_t R42Device::anticoll_level(uint8_t level, uint32_t* snr) {
  if (snr == nullptr) return -1;
  R42Request request(r42_cmd::kAnticollision);
  request.u8(level);
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kAnticollisionReply, &reply);
  if (result != 0) return result;
  // The first UID byte received is the lowest of the caller's u32.
  return reply.skip(1) && reply.le32(*snr) ? 0 : -1;
}

int16_t R42Device::anticoll(int32_t, uint8_t, uint32_t* snr) {
  return anticoll_level(kCascadeLevel1, snr);
}

int16_t R42Device::anticoll2(int32_t, uint8_t, uint32_t* snr) {
  return anticoll_level(kCascadeLevel2, snr);
}

int16_t R42Device::select_level(uint8_t level, uint32_t snr, uint8_t* sak) {
  uint8_t uid[4];
  uid_bytes(snr, uid);
  R42Request request(r42_cmd::kSelect);
  request.u8(level).u8(0x04).bytes(uid, sizeof uid);
  return byte_reply(request, {sak});
}

int16_t R42Device::select(int32_t, uint32_t snr, uint8_t* size) {
  if (size == nullptr) return -1;
  uint8_t sak = 0;
  const int16_t result = select_level(kCascadeLevel1, snr, &sak);
  if (result != 0) return result;
  *size = sak;
  sak_ = sak;
  if (sak & kSakUidIncomplete) return 0;
  // A complete UID: the reader wants the card's answer-to-request again.
  return card_request(r42_cmd::kFollowUpRequest, request_mode_, nullptr);
}

int16_t R42Device::select2(int32_t, uint32_t snr, uint8_t* size) {
  if (size == nullptr) return -1;
  uint8_t sak = 0;
  const int16_t result = select_level(kCascadeLevel2, snr, &sak);
  if (result != 0) return result;
  *size = sak;
  return 0;
}

int16_t R42Device::halt(int32_t) {
  return status_command(r42_cmd::kHalt);
}

int16_t R42Device::card(int32_t icdev, uint8_t mode, uint32_t* snr) {
  return sector_flow::card(*this, icdev, mode, snr);
}

int16_t R42Device::card_hex(int32_t icdev, uint8_t mode, char* snrstr) {
  return sector_flow::card_hex(*this, icdev, mode, snrstr);
}


int16_t R42Device::card_double(int32_t icdev, uint8_t mode, unsigned char* snr) {
  return sector_flow::card_double(*this, icdev, mode, snr);
}

int16_t R42Device::card_double_hex(int32_t icdev, uint8_t mode, char* snr) {
  return sector_flow::card_double_hex(*this, icdev, mode, snr);
}

// --- key store and authentication ---

int16_t R42Device::load_key(int32_t icdev, uint8_t mode, uint8_t sec_nr,
                            const unsigned char* key) {
  KeyStoreSlot slot;
  if (key == nullptr || !key_store_slot(mode, sec_nr, &slot)) return -1;
  return WriteEepromRaw(icdev, slot.offset, kKeySize, key);
}

int16_t R42Device::load_key_hex(int32_t icdev, uint8_t mode, uint8_t sec_nr, const char* key) {
  return sector_flow::load_key_hex(*this, icdev, mode, sec_nr, key);
}

int16_t R42Device::authenticate_block(uint8_t key_byte, uint8_t block, const uint8_t* key) {
  R42Request request(r42_cmd::kAuthenticate);
  request.u8(key_byte).u8(block).bytes(key, kKeySize);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::authentication(int32_t icdev, uint8_t mode, uint8_t sec_nr) {
  KeyStoreSlot slot;
  if (!key_store_slot(mode, sec_nr, &slot)) return -1;
  uint8_t key[kKeySize];
  const int16_t result = ReadEepromRaw(icdev, slot.offset, kKeySize, key);
  if (result != 0) return result;
  return authentication_pass(icdev, mode, sec_nr, key);
}

int16_t R42Device::authentication_2(int32_t icdev, uint8_t mode, uint8_t key_nr, uint8_t adr) {
  KeyStoreSlot slot;
  if (!key_store_slot(mode, key_nr, &slot)) return -1;
  // Wrapping past block 255 would authenticate a block of another sector.
  const int block = sector_first_block(key_nr) + adr;
  if (block > kMifareLastBlock) return -1;
  uint8_t key[kKeySize];
  const int16_t result = ReadEepromRaw(icdev, slot.offset, kKeySize, key);
  if (result != 0) return result;
  return authenticate_block(slot.key_byte, uint8_t(block), key);
}

int16_t R42Device::authentication_pass(int32_t icdev, uint8_t mode, uint8_t addr,
                                       const unsigned char* passbuff) {
  return sector_flow::authentication_pass(*this, icdev, mode, addr, passbuff);
}

int16_t R42Device::authentication_pass_hex(int32_t icdev, uint8_t mode, uint8_t addr,
                                           const char* passbuff) {
  return sector_flow::authentication_pass_hex(*this, icdev, mode, addr, passbuff);
}

int16_t R42Device::authentication_passaddr(int32_t, uint8_t mode, uint8_t addr,
                                           const unsigned char* passbuff) {
  KeyStoreSlot slot;
  if (passbuff == nullptr || !key_store_slot(mode, 0, &slot)) return -1;
  return authenticate_block(slot.key_byte, addr, passbuff);
}

int16_t R42Device::authentication_passaddr_hex(int32_t icdev, uint8_t mode, uint8_t addr,
                                               const char* passbuff) {
  return sector_flow::authentication_passaddr_hex(*this, icdev, mode, addr, passbuff);
}

// --- blocks ---

int16_t R42Device::read(int32_t, uint8_t adr, unsigned char* data) {
  R42Request request(r42_cmd::kReadBlock);
  request.u8(adr);
  return fixed_reply(request, data, kBlockSize);
}

int16_t R42Device::read_hex(int32_t icdev, uint8_t adr, char* data) {
  return sector_flow::read_hex(*this, icdev, adr, data);
}

int16_t R42Device::write(int32_t, uint8_t adr, const unsigned char* data) {
  if (data == nullptr) return -1;
  R42Request request(r42_cmd::kWriteBlock);
  request.u8(adr).bytes(data, kBlockSize);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::write_hex(int32_t icdev, uint8_t adr, const char* data) {
  return sector_flow::write_hex(*this, icdev, adr, data);
}

int16_t R42Device::changeb3(int32_t icdev, uint8_t sec_nr, const unsigned char* key_a,
                            uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t bk,
                            const unsigned char* key_b) {
  return sector_flow::changeb3(*this, icdev, sec_nr, key_a, b0, b1, b2, b3, bk, key_b);
}

int16_t R42Device::changeb3_hex(int32_t icdev, uint8_t sec_nr, const char* key_a, uint8_t b0,
                                uint8_t b1, uint8_t b2, uint8_t b3, uint8_t bk,
                                const char* key_b) {
  return sector_flow::changeb3_hex(*this, icdev, sec_nr, key_a, b0, b1, b2, b3, bk, key_b);
}

// --- value blocks ---

int16_t R42Device::value_command(uint16_t code, uint8_t block, uint32_t value) {
  R42Request request(code);
  request.u8(block).be32(value);
  return exchange(request, kR42DefaultTimeoutMs, r42_cmd::kStatusOnly);
}

int16_t R42Device::restore(int32_t, uint8_t adr) {
  restore_block_ = adr;
  return 0;
}

int16_t R42Device::transfer(int32_t, uint8_t adr) {
  return status_command(r42_cmd::kTransfer, {restore_block_, adr});
}

int16_t R42Device::increment(int32_t, uint8_t adr, uint32_t value) {
  return value_command(r42_cmd::kIncrement, adr, value);
}

int16_t R42Device::decrement(int32_t icdev, uint8_t adr, uint32_t value) {
  if (tag_type_ != kLightTagType) return value_command(r42_cmd::kDecrement, adr, value);
  if (!R42Request::fits_u16(value)) return -1;
  return decrement_ml(icdev, uint16_t(value));
}

int16_t R42Device::initval(int32_t icdev, uint8_t adr, uint32_t value) {
  if (tag_type_ != kLightTagType) return value_command(r42_cmd::kInitValue, adr, value);
  if (!R42Request::fits_u16(value)) return -1;
  return initval_ml(icdev, uint16_t(value));
}

int16_t R42Device::readval(int32_t icdev, uint8_t adr, uint32_t* value) {
  if (value == nullptr) return -1;
  if (tag_type_ == kLightTagType) {
    uint16_t light = 0;
    const int16_t result = readval_ml(icdev, &light);
    if (result != 0) return result;
    *value = light;
    return 0;
  }
  R42Request request(r42_cmd::kReadValue);
  request.u8(adr);
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, kR42DefaultTimeoutMs, r42_cmd::kValueReply, &reply);
  if (result != 0) return result;
  return reply.be32(*value) ? 0 : -1;
}

int16_t R42Device::initval_ml(int32_t icdev, uint16_t value) {
  uint8_t block[kBlockSize];
  build_light_value_block(value, block);
  return write(icdev, kLightValueBlock, block);
}

int16_t R42Device::readval_ml(int32_t icdev, uint16_t* value) {
  return sector_flow::readval_ml(*this, icdev, value);
}

int16_t R42Device::decrement_ml(int32_t icdev, uint16_t value) {
  uint8_t block[kBlockSize];
  const int16_t result = read(icdev, kLightValueBlock, block);
  if (result != 0) return result;
  // The reader takes 4 for the first copy and 5 for the second.
  const int copy = light_value_copy(block);
  if (copy < 0) return -1;
  return value_command(r42_cmd::kDecrement, uint8_t(kLightValueBlock + copy), value);
}

// --- one-call forms ---

int16_t R42Device::HL_write(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t* snr,
                            const unsigned char* data) {
  if (snr == nullptr || data == nullptr) return -1;
  const int16_t result = card(icdev, mode, snr);
  if (result != 0) return result;
  return write(icdev, adr, data);
}

int16_t R42Device::HL_writehex(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t* snr,
                               const char* data) {
  return sector_flow::HL_writehex(*this, icdev, mode, adr, snr, data);
}

int16_t R42Device::HL_write_hex(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t* snr,
                                const char* data) {
  return HL_writehex(icdev, mode, adr, snr, data);
}

int16_t R42Device::HL_read(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t, unsigned char* data,
                           uint32_t* nsnr) {
  if (data == nullptr || nsnr == nullptr) return -1;
  uint32_t serial = 0;
  int16_t result = card(icdev, mode, &serial);
  if (result != 0) return result;
  result = read(icdev, adr, data);
  if (result != 0) return result;
  *nsnr = serial;
  return 0;
}

int16_t R42Device::HL_readhex(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t snr, char* data,
                              uint32_t* nsnr) {
  return sector_flow::HL_readhex(*this, icdev, mode, adr, snr, data, nsnr);
}

int16_t R42Device::HL_read_hex(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t snr,
                               char* data, uint32_t* nsnr) {
  return HL_readhex(icdev, mode, adr, snr, data, nsnr);
}

int16_t R42Device::HL_authentication(int32_t icdev, uint8_t reqmode, uint32_t, uint8_t authmode,
                                     uint8_t secnr) {
  // Refused before the card is even looked for, so nothing goes out.
  KeyStoreSlot slot;
  if (!key_store_slot(authmode, secnr, &slot)) return -1;
  uint32_t serial = 0;
  const int16_t result = card(icdev, reqmode, &serial);
  if (result != 0) return result;
  return authentication(icdev, authmode, secnr);
}

int16_t R42Device::check_write(int32_t icdev, uint32_t snr, uint8_t authmode, uint8_t adr,
                               const unsigned char* data) {
  // A key the store cannot hold is refused before the card is looked for.
  KeyStoreSlot slot;
  if (!key_store_slot(authmode, block_sector(adr), &slot)) return -1;
  return sector_flow::check_write(*this, icdev, snr, authmode, adr, data);
}

int16_t R42Device::check_writehex(int32_t icdev, uint32_t snr, uint8_t authmode, uint8_t adr,
                                  const char* data) {
  return sector_flow::check_writehex(*this, icdev, snr, authmode, adr, data);
}

int16_t R42Device::check_write_hex(int32_t icdev, uint32_t snr, uint8_t authmode, uint8_t adr,
                                   const char* data) {
  return check_writehex(icdev, snr, authmode, adr, data);
}

// --- FM11RF005: 16 blocks of 4 bytes, no anticollision, no keys ---

int16_t R42Device::read_fm11rf005(int32_t icdev, uint8_t adr, unsigned char* data) {
  if (data == nullptr) return -1;
  uint8_t block[kBlockSize];
  const int16_t result = read(icdev, adr, block);
  if (result != 0) return result;
  std::memcpy(data, block, 4);
  return 0;
}

int16_t R42Device::read_fm11rf005_hex(int32_t icdev, uint8_t adr, char* data) {
  if (data == nullptr) return -1;
  uint8_t bytes[4];
  const int16_t result = read_fm11rf005(icdev, adr, bytes);
  if (result != 0) return result;
  hex_twin_output(bytes, sizeof bytes, data);
  return 0;
}

int16_t R42Device::write_fm11rf005(int32_t icdev, uint8_t adr, const unsigned char* data) {
  if (data == nullptr) return -1;
  // The card keeps the first 4 bytes; the rest only fills the block command.
  uint8_t block[kBlockSize] = {};
  std::memcpy(block, data, 4);
  return write(icdev, adr, block);
}

int16_t R42Device::write_fm11rf005_hex(int32_t icdev, uint8_t adr, const char* data) {
  uint8_t bytes[4];
  if (hex_twin_input(data, sizeof bytes, bytes) != 0) return -1;
  return write_fm11rf005(icdev, adr, bytes);
}

int16_t R42Device::fm11rf005_serial(int32_t icdev, uint32_t* snr) {
  *snr = 0;
  // The card answers no select; whatever the reader says does not matter.
  uint8_t size = 0;
  select(icdev, 0, &size);
  uint8_t serial[4];
  const int16_t result = read_fm11rf005(icdev, kFm11rf005SerialBlock, serial);
  if (result != 0) return result;
  *snr = uid_value(serial);
  return 0;
}

int16_t R42Device::getsnr_fm11rf005(int32_t icdev, uint32_t* snr) {
  if (snr == nullptr) return -1;
  return fm11rf005_serial(icdev, snr);
}

int16_t R42Device::getsnr_fm11rf005_hex(int32_t icdev, char* snrstr) {
  if (snrstr == nullptr) return -1;
  uint32_t snr = 0;
  const int16_t result = getsnr_fm11rf005(icdev, &snr);
  if (result != 0) return result;
  uint8_t bytes[4];
  uid_bytes(snr, bytes);
  hex_twin_output(bytes, sizeof bytes, snrstr);
  return 0;
}

int16_t R42Device::card_fm11rf005(int32_t icdev, uint8_t mode, uint32_t* snr) {
  if (snr == nullptr) return -1;
  uint16_t tag_type = 0;
  const int16_t result = request(icdev, mode, &tag_type);
  if (result != 0) return result;
  return fm11rf005_serial(icdev, snr);
}
