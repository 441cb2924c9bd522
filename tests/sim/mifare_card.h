// A contactless sector card as the simulated r42 reader sees it: MIFARE
// Classic 1K and 4K (4- or 7-byte UID), MIFARE Light and FM11RF005.
//
// Classic layout: sectors 0-31 of 4 blocks, on 4K also sectors 32-39 of 16
// blocks; the last block of a sector is its trailer (key A, access bytes
// 6-8, general-purpose byte 9, key B). Block 0 is the manufacturer block
// (UID, BCC for a 4-byte UID, SAK, ATQA low byte first, maker bytes) and
// never writable. Fresh trailers hold FF x 6, FF 07 80 69, FF x 6.
//
// The access bits are decoded here on their own terms (bit by bit from the
// three bytes, with the inverted copies checked), not with the library's
// trailer builder, so a test can check one against the other.
//
// Card operations return one of the status words below; the card field
// (card_field.h) routes reader commands to the card and owns the request,
// anticollision and select states. A MIFARE Light card is a 1K card that
// answers ATQA 10 00 and keeps a 16-bit value twice in block 4:
// [low][high][~low][~high] in bytes 0-3 and again in 4-7. An FM11RF005 card
// has 16 blocks of 4 bytes, its serial in block 1, no keys; it reads as
// 4 bytes + 12 zeros and stores the first 4 bytes of a write (blocks 0 and 1
// are read-only).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Status words the simulated reader answers with. Distinct per cause so a
// test can tell which check refused a command.
namespace card_status {
inline constexpr uint16_t kOk = 0x0000;
inline constexpr uint16_t kNoCard = 0x6F01;         // nothing selected / nothing answered
inline constexpr uint16_t kAuthFailed = 0x6F02;     // wrong key, or sector not authenticated
inline constexpr uint16_t kAccessRefused = 0x6F03;  // access bits, block 0, key-B lock
inline constexpr uint16_t kBadValue = 0x6F04;       // block not in value format
inline constexpr uint16_t kOverflow = 0x6F05;       // value result out of range
inline constexpr uint16_t kBadRequest = 0x6F06;     // malformed request parameters
}  // namespace card_status

class MifareCard {
 public:
  enum class Kind { kClassic1K, kClassic4K, kLight, kFm11rf005 };
  using Block = std::array<uint8_t, 16>;
  using Key = std::array<uint8_t, 6>;
  // The rights of one access condition, per key: bit 0 key A, bit 1 key B.
  struct DataRights {
    uint8_t read, write, increment, decrement;  // decrement also transfer/restore
  };
  struct TrailerRights {
    uint8_t key_a_write, access_read, access_write, key_b_read, key_b_write;
  };
  static constexpr uint8_t kA = 1, kB = 2;

  // `uid` of 4 or 7 bytes (FM11RF005: its 4-byte serial).
  static MifareCard classic1k(std::vector<uint8_t> uid);
  static MifareCard classic4k(std::vector<uint8_t> uid);
  static MifareCard light(std::vector<uint8_t> uid);
  static MifareCard fm11rf005(std::vector<uint8_t> serial, uint16_t atqa = 0x0005);

  Kind kind() const { return kind_; }
  const std::vector<uint8_t>& uid() const { return uid_; }
  uint16_t atqa() const { return atqa_; }
  uint8_t sak() const { return sak_; }
  bool answersAnticollision() const { return kind_ != Kind::kFm11rf005; }
  // Level-1 UID bytes: the UID, or 88 + its first 3 bytes for 7 bytes.
  std::array<uint8_t, 4> level1() const;
  std::array<uint8_t, 4> level2() const;  // bytes 3-6 of a 7-byte UID

  int blockCount() const { return int(blocks_.size()); }
  // -1 for a block that the card does not have.
  int sectorOf(int block) const;
  int trailerOf(int sector) const;
  // 0-2 data groups, 3 the trailer.
  int groupOf(int block) const;

  // Raw storage, for tests to arrange and inspect.
  Block& block(int n) { return blocks_.at(size_t(n)); }
  const Block& block(int n) const { return blocks_.at(size_t(n)); }
  void setKeys(int sector, const Key& key_a, const Key& key_b);
  void setAccess(int sector, const uint8_t conditions[4]);
  // Light: both copies of the value in block 4.
  void setLightValue(uint16_t value);

  // Access bits: false when an inverted copy disagrees.
  static bool decodeAccess(const uint8_t bytes[3], uint8_t conditions[4]);
  static void encodeAccess(const uint8_t conditions[4], uint8_t bytes[3]);
  static DataRights dataRights(uint8_t condition);
  static TrailerRights trailerRights(uint8_t condition);
  // A value block: value LE, ~value, value, adr, ~adr, adr, ~adr.
  static Block valueBlock(int32_t value, uint8_t adr);
  static bool valueOf(const Block& block, int32_t* value);

  // Authentication state (one sector at a time).
  void clearAuth() { auth_sector_ = -1; }
  int authSector() const { return auth_sector_; }

  // Card commands; each returns a card_status word.
  uint16_t authenticate(uint8_t key_byte, int block, const uint8_t key[6]);
  uint16_t read(int block, Block* out) const;
  uint16_t write(int block, const uint8_t data[16]);
  uint16_t initValue(int block, int32_t value);
  uint16_t readValue(int block, int32_t* value) const;
  uint16_t addValue(int block, uint32_t amount, bool increment);
  uint16_t transfer(int source, int destination);
  // Writes `value` as a value block where a transfer may write.
  uint16_t storeValue(int block, int32_t value);
  uint16_t lightDecrement(int copy, uint16_t amount);  // copy 1 or 2

 private:
  MifareCard(Kind kind, std::vector<uint8_t> uid, uint16_t atqa, uint8_t sak, int blocks);
  // The rights mask the current authentication holds for a data operation,
  // or a refusal status.
  uint16_t dataAccess(int block, uint8_t DataRights::*op) const;
  uint8_t keyBit() const { return auth_key_b_ ? kB : kA; }

  Kind kind_;
  std::vector<uint8_t> uid_;
  uint16_t atqa_;
  uint8_t sak_;
  std::vector<Block> blocks_;
  int auth_sector_ = -1;
  bool auth_key_b_ = false;
  // Key B authenticated where key B is readable: the card then refuses
  // every access of the session.
  bool key_b_locked_ = false;
};
