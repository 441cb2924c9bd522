// The ISO/IEC 14443-4 block layer of a card in the radio field over any
// ContactlessCard's apdu(), blocks [PCB][CID][INF]: the block number starts
// at 1 on activation and toggles on each I-block received and on each
// R(ACK) asking for the next block; chained I-blocks are acknowledged and
// the command runs once, whole; an answer over `chain_at` bytes goes in
// chained I-blocks, one per R(ACK); an R-block carrying the card's number
// gets its last block again, an R(NAK) with the other one an R(ACK);
// S(DESELECT) is answered in kind.
//
// M6PiccFront puts a type A one behind a simulated m6 reader; replies
// [status][data], status 01 when the card gives no answer:
//   85 p        activates it; [ATS]
//   86 t n blk  [length][block]. MIFARE Plus level-1 authentication frames
//               (76 ..., 72 ..., never a block's PCB) go to the card's
//               frame() bare, as every frame does for a card made kBare
//               (one without the block protocol, such as Ultralight C).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "sim/contactless_card.h"
#include "sim/sim_attachment.h"

class Iso14443_4Picc {
 public:
  using Bytes = std::vector<uint8_t>;

  explicit Iso14443_4Picc(std::shared_ptr<ContactlessCard> card, size_t chain_at = 0)
      : card_(std::move(card)), chain_at_(chain_at) {}

  ContactlessCard& card() { return *card_; }
  void activate();
  // One block from the reader; the card's block, or nothing.
  std::optional<Bytes> block(const Bytes& in);

 private:
  std::optional<Bytes> nextAnswerBlock();

  std::shared_ptr<ContactlessCard> card_;
  size_t chain_at_;
  bool active_ = false;
  uint8_t number_ = 1;
  Bytes command_, pending_answer_, last_sent_;
  bool chaining_out_ = false;
};

class M6PiccFront : public SimAttachment {
 public:
  enum class Frames { kBlocks, kBare };
  explicit M6PiccFront(std::shared_ptr<Iso14443_4Picc> picc, Frames frames = Frames::kBlocks)
      : picc_(std::move(picc)), frames_(frames) {}
  std::optional<Bytes> respond(const Bytes& command) override;

 private:
  std::shared_ptr<Iso14443_4Picc> picc_;
  Frames frames_;
};
