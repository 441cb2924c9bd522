// Contactless cards other than sector cards and type-A processor cards:
// ISO/IEC 14443 type-B cards, ISO/IEC 15693 tags, SHC1102 and FM11RF005
// tags, the 5-byte identification-card read and the reader's card-type
// switch. Composite operations call their steps through the device
// interface with the caller's handle.
#include <cstring>

#include "connection/card_io.h"
#include "connection/reader_waits.h"
#include "family_m6/m6_device.h"
#include "platform/text_helpers.h"

namespace {

constexpr uint8_t kRequestShc1102 = 0xC0;
constexpr uint8_t kAuthShc1102 = 0xC1;
constexpr uint8_t kAuthShc1102Key = 0x08;
constexpr uint8_t kReadShc1102 = 0xC2;
constexpr uint8_t kWriteShc1102 = 0xC3;
constexpr uint8_t kHaltShc1102 = 0xC4;
constexpr uint8_t kReadFm11rf005 = 0xC5;
constexpr uint8_t kWriteFm11rf005 = 0xC6;
constexpr uint8_t kReadIdCard = 0xC8;
constexpr uint8_t kConfigCard = 0x87;
constexpr uint8_t kSlotMarker = 0x89;

constexpr uint8_t kInventory = 0x91;
constexpr uint8_t kStayQuiet = 0x92;
constexpr uint8_t kSelectUid = 0x93;
constexpr uint8_t kResetToReady = 0x94;
constexpr uint8_t kReadBlocks = 0x95;
constexpr uint8_t kWriteBlocks = 0x96;
constexpr uint8_t kLockBlock = 0x97;
constexpr uint8_t kWriteAfi = 0x98;
constexpr uint8_t kLockAfi = 0x99;
constexpr uint8_t kWriteDsfid = 0x9A;
constexpr uint8_t kLockDsfid = 0x9B;
constexpr uint8_t kSystemInfo = 0x9C;
constexpr uint8_t kSecurityInfo = 0x9D;

constexpr size_t kTagBlockSize = 4;  // SHC1102 and FM11RF005
constexpr size_t kIdCardSize = 5;
constexpr size_t kVicinityUidSize = 8;
// The longest slot-marker answer the caller's ATQB area takes.
constexpr size_t kSlotMarkerMax = 32;

// The SHC1102 status of a write the reader could not confirm itself.
constexpr uint32_t kShc1102Unconfirmed = 1;
// The 15693 status of a write the reader could not confirm itself, and how
// the block is then read back.
constexpr uint32_t kVicinityUnconfirmed = 125;
constexpr uint8_t kReadBackFlags = 0x22;
constexpr uint8_t kFm11rf005SerialAddress = 1;

// ATTRIB [1D][PUPI][param 1][param 2][param 3][param 4]: param 2 carries
// the frame size the reader takes (its SP0 readers take more).
constexpr uint8_t kAttrib = 0x1D;
constexpr uint8_t kAttribParam2 = 0x05;
constexpr uint8_t kAttribParam2Sp0 = 0x07;
constexpr uint8_t kAttribTimeout = 5;
constexpr uint8_t kCidMask = 0x0F;

constexpr uint8_t kTypeA = 'A';
constexpr int16_t kTypeBNoCard = 125;

}  // namespace

// --- SHC1102 ---

int16_t M6Device::request_shc1102(int32_t, uint8_t mode, uint16_t* tag_type) {
  return request_cards(kRequestShc1102, mode, tag_type);
}

int16_t M6Device::auth_shc1102(int32_t, const unsigned char* data) {
  if (data == nullptr) return -1;
  return data_command(kAuthShc1102, {kAuthShc1102Key}, data, kTagBlockSize);
}

int16_t M6Device::read_shc1102(int32_t, uint8_t adr, unsigned char* data) {
  M6Request request(kReadShc1102);
  request.u8(adr);
  return fixed_reply(request, data, kTagBlockSize);
}

int16_t M6Device::write_shc1102(int32_t icdev, uint8_t adr, const unsigned char* data) {
  if (data == nullptr) return -1;
  const int16_t result = data_command(kWriteShc1102, {adr}, data, kTagBlockSize);
  if (result != -2) return result;
  if (state_.last_status != kShc1102Unconfirmed) return -1;
  ReaderDevice& self = *this;
  uint8_t seen[kTagBlockSize];
  const int16_t read = self.read_shc1102(icdev, adr, seen);
  if (read != 0) return read;
  return std::memcmp(seen, data, kTagBlockSize) == 0 ? 0 : -1;
}

