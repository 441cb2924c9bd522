// A card of the simulated radio field that is more than a sector card: an
// ISO/IEC 14443-4 processor card (type A or B), DESFire, MIFARE Plus or
// Ultralight C. The card field (card_field.h) selects and activates it and
// hands it what the reader carries: APDUs of the block protocol (0x0411),
// plain frames (0x0436) and page accesses (0x0405/0x0406).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

class ContactlessCard {
 public:
  using Bytes = std::vector<uint8_t>;
  enum class Type { kA, kB };

  virtual ~ContactlessCard() = default;

  virtual Type type() const { return Type::kA; }
  // UID of a type A card (4 or 7 bytes), PUPI of a type B card.
  virtual Bytes uid() const = 0;
  virtual uint16_t atqa() const { return 0x0344; }
  virtual uint8_t sak() const { return 0x20; }
  // ATS of a type A card, ATQB of a type B card.
  virtual Bytes activationAnswer() const { return {0x06, 0x75, 0x77, 0x81, 0x02, 0x80}; }

  // Answers that the card does not give (nullopt) leave the reader with a
  // failure status.
  virtual std::optional<Bytes> apdu(const Bytes&) { return std::nullopt; }
  virtual std::optional<Bytes> frame(const Bytes&) { return std::nullopt; }
  virtual bool writePage(uint8_t, const uint8_t*) { return false; }
  virtual bool readPages(uint8_t, uint8_t*) { return false; }
  virtual void deactivate() {}
};
