#include "sim/memory_card_slot.h"

#include <algorithm>

bool MemoryCardSlot::claims(uint16_t code) {
  return std::find(std::begin(kGroups), std::end(kGroups), uint8_t(code >> 8)) != std::end(kGroups);
}

MemoryCardSlot::MemoryCardSlot(const MemoryCardSlot& other)
    : card_(other.card_ ? other.card_->clone() : nullptr) {}

MemoryCardSlot& MemoryCardSlot::operator=(const MemoryCardSlot& other) {
  if (this != &other) card_ = other.card_ ? other.card_->clone() : nullptr;
  return *this;
}

MemoryCardReply MemoryCardSlot::answer(uint16_t code, const uint8_t* params, size_t size) {
  if (!card_) return {memory_card_status::kNoCard, {}};
  std::optional<MemoryCardReply> reply =
      card_->answer(code, MemoryCard::Bytes(params, params + size));
  if (!reply) return {memory_card_status::kOtherCard, {}};
  return std::move(*reply);
}