int16_t M6Device::halt_shc1102(int32_t) { return status_command(kHaltShc1102); }

// --- FM11RF005 ---

int16_t M6Device::read_fm11rf005(int32_t, uint8_t adr, unsigned char* data) {
  M6Request request(kReadFm11rf005);
  request.u8(adr);
  return fixed_reply(request, data, kTagBlockSize);
}

int16_t M6Device::read_fm11rf005_hex(int32_t icdev, uint8_t adr, char* data) {
  return block_out_twin(*this, &ReaderDevice::read_fm11rf005, kTagBlockSize, data, icdev, adr);
}

int16_t M6Device::write_fm11rf005(int32_t, uint8_t adr, const unsigned char* data) {
  if (data == nullptr) return -1;
  return data_command(kWriteFm11rf005, {adr}, data, kTagBlockSize);
}

int16_t M6Device::write_fm11rf005_hex(int32_t icdev, uint8_t adr, const char* data) {
  return block_in_twin(*this, &ReaderDevice::write_fm11rf005, kTagBlockSize, data, icdev, adr);
}

int16_t M6Device::fm11rf005_serial(int32_t icdev, uint32_t* snr) {
  ReaderDevice& self = *this;
  // The tag answers block reads without a select; the select only wakes
  // readers that want one, so its result does not count.
  uint8_t size = 0;
  self.select(icdev, 0, &size);
  uint8_t block[kTagBlockSize];
  const int16_t result = self.read_fm11rf005(icdev, kFm11rf005SerialAddress, block);
  if (result != 0) return result;
  ByteCursor serial(block, sizeof block);
  serial.le32(*snr);
  return 0;
}

int16_t M6Device::getsnr_fm11rf005(int32_t icdev, uint32_t* snr) {
  if (snr == nullptr) return -1;
  return fm11rf005_serial(icdev, snr);
}

int16_t M6Device::getsnr_fm11rf005_hex(int32_t icdev, char* snrstr) {
  if (snrstr == nullptr) return -1;
  ReaderDevice& self = *this;
  uint32_t snr = 0;
  const int16_t result = self.getsnr_fm11rf005(icdev, &snr);
  if (result != 0) return result;
  // The bytes in the order the tag sent them.
  const uint8_t bytes[4] = {uint8_t(snr), uint8_t(snr >> 8), uint8_t(snr >> 16),
                            uint8_t(snr >> 24)};
  hex_twin_output(bytes, sizeof bytes, snrstr);
  return 0;
}

int16_t M6Device::card_fm11rf005(int32_t icdev, uint8_t mode, uint32_t* snr) {
  if (snr == nullptr) return -1;
  ReaderDevice& self = *this;
  uint16_t tag_type = 0;
  const int16_t result = self.request(icdev, mode, &tag_type);
  if (result != 0) return result;
  *snr = 0;
  return fm11rf005_serial(icdev, snr);
}

// --- identification card ---

int16_t M6Device::read_idcard(int32_t, uint8_t times, unsigned char* data) {
  M6Request request(kReadIdCard);
  request.u8(times);
  return fixed_reply(request, data, kIdCardSize, reader_wait_timeout(times));
}

int16_t M6Device::read_idcard_hex(int32_t icdev, uint8_t times, char* data) {
  return block_out_twin(*this, &ReaderDevice::read_idcard, kIdCardSize, data, icdev, times);
}

// --- ISO/IEC 15693 ---

int16_t M6Device::tag_command(uint8_t code, uint8_t flags, std::initializer_list<uint8_t> params,
                              const uint8_t* uid) {
  if (uid == nullptr) return -1;
  M6Request request(code);
  request.u8(flags);
  for (uint8_t b : params) request.u8(b);
  request.bytes(uid, kVicinityUidSize);
  return exchange(request, kDefaultTimeoutMs, 0);
}

int16_t M6Device::tag_query(uint8_t code, uint8_t flags, std::initializer_list<uint8_t> params,
                            const uint8_t* uid, uint8_t* rlen, uint8_t* rbuffer) {
  M6Request request(code);
  request.u8(flags);
  for (uint8_t b : params) request.u8(b);
  if (uid != nullptr) request.bytes(uid, kVicinityUidSize);
  return length_reply(request, kDefaultTimeoutMs, rbuffer, rlen);
}

