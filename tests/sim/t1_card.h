// A contact card that speaks ISO/IEC 7816-3 T=1 over an Iso7816Card's
// apdu(), as the reader's block command (0x7D) carries it:
//   - blocks [NAD][PCB][LEN][INF][LRC]; the answer goes in I-blocks of at
//     most `ifsd` INF bytes, chained, each sent on the host's R-block that
//     asks for it (an R-block asking for the last block gets it again);
//   - it tracks N(S) both ways: an I-block with an unexpected N(S) is met
//     with R(N(R), 02), an invalid block (bad LRC or length) with
//     R(N(R), 01);
//   - S(RESYNCH) sets both sequence numbers to 0 and is answered E0.
// Injections for the next blocks: S(WTX) or S(IFS) requests, in the order
// asked, before the next I-block the card sends; a block lost on its way to the card or from
// it (the reader then answers at once with a non-zero status); a block
// corrupted either way (its LRC flipped); the next block of the card's
// chain replaced by the previous one sent again. Counts start at the call:
// corrupt(kToCard, 2) spoils the second host block from now on.
//
// Logs every block received and sent and every APDU run.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "sim/iso7816_card.h"

class T1Card {
 public:
  using Bytes = std::vector<uint8_t>;
  enum class Direction { kToCard, kFromCard };

  // The answer to reset: T=1, IFSC 254.
  static Bytes atr() { return {0x3B, 0x80, 0x81, 0x31, 0xFE, 0x45, 0x8B}; }

  explicit T1Card(std::shared_ptr<Iso7816Card> card = std::make_shared<Iso7816Card>(atr()),
                  size_t ifsd = 32);

  Iso7816Card& card() { return *card_; }
  // A cold or warm reset: both sequence numbers 0.
  void reset();
  // One block from the host; the card's block, or nothing (lost).
  std::optional<Bytes> block(const Bytes& in);

  void waitRequest(uint8_t bwtm = 0x01);
  void ifsRequest(uint8_t ifs);
  void lose(Direction direction, int nth = 1);
  void corrupt(Direction direction, int nth = 1);
  void repeatNextChained() { repeat_ = true; }

  std::vector<Bytes> received;  // every block that reached the card
  std::vector<Bytes> sent;      // every block the card sent, lost or not
  std::vector<Bytes> commands;  // every APDU run

  static Bytes frame(uint8_t pcb, const Bytes& inf = {});

 private:
  std::optional<Bytes> send(Bytes block);
  std::optional<Bytes> nextAnswerBlock();

  std::shared_ptr<Iso7816Card> card_;
  size_t ifsd_;
  uint8_t host_ns_ = 0;  // the N(S) the card expects next from the host
  uint8_t card_ns_ = 0;  // the N(S) of the card's next I-block
  Bytes pending_answer_;
  bool chaining_out_ = false;
  Bytes last_sent_;
  Bytes last_i_block_;
  std::deque<Bytes> requests_;
  std::optional<Bytes> held_;
  bool repeat_ = false;
  int to_card_ = 0;
  int from_card_ = 0;
  std::set<int> lost_to_card_, lost_from_card_, corrupt_to_card_, corrupt_from_card_;
};
