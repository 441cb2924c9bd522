// The ISO/IEC 14443-4 block layer of a card in the radio field, over any
// ContactlessCard's apdu(), as the card keeps it:
//   - its block number starts at 1 on activation and toggles on every
//     I-block received and on an R(ACK) that does not carry it (rules C-E);
//   - an I-block with chaining is answered R(ACK); the whole command runs
//     once its last block arrived, and an answer longer than `chain_at`
//     bytes goes in chained I-blocks, each sent on the next R(ACK) (rule 13);
//   - R(ACK) or R(NAK) carrying its number: the last block again (rule 11);
//     R(NAK) with the other number: R(ACK) (rule 12);
//   - S(DESELECT) is answered in kind; anything else is ignored (rule 10).
// Blocks are [PCB][CID][INF]; the card answers with CID 0 when the block
// carried one.
//
// Faults, counted from the moment of the call: k S(WTX) requests, each
// needing the reader's answer, in place of the nth R(ACK) or I-block the
// card sends (rule 9), which follows them; the nth block on its way to the
// card or from it lost (a corrupted block is lost the same way: the reader
// reports no answer). lose(kToCard, 2) loses the second block sent to the
// card from now on.
//
// Logs every block received and sent and every command run.
#pragma once

#include <cstdint>
#include <memory>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "sim/contactless_card.h"

class Iso14443_4Picc {
 public:
  using Bytes = std::vector<uint8_t>;
  enum class Direction { kToCard, kFromCard };

  // `chain_at`: the most INF bytes of one answer block (0: never chains).
  explicit Iso14443_4Picc(std::shared_ptr<ContactlessCard> card, size_t chain_at = 0);

  ContactlessCard& card() { return *card_; }
  // The card answered its activation (ATS, ATTRIB): block number 1, no
  // chain in progress.
  void activate();
  bool active() const { return active_; }
  // One block from the reader; the card's block, or nothing.
  std::optional<Bytes> block(const Bytes& in);

  void waitRequests(int k, int nth = 1);
  void lose(Direction direction, int nth = 1);

  std::vector<Bytes> received;  // every block that reached the card
  std::vector<Bytes> sent;      // every block the card sent, lost or not
  std::vector<Bytes> commands;  // every command run, whole

 private:
  std::optional<Bytes> send(Bytes block);
  std::optional<Bytes> nextAnswerBlock();

  std::shared_ptr<ContactlessCard> card_;
  size_t chain_at_;
  bool active_ = false;
  uint8_t number_ = 1;
  Bytes command_;
  Bytes pending_answer_;
  Bytes last_sent_;
  bool chaining_out_ = false;
  std::map<int, int> waits_;  // S(WTX) requests before the card's nth block
  int card_blocks_ = 0;        // R(ACK)s and I-blocks sent, repeats not counted
  std::optional<Bytes> held_;
  int to_card_ = 0;
  int from_card_ = 0;
  std::set<int> lost_to_card_;
  std::set<int> lost_from_card_;
};