namespace {

// Twin of a 15693 query (self.*slot)(icdev, args..., uid, rlen, rbuffer):
// the UID from 16 hexadecimal characters, the answer out as text.
template <typename Slot, typename... Args>
int16_t tag_query_twin(ReaderDevice& self, Slot slot, const char* uid, uint8_t* rlen,
                       char* rbuffer, int32_t icdev, Args... args) {
  return write_from_text(kVicinityUidSize, kVicinityUidSize, uid, [&](const uint8_t* bytes) {
    return reply_hex_twin(size_t(kNarrowReplyMax), rlen, rbuffer, [&](uint8_t* length, uint8_t* out) {
      return (self.*slot)(icdev, args..., bytes, length, out);
    });
  });
}

}  // namespace

int16_t M6Device::inventory(int32_t, uint8_t flags, uint8_t afi, uint8_t masklen, uint8_t* rlen,
                            unsigned char* rbuffer) {
  return tag_query(kInventory, flags, {afi, masklen}, nullptr, rlen, rbuffer);
}

int16_t M6Device::inventory_hex(int32_t icdev, uint8_t flags, uint8_t afi, uint8_t masklen,
                                uint8_t* rlen, char* rbuffer) {
  ReaderDevice& self = *this;
  return reply_hex_twin(size_t(kNarrowReplyMax), rlen, rbuffer, [&](uint8_t* length, uint8_t* out) {
    return self.inventory(icdev, flags, afi, masklen, length, out);
  });
}

int16_t M6Device::stay_quiet(int32_t, uint8_t flags, const unsigned char* uid) {
  return tag_command(kStayQuiet, flags, {}, uid);
}

int16_t M6Device::stay_quiet_hex(int32_t icdev, uint8_t flags, const char* uid) {
  return block_in_twin(*this, &ReaderDevice::stay_quiet, kVicinityUidSize, uid, icdev, flags);
}

int16_t M6Device::select_uid(int32_t, uint8_t flags, const unsigned char* uid) {
  return tag_command(kSelectUid, flags, {}, uid);
}

int16_t M6Device::select_uid_hex(int32_t icdev, uint8_t flags, const char* uid) {
  return block_in_twin(*this, &ReaderDevice::select_uid, kVicinityUidSize, uid, icdev, flags);
}

int16_t M6Device::reset_to_ready(int32_t, uint8_t flags, const unsigned char* uid) {
  return tag_command(kResetToReady, flags, {}, uid);
}

int16_t M6Device::reset_to_ready_hex(int32_t icdev, uint8_t flags, const char* uid) {
  return block_in_twin(*this, &ReaderDevice::reset_to_ready, kVicinityUidSize, uid, icdev, flags);
}

int16_t M6Device::readblock(int32_t, uint8_t flags, uint8_t startblock, uint8_t blocknum,
                            const unsigned char* uid, uint8_t* rlen, unsigned char* rbuffer) {
  if (uid == nullptr) return -1;
  return tag_query(kReadBlocks, flags, {startblock, blocknum}, uid, rlen, rbuffer);
}

int16_t M6Device::readblock_hex(int32_t icdev, uint8_t flags, uint8_t startblock,
                                uint8_t blocknum, const char* uid, uint8_t* rlen,
                                char* rbuffer) {
  return tag_query_twin(*this, &ReaderDevice::readblock, uid, rlen, rbuffer, icdev, flags,
                        startblock, blocknum);
}

int16_t M6Device::writeblock(int32_t icdev, uint8_t flags, uint8_t startblock, uint8_t blocknum,
                             const unsigned char* uid, uint8_t wlen,
                             const unsigned char* wbuffer) {
  if (uid == nullptr || (wbuffer == nullptr && wlen > 0)) return -1;
  M6Request request(kWriteBlocks);
  request.u8(flags).u8(startblock).u8(blocknum).bytes(wbuffer, wlen).bytes(uid,
                                                                           kVicinityUidSize);
  const int16_t result = exchange(request, kDefaultTimeoutMs, 0);
  if (result != -2 || state_.last_status != kVicinityUnconfirmed) return result;
  // The reader wrote but could not confirm: the first block read back
  // tells, as far as the caller gave bytes for it.
  const size_t compared = wlen < kTagBlockSize ? wlen : kTagBlockSize;
  if (compared == 0) return -2;
  ReaderDevice& self = *this;
  uint8_t length = 0;
  uint8_t seen[size_t(kNarrowReplyMax)];
  const int16_t read =
      self.readblock(icdev, kReadBackFlags, startblock, 1, uid, &length, seen);
  if (read != 0) return read;
  if (length < kTagBlockSize) return -1;
  return std::memcmp(seen, wbuffer, compared) == 0 ? 0 : 1;
}

