#include "sim/iso14443_4_picc.h"

#include <algorithm>

namespace {

using Dir = BlockFaults::Direction;
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
  held_.reset();
}

std::optional<Iso14443_4Picc::Bytes> Iso14443_4Picc::emit(const Bytes& block) {
  last_sent_ = block;
  if (faults.next(Dir::kFromCard) != BlockFaults::Fault::kNone) return std::nullopt;
  return block;
}

// An R(ACK) or I-block, behind the S(WTX) requests planned for it.
std::optional<Iso14443_4Picc::Bytes> Iso14443_4Picc::send(Bytes block) {
  auto wait = waits_.find(card_blocks_ + 1);
  if (wait != waits_.end() && wait->second > 0) {
    --wait->second;
    held_ = std::move(block);
    return emit({0xFA, 0x00, 0x01});
  }
  ++card_blocks_;
  return emit(block);
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
  if (faults.next(Dir::kToCard) != BlockFaults::Fault::kNone || !active_ || in.empty())
    return std::nullopt;
  received.push_back(in);
  const uint8_t pcb = in[0];
  const size_t header = (pcb & 0x08) ? 2 : 1;
  if (in.size() < header) return std::nullopt;
  if ((pcb & 0xE2) == 0x02) {  // I-block
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
  if ((pcb & 0xE6) == 0xA2) {  // R-block
    if ((pcb & 1) == number_) return emit(last_sent_);
    if (pcb & kNak) return send({uint8_t(kRAck | number_), 0x00});
    number_ ^= 1;
    return chaining_out_ ? nextAnswerBlock() : std::nullopt;
  }
  if ((pcb & 0xF7) == 0xF2 && held_) {  // S(WTX) answer
    Bytes next = std::move(*held_);
    held_.reset();
    return send(std::move(next));
  }
  if ((pcb & 0xF7) == 0xC2) {  // S(DESELECT)
    active_ = false;
    card_->deactivate();
    return emit({pcb, 0x00});
  }
  return std::nullopt;
}

std::optional<SimAttachment::Bytes> M6PiccFront::respond(const Bytes& command) {
  constexpr uint8_t kNoAnswer = 0x01;
  constexpr uint8_t kAttrib = 0x1D;
  if (command.empty()) return std::nullopt;
  const bool type_a = picc_->card().type() == ContactlessCard::Type::kA;
  const uint8_t code = command[0];
  Bytes reply = {0x00};
  if (code == 0x85 || code == 0x88 || code == 0x89) {
    if (type_a != (code == 0x85)) return Bytes{kNoAnswer};
    if (type_a) picc_->activate();
    const Bytes answer = picc_->card().activationAnswer();
    reply.insert(reply.end(), answer.begin(), answer.end());
    return reply;
  }
  if (code != 0x86 && code != 0xD0) return std::nullopt;
  const size_t head = code == 0x86 ? 3 : 2;
  if (command.size() < head) return Bytes{kNoAnswer};
  const Bytes block(command.begin() + long(head), command.end());
  std::optional<Bytes> answer;
  const bool level1_frame = !block.empty() && (block[0] == 0x76 || block[0] == 0x72);
  if (!type_a && !block.empty() && block[0] == kAttrib) {
    picc_->activate();
    answer = Bytes{0x00};
  } else if (code == 0x86 && (frames_ == Frames::kBare || level1_frame)) {
    answer = picc_->card().frame(block);
  } else {
    answer = picc_->block(block);
  }
  if (!answer) return Bytes{kNoAnswer};
  if (head == 3) reply.push_back(uint8_t(answer->size()));
  reply.insert(reply.end(), answer->begin(), answer->end());
  return reply;
}
