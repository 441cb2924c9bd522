// A MIFARE Ultralight C card: 48 pages of 4 bytes, its two-key triple DES
// key in pages 2C-2F (key bytes 7-4, 3-0, 15-12, 11-8, each page in that
// order; delivered with the key "BREAKMEIFYOUCAN!"). Plain frames:
//   1A 00          AF ek(RndB)        ek: 3DES-CBC from a zero IV
//   AF C1 C2       00 ek(RndA')       RndA = D(C1) ^ ek(RndB),
//                                     RndB' = D(C2) ^ C1; ek chains from C2
// A wrong RndB' or an unexpected frame answers the 4-bit NAK 04. Page
// writes (0x0406) keep the first four bytes; reads (0x0405) give four pages.
// RndB is the test's; the card keeps the RndA it recovered.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/contactless_card.h"

class UltralightCCard : public ContactlessCard {
 public:
  static constexpr int kPages = 48;
  explicit UltralightCCard(Bytes rnd_b);

  Bytes uid() const override { return {0x04, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}; }
  uint16_t atqa() const override { return 0x0044; }
  uint8_t sak() const override { return 0x00; }
  std::optional<Bytes> frame(const Bytes& frame) override;
  bool writePage(uint8_t page, const uint8_t* data) override;
  bool readPages(uint8_t page, uint8_t* out) override;

  // The key as pages 2C-2F hold it now.
  Bytes key() const;
  const std::array<uint8_t, 4>& page(int n) const { return pages_.at(size_t(n)); }

  Bytes recovered_rnd_a;

 private:
  std::array<std::array<uint8_t, 4>, kPages> pages_{};
  Bytes rnd_b_;
  Bytes ek_rnd_b_;
  bool waiting_ = false;
};
