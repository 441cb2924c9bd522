#include "sim/mifare_card.h"

#include <algorithm>
#include <cstring>

namespace {

using Block = MifareCard::Block;
constexpr uint8_t kA = MifareCard::kA, kB = MifareCard::kB, kAB = kA | kB;

// Rights per access condition number C1C2C3 (read, write, increment,
// decrement/transfer/restore) as the card's data sheet tables them.
constexpr MifareCard::DataRights kDataRights[8] = {
    {kAB, kAB, kAB, kAB},  // 000
    {kAB, 0, 0, kAB},      // 001
    {kAB, 0, 0, 0},        // 010
    {kB, kB, 0, 0},        // 011
    {kAB, kB, 0, 0},       // 100
    {kB, 0, 0, 0},         // 101
    {kAB, kB, kB, kAB},    // 110
    {0, 0, 0, 0},          // 111
};
// Key A write; access bits read, write; key B read, write.
constexpr MifareCard::TrailerRights kTrailerRights[8] = {
    {kA, kA, 0, kA, kA},    // 000
    {kA, kA, kA, kA, kA},   // 001
    {0, kA, 0, kA, 0},      // 010
    {kB, kAB, kB, 0, kB},   // 011
    {kB, kAB, 0, 0, kB},    // 100
    {0, kAB, kB, 0, 0},     // 101
    {0, kAB, 0, 0, 0},      // 110
    {0, kAB, 0, 0, 0},      // 111
};

uint8_t bit(uint8_t byte, int n) { return uint8_t((byte >> n) & 1); }

}  // namespace

MifareCard::MifareCard(Kind kind, std::vector<uint8_t> uid, uint16_t atqa, uint8_t sak,
                       int blocks)
    : kind_(kind), uid_(std::move(uid)), atqa_(atqa), sak_(sak), blocks_(size_t(blocks)) {
  for (auto& b : blocks_) b.fill(0);
  Block& maker = blocks_[0];
  size_t at = 0;
  for (uint8_t u : uid_) maker[at++] = u;
  if (uid_.size() == 4) maker[at++] = uint8_t(uid_[0] ^ uid_[1] ^ uid_[2] ^ uid_[3]);
  if (kind_ == Kind::kFm11rf005) {
    // Block 1 carries the serial; the rest of each block is not stored.
    blocks_[1] = Block{};
    std::copy(uid_.begin(), uid_.begin() + 4, blocks_[1].begin());
    blocks_[0] = Block{0x46, 0x4D, 0x05, 0x00};
    return;
  }
  maker[at++] = sak_;
  maker[at++] = uint8_t(atqa_);
  maker[at++] = uint8_t(atqa_ >> 8);
  for (uint8_t m = 0xA0; at < 16; ++m) maker[at++] = m;
  const uint8_t fresh[4] = {0, 0, 0, 1};
  const Key ff = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  for (int s = 0; trailerOf(s) >= 0; ++s) {
    setKeys(s, ff, ff);
    setAccess(s, fresh);
    blocks_[size_t(trailerOf(s))][9] = 0x69;
  }
}

MifareCard MifareCard::classic1k(std::vector<uint8_t> uid) {
  const bool seven = uid.size() == 7;
  return MifareCard(Kind::kClassic1K, std::move(uid), seven ? 0x0044 : 0x0004, 0x08, 64);
}

MifareCard MifareCard::classic4k(std::vector<uint8_t> uid) {
  const bool seven = uid.size() == 7;
  return MifareCard(Kind::kClassic4K, std::move(uid), seven ? 0x0044 : 0x0002, 0x18, 256);
}

MifareCard MifareCard::light(std::vector<uint8_t> uid) {
  MifareCard card(Kind::kLight, std::move(uid), 0x0010, 0x08, 64);
  card.setLightValue(0);
  return card;
}

MifareCard MifareCard::fm11rf005(std::vector<uint8_t> serial, uint16_t atqa) {
  serial.resize(4);
  return MifareCard(Kind::kFm11rf005, std::move(serial), atqa, 0x00, 16);
}

