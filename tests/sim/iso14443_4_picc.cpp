#include "sim/iso14443_4_picc.h"

#include <algorithm>

namespace {

constexpr uint8_t kIBlock = 0x0A;
constexpr uint8_t kChaining = 0x10;
constexpr uint8_t kRAck = 0xAA;
constexpr uint8_t kNak = 0x10;

}  // namespace

void Iso14443_4Picc::activate() {
  active_ = true;
  number_ = 1;
  command_.clear();
  pending_answer_.clear();
  chaining_out_ = false;
}

std::optional<Iso14443_4Picc::Bytes> Iso14443_4Picc::nextAnswerBlock() {
  const size_t n = chain_at_ ? std::min(chain_at_, pending_answer_.size()) : pending_answer_.size();
  chaining_out_ = n < pending_answer_.size();
  last_sent_ = {uint8_t((chaining_out_ ? kIBlock | kChaining : kIBlock) | number_), 0x00};
  last_sent_.insert(last_sent_.end(), pending_answer_.begin(), pending_answer_.begin() + long(n));
  pending_answer_.erase(pending_answer_.begin(), pending_answer_.begin() + long(n));
  return last_sent_;
}

std::optional<Iso14443_4Picc::Bytes> Iso14443_4Picc::block(const Bytes& in) {
  if (!active_ || in.empty()) return std::nullopt;
  const uint8_t pcb = in[0];
  const size_t header = (pcb & 0x08) ? 2 : 1;
  if (in.size() < header) return std::nullopt;
  if ((pcb & 0xE2) == 0x02) {  // I-block
    number_ ^= 1;
    command_.insert(command_.end(), in.begin() + long(header), in.end());
    if (pcb & kChaining) return last_sent_ = {uint8_t(kRAck | number_), 0x00};
    std::optional<Bytes> answer = card_->apdu(command_);
    command_.clear();
    if (!answer) return std::nullopt;
    pending_answer_ = std::move(*answer);
    return nextAnswerBlock();
  }
  if ((pcb & 0xE6) == 0xA2) {  // R-block
    if ((pcb & 1) == number_) return last_sent_;
    if (pcb & kNak) return last_sent_ = {uint8_t(kRAck | number_), 0x00};
    number_ ^= 1;
    return chaining_out_ ? nextAnswerBlock() : std::nullopt;
  }
  if ((pcb & 0xF7) == 0xC2) {  // S(DESELECT)
    active_ = false;
    card_->deactivate();
    return Bytes{pcb, 0x00};
  }
  return std::nullopt;
}

std::optional<SimAttachment::Bytes> M6PiccFront::respond(const Bytes& command) {
  constexpr uint8_t kNoAnswer = 0x01;
  if (command.empty() || (command[0] != 0x85 && command[0] != 0x86)) return std::nullopt;
  Bytes reply = {0x00};
  if (command[0] == 0x85) {
    picc_->activate();
    const Bytes ats = picc_->card().activationAnswer();
    reply.insert(reply.end(), ats.begin(), ats.end());
    return reply;
  }
  if (command.size() < 3) return Bytes{kNoAnswer};
  const Bytes block(command.begin() + 3, command.end());
  const bool level1_frame = !block.empty() && (block[0] == 0x76 || block[0] == 0x72);
  const std::optional<Bytes> answer = frames_ == Frames::kBare || level1_frame
                                          ? picc_->card().frame(block)
                                          : picc_->block(block);
  if (!answer) return Bytes{kNoAnswer};
  reply.push_back(uint8_t(answer->size()));
  reply.insert(reply.end(), answer->begin(), answer->end());
  return reply;
}
