// The ISO/IEC 14443-4 block layer of a card in the radio field over any
// ContactlessCard's apdu(), blocks [PCB][CID][INF]:
//   - the block number starts at 1 on activation and toggles on every
//     I-block received and on an R(ACK) that does not carry it (rules C-E);
//   - a chained I-block is answered R(ACK); the command runs once whole,
//     and an answer over `chain_at` bytes goes in chained I-blocks, each on
//     the next R(ACK) (rule 13);
//   - R(ACK) or R(NAK) carrying its number: the last block again (rule 11);
//     R(NAK) with the other: R(ACK) (rule 12); S(DESELECT) answered in kind;
//     anything else ignored (rule 10).
// Faults: k S(WTX) requests in place of the nth R(ACK) or I-block it sends
// from now (rule 9); blocks lost either way (a corrupted block is lost the
// same way: the reader reports no answer). Logs blocks and commands.
//
// M6PiccFront puts one behind a simulated m6 reader; replies [status]
// [data], status 01 when the card gives no answer:
//   85 p        type A: activates it; [ATS]
//   88/89 ...   type B: [ATQB]
//   86 t n blk  [length][block]; a type B card's ATTRIB (1D ...) activates
//               it: [01][00]. MIFARE Plus level-1 authentication frames
//               (76 ..., 72 ..., never a block's PCB) go to the card's
//               frame() bare, as every frame does for a card made kBare
//               (one without the block protocol, such as Ultralight C).
//   D0 t blk    the same over report frames: [block]
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "sim/block_faults.h"
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
  void waitRequests(int k, int nth = 1) { waits_[card_blocks_ + nth] += k; }

  BlockFaults faults;
  std::vector<Bytes> received;  // blocks that reached the card
  std::vector<Bytes> commands;  // commands run, whole

 private:
  std::optional<Bytes> send(Bytes block);
  std::optional<Bytes> emit(const Bytes& block);
  std::optional<Bytes> nextAnswerBlock();

  std::shared_ptr<ContactlessCard> card_;
  size_t chain_at_;
  bool active_ = false;
  uint8_t number_ = 1;
  Bytes command_, pending_answer_, last_sent_;
  bool chaining_out_ = false;
  std::map<int, int> waits_;  // S(WTX) requests before the card's nth block
  int card_blocks_ = 0;       // R(ACK)s and I-blocks sent, repeats not counted
  std::optional<Bytes> held_;
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