std::array<uint8_t, 4> MifareCard::level1() const {
  if (uid_.size() == 7) return {0x88, uid_[0], uid_[1], uid_[2]};
  return {uid_[0], uid_[1], uid_[2], uid_[3]};
}

std::array<uint8_t, 4> MifareCard::level2() const {
  if (uid_.size() != 7) return {0, 0, 0, 0};
  return {uid_[3], uid_[4], uid_[5], uid_[6]};
}

int MifareCard::sectorOf(int block) const {
  if (block < 0 || block >= blockCount() || kind_ == Kind::kFm11rf005) return -1;
  return block < 128 ? block / 4 : 32 + (block - 128) / 16;
}

int MifareCard::trailerOf(int sector) const {
  if (sector < 0 || kind_ == Kind::kFm11rf005) return -1;
  const int trailer = sector < 32 ? sector * 4 + 3 : 128 + (sector - 32) * 16 + 15;
  return trailer < blockCount() ? trailer : -1;
}

int MifareCard::groupOf(int block) const {
  if (block < 128) return block % 4;
  const int offset = (block - 128) % 16;
  return offset == 15 ? 3 : offset / 5;
}

void MifareCard::setKeys(int sector, const Key& key_a, const Key& key_b) {
  Block& t = blocks_.at(size_t(trailerOf(sector)));
  std::copy(key_a.begin(), key_a.end(), t.begin());
  std::copy(key_b.begin(), key_b.end(), t.begin() + 10);
}

void MifareCard::setAccess(int sector, const uint8_t conditions[4]) {
  encodeAccess(conditions, blocks_.at(size_t(trailerOf(sector))).data() + 6);
}

void MifareCard::setLightValue(uint16_t value) {
  Block& b = blocks_[4];
  const uint8_t lo = uint8_t(value), hi = uint8_t(value >> 8);
  const uint8_t copy[4] = {lo, hi, uint8_t(~lo), uint8_t(~hi)};
  std::memcpy(b.data(), copy, 4);
  std::memcpy(b.data() + 4, copy, 4);
}

bool MifareCard::decodeAccess(const uint8_t bytes[3], uint8_t conditions[4]) {
  // byte 6: ~C2 (high nibble), ~C1 (low); byte 7: C1, ~C3; byte 8: C3, C2.
  for (int i = 0; i < 4; ++i) {
    const uint8_t c1 = bit(bytes[1], 4 + i), c2 = bit(bytes[2], i), c3 = bit(bytes[2], 4 + i);
    if (bit(bytes[0], i) == c1 || bit(bytes[0], 4 + i) == c2 || bit(bytes[1], i) == c3)
      return false;
    conditions[i] = uint8_t(c1 << 2 | c2 << 1 | c3);
  }
  return true;
}

void MifareCard::encodeAccess(const uint8_t conditions[4], uint8_t bytes[3]) {
  bytes[0] = bytes[1] = bytes[2] = 0;
  for (int i = 0; i < 4; ++i) {
    const uint8_t c1 = bit(conditions[i], 2), c2 = bit(conditions[i], 1),
                  c3 = bit(conditions[i], 0);
    bytes[0] |= uint8_t((!c1) << i | (!c2) << (4 + i));
    bytes[1] |= uint8_t(c1 << (4 + i) | (!c3) << i);
    bytes[2] |= uint8_t(c3 << (4 + i) | c2 << i);
  }
}

MifareCard::DataRights MifareCard::dataRights(uint8_t condition) {
  return kDataRights[condition & 7];
}

MifareCard::TrailerRights MifareCard::trailerRights(uint8_t condition) {
  return kTrailerRights[condition & 7];
}