int16_t M6Device::writeblock_hex(int32_t icdev, uint8_t flags, uint8_t startblock,
                                 uint8_t blocknum, const char* uid, uint8_t wlen,
                                 const char* wbuffer) {
  ReaderDevice& self = *this;
  return write_from_text(kVicinityUidSize, kVicinityUidSize, uid, [&](const uint8_t* bytes) {
    return block_in_twin(self, &ReaderDevice::writeblock, wlen, wbuffer, icdev, flags,
                         startblock, blocknum, bytes, wlen);
  });
}

int16_t M6Device::lock_block(int32_t, uint8_t flags, uint8_t block, const unsigned char* uid) {
  return tag_command(kLockBlock, flags, {block}, uid);
}

int16_t M6Device::lock_block_hex(int32_t icdev, uint8_t flags, uint8_t block, const char* uid) {
  return block_in_twin(*this, &ReaderDevice::lock_block, kVicinityUidSize, uid,
                       icdev, flags, block);
}

int16_t M6Device::write_afi(int32_t, uint8_t flags, uint8_t afi, const unsigned char* uid) {
  return tag_command(kWriteAfi, flags, {afi}, uid);
}

int16_t M6Device::write_afi_hex(int32_t icdev, uint8_t flags, uint8_t afi, const char* uid) {
  return block_in_twin(*this, &ReaderDevice::write_afi, kVicinityUidSize, uid, icdev, flags, afi);
}

int16_t M6Device::lock_afi(int32_t, uint8_t flags, uint8_t afi, const unsigned char* uid) {
  return tag_command(kLockAfi, flags, {afi}, uid);
}

int16_t M6Device::lock_afi_hex(int32_t icdev, uint8_t flags, uint8_t afi, const char* uid) {
  return block_in_twin(*this, &ReaderDevice::lock_afi, kVicinityUidSize, uid, icdev, flags, afi);
}

int16_t M6Device::write_dsfid(int32_t, uint8_t flags, uint8_t dsfid, const unsigned char* uid) {
  return tag_command(kWriteDsfid, flags, {dsfid}, uid);
}

int16_t M6Device::write_dsfid_hex(int32_t icdev, uint8_t flags, uint8_t dsfid, const char* uid) {
  return block_in_twin(*this, &ReaderDevice::write_dsfid, kVicinityUidSize, uid,
                       icdev, flags, dsfid);
}

int16_t M6Device::lock_dsfid(int32_t, uint8_t flags, uint8_t dsfid, const unsigned char* uid) {
  return tag_command(kLockDsfid, flags, {dsfid}, uid);
}

int16_t M6Device::lock_dsfid_hex(int32_t icdev, uint8_t flags, uint8_t dsfid, const char* uid) {
  return block_in_twin(*this, &ReaderDevice::lock_dsfid, kVicinityUidSize, uid,
                       icdev, flags, dsfid);
}

int16_t M6Device::get_systeminfo(int32_t, uint8_t flags, const unsigned char* uid, uint8_t* rlen,
                                 unsigned char* rbuffer) {
  if (uid == nullptr) return -1;
  return tag_query(kSystemInfo, flags, {}, uid, rlen, rbuffer);
}

int16_t M6Device::get_systeminfo_hex(int32_t icdev, uint8_t flags, const char* uid,
                                     uint8_t* rlen, char* rbuffer) {
  return tag_query_twin(*this, &ReaderDevice::get_systeminfo, uid, rlen, rbuffer, icdev, flags);
}

int16_t M6Device::get_securityinfo(int32_t, uint8_t flags, uint8_t startblock, uint8_t blocknum,
                                   const unsigned char* uid, uint8_t* rlen,
                                   unsigned char* rbuffer) {
  if (uid == nullptr) return -1;
  return tag_query(kSecurityInfo, flags, {startblock, blocknum}, uid, rlen, rbuffer);
}

