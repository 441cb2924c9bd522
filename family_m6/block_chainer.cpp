#include "family_m6/block_chainer.h"

#include <cstring>

#include "connection/card_io.h"

namespace {

// PCBs the host sends; bit 0 is the block number, CID 0 follows each.
constexpr uint8_t kIBlock = 0x0A;
constexpr uint8_t kIChaining = 0x1A;
constexpr uint8_t kRAck = 0xAA;
constexpr uint8_t kRNak = 0xBA;
constexpr uint8_t kSWtxAnswer = 0xFA;
constexpr uint8_t kCid = 0x00;
constexpr uint8_t kBlockNumber = 0x01;

// A card's PCB without its CID, NAD and fixed bit gives its kind and block
// number; an S(WTX) carries no number, so one with bit 0 set is an error.
constexpr uint8_t kKindMask = 0xF1;
constexpr uint8_t kKindI = 0x00;
constexpr uint8_t kKindIChaining = 0x10;
constexpr uint8_t kKindRAck = 0xA0;
constexpr uint8_t kKindSWtx = 0xF0;

constexpr uint8_t kWtxmMask = 0x3F;
constexpr uint8_t kWtxAnswerTimeout = 10;
constexpr size_t kHeader = 2;
constexpr uint32_t kMinFrameSize = 7;
constexpr uint32_t kFrameOverhead = 4;
// Failures recovered in one exchange; the next one ends it.
constexpr int kMaxFailures = 3;

// What one card block means for the exchange in progress.
enum class Step { kWait, kFailure, kResendIBlock, kNextIBlock };

}  // namespace

int16_t BlockChainer::run(const uint8_t* command, size_t length, const Settings& settings) {
  answer_.clear();
  settings_ = settings;
  failures_ = 0;
  wait_requests_ = 0;
  if (length > 0 && command == nullptr) return -1;
  if (settings.cut_case4) length = case4_send_length(command, length);
  if (settings.frame_size < kMinFrameSize) return -2;
  const size_t room = settings.frame_size - kFrameOverhead;
  size_t chained = length / room;
  if (chained == 1 && length % room == 0) chained = 0;
  const size_t largest = chained > 0 ? room : length;
  if (largest + kHeader > channel_.max_block || largest + kHeader > kMaxBlock ||
      settings.answer_cap > kMaxAnswer)
    return -1;
  for (size_t i = 0; i < chained; ++i) {
    const int16_t result = exchangeIBlock(command + i * room, room, true);
    if (result != 0) return result;
  }
  return exchangeIBlock(command + chained * room, length - chained * room, false);
}

int16_t BlockChainer::exchangeIBlock(const uint8_t* inf, size_t length, bool chaining) {
  // A state of 0 means no block has gone since the device was made: the
  // card starts at block number 0, as after an activation.
  const uint8_t last = state_ == 0 ? kStateAfterActivation : state_;
  i_block_[0] = uint8_t((chaining ? kIChaining : kIBlock) | ((last & kBlockNumber) ^ 1));
  i_block_[1] = kCid;
  if (length) std::memcpy(i_block_.data() + kHeader, inf, length);
  i_block_length_ = kHeader + length;
  state_ = i_block_[0];

  // Once the card chains its answer, the last block sent is an R(ACK) and
  // an error is answered by sending it again.
  bool acknowledging = false;
  uint8_t ack[kHeader] = {};
  uint8_t nak[kHeader] = {};
  uint8_t wtx[kHeader + 1] = {};
  const uint8_t* out = i_block_.data();
  size_t out_length = i_block_length_;
  uint8_t timeout = settings_.timeout;
  for (;;) {
    size_t got = 0;
    const int16_t sent = channel_.exchange(out, out_length, timeout, reply_.data(), &got);
    timeout = settings_.timeout;
    Step step = Step::kFailure;
    if (sent == 0 && got >= kHeader && got <= kMaxBlock) {
      const uint8_t pcb = reply_[0];
      const uint8_t number = pcb & kBlockNumber;
      const uint8_t expected = state_ & kBlockNumber;
      switch (pcb & kKindMask) {
        case kKindI:
        case kKindI | kBlockNumber:
        case kKindIChaining:
        case kKindIChaining | kBlockNumber: {
          if (number != expected) {
            // The card took the block and toggled: it ran the command, and
            // asking again would run it twice. Take up its count.
            state_ = uint8_t(kIBlock | number);
            return -1;
          }
          const bool more = (pcb & kKindIChaining) != 0;
          const size_t piece = got - kHeader;
          if ((chaining && !acknowledging) || (more && piece == 0)) break;
          if (answer_.size() + piece > settings_.answer_cap) return -1;
          answer_.insert(answer_.end(), reply_.data() + kHeader, reply_.data() + got);
          if (!more) return 0;
          state_ = uint8_t(kIBlock | (number ^ 1));
          ack[0] = uint8_t(kRAck | (number ^ 1));
          ack[1] = kCid;
          acknowledging = true;
          out = ack;
          out_length = sizeof ack;
          step = Step::kWait;
          break;
        }
        case kKindRAck:
        case kKindRAck | kBlockNumber:
          if (acknowledging) break;
          if (number != expected) step = Step::kResendIBlock;
          else if (chaining) step = Step::kNextIBlock;
          break;
        case kKindSWtx:
          if (got < kHeader + 1) break;
          if (++wait_requests_ > kMaxWaitRequests) return -1;
          wtx[0] = kSWtxAnswer;
          wtx[1] = kCid;
          wtx[2] = reply_[2] & kWtxmMask;
          out = wtx;
          out_length = sizeof wtx;
          timeout = kWtxAnswerTimeout;
          step = Step::kWait;
          break;
        default:
          break;
      }
    }
    if (step == Step::kNextIBlock) return 0;
    if (step == Step::kWait) continue;
    if (failures_ >= kMaxFailures) return -1;
    ++failures_;
    if (step == Step::kResendIBlock) {
      out = i_block_.data();
      out_length = i_block_length_;
    } else if (acknowledging) {
      out = ack;
      out_length = sizeof ack;
    } else {
      nak[0] = uint8_t(kRNak | (state_ & kBlockNumber));
      nak[1] = kCid;
      out = nak;
      out_length = sizeof nak;
    }
  }
}