Block MifareCard::valueBlock(int32_t value, uint8_t adr) {
  Block b{};
  const uint32_t v = uint32_t(value);
  for (int i = 0; i < 4; ++i) {
    b[size_t(i)] = b[size_t(8 + i)] = uint8_t(v >> (8 * i));
    b[size_t(4 + i)] = uint8_t(~(v >> (8 * i)));
  }
  b[12] = b[14] = adr;
  b[13] = b[15] = uint8_t(~adr);
  return b;
}

bool MifareCard::valueOf(const Block& b, int32_t* value) {
  for (int i = 0; i < 4; ++i)
    if (b[size_t(i)] != b[size_t(8 + i)] || b[size_t(i)] != uint8_t(~b[size_t(4 + i)]))
      return false;
  if (b[12] != b[14] || b[13] != b[15] || b[12] != uint8_t(~b[13])) return false;
  *value = int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                   uint32_t(b[3]) << 24);
  return true;
}

uint16_t MifareCard::authenticate(uint8_t key_byte, int block, const uint8_t key[6]) {
  clearAuth();
  key_b_locked_ = false;
  const int sector = sectorOf(block);
  if (sector < 0 || (key_byte != 0x60 && key_byte != 0x61)) return card_status::kAuthFailed;
  const Block& t = blocks_[size_t(trailerOf(sector))];
  const bool key_b = key_byte == 0x61;
  if (std::memcmp(t.data() + (key_b ? 10 : 0), key, 6) != 0) return card_status::kAuthFailed;
  auth_sector_ = sector;
  auth_key_b_ = key_b;
  uint8_t conditions[4];
  if (key_b && decodeAccess(t.data() + 6, conditions) &&
      trailerRights(conditions[3]).key_b_read != 0)
    key_b_locked_ = true;
  return card_status::kOk;
}

uint16_t MifareCard::dataAccess(int block, uint8_t DataRights::*op) const {
  const int sector = sectorOf(block);
  if (sector < 0 || sector != auth_sector_) return card_status::kAuthFailed;
  // The manufacturer block reads like a data block but never changes.
  const bool reading = op == &DataRights::read;
  if (key_b_locked_ || groupOf(block) == 3 || (block == 0 && !reading))
    return card_status::kAccessRefused;
  uint8_t conditions[4];
  if (!decodeAccess(blocks_[size_t(trailerOf(sector))].data() + 6, conditions))
    return card_status::kAccessRefused;
  const uint8_t allowed = dataRights(conditions[groupOf(block)]).*op;
  return (allowed & keyBit()) ? card_status::kOk : card_status::kAccessRefused;
}

uint16_t MifareCard::read(int block, Block* out) const {
  if (kind_ == Kind::kFm11rf005) {
    if (block < 0 || block >= blockCount()) return card_status::kAccessRefused;
    *out = Block{};
    std::copy(blocks_[size_t(block)].begin(), blocks_[size_t(block)].begin() + 4, out->begin());
    return card_status::kOk;
  }
  const int sector = sectorOf(block);
  if (sector >= 0 && groupOf(block) != 3) {
    const uint16_t status = dataAccess(block, &DataRights::read);
    if (status != card_status::kOk) return status;
    *out = blocks_[size_t(block)];
    return card_status::kOk;
  }
  if (sector < 0 || sector != auth_sector_) return card_status::kAuthFailed;
  if (key_b_locked_) return card_status::kAccessRefused;
  const Block& stored = blocks_[size_t(block)];
  uint8_t conditions[4];
  if (!decodeAccess(stored.data() + 6, conditions)) return card_status::kAccessRefused;
  const TrailerRights rights = trailerRights(conditions[3]);
  *out = Block{};  // key A never reads back
  if (rights.access_read & keyBit())
    std::copy(stored.begin() + 6, stored.begin() + 10, out->begin() + 6);
  if (rights.key_b_read & keyBit())
    std::copy(stored.begin() + 10, stored.end(), out->begin() + 10);
  return card_status::kOk;
}

