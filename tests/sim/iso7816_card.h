// An ISO/IEC 7816 processor card that answers like a T=0 card: in a contact
// slot (contact_slots.h), as a SAM, or in the radio field.
//
//   00 B0 p1 p2 Le   READ BINARY of `binary` from offset p1p2: a Le other
//                    than the bytes left answers 6C xx (xx the bytes left)
//   00 A4 .. Lc data SELECT: answers 61 xx, the FCI waiting for GET RESPONSE
//   00 C0 00 00 Le   GET RESPONSE: up to Le waiting bytes, then 61 yy while
//                    more wait, else 90 00 (nothing waiting: 69 85)
//   00 84 00 00 Le   GET CHALLENGE: Le bytes 01 02 03 ... and 90 00
//   80 EE ...        echoes everything after CLA and INS, then 90 00
// Anything else answers 6D 00. Scripted answers come first: script() queues
// answers used once each, scriptForever() one used from then on.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/contactless_card.h"

class Iso7816Card : public ContactlessCard {
 public:
  explicit Iso7816Card(Bytes atr = {0x3B, 0x02, 0x14, 0x50});

  const Bytes& atr() const { return atr_; }
  // Its face in the radio field.
  void setField(Type type, Bytes uid, Bytes activation_answer);

  void script(Bytes answer) { scripted_.push_back(std::move(answer)); }
  void scriptForever(Bytes answer) { forever_ = std::move(answer); }

  Type type() const override { return type_; }
  Bytes uid() const override { return uid_; }
  Bytes activationAnswer() const override { return activation_; }
  std::optional<Bytes> apdu(const Bytes& command) override;

  Bytes binary;
  Bytes fci = {0x6F, 0x08, 0x84, 0x02, 0x3F, 0x00, 0xA5, 0x02, 0x88, 0x01};
  std::vector<Bytes> log;  // every APDU the card received

 private:
  Bytes answer(const Bytes& command);

  Bytes atr_;
  Type type_ = Type::kA;
  Bytes uid_ = {0x08, 0x12, 0x34, 0x56};
  Bytes activation_ = {0x06, 0x75, 0x77, 0x81, 0x02, 0x80};
  std::deque<Bytes> scripted_;
  std::optional<Bytes> forever_;
  Bytes waiting_;
};
