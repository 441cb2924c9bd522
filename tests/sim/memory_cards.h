// Contact memory cards for the simulated reader's memory-card slot
// (memory_card_slot.h): SLE4442, SLE4428 and the 24C01-24C64 EEPROM cards.
// Their state is public so that a test can arrange and inspect it.
//
// Chunked transfers carry [offset BE32][length BE32] (the SLE4428 then one
// byte: 0 data, 1 protection), then the data of a write. A read must fit a
// 2048-byte reply. A malformed request or a range past the card answers
// kBadRequest.
//
// SLE4442: 256 bytes, 81 15 at bytes 6-7; 32 protection bytes for bytes
// 0-31 (01 open, 00 protected); PSC of 3 bytes, error counter 07 (one bit an
// attempt left).
//   10 01           power down: the PSC must be presented again
//   10 02 / 10 03   main memory read / write
//   10 04 o l       protection bytes o..o+l-1
//   10 05 o l B     protects each byte whose given value equals memory
//   10 06           [counter][PSC], the PSC 00 00 00 while locked
//   10 07 P         new PSC
//   10 08 P         verify: a wrong PSC clears a counter bit (counter 0:
//                   locked for good, nothing compared); the right one
//                   unlocks and sets 07
// SLE4428: 1024 bytes, 81 13 at bytes 6-7, a protection bit per byte, the
// error counter at 1021 (one bit an attempt left), the PSC at 1022-1023
// (read 00 00 while locked).
//   11 01           power down: the PSC must be presented again
//   11 02 / 11 03   [..][0] data, [..][1] protection: reads give 01 open or
//                   00 protected; a protection write protects each byte
//                   whose given value equals memory
//   11 04           [counter][PSC]
//   11 05 P         new PSC
//   11 06 P         verify: a wrong PSC clears a counter bit; the right one
//                   unlocks and leaves the counter until FF is written at 1021
// On both SLE cards writes (data, protection, PSC) while locked, and writes
// to protected bytes, are ignored and still answered 0000, as the cards do.
//
// 24C01/02/04/08/16/64: 128 to 8192 bytes, no protection; addresses wrap
// modulo the capacity. Both pairs 12 10 / 12 11 and 12 12 / 12 13 work.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/memory_card_slot.h"

class Sle4442Card : public MemoryCardOf<Sle4442Card> {
 public:
  static constexpr size_t kSize = 256;
  static constexpr size_t kProtectedSize = 32;
  using Pin = std::array<uint8_t, 3>;

  explicit Sle4442Card(Pin psc = {0xFF, 0xFF, 0xFF});
  std::optional<MemoryCardReply> answer(uint16_t code, const Bytes& params) override;
  // Attempts left.
  int attempts() const;

  Bytes memory;
  Bytes protection;
  Pin psc;
  uint8_t counter = 0x07;
  bool unlocked = false;

 private:
  void verify(const uint8_t* pin);
};

class Sle4428Card : public MemoryCardOf<Sle4428Card> {
 public:
  static constexpr size_t kSize = 1024;
  static constexpr size_t kCounterAt = 1021;
  static constexpr size_t kPscAt = 1022;
  using Pin = std::array<uint8_t, 2>;

  explicit Sle4428Card(Pin psc = {0xFF, 0xFF});
  std::optional<MemoryCardReply> answer(uint16_t code, const Bytes& params) override;
  int attempts() const;

  Bytes memory;
  Bytes protection;
  bool unlocked = false;

 private:
  void verify(const uint8_t* pin);
  uint8_t readable(size_t address) const;
};

class EepromCard : public MemoryCardOf<EepromCard> {
 public:
  // 1, 2, 4, 8, 16 or 64 for the 24C01 to the 24C64; blank (FF).
  static EepromCard c24(int kilobits);
  std::optional<MemoryCardReply> answer(uint16_t code, const Bytes& params) override;

  Bytes memory;

 private:
  explicit EepromCard(size_t capacity) : memory(capacity, 0xFF) {}
};