int16_t M6Device::get_securityinfo_hex(int32_t icdev, uint8_t flags, uint8_t startblock,
                                       uint8_t blocknum, const char* uid, uint8_t* rlen,
                                       char* rbuffer) {
  return tag_query_twin(*this, &ReaderDevice::get_securityinfo, uid, rlen, rbuffer, icdev, flags,
                        startblock, blocknum);
}

// --- type B ---

int16_t M6Device::config_card(int32_t icdev, uint8_t cardtype) {
  ReaderDevice& self = *this;
  if (cardtype == kTypeB) {
    // Leaves any type-A card idle before the switch; no card is no failure.
    uint16_t tag_type = 0;
    self.request(icdev, 0, &tag_type);
  }
  // The reader takes the switch without a reply worth checking.
  status_command(kConfigCard, {cardtype});
  return 0;
}

int16_t M6Device::request_b(int32_t, uint8_t mode, uint8_t afi, uint8_t n, unsigned char* atqb) {
  if (atqb == nullptr) return -1;
  // A card may miss the first request.
  const int16_t result = request_b_frame(mode, afi, n, atqb);
  return result == 0 ? 0 : request_b_frame(mode, afi, n, atqb);
}

int16_t M6Device::slotmarker(int32_t, uint8_t n, unsigned char* atqb) {
  if (atqb == nullptr) return -1;
  auto attempt = [&] {
    M6Request request(kSlotMarker);
    request.u8(n);
    int32_t length = 0;
    return counted_reply(request, kDefaultTimeoutMs, atqb, kSlotMarkerMax, &length);
  };
  const int16_t result = attempt();
  return result == -2 ? attempt() : result;
}

int16_t M6Device::send_attrib(int32_t icdev, const uint8_t* pupi, uint8_t param2, uint8_t cid) {
  if (pupi == nullptr) return -1;
  uint8_t frame[9] = {kAttrib};
  std::memcpy(frame + 1, pupi, kPupiSize);
  frame[5] = 0x00;
  frame[6] = param2;
  frame[7] = 0x01;
  frame[8] = uint8_t(cid & kCidMask);
  ReaderDevice& self = *this;
  uint8_t length = 0;
  uint8_t answer[size_t(kNarrowReplyMax)];
  return self.pro_commandsource(icdev, sizeof frame, frame, &length, answer, kAttribTimeout);
}

int16_t M6Device::attrib(int32_t icdev, const unsigned char* pupi, uint8_t cid) {
  return send_attrib(icdev, pupi, state_.sp0_flag ? kAttribParam2Sp0 : kAttribParam2, cid);
}

int16_t M6Device::card_b(int32_t icdev, unsigned char* rbuf) {
  if (rbuf == nullptr) return -1;
  ReaderDevice& self = *this;
  const int16_t result = self.request_b(icdev, 0, 0, 0, rbuf);
  if (result == kTypeBNoCard) return 1;
  if (result != 0) return result;
  return self.attrib(icdev, rbuf + kPupiAt, 0);
}

int16_t M6Device::card_b_hex(int32_t icdev, char* rbuf) {
  if (rbuf == nullptr) return -1;
  ReaderDevice& self = *this;
  uint8_t answer[kSlotMarkerMax];
  const int16_t result = self.card_b(icdev, answer);
  if (result != 0) return result;
  hex_twin_output(answer, kAtqbSize, rbuf);
  return 0;
}

int16_t M6Device::cardAB(int32_t icdev, uint8_t* rlen, unsigned char* rbuf, uint8_t* type) {
  if (rlen == nullptr || rbuf == nullptr || type == nullptr) return -1;
  ReaderDevice& self = *this;
  int16_t result = self.reset(icdev, kCardFieldResetMs);
  if (result == 0) result = self.config_card(icdev, kTypeA);
  if (result != 0) return result;
  uint32_t snr = 0;
  if (self.card(icdev, 0, &snr) == 0) {
    result = self.pro_reset(icdev, rlen, rbuf);
    if (result == 0) *type = kTypeA;
    return result;
  }
  result = self.config_card(icdev, kTypeB);
  if (result == 0) result = self.request_b(icdev, 0, 0, 0, rbuf);
  if (result == 0) result = self.attrib(icdev, rbuf + kPupiAt, 0);
  if (result != 0) return result;
  *rlen = kAtqbSize;
  *type = kTypeB;
  return 0;
}
