#include "sim/iso14443_4_picc.h"

#include <algorithm>

namespace {

constexpr uint8_t kCidFollows = 0x08;
constexpr uint8_t kChaining = 0x10;
constexpr uint8_t kNak = 0x10;
constexpr uint8_t kIBlock = 0x0A;
constexpr uint8_t kRAck = 0xAA;
constexpr uint8_t kSWtx = 0xFA;

bool is_i_block(uint8_t pcb) { return (pcb & 0xE2) == 0x02; }
bool is_r_block(uint8_t pcb) { return (pcb & 0xE6) == 0xA2; }
bool is_wtx_answer(uint8_t pcb) { return (pcb & 0xF7) == 0xF2; }
bool is_deselect(uint8_t pcb) { return (pcb & 0xF7) == 0xC2; }

}  // namespace

Iso14443_4Picc::Iso14443_4Picc(std::shared_ptr<ContactlessCard> card, size_t chain_at)
    : card_(std::move(card)), chain_at_(chain_at) {}

void Iso14443_4Picc::activate() {
  active_ = true;
  number_ = 1;
  command_.clear();
  pending_answer_.clear();
  chaining_out_ = false;
  held_.reset();
  last_sent_.clear();
}

void Iso14443_4Picc::waitRequests(int k, int nth) { waits_[card_blocks_ + nth] += k; }

void Iso14443_4Picc::lose(Direction direction, int nth) {
  if (direction == Direction::kToCard)
    lost_to_card_.insert(to_card_ + nth);
  else
    lost_from_card_.insert(from_card_ + nth);
}

std::optional<Iso14443_4Picc::Bytes> Iso14443_4Picc::send(Bytes block) {
  auto wait = waits_.find(card_blocks_ + 1);
  if (wait != waits_.end() && wait->second > 0) {
    --wait->second;
    held_ = std::move(block);
    block = {kSWtx, 0x00, 0x01};
  } else {
    ++card_blocks_;
  }
  ++from_card_;
  sent.push_back(block);
  last_sent_ = block;
  if (lost_from_card_.erase(from_card_)) return std::nullopt;
  return block;
}

std::optional<Iso14443_4Picc::Bytes> Iso14443_4Picc::nextAnswerBlock() {
  const size_t n = chain_at_ ? std::min(chain_at_, pending_answer_.size()) : pending_answer_.size();
  chaining_out_ = n < pending_answer_.size();
  Bytes block = {uint8_t((chaining_out_ ? kIBlock | kChaining : kIBlock) | number_), 0x00};
  block.insert(block.end(), pending_answer_.begin(), pending_answer_.begin() + long(n));
  pending_answer_.erase(pending_answer_.begin(), pending_answer_.begin() + long(n));
  return send(std::move(block));
}

std::optional<Iso14443_4Picc::Bytes> Iso14443_4Picc::block(const Bytes& in) {
  ++to_card_;
  if (lost_to_card_.erase(to_card_) || !active_ || in.empty()) return std::nullopt;
  received.push_back(in);
  const uint8_t pcb = in[0];
  const size_t header = (pcb & kCidFollows) ? 2 : 1;
  if (in.size() < header) return std::nullopt;
  if (is_i_block(pcb)) {
    number_ ^= 1;
    command_.insert(command_.end(), in.begin() + long(header), in.end());
    if (pcb & kChaining) return send({uint8_t(kRAck | number_), 0x00});
    commands.push_back(command_);
    std::optional<Bytes> answer = card_->apdu(command_);
    command_.clear();
    if (!answer) return std::nullopt;
    pending_answer_ = std::move(*answer);
    return nextAnswerBlock();
  }
  if (is_r_block(pcb)) {
    if ((pcb & 1) == number_) {
      Bytes again = last_sent_;
      ++from_card_;
      sent.push_back(again);
      if (lost_from_card_.erase(from_card_)) return std::nullopt;
      return again;
    }
    if (pcb & kNak) return send({uint8_t(kRAck | number_), 0x00});
    number_ ^= 1;
    if (chaining_out_) return nextAnswerBlock();
    return std::nullopt;
  }
  if (is_wtx_answer(pcb)) {
    if (!held_) return std::nullopt;
    Bytes next = std::move(*held_);
    held_.reset();
    return send(std::move(next));
  }
  if (is_deselect(pcb)) {
    active_ = false;
    card_->deactivate();
    return send({pcb, 0x00});
  }
  return std::nullopt;
}
