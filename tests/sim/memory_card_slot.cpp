#include "sim/memory_card_slot.h"

#include <algorithm>

#include "platform/byte_cursor.h"

namespace {

// The most data one reply can carry after status and spare byte.
constexpr uint32_t kMaxReadLength = 2048 - 3;

}  // namespace

std::optional<MemoryCard::Chunk> MemoryCard::parse_chunk(const Bytes& params, bool write,
                                                         bool memory_byte, size_t capacity) {
  ByteCursor in(params.data(), params.size());
  Chunk chunk;
  if (!in.be32(chunk.offset) || !in.be32(chunk.length)) return std::nullopt;
  if (memory_byte && !in.u8(chunk.memory)) return std::nullopt;
  if (write ? in.remaining() != chunk.length : in.remaining() != 0) return std::nullopt;
  if (!write && chunk.length > kMaxReadLength) return std::nullopt;
  if (capacity != 0 && uint64_t(chunk.offset) + chunk.length > capacity) return std::nullopt;
  chunk.data = in.here();
  return chunk;
}

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
