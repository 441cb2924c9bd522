// The ISO/IEC 14443-4 half-duplex block protocol, run on the host over a
// reader that only carries card frames.
//
// A command is cut into I-blocks [PCB][CID 0][INF] of frame size - 4 INF
// bytes; each chained block waits for the card's R(ACK), a chained answer is
// acknowledged piece by piece, S(WTX) requests are answered, and errors are
// recovered with R(NAK), a repeated R(ACK) or a resent I-block, at most
// three times in one exchange.
//
// The block number lives in the device's block state byte: its bit 0 is the
// number of the last I-block or R(ACK) sent, so every new I-block takes the
// other number. A card activation sets the byte to kStateAfterActivation,
// so the first block after it is numbered 0; a byte of 0 (no block sent
// since the device was made) counts the same.
//
//   BlockChainer chainer(state.tcl_block_state, {raw_exchange, 253});
//   if (chainer.run(apdu, length, {64, timeout, true, 255}) == 0)
//     use(chainer.answer());
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class BlockChainer {
 public:
  // The most a card block may hold, in either direction.
  static constexpr size_t kMaxBlock = 2048;
  // The longest answer anyone may ask for: an extended APDU's 65536 bytes
  // and the status word.
  static constexpr size_t kMaxAnswer = 65538;
  // At most this many S(WTX) requests are answered in one exchange.
  static constexpr int kMaxWaitRequests = 1024;
  // The block state a card activation leaves: the next I-block is number 0.
  static constexpr uint8_t kStateAfterActivation = 0x0B;

  // The reader's raw card-frame exchange: `block` goes out with the time-out
  // byte and the card's block comes back in `reply` (room for kMaxBlock
  // bytes), its length in `reply_length`. 0, or the exchange's failure.
  struct Channel {
    std::function<int16_t(const uint8_t* block, size_t length, uint8_t timeout, uint8_t* reply,
                          size_t* reply_length)>
        exchange;
    // The longest block the exchange can send (at most kMaxBlock).
    size_t max_block;
  };

  struct Settings {
    // The card's frame size; a block's INF holds frame_size - 4 bytes.
    uint32_t frame_size;
    // Passed to every exchange but the S(WTX) answers.
    uint8_t timeout;
    // Drop the Le byte of a case-4 APDU (6 bytes or more, Lc + 6 long).
    bool cut_case4;
    // The most the answer may hold (at most kMaxAnswer).
    size_t answer_cap;
  };

  BlockChainer(uint8_t& block_state, Channel channel)
      : state_(block_state), channel_(std::move(channel)) {}

  // One command, one answer. 0 with the answer's INF bytes in answer();
  // -2 for a frame size below 7; -1 (before any exchange) for a block the
  // channel cannot carry, and for an exchange that fails: recovery given up,
  // an answer over the cap, too many S(WTX) requests, or an answer whose
  // block number shows the card ran the command while the host lost count
  // (the block state is then set to the card's number).
  int16_t run(const uint8_t* command, size_t length, const Settings& settings);

  const std::vector<uint8_t>& answer() const { return answer_; }

 private:
  // Sends one I-block and works through the card's blocks until the next
  // I-block may go (a chained one was acknowledged) or the answer is whole.
  int16_t exchangeIBlock(const uint8_t* inf, size_t length, bool chaining);

  uint8_t& state_;
  Channel channel_;
  Settings settings_{};
  int failures_ = 0;
  int wait_requests_ = 0;
  std::vector<uint8_t> answer_;
  std::array<uint8_t, kMaxBlock> i_block_{};
  size_t i_block_length_ = 0;
  std::array<uint8_t, kMaxBlock> reply_{};
};
