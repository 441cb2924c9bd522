// A contact card that speaks ISO/IEC 7816-3 T=1 over an Iso7816Card's
// apdu(), blocks [NAD][PCB][LEN][INF][LRC]:
//   - the answer goes in I-blocks of at most `ifsd` INF bytes, chained, each
//     on the host's R-block asking for it (an R-block asking for the last
//     block gets it again);
//   - N(S) is tracked both ways: an I-block with an unexpected N(S) gets
//     R(N(R), 02), an invalid block (LRC, LEN) R(N(R), 01);
//   - S(RESYNCH) sets both sequence numbers to 0 and is answered E0.
// Faults: S(WTX) or S(IFS) requests, in the order asked, before its next
// I-block; blocks lost either way (the reader answers at once with a
// non-zero status) or corrupted (the LRC flipped); the next block of its
// chain replaced by the previous one again. Logs blocks and APDUs.
//
// M6T1Front puts one in the contact slot of a simulated m6 reader; replies
// [status][length][data], status 01 when a block is lost:
//   7E, 7E A5              cold or hot reset: [ATR]
//   7D n blk, F8 n blk     the card's block
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "sim/block_faults.h"
#include "sim/iso7816_card.h"
#include "sim/sim_attachment.h"

class T1Card {
 public:
  using Bytes = std::vector<uint8_t>;

  // T=1, IFSC 254.
  static Bytes atr() { return {0x3B, 0x80, 0x81, 0x31, 0xFE, 0x45, 0x8B}; }
  static Bytes frame(uint8_t pcb, const Bytes& inf = {});

  explicit T1Card(std::shared_ptr<Iso7816Card> card = std::make_shared<Iso7816Card>(atr()),
                  size_t ifsd = 32)
      : card_(std::move(card)), ifsd_(ifsd) {}

  Iso7816Card& card() { return *card_; }
  // A cold or warm reset: both sequence numbers 0.
  void reset();
  // One block from the host; the card's block, or nothing (lost).
  std::optional<Bytes> block(const Bytes& in);
  void waitRequest(uint8_t bwtm = 0x01) { requests_.push_back(frame(0xC3, {bwtm})); }
  void ifsRequest(uint8_t ifs) { requests_.push_back(frame(0xC1, {ifs})); }
  void repeatNextChained() { repeat_ = true; }

  BlockFaults faults;
  std::vector<Bytes> commands;  // APDUs run

 private:
  std::optional<Bytes> send(Bytes block);
  std::optional<Bytes> nextAnswerBlock();

  std::shared_ptr<Iso7816Card> card_;
  size_t ifsd_;
  uint8_t host_ns_ = 0;  // the N(S) the card expects next from the host
  uint8_t card_ns_ = 0;  // the N(S) of the card's next I-block
  Bytes pending_answer_, last_sent_, last_i_block_;
  bool chaining_out_ = false;
  bool repeat_ = false;
  std::deque<Bytes> requests_;
  std::optional<Bytes> held_;
};

class M6T1Front : public SimAttachment {
 public:
  explicit M6T1Front(std::shared_ptr<T1Card> card = std::make_shared<T1Card>())
      : card_(std::move(card)) {}
  std::optional<Bytes> respond(const Bytes& command) override;

 private:
  std::shared_ptr<T1Card> card_;
};
