// A DESFire card that knows the legacy authentication (native command 0A)
// with a DES (8-byte) or two-key triple DES (16-byte) key, carried in the
// block protocol:
//   0A kk              AF E(RndB)           (kk must be the card's key number)
//   AF D1 D2           00 E(RndA')          RndA = E(D1), RndB' = E(D2) ^ D1
// A second frame whose RndB' is wrong answers AE; anything else 1C.
// RndB is the test's; the card keeps the RndA it recovered.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/contactless_card.h"

class DesfireCard : public ContactlessCard {
 public:
  DesfireCard(Bytes key, Bytes rnd_b, uint8_t key_number = 0);

  Bytes uid() const override { return {0x04, 0x51, 0x62, 0x73, 0x84, 0x95, 0xA6}; }
  std::optional<Bytes> apdu(const Bytes& command) override;

  Bytes recovered_rnd_a;
  std::vector<Bytes> log;

 private:
  Bytes key_;
  Bytes rnd_b_;
  uint8_t key_number_;
  bool waiting_ = false;
};
