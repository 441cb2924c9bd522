// The contact memory-card slot of the simulated r42 reader: one card of some
// kind, or none.
//
// The reader model (r42_reader_model.h) hands every command of the memory
// card groups (high byte 10 to 14, 18, 19) to the slot in its state:
//
//   R42ReaderModel::State& s = ...;
//   s.memory_card.insert(Sle4442Card());        // a fresh card, locked
//   s.memory_card.get<Sle4442Card>()->memory    // its bytes (null: other kind)
//   s.memory_card.remove();                     // empty slot
//
// A card kind is a MemoryCard: it answers the commands of its own kind and
// declines every other one (std::nullopt), which the slot then answers with
// kOtherCard; an empty slot answers kNoCard. A new kind derives from
// MemoryCardOf<Kind> (which gives the copy the model's snapshots need) and
// implements answer(); nothing else here changes. Its command group must be
// among kGroups.
//
// Replies are [status BE16][spare][data]; the model adds its spare byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// Status words of the slot and its cards. Distinct per cause, apart from
// those of the contactless cards (card_status in mifare_card.h).
namespace memory_card_status {
inline constexpr uint16_t kOk = 0x0000;
inline constexpr uint16_t kNoCard = 0x6E01;      // the slot is empty
inline constexpr uint16_t kOtherCard = 0x6E02;   // the card is of another kind
inline constexpr uint16_t kBadRequest = 0x6E03;  // malformed parameters, range past the card
}  // namespace memory_card_status

struct MemoryCardReply {
  uint16_t status = memory_card_status::kOk;
  std::vector<uint8_t> data;
};

class MemoryCard {
 public:
  using Bytes = std::vector<uint8_t>;
  virtual ~MemoryCard() = default;
  virtual std::unique_ptr<MemoryCard> clone() const = 0;
  // The answer to one command of this card's kind (`params` are the
  // request bytes after [code][00]); std::nullopt for any other command.
  virtual std::optional<MemoryCardReply> answer(uint16_t code, const Bytes& params) = 0;

 protected:
  static MemoryCardReply ok(Bytes data = {}) { return {memory_card_status::kOk, std::move(data)}; }
  static MemoryCardReply refused() { return {memory_card_status::kBadRequest, {}}; }
  static MemoryCardReply answered(uint16_t status) { return {status, {}}; }

  // One request of a chunked transfer: [offset BE32][length BE32], the
  // memory byte where the card kind has one, then the data of a write.
  struct Chunk {
    uint32_t offset = 0;
    uint32_t length = 0;
    uint8_t memory = 0;
    const uint8_t* data = nullptr;
  };
  // std::nullopt for a malformed request, a read that would not fit one
  // reply, or a range past `capacity` (0: addresses wrap, any offset goes).
  static std::optional<Chunk> parse_chunk(const Bytes& params, bool write, bool memory_byte,
                                          size_t capacity);
};

template <typename Kind>
class MemoryCardOf : public MemoryCard {
 public:
  std::unique_ptr<MemoryCard> clone() const override {
    return std::make_unique<Kind>(static_cast<const Kind&>(*this));
  }
};

class MemoryCardSlot {
 public:
  // High bytes of the command groups the slot answers.
  static constexpr uint8_t kGroups[] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x18, 0x19};
  static bool claims(uint16_t code);

  MemoryCardSlot() = default;
  MemoryCardSlot(const MemoryCardSlot& other);
  MemoryCardSlot& operator=(const MemoryCardSlot& other);
  MemoryCardSlot(MemoryCardSlot&&) = default;
  MemoryCardSlot& operator=(MemoryCardSlot&&) = default;

  // Puts `card` into the slot in place of any card there; returns it.
  template <typename Kind>
  Kind& insert(Kind card) {
    auto owned = std::make_unique<Kind>(std::move(card));
    Kind& placed = *owned;
    card_ = std::move(owned);
    return placed;
  }
  void remove() { card_.reset(); }
  bool empty() const { return card_ == nullptr; }
  // The card when it is of kind `Kind`, else null.
  template <typename Kind>
  Kind* get() {
    return dynamic_cast<Kind*>(card_.get());
  }
  template <typename Kind>
  const Kind* get() const {
    return dynamic_cast<const Kind*>(card_.get());
  }

  MemoryCardReply answer(uint16_t code, const uint8_t* params, size_t size);

 private:
  std::unique_ptr<MemoryCard> card_;
};
