#include "sim/t1_card.h"

#include <algorithm>

namespace {

using Dir = BlockFaults::Direction;
using Fault = BlockFaults::Fault;
constexpr uint8_t kSendSequence = 0x40;
constexpr uint8_t kMore = 0x20;
constexpr uint8_t kRBlock = 0x80;
constexpr uint8_t kReceiveSequence = 0x10;
constexpr uint8_t kResynch = 0xC0;
constexpr uint8_t kResponse = 0x20;

uint8_t lrc(const std::vector<uint8_t>& bytes, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= bytes[i];
  return x;
}

}  // namespace

T1Card::Bytes T1Card::frame(uint8_t pcb, const Bytes& inf) {
  Bytes b(inf.size() + 4);
  b[1] = pcb;
  b[2] = uint8_t(inf.size());
  std::copy(inf.begin(), inf.end(), b.begin() + 3);
  b.back() = lrc(b, b.size() - 1);
  return b;
}

void T1Card::reset() {
  host_ns_ = card_ns_ = 0;
  pending_answer_.clear();
  chaining_out_ = false;
  held_.reset();
}

std::optional<T1Card::Bytes> T1Card::send(Bytes block) {
  if ((block[1] & kRBlock) == 0) {  // an I-block, behind any request
    if (!requests_.empty()) {
      held_ = std::move(block);
      block = std::move(requests_.front());
      requests_.pop_front();
    } else {
      last_i_block_ = block;
    }
  }
  last_sent_ = block;
  const Fault fault = faults.next(Dir::kFromCard);
  if (fault == Fault::kLose) return std::nullopt;
  if (fault == Fault::kCorrupt) block.back() ^= 0x5A;
  return block;
}

std::optional<T1Card::Bytes> T1Card::nextAnswerBlock() {
  if (repeat_ && chaining_out_) {
    repeat_ = false;
    return send(last_i_block_);
  }
  const size_t n = std::min(ifsd_, pending_answer_.size());
  chaining_out_ = n < pending_answer_.size();
  const Bytes inf(pending_answer_.begin(), pending_answer_.begin() + long(n));
  pending_answer_.erase(pending_answer_.begin(), pending_answer_.begin() + long(n));
  const uint8_t pcb = uint8_t(card_ns_ | (chaining_out_ ? kMore : 0));
  card_ns_ ^= kSendSequence;
  return send(frame(pcb, inf));
}

std::optional<T1Card::Bytes> T1Card::block(const Bytes& in) {
  const Fault fault = faults.next(Dir::kToCard);
  if (fault == Fault::kLose) return std::nullopt;
  Bytes b = in;
  if (fault == Fault::kCorrupt && !b.empty()) b.back() ^= 0x5A;
  const uint8_t expected = host_ns_ ? kReceiveSequence : 0;
  if (b.size() < 4 || b[2] != b.size() - 4 || lrc(b, b.size()) != 0)
    return send(frame(uint8_t(kRBlock | expected | 0x01)));
  const uint8_t pcb = b[1];
  if ((pcb & kRBlock) == 0) {
    if ((pcb & kSendSequence) != host_ns_) return send(frame(uint8_t(kRBlock | expected | 0x02)));
    host_ns_ ^= kSendSequence;
    commands.emplace_back(b.begin() + 3, b.end() - 1);
    pending_answer_ = card_->apdu(commands.back()).value_or(Bytes{0x6F, 0x00});
    return nextAnswerBlock();
  }
  if ((pcb & 0xC0) == kRBlock) {
    const uint8_t asked = (pcb & kReceiveSequence) ? kSendSequence : 0;
    if (chaining_out_ && asked == card_ns_) return nextAnswerBlock();
    return send(last_sent_);
  }
  if (pcb == kResynch) {
    reset();
    return send(frame(kResynch | kResponse));
  }
  if ((pcb == 0xE3 || pcb == 0xE1) && held_) {
    Bytes next = std::move(*held_);
    held_.reset();
    return send(std::move(next));
  }
  return send(frame(uint8_t(kRBlock | expected | 0x02)));
}

std::optional<SimAttachment::Bytes> M6T1Front::respond(const Bytes& command) {
  if (command.empty()) return std::nullopt;
  std::optional<Bytes> answer;
  if (command[0] == 0x7E) {
    card_->reset();
    answer = T1Card::atr();
  } else if ((command[0] == 0x7D || command[0] == 0xF8) && command.size() >= 2) {
    answer = card_->block(Bytes(command.begin() + 2, command.end()));
  } else {
    return std::nullopt;
  }
  if (!answer) return Bytes{0x01};
  Bytes reply = {0x00, uint8_t(answer->size())};
  reply.insert(reply.end(), answer->begin(), answer->end());
  return reply;
}
