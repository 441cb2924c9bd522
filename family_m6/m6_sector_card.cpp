// Contactless sector cards (MIFARE Classic 1K/4K with 4- or 7-byte UIDs,
// MIFARE Light values) through an m6 reader. The reader keeps the keys and
// runs the card protocol; the host addresses cards, sectors and blocks.
// Composite operations call their steps through the device interface with
// the caller's handle, so an override of a step takes effect.
#include <cstdio>
#include <cstring>

#include "connection/sector_card_flows.h"
#include "family_m6/m6_device.h"
#include "platform/mifare_layout.h"
#include "platform/text_helpers.h"

namespace {

constexpr uint8_t kRequest = 0x41;
constexpr uint8_t kAnticollision = 0x42;
constexpr uint8_t kSelect = 0x43;
constexpr uint8_t kAuthenticate = 0x44;
constexpr uint8_t kHalt = 0x45;
constexpr uint8_t kReadBlock = 0x46;
constexpr uint8_t kWriteBlock = 0x47;
constexpr uint8_t kIncrement = 0x48;
constexpr uint8_t kDecrement = 0x49;
constexpr uint8_t kRestore = 0x4A;
constexpr uint8_t kTransfer = 0x4B;
constexpr uint8_t kLoadKey = 0x4C;
constexpr uint8_t kAuthenticateKeyNr = 0x56;
constexpr uint8_t kWriteTs = 0x60;
constexpr uint8_t kAnticollision2 = 0xA2;
constexpr uint8_t kSelect2 = 0xA3;
constexpr uint8_t kHlWrite = 0x32;
constexpr uint8_t kHlRead = 0x33;
constexpr uint8_t kHlAuthenticate = 0x40;
constexpr uint8_t kAuthenticateWithKey = 0x90;

// The request carries only the "all cards" bit and the reader's high bit.
constexpr uint8_t kRequestModeMask = 0x81;
constexpr size_t kUidLevelSize = 4;

constexpr int kBlockSize = kMifareBlockSize;
constexpr int kKeySize = kMifareKeySize;

}  // namespace

// PLACEHOLDERS. The reader expects one fixed 6-byte value per sector 0-15
// with every key load; the real values belong to the reader's firmware and
// must be put here to match the reader in use. What the reader requires of
// them, and these keep, is that each entry's last two bytes are equal.
const uint8_t M6Device::kKeyLoadConstants[16][6] = {
    {0x00, 0x10, 0x20, 0x30, 0x40, 0x40}, {0x01, 0x11, 0x21, 0x31, 0x41, 0x41},
    {0x02, 0x12, 0x22, 0x32, 0x42, 0x42}, {0x03, 0x13, 0x23, 0x33, 0x43, 0x43},
    {0x04, 0x14, 0x24, 0x34, 0x44, 0x44}, {0x05, 0x15, 0x25, 0x35, 0x45, 0x45},
    {0x06, 0x16, 0x26, 0x36, 0x46, 0x46}, {0x07, 0x17, 0x27, 0x37, 0x47, 0x47},
    {0x08, 0x18, 0x28, 0x38, 0x48, 0x48}, {0x09, 0x19, 0x29, 0x39, 0x49, 0x49},
    {0x0A, 0x1A, 0x2A, 0x3A, 0x4A, 0x4A}, {0x0B, 0x1B, 0x2B, 0x3B, 0x4B, 0x4B},
    {0x0C, 0x1C, 0x2C, 0x3C, 0x4C, 0x4C}, {0x0D, 0x1D, 0x2D, 0x3D, 0x4D, 0x4D},
    {0x0E, 0x1E, 0x2E, 0x3E, 0x4E, 0x4E}, {0x0F, 0x1F, 0x2F, 0x3F, 0x4F, 0x4F},
};

// --- request, anticollision and select ---

int16_t M6Device::request_cards(uint8_t code, uint8_t mode, uint16_t* tag_type) {
  if (tag_type == nullptr) return -1;
  uint16_t tag = 0;
  auto attempt = [&] {
    M6Request request(code);
    request.u8(mode & kRequestModeMask);
    ByteCursor answer(nullptr, 0);
    const int16_t result = exchange(request, kDefaultTimeoutMs, 2, &answer);
    if (result == 0) answer.le16(tag);
    return result;
  };
  int16_t result = attempt();
  // A card may miss one request; two refusals mean no card.
  if (result == -2) result = attempt();
  if (result == -2) return 1;
  if (result != 0) return result;
  *tag_type = tag;
  state_.last_request_mode = mode;
  state_.last_tag_type = tag;
  return 0;
}