uint16_t MifareCard::write(int block, const uint8_t data[16]) {
  if (kind_ == Kind::kFm11rf005) {
    if (block < 2 || block >= blockCount()) return card_status::kAccessRefused;
    std::memcpy(blocks_[size_t(block)].data(), data, 4);
    return card_status::kOk;
  }
  const int sector = sectorOf(block);
  if (sector < 0 || sector != auth_sector_) return card_status::kAuthFailed;
  if (key_b_locked_ || block == 0) return card_status::kAccessRefused;
  Block& stored = blocks_[size_t(block)];
  if (groupOf(block) != 3) {
    const uint16_t status = dataAccess(block, &DataRights::write);
    if (status != card_status::kOk) return status;
    std::memcpy(stored.data(), data, 16);
    return card_status::kOk;
  }
  uint8_t conditions[4], incoming[4];
  if (!decodeAccess(stored.data() + 6, conditions)) return card_status::kAccessRefused;
  const TrailerRights r = trailerRights(conditions[3]);
  const uint8_t k = keyBit();
  if (!(r.key_a_write & k) || !(r.access_write & k) || !(r.key_b_write & k))
    return card_status::kAccessRefused;
  // Inconsistent access bits would lock the sector for good.
  if (!decodeAccess(data + 6, incoming)) return card_status::kAccessRefused;
  std::memcpy(stored.data(), data, 16);
  return card_status::kOk;
}

uint16_t MifareCard::initValue(int block, int32_t value) {
  const uint16_t status = dataAccess(block, &DataRights::write);
  if (status != card_status::kOk) return status;
  blocks_[size_t(block)] = valueBlock(value, uint8_t(block));
  return card_status::kOk;
}

uint16_t MifareCard::readValue(int block, int32_t* value) const {
  const uint16_t status = dataAccess(block, &DataRights::read);
  if (status != card_status::kOk) return status;
  return valueOf(blocks_[size_t(block)], value) ? card_status::kOk : card_status::kBadValue;
}

uint16_t MifareCard::addValue(int block, uint32_t amount, bool increment) {
  const uint16_t status =
      dataAccess(block, increment ? &DataRights::increment : &DataRights::decrement);
  if (status != card_status::kOk) return status;
  Block& stored = blocks_[size_t(block)];
  int32_t value = 0;
  if (!valueOf(stored, &value)) return card_status::kBadValue;
  const int64_t result = increment ? int64_t(value) + int64_t(amount)
                                   : int64_t(value) - int64_t(amount);
  if (result < INT32_MIN || result > INT32_MAX) return card_status::kOverflow;
  stored = valueBlock(int32_t(result), stored[12]);
  return card_status::kOk;
}

uint16_t MifareCard::transfer(int source, int destination) {
  uint16_t status = dataAccess(source, &DataRights::decrement);
  if (status != card_status::kOk) return status;
  status = dataAccess(destination, &DataRights::decrement);
  if (status != card_status::kOk) return status;
  int32_t value = 0;
  if (!valueOf(blocks_[size_t(source)], &value)) return card_status::kBadValue;
  blocks_[size_t(destination)] = blocks_[size_t(source)];
  return card_status::kOk;
}

uint16_t MifareCard::storeValue(int block, int32_t value) {
  const uint16_t status = dataAccess(block, &DataRights::decrement);
  if (status != card_status::kOk) return status;
  blocks_[size_t(block)] = valueBlock(value, uint8_t(block));
  return card_status::kOk;
}

uint16_t MifareCard::lightDecrement(int copy, uint16_t amount) {
  const uint16_t status = dataAccess(4, &DataRights::decrement);
  if (status != card_status::kOk) return status;
  const uint8_t* c = blocks_[4].data() + (copy == 2 ? 4 : 0);
  if (c[2] != uint8_t(~c[0]) || c[3] != uint8_t(~c[1])) return card_status::kBadValue;
  const int value = c[0] | c[1] << 8;
  if (value < amount) return card_status::kOverflow;
  setLightValue(uint16_t(value - amount));
  return card_status::kOk;
}
