#include "sim/t1_card.h"

#include <algorithm>

namespace {

constexpr uint8_t kSendSequence = 0x40;
constexpr uint8_t kMore = 0x20;
constexpr uint8_t kRBlock = 0x80;
constexpr uint8_t kReceiveSequence = 0x10;
constexpr uint8_t kEdcError = 0x01;
constexpr uint8_t kOtherError = 0x02;
constexpr uint8_t kResynchRequest = 0xC0;
constexpr uint8_t kIfsRequest = 0xC1;
constexpr uint8_t kWtxRequest = 0xC3;
constexpr uint8_t kResponse = 0x20;

uint8_t lrc(const std::vector<uint8_t>& bytes, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= bytes[i];
  return x;
}

bool valid(const std::vector<uint8_t>& b) {
  return b.size() >= 4 && b[2] == b.size() - 4 && lrc(b, b.size()) == 0;
}

}  // namespace

T1Card::T1Card(std::shared_ptr<Iso7816Card> card, size_t ifsd)
    : card_(std::move(card)), ifsd_(ifsd) {}

T1Card::Bytes T1Card::frame(uint8_t pcb, const Bytes& inf) {
  Bytes b(inf.size() + 4);
  b[1] = pcb;
  b[2] = uint8_t(inf.size());
  std::copy(inf.begin(), inf.end(), b.begin() + 3);
  b.back() = lrc(b, b.size() - 1);
  return b;
}

void T1Card::reset() {
  host_ns_ = 0;
  card_ns_ = 0;
  pending_answer_.clear();
  chaining_out_ = false;
  held_.reset();
  last_sent_.clear();
  last_i_block_.clear();
}

void T1Card::waitRequest(uint8_t bwtm) { requests_.push_back(frame(kWtxRequest, {bwtm})); }
void T1Card::ifsRequest(uint8_t ifs) { requests_.push_back(frame(kIfsRequest, {ifs})); }

void T1Card::lose(Direction direction, int nth) {
  (direction == Direction::kToCard ? lost_to_card_ : lost_from_card_)
      .insert((direction == Direction::kToCard ? to_card_ : from_card_) + nth);
}

void T1Card::corrupt(Direction direction, int nth) {
  (direction == Direction::kToCard ? corrupt_to_card_ : corrupt_from_card_)
      .insert((direction == Direction::kToCard ? to_card_ : from_card_) + nth);
}

std::optional<T1Card::Bytes> T1Card::send(Bytes block) {
  if ((block[1] & kRBlock) == 0) {
    if (!requests_.empty()) {
      held_ = std::move(block);
      block = std::move(requests_.front());
      requests_.pop_front();
    } else {
      last_i_block_ = block;
    }
  }
  ++from_card_;
  sent.push_back(block);
  last_sent_ = block;
  if (lost_from_card_.erase(from_card_)) return std::nullopt;
  if (corrupt_from_card_.erase(from_card_)) block.back() ^= 0x5A;
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
  ++to_card_;
  if (lost_to_card_.erase(to_card_)) return std::nullopt;
  Bytes b = in;
  if (corrupt_to_card_.erase(to_card_) && !b.empty()) b.back() ^= 0x5A;
  received.push_back(b);
  const uint8_t expected = host_ns_ ? kReceiveSequence : 0;
  if (!valid(b)) return send(frame(uint8_t(kRBlock | expected | kEdcError)));
  const uint8_t pcb = b[1];
  if ((pcb & kRBlock) == 0) {
    if ((pcb & kSendSequence) != host_ns_)
      return send(frame(uint8_t(kRBlock | expected | kOtherError)));
    host_ns_ ^= kSendSequence;
    const Bytes apdu(b.begin() + 3, b.end() - 1);
    commands.push_back(apdu);
    std::optional<Bytes> answer = card_->apdu(apdu);
    pending_answer_ = answer ? std::move(*answer) : Bytes{0x6F, 0x00};
    return nextAnswerBlock();
  }
  if ((pcb & 0xC0) == kRBlock) {
    const uint8_t asked = (pcb & kReceiveSequence) ? kSendSequence : 0;
    if (chaining_out_ && asked == card_ns_) return nextAnswerBlock();
    Bytes again = last_sent_;
    return send(std::move(again));
  }
  if (pcb == kResynchRequest) {
    reset();
    return send(frame(kResynchRequest | kResponse));
  }
  if ((pcb == (kWtxRequest | kResponse) || pcb == (kIfsRequest | kResponse)) && held_) {
    Bytes next = std::move(*held_);
    held_.reset();
    return send(std::move(next));
  }
  return send(frame(uint8_t(kRBlock | expected | kOtherError)));
}