int16_t M6Device::request(int32_t, uint8_t mode, uint16_t* tag_type) {
  return request_cards(kRequest, mode, tag_type);
}

int16_t M6Device::anticoll_level(uint8_t code, uint8_t bcnt, uint32_t* snr) {
  if (snr == nullptr) return -1;
  M6Request request(code);
  request.u8(bcnt).le32(*snr);
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, kDefaultTimeoutMs, kUidLevelSize, &answer);
  if (result != 0) return result;
  answer.le32(*snr);
  return 0;
}

int16_t M6Device::anticoll(int32_t, uint8_t bcnt, uint32_t* snr) {
  return anticoll_level(kAnticollision, bcnt, snr);
}

int16_t M6Device::anticoll2(int32_t, uint8_t bcnt, uint32_t* snr) {
  return anticoll_level(kAnticollision2, bcnt, snr);
}

int16_t M6Device::select_level(uint8_t code, uint32_t snr, uint8_t* size) {
  M6Request request(code);
  request.le32(snr);
  return byte_reply(request, {size});
}

int16_t M6Device::select(int32_t, uint32_t snr, uint8_t* size) {
  const int16_t result = select_level(kSelect, snr, size);
  if (result == 0) state_.last_sak = *size;
  return result;
}

int16_t M6Device::select2(int32_t, uint32_t snr, uint8_t* size) {
  return select_level(kSelect2, snr, size);
}

int16_t M6Device::halt(int32_t) {
  // Whatever the card said, it is no longer selected; only a reader that
  // did not answer at all is a failure.
  const int16_t result = status_command(kHalt);
  return result == -2 ? 0 : result;
}

int16_t M6Device::card(int32_t icdev, uint8_t mode, uint32_t* snr) {
  return sector_flow::card(*this, icdev, mode, snr);
}

int16_t M6Device::card_hex(int32_t icdev, uint8_t mode, char* snrstr) {
  return sector_flow::card_hex(*this, icdev, mode, snrstr);
}

int16_t M6Device::cardstr(int32_t icdev, uint8_t mode, char* strsnr) {
  if (strsnr == nullptr) return -1;
  uint32_t snr = 0;
  const int16_t result = card(icdev, mode, &snr);
  if (result != 0) return result;
  std::snprintf(strsnr, 11, "%u", unsigned(snr));
  return 0;
}


int16_t M6Device::card_double(int32_t icdev, uint8_t mode, unsigned char* snr) {
  return sector_flow::card_double(*this, icdev, mode, snr);
}

int16_t M6Device::card_double_hex(int32_t icdev, uint8_t mode, char* snr) {
  return sector_flow::card_double_hex(*this, icdev, mode, snr);
}

// --- keys and authentication ---

int16_t M6Device::load_key(int32_t, uint8_t mode, uint8_t sec_nr, const unsigned char* key) {
  if (key == nullptr) return -1;
  static const uint8_t kNoConstant[6] = {};
  M6Request request(kLoadKey);
  request.u8(mode).u8(sec_nr);
  request.bytes(sec_nr < 16 ? kKeyLoadConstants[sec_nr] : kNoConstant, 6).le16(0);
  request.bytes(key, kKeySize).le16(0);
  return exchange(request, kDefaultTimeoutMs, 0);
}

int16_t M6Device::load_key_hex(int32_t icdev, uint8_t mode, uint8_t sec_nr, const char* key) {
  return sector_flow::load_key_hex(*this, icdev, mode, sec_nr, key);
}

int16_t M6Device::authentication(int32_t, uint8_t mode, uint8_t sec_nr) {
  return status_command(kAuthenticate, {mode, sec_nr});
}

int16_t M6Device::authentication_2(int32_t, uint8_t mode, uint8_t key_nr, uint8_t adr) {
  return status_command(kAuthenticateKeyNr, {mode, key_nr, adr});
}

