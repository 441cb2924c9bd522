// The contact slots 0-9 of the simulated r42 reader, each with room for one
// processor card or SAM (iso7816_card.h).
//
//   03 00 [slot]              success when a card sits in the slot
//   03 01 [slot][baud][volt]  powers the card up: [length][ATR]
//   03 02 [slot]              hot reset: [length][ATR] (powers it too)
//   03 03 [slot]              powers the card down
//   03 04 [slot][APDU]        the card's response (data and status word)
// An empty slot, or an APDU to a card that is not powered, answers
// card_status::kNoCard; a slot above 9 or a short request kBadRequest.
//
// Join a model either as an attachment of its state (table rows) or with
// attach(model) (simulators on a pseudo-terminal).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "sim/iso7816_card.h"
#include "sim/r42_reader_model.h"

class ContactSlots : public R42ReaderModel::Attachment {
 public:
  using Bytes = std::vector<uint8_t>;
  static constexpr int kSlots = 10;

  struct PowerUp {
    uint8_t slot, baud, voltage;
  };

  // Puts a card into `slot` (0-9), unpowered; returns it for the test.
  std::shared_ptr<Iso7816Card> insert(int slot, std::shared_ptr<Iso7816Card> card);
  std::shared_ptr<Iso7816Card> insert(int slot, Bytes atr = {0x3B, 0x02, 0x14, 0x50});
  std::shared_ptr<Iso7816Card> card(int slot) const { return cards_.at(size_t(slot)); }
  bool powered(int slot) const { return powered_.at(size_t(slot)); }
  // As after a power-up, for tests that start with a running card.
  void setPowered(int slot, bool on) { powered_.at(size_t(slot)) = on; }
  const std::vector<PowerUp>& powerUps() const { return power_ups_; }

  void attach(R42ReaderModel& model);
  std::optional<Bytes> respond(const Bytes& request) override;

 private:
  std::array<std::shared_ptr<Iso7816Card>, kSlots> cards_;
  std::array<bool, kSlots> powered_{};
  std::vector<PowerUp> power_ups_;
};
