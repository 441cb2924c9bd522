// Atmel secure memory cards for the simulated reader's memory-card slot
// (memory_card_slot.h). Their state is public so that a test can arrange and
// inspect it.
//
// Attempt counters start with four set bits (0F); a wrong password clears
// the highest set bit in card memory, a right one sets 0F again. A counter
// at 00 locks its password for good: every code, the right one too, is
// refused with kLocked. Passwords of zones without a counter are refused
// (kWrongPassword) without any count. Power-down forgets every password
// presented.
//
// AT88SC102 (13 xx): 196 bytes; codes at 10 (zone 0, 2 bytes, counter at
// 12-13 = 0F 00), 86 (zone 11, 6 bytes) and 156 (zone 12, 4 bytes).
//   13 00 / 13 01   check / power down
//   13 02 o l       bytes o..o+l-1
//   13 03 o l D     write; needs zone 0 presented (kNotPresented)
//   13 04 a l P     present the code of the zone at address a, length l
//   13 05           blow the fuse
// AT88SC1604 (14 xx): 2048 bytes, chunked as the SLE cards ([offset BE32]
// [length BE32]); codes of 2 bytes at 10, 21, 1222, 1483, 1744, 24, 1224,
// 1485, 1746 (zones 0-4, 11-14), counters of one byte at 12, 23, 26, 1226,
// 1487, 1748 (zones 0, 1, 11-14). 14 04 carries [address BE32][2 BE32][code].
//
// AT88SC1608 (18 xx) and AT88SC153 (19 xx): user zones (8 x 256, 3 x 64)
// and a configuration zone (128, 64), one-byte addresses.
//   xx 00 / xx 01   check / power down (the zone select is forgotten too)
//   xx 02 k a n     n bytes at a: k 0 the selected user zone, 1 configuration
//   xx 03 k a n D   write
//   xx 04 z         select user zone z
//   xx 05 z t P     present password set z, t 0 write / 1 read
//   xx 06 V         start an authentication with V
//   xx 07 V         passes when V is the answer set for the last xx 06
//   xx 08           clears the lowest set bit of the fuse byte (07 at first)
//   xx 09           [fuse byte]
// Password set z lies in the configuration zone at 0x40 + 8z (AT88SC1608),
// 0x28 + 8z (AT88SC153): [write counter][3 bytes][read counter][3 bytes].
// A user zone marked read- or write-protected needs its set presented: the
// write password opens reads and writes, the read password reads.
//
// A range past the card or zone, a zone that does not exist or a malformed
// request answers kBadRequest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "sim/memory_card_slot.h"

namespace at88sc_status {
inline constexpr uint16_t kWrongPassword = 0x6E10;
inline constexpr uint16_t kLocked = 0x6E11;         // counter at 00
inline constexpr uint16_t kNotPresented = 0x6E12;   // the zone's password is missing
inline constexpr uint16_t kAuthRefused = 0x6E13;    // wrong value, or no start
}  // namespace at88sc_status

// The AT88SC102 and AT88SC1604: passwords at fixed addresses of one memory.
class At88scAddressedCard : public MemoryCardOf<At88scAddressedCard> {
 public:
  // counter_size 0: the zone has no counter.
  struct Zone {
    int zone;
    size_t address;
    size_t length;
    size_t counter;
    size_t counter_size;
  };

  static At88scAddressedCard sc102();
  static At88scAddressedCard sc1604();
  std::optional<MemoryCardReply> answer(uint16_t code, const Bytes& params) override;

  // The zone, or null when the card has none of that number.
  const Zone* zone(int number) const;
  void set_password(int number, const Bytes& code);
  // Attempts left: the set bits of the zone's counter.
  int attempts(int number) const;

  uint16_t group;
  Bytes memory;
  std::vector<Zone> zones;
  std::set<int> presented;
  bool fused = false;

 private:
  At88scAddressedCard(uint16_t group, size_t size, std::vector<Zone> zones);
  // [address][length], then the bytes of a write or a code.
  std::optional<Chunk> parse(uint8_t op, const Bytes& params) const;
  MemoryCardReply present(size_t address, size_t length, const uint8_t* code);
  MemoryCardReply read(size_t offset, size_t length) const;
  MemoryCardReply write(size_t offset, size_t length, const uint8_t* data);
};

// The AT88SC1608 and AT88SC153.
class At88scZonedCard : public MemoryCardOf<At88scZonedCard> {
 public:
  using Code = std::array<uint8_t, 3>;
  using Value = std::array<uint8_t, 8>;
  static constexpr uint8_t kFresh = 0x0F;

  static At88scZonedCard sc1608();
  static At88scZonedCard sc153();
  std::optional<MemoryCardReply> answer(uint16_t code, const Bytes& params) override;

  // Password set `set`, type 0 write / 1 read, in the configuration zone.
  void set_password(int set, int type, Code password);
  int attempts(int set, int type) const;
  size_t password_at(int set, int type) const;

  uint16_t group;
  size_t user_size;
  std::vector<Bytes> user_zones;
  Bytes config;
  size_t password_base;
  std::vector<bool> read_protected;
  std::vector<bool> write_protected;
  std::optional<uint8_t> selected;
  // Password sets presented, with the type that opened them.
  std::map<int, int> presented;
  std::map<Value, Value> auth_answers;
  std::optional<Value> started;
  bool authenticated = false;
  uint8_t fuse = 0x07;

 private:
  At88scZonedCard(uint16_t group, int zones, size_t user_size, size_t config_size,
                  size_t password_base);
  MemoryCardReply transfer(bool write, const Bytes& params);
  MemoryCardReply present(const Bytes& params);
  bool may(int zone, bool write) const;
};
