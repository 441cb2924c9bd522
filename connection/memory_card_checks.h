// Checks of contact memory cards that both reader families build from their
// own byte reads and writes, called through the device interface so that
// each step is the operation of its slot: the write test after a PSC
// verification, the 24C capacity probe and the identification of the card
// in the slot.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "connection/reader_device.h"

// Memory sizes of the card kinds, in bytes.
inline constexpr int16_t kSle4442Size = 256;
inline constexpr int16_t kSle4428Size = 1024;
// The 24C01-24C16 operations reach 2048 bytes, the 24C64 ones 8192.
inline constexpr int16_t k24cSize = 2048;
inline constexpr int16_t k24c64Size = 8192;

// PSC lengths.
inline constexpr size_t kSle4442PinSize = 3;
inline constexpr size_t kSle4428PinSize = 2;

enum class SleCard { k4442, k4428 };

// Attempts left by an error counter, one bit each: the low 3 bits of an
// SLE4442's, all 8 of an SLE4428's.
inline int16_t sle_attempts_left(SleCard card, uint8_t counter) {
  return int16_t(std::popcount(uint8_t(card == SleCard::k4442 ? counter & 0x07 : counter)));
}

// After the card took a PSC: a write only goes through on an unlocked card,
// so byte 255 is changed (255 becomes 0), read back and always restored once
// the change went through; the SLE4428 then gets its error counter reset
// (0xFF at 1021). 0 when the byte read back is the one written, -1 when it
// is not, else the first failing step's result.
int16_t sle_write_test(ReaderDevice& self, int32_t icdev, SleCard card);

// Check_4442 / Check_4428: 0 when bytes 6-7 of the card's head are 81 15
// (SLE4442) or 81 13 (SLE4428), -1 when not, a failing read's result.
int16_t check_sle(ReaderDevice& self, int32_t icdev, SleCard card);

// Check_24C01 ... Check_24C64: 0 when the capacity probe finds `kilobits`
// (1, 2, 4, 8, 16 or 64), else -1. The probe writes a byte at the address
// it tries and always writes the old one back.
int16_t check_24c(ReaderDevice& self, int32_t icdev, int16_t kilobits);

// CheckCard: 8 SLE4442, 9 SLE4428, 30/31 processor card T=0/T=1 (the
// device's Check_CPU), 21-26 24C01-24C64, else -1.
int16_t identify_memory_card(ReaderDevice& self, int32_t icdev);
