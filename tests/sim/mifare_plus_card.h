// A MIFARE Plus card as the host sees it through the reader.
//
// Level 0 (block protocol): A8 BNr(LE16) D16 stores a personalisation block
// (90), AA commits them and moves the card to level 1 (90).
// Level 1: plain frames 76 04 90 / 72 E(RndA || RndB') with key 9004,
// answered 90 E(RndB) and 90 E(RndA').
// Level 3 (block protocol): 76 kk kk 00 / 72 ..., answered 90 E(RndB) and
// 90 E(TI || RndA' || 12 zero bytes); then the counters start at 0 and the
// session keys come from SV1/SV2. Data commands (BNr, counters LE16):
//   33/31 BNr n MAC              90 D (31: enciphered) MAC
//   A3/A1 BNr D MAC              90 MAC   (A1: D enciphered)
// with MACs and IVs as the host's session (card_auth_crypto.h) defines them.
// A wrong command MAC answers kMacError; a second authentication frame whose
// RndB' is wrong answers `refusal`. `next_error` answers the next data
// command (counters kept); `bad_token` makes the next authentication answer
// 90 with a token that does not prove RndA; `bad_mac` spoils the next
// response MAC (the counter still moves on).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sim/contactless_card.h"

class MifarePlusCard : public ContactlessCard {
 public:
  static constexpr uint8_t kOk = 0x90;
  static constexpr uint8_t kMacError = 0x0C;
  static constexpr uint8_t kNotAuthenticated = 0x0B;
  static constexpr uint8_t kUnknownKey = 0x07;

  MifarePlusCard(int level, Bytes rnd_b, Bytes ti);

  Bytes uid() const override { return {0x04, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}; }
  std::optional<Bytes> apdu(const Bytes& command) override;
  std::optional<Bytes> frame(const Bytes& frame) override;

  int level;
  std::map<uint16_t, Bytes> keys;    // key number -> AES key
  std::map<uint16_t, Bytes> blocks;  // block number -> 16 bytes (absent: zeros)
  std::map<uint16_t, Bytes> perso;   // level-0 personalisation
  uint8_t refusal = 0x06;
  std::optional<uint8_t> next_error;
  bool bad_token = false;
  bool bad_mac = false;

  // The session as the card keeps it.
  bool authenticated = false;
  uint32_t read_counter = 0, write_counter = 0;
  Bytes enc_key, mac_key;
  Bytes recovered_rnd_a;
  std::vector<Bytes> log;

 private:
  Bytes authenticate(const Bytes& c, bool level1);
  Bytes read(const Bytes& c);
  Bytes write(const Bytes& c);
  Bytes mac(uint8_t head, uint32_t counter, const Bytes& tail) const;
  Bytes counters() const;

  Bytes rnd_b_, ti_;
  std::optional<uint16_t> pending_key_;
  bool pending_level1_ = false;
};