int16_t M6Device::authentication_passaddr(int32_t, uint8_t mode, uint8_t addr,
                                          const unsigned char* passbuff) {
  return data_command(kAuthenticateWithKey, {mode, 0x00, addr}, passbuff, kKeySize);
}

int16_t M6Device::authentication_passaddr_hex(int32_t icdev, uint8_t mode, uint8_t addr,
                                              const char* passbuff) {
  return sector_flow::authentication_passaddr_hex(*this, icdev, mode, addr, passbuff);
}

int16_t M6Device::authentication_pass(int32_t icdev, uint8_t mode, uint8_t addr,
                                      const unsigned char* passbuff) {
  return sector_flow::authentication_pass(*this, icdev, mode, addr, passbuff);
}

int16_t M6Device::authentication_pass_hex(int32_t icdev, uint8_t mode, uint8_t addr,
                                          const char* passbuff) {
  return sector_flow::authentication_pass_hex(*this, icdev, mode, addr, passbuff);
}

// --- blocks ---

int16_t M6Device::read(int32_t, uint8_t adr, unsigned char* data) {
  M6Request request(kReadBlock);
  request.u8(adr);
  return fixed_reply(request, data, kBlockSize);
}

int16_t M6Device::read_hex(int32_t icdev, uint8_t adr, char* data) {
  return sector_flow::read_hex(*this, icdev, adr, data);
}

int16_t M6Device::write(int32_t, uint8_t adr, const unsigned char* data) {
  return data_command(kWriteBlock, {adr}, data, kBlockSize);
}

int16_t M6Device::write_hex(int32_t icdev, uint8_t adr, const char* data) {
  return sector_flow::write_hex(*this, icdev, adr, data);
}

int16_t M6Device::write_TS(int32_t) {
  uint8_t fill[kBlockSize];
  std::memset(fill, 0x11, sizeof fill);
  return data_command(kWriteTs, {0x01}, fill, sizeof fill);
}

int16_t M6Device::changeb3(int32_t icdev, uint8_t sec_nr, const unsigned char* key_a,
                           uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t bk,
                           const unsigned char* key_b) {
  return sector_flow::changeb3(*this, icdev, sec_nr, key_a, b0, b1, b2, b3, bk, key_b);
}

int16_t M6Device::changeb3_hex(int32_t icdev, uint8_t sec_nr, const char* key_a, uint8_t b0,
                               uint8_t b1, uint8_t b2, uint8_t b3, uint8_t bk,
                               const char* key_b) {
  return sector_flow::changeb3_hex(*this, icdev, sec_nr, key_a, b0, b1, b2, b3, bk, key_b);
}

// --- value blocks ---

int16_t M6Device::value_step(uint8_t code, uint8_t adr, uint32_t value) {
  M6Request request(code);
  request.u8(adr).le32(value);
  return exchange(request, kDefaultTimeoutMs, 0);
}

int16_t M6Device::restore(int32_t, uint8_t adr) { return status_command(kRestore, {adr}); }

int16_t M6Device::transfer(int32_t, uint8_t adr) { return status_command(kTransfer, {adr}); }

int16_t M6Device::increment(int32_t icdev, uint8_t adr, uint32_t value) {
  // A refused step leaves the reader's buffer stale: it must not be
  // transferred.
  const int16_t result = value_step(kIncrement, adr, value);
  return result != 0 ? result : transfer(icdev, adr);
}

int16_t M6Device::decrement(int32_t icdev, uint8_t adr, uint32_t value) {
  if (state_.last_tag_type == kLightTagType) {
    if (value > 0xFFFF) return -1;
    return decrement_ml(icdev, uint16_t(value));
  }
  const int16_t result = value_step(kDecrement, adr, value);
  return result != 0 ? result : transfer(icdev, adr);
}

int16_t M6Device::initval(int32_t icdev, uint8_t adr, uint32_t value) {
  if (state_.last_tag_type == kLightTagType) {
    if (value > 0xFFFF) return -1;
    return initval_ml(icdev, uint16_t(value));
  }
  uint8_t block[kBlockSize];
  build_value_block(value, adr, block);
  return write(icdev, adr, block);
}

