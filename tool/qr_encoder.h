// QR code model 2 encoder: a text is split into numeric, alphanumeric, byte
// and Kanji segments, placed in the smallest version of the first version
// group that holds it, protected by Reed-Solomon codes at a fixed level
// (never raised) and masked with the pattern of the lowest penalty.
// Internal to libtool.so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tool/qr_tables.h"

enum QrMode : int { kQrNumeric = 0, kQrAlphanumeric = 1, kQrByte = 2, kQrKanji = 3 };

// One run of the text in one mode; `length` counts bytes of the text (two
// per Kanji character).
struct QrSegment {
  int mode;
  int length;
};

// The longest text any symbol holds (numeric, version 40, level L).
constexpr size_t kQrMaxTextLength = 7089;

// A finished symbol: `size` x `size` modules, row by row, 1 dark.
struct QrSymbol {
  int size = 0;
  std::vector<uint8_t> dark;

  bool module(int x, int y) const { return dark[size_t(y) * size_t(size) + size_t(x)] != 0; }
};

// The four penalty scores of a symbol: runs of five or more, 2x2 blocks,
// finder-like 1:1:3:1:1 patterns with four light modules inside the symbol
// on a side, and the balance of light and dark.
struct QrPenalty {
  int runs = 0;
  int blocks = 0;
  int finders = 0;
  int balance = 0;

  int total() const { return runs + blocks + finders + balance; }
};
QrPenalty qr_penalty(const QrSymbol& symbol);

class QrEncoder {
 public:
  // Encodes the NUL-terminated `text` at `level` (0-3 = L, M, Q, H) with the
  // mask of the lowest penalty (ties to the lower number), or with `mask`
  // 0-7. False for an empty or too long text or a bad level or mask; the
  // last symbol then stays.
  bool encode(int level, const char* text, int mask = -1);

  int level() const { return level_; }
  int version() const { return version_; }
  int mask() const { return mask_; }
  int size() const { return symbol_.size; }
  // Bits of the segment stream before the terminator.
  int stream_bits() const { return stream_bits_; }
  const std::vector<QrSegment>& segments() const { return segments_; }
  // The data codewords, padded, before error correction.
  const std::vector<uint8_t>& data_codewords() const { return data_codewords_; }
  const QrSymbol& symbol() const { return symbol_; }

 private:
  int level_ = 0;
  int version_ = 0;
  int mask_ = 0;
  int stream_bits_ = 0;
  std::vector<QrSegment> segments_;
  std::vector<uint8_t> data_codewords_;
  QrSymbol symbol_;
};
