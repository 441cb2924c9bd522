// The sector-card commands of a simulated m6 reader, mapped onto a card
// field (card_field.h): an attachment of M6ReaderModel's state.
//
//   auto field = std::make_shared<CardField>();
//   field->insert(MifareCard::classic1k({0x11, 0x22, 0x33, 0x44}));
//   state.attachments.push_back(std::make_shared<M6CardFront>(field));
//
// Commands ([code][data]; replies [status][data], the status the low byte
// of the card's card_status word, 00 for success):
//   41 m            wake (bit 0: every card); [tag type LE16]
//   42 b S, A2 b S  anticollision level 1 / 2; [4 UID bytes]
//   43 U, A3 U      select level 1 / 2; [SAK]
//   45              halt
//   4C m s C 0000 K 0000
//                   keeps key K for (m, s) and notes the 6 constant bytes C
//   44 m s          authenticates sector s with the key kept for (m, s)
//   46 a, 47 a D    block read, write
//   48 a V, 49 a V  increment, decrement into the transfer buffer (V LE32);
//                   the block is not touched, a refused step leaves the
//                   buffer empty; 49 on block 4 or 5 of a MIFARE Light card
//                   decrements that copy in place
//   4B a            writes the transfer buffer to block a
//   32 m a S D, 33 m a S
//                   wake every card, select the one whose serial is S
//                   (LE; 0: the first), authenticate the block's sector
//                   with the key kept for (m, sector), then write or read
//                   ([16 data bytes][UID LE])
// Other commands are not the front's: it gives nothing.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "sim/card_field.h"
#include "sim/sim_attachment.h"

class M6CardFront : public SimAttachment {
 public:
  explicit M6CardFront(std::shared_ptr<CardField> field) : field_(std::move(field)) {}

  std::optional<Bytes> respond(const Bytes& command) override;
  CardField& field() { return *field_; }
  // The constant bytes of every key load, in order.
  std::vector<Bytes> key_constants;

 private:
  using Key = std::array<uint8_t, 6>;
  Bytes answer(const CardField::Answer& a) const;
  CardField::Answer authenticateSector(uint8_t mode, int sector);
  // Wake, select by serial and authenticate, for the one-call commands;
  // the UID selected to `uid`.
  CardField::Answer prepare(uint8_t mode, const uint8_t* serial, int block, Bytes& uid);

  std::shared_ptr<CardField> field_;
  std::map<std::pair<uint8_t, uint8_t>, Key> keys_;
  std::optional<int32_t> transfer_;
};