int16_t M6Device::readval(int32_t icdev, uint8_t adr, uint32_t* value) {
  if (value == nullptr) return -1;
  if (state_.last_tag_type == kLightTagType) {
    uint16_t light = 0;
    const int16_t result = readval_ml(icdev, &light);
    if (result == 0) *value = light;
    return result;
  }
  uint8_t block[kBlockSize];
  const int16_t result = read(icdev, adr, block);
  if (result != 0) return result;
  return value_block_value(block, value) ? 0 : -1;
}

int16_t M6Device::initval_ml(int32_t icdev, uint16_t value) {
  uint8_t block[kBlockSize];
  build_light_value_block(value, block);
  return write(icdev, kLightValueBlock, block);
}

int16_t M6Device::readval_ml(int32_t icdev, uint16_t* value) {
  return sector_flow::readval_ml(*this, icdev, value);
}

int16_t M6Device::decrement_ml(int32_t icdev, uint16_t value) {
  uint8_t block[kBlockSize];
  const int16_t result = read(icdev, kLightValueBlock, block);
  if (result != 0) return result;
  // The reader takes 4 for the first copy and 5 for the second.
  const int copy = light_value_copy(block);
  if (copy < 0) return -1;
  return value_step(kDecrement, uint8_t(kLightValueBlock + copy), value);
}

// --- one-call forms that carry the serial number ---

int16_t M6Device::HL_write(int32_t, uint8_t mode, uint8_t adr, uint32_t* snr,
                           const unsigned char* data) {
  if (snr == nullptr || data == nullptr) return -1;
  M6Request request(kHlWrite);
  request.u8(mode).u8(adr).le32(*snr).bytes(data, kBlockSize);
  return exchange(request, kDefaultTimeoutMs, 0);
}

int16_t M6Device::HL_writehex(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t* snr,
                              const char* data) {
  return sector_flow::HL_writehex(*this, icdev, mode, adr, snr, data);
}

int16_t M6Device::HL_write_hex(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t* snr,
                               const char* data) {
  return HL_writehex(icdev, mode, adr, snr, data);
}

int16_t M6Device::HL_read(int32_t, uint8_t mode, uint8_t adr, uint32_t snr,
                          unsigned char* data, uint32_t* nsnr) {
  if (data == nullptr || nsnr == nullptr) return -1;
  M6Request request(kHlRead);
  request.u8(mode).u8(adr).le32(snr);
  ByteCursor answer(nullptr, 0);
  const int16_t result = exchange(request, kDefaultTimeoutMs, kBlockSize + 4, &answer);
  if (result != 0) return result;
  answer.take(data, kBlockSize);
  answer.le32(*nsnr);
  return 0;
}

int16_t M6Device::HL_readhex(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t snr, char* data,
                             uint32_t* nsnr) {
  return sector_flow::HL_readhex(*this, icdev, mode, adr, snr, data, nsnr);
}

int16_t M6Device::HL_read_hex(int32_t icdev, uint8_t mode, uint8_t adr, uint32_t snr,
                              char* data, uint32_t* nsnr) {
  return HL_readhex(icdev, mode, adr, snr, data, nsnr);
}

int16_t M6Device::HL_authentication(int32_t, uint8_t reqmode, uint32_t snr, uint8_t authmode,
                                    uint8_t secnr) {
  M6Request request(kHlAuthenticate);
  request.u8(reqmode).le32(snr).u8(authmode).u8(secnr);
  return exchange(request, kDefaultTimeoutMs, 0);
}

int16_t M6Device::check_write(int32_t icdev, uint32_t snr, uint8_t authmode, uint8_t adr,
                              const unsigned char* data) {
  return sector_flow::check_write(*this, icdev, snr, authmode, adr, data);
}

int16_t M6Device::check_writehex(int32_t icdev, uint32_t snr, uint8_t authmode, uint8_t adr,
                                 const char* data) {
  return sector_flow::check_writehex(*this, icdev, snr, authmode, adr, data);
}

int16_t M6Device::check_write_hex(int32_t icdev, uint32_t snr, uint8_t authmode, uint8_t adr,
                                  const char* data) {
  return check_writehex(icdev, snr, authmode, adr, data);
}
