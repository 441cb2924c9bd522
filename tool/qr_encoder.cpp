#include "tool/qr_encoder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// ---- Segments -------------------------------------------------------------

// Data bits of version 40 at level L.
constexpr int kQrMaxStreamBits = 23648;

// A Shift JIS double-byte code that Kanji mode carries.
bool is_kanji_pair(uint8_t first, uint8_t second) {
  if (!((first >= 0x81 && first <= 0x9F) || (first >= 0xE0 && first <= 0xEB))) return false;
  if (second < 0x40) return false;
  if (first == 0x9F && second > 0xFC) return false;
  if (first == 0xEB && second >= 0xC0) return false;
  return true;
}

int single_byte_mode(uint8_t c) {
  if (c >= '0' && c <= '9') return kQrNumeric;
  if (qr_alphanumeric_value(c) >= 0) return kQrAlphanumeric;
  return kQrByte;
}

// Bits of a segment of `n` text bytes in `mode` with count width `cc`.
int segment_cost(int mode, int n, int cc) {
  switch (mode) {
    case kQrNumeric:
      return 4 + cc + 10 * (n / 3) + (n % 3 == 1 ? 4 : n % 3 == 2 ? 7 : 0);
    case kQrAlphanumeric:
      return 4 + cc + 11 * (n / 2) + 6 * (n % 2);
    case kQrByte:
      return 4 + cc + 8 * n;
    default:
      return 4 + cc + 13 * (n / 2);
  }
}

class Segmenter {
 public:
  Segmenter(std::vector<QrSegment>& segments, int version)
      : s_(segments), version_(version) {}

  // Numeric and alphanumeric neighbours become one alphanumeric segment, or
  // a byte neighbour takes one of them, where that is cheaper.
  void merge_alphanumeric() {
    size_t i = 0;
    while (i + 1 < s_.size()) {
      if (!is_text_mode(i) || !is_text_mode(i + 1)) {
        ++i;
        continue;
      }
      const int joined = cost(kQrAlphanumeric, s_[i].length + s_[i + 1].length);
      if (joined >= cost(i) + cost(i + 1)) {
        ++i;
        continue;
      }
      bool before = i > 0 && s_[i - 1].mode == kQrByte;
      const int before_cost =
          before ? cost(kQrByte, s_[i - 1].length + s_[i].length) + cost(i + 1) : 0;
      if (before && joined + cost(i - 1) < before_cost) before = false;
      bool after = i + 2 < s_.size() && s_[i + 2].mode == kQrByte;
      const int after_cost =
          after ? cost(i) + cost(kQrByte, s_[i + 1].length + s_[i + 2].length) : 0;
      if (after && joined + cost(i + 2) < after_cost) after = false;
      if (before && after) {
        if (before_cost < after_cost) {
          after = false;
        } else {
          before = false;
        }
      }
      if (after) {
        absorb(i + 2, i + 1);
      } else if (before) {
        absorb(i - 1, i);
      } else {
        s_[i].mode = kQrAlphanumeric;
        absorb(i, i + 1);
        if (i + 1 < s_.size() && s_[i + 1].mode == kQrAlphanumeric) absorb(i, i + 1);
        if (i > 0 && s_[i - 1].mode == kQrAlphanumeric) absorb(i - 1, i);
      }
      // The same position is examined again.
    }
  }

  // Neighbours become one byte segment where that is cheaper, counting the
  // headers of byte segments beside them that would join.
  void merge_bytes() {
    const int byte_header = qr_count_bits(kQrByte, version_) + 4;
    size_t a = 0;
    while (a + 1 < s_.size()) {
      int joined = cost(kQrByte, s_[a].length + s_[a + 1].length);
      const bool byte_before = a > 0 && s_[a - 1].mode == kQrByte;
      const bool byte_after = a + 2 < s_.size() && s_[a + 2].mode == kQrByte;
      if (byte_before) joined -= byte_header;
      if (byte_after) joined -= byte_header;
      if (joined >= cost(a) + cost(a + 1)) {
        ++a;
        continue;
      }
      s_[a].mode = kQrByte;
      absorb(a, a + 1);
      if (byte_after) absorb(a, a + 1);
      if (byte_before) {
        absorb(a - 1, a);
        --a;
      }
      if (a > 0) --a;
    }
  }

 private:
  bool is_text_mode(size_t i) const {
    return s_[i].mode == kQrNumeric || s_[i].mode == kQrAlphanumeric;
  }
  int cost(int mode, int n) const { return segment_cost(mode, n, qr_count_bits(mode, version_)); }
  int cost(size_t i) const { return cost(s_[i].mode, s_[i].length); }
  // Segment `into` takes the bytes of its neighbour `from`, which goes.
  void absorb(size_t into, size_t from) {
    s_[into].length += s_[from].length;
    s_.erase(s_.begin() + std::ptrdiff_t(from));
  }

  std::vector<QrSegment>& s_;
  int version_;
};

// ---- Bit stream -----------------------------------------------------------

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

  void put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if ((value >> i) & 1) out_[size_t(count_ >> 3)] |= uint8_t(0x80 >> (count_ & 7));
      ++count_;
    }
  }
  int count() const { return count_; }

 private:
  std::vector<uint8_t>& out_;
  int count_ = 0;
};

void write_segment(BitWriter& bits, const uint8_t* text, const QrSegment& segment, int version) {
  static constexpr uint32_t kIndicator[4] = {0x1, 0x2, 0x4, 0x8};
  const int n = segment.length;
  bits.put(kIndicator[segment.mode], 4);
  bits.put(uint32_t(segment.mode == kQrKanji ? n / 2 : n), qr_count_bits(segment.mode, version));
  int i = 0;
  switch (segment.mode) {
    case kQrNumeric:
      for (; i + 3 <= n; i += 3) {
        bits.put(uint32_t((text[i] - '0') * 100 + (text[i + 1] - '0') * 10 + (text[i + 2] - '0')), 10);
      }
      if (n - i == 2) bits.put(uint32_t((text[i] - '0') * 10 + (text[i + 1] - '0')), 7);
      if (n - i == 1) bits.put(uint32_t(text[i] - '0'), 4);
      break;
    case kQrAlphanumeric:
      for (; i + 2 <= n; i += 2) {
        bits.put(uint32_t(qr_alphanumeric_value(text[i]) * 45 + qr_alphanumeric_value(text[i + 1])), 11);
      }
      if (i < n) bits.put(uint32_t(qr_alphanumeric_value(text[i])), 6);
      break;
    case kQrByte:
      for (; i < n; ++i) bits.put(text[i], 8);
      break;
    default:
      for (; i + 2 <= n; i += 2) {
        // Shift JIS 0x8140-0x9FFC and 0xE040-0xEBBF fold into 13 bits.
        unsigned code = unsigned(text[i]) << 8 | text[i + 1];
        code -= code <= 0x9FFC ? 0x8140 : 0xC140;
        bits.put((code >> 8) * 0xC0 + (code & 0xFF), 13);
      }
      break;
  }
}

// Whether every segment's count fits its field.
bool counts_fit(const std::vector<QrSegment>& segments, int version) {
  for (const QrSegment& s : segments) {
    const int count = s.mode == kQrKanji ? s.length / 2 : s.length;
    if (count >= (1 << qr_count_bits(s.mode, version))) return false;
  }
  return true;
}

// ---- Codewords ------------------------------------------------------------

// Data and error-correction codewords, block by block, interleaved.
std::vector<uint8_t> interleave(const std::vector<uint8_t>& data, int version, int level) {
  QrBlockKind kinds[2];
  qr_block_kinds(version, level, kinds);
  const int ecc = qr_ecc_per_block(version, level);
  const int blocks = kinds[0].count + kinds[1].count;
  auto data_length = [&](int b) { return b < kinds[0].count ? kinds[0].data : kinds[1].data; };
  std::vector<uint8_t> ecc_words(size_t(blocks) * size_t(ecc));
  std::vector<int> starts(static_cast<size_t>(blocks));
  int offset = 0;
  for (int b = 0; b < blocks; ++b) {
    const int length = data_length(b);
    starts[size_t(b)] = offset;
    qr_reed_solomon(&data[size_t(offset)], length, ecc, &ecc_words[size_t(b) * size_t(ecc)]);
    offset += length;
  }
  std::vector<uint8_t> out;
  out.reserve(size_t(qr_total_codewords(version)));
  const int longest = kinds[1].count ? kinds[1].data : kinds[0].data;
  for (int i = 0; i < longest; ++i) {
    for (int b = 0; b < blocks; ++b) {
      if (i < data_length(b)) out.push_back(data[size_t(starts[size_t(b)] + i)]);
    }
  }
  for (int i = 0; i < ecc; ++i) {
    for (int b = 0; b < blocks; ++b) out.push_back(ecc_words[size_t(b) * size_t(ecc) + size_t(i)]);
  }
  return out;
}

// ---- Matrix ---------------------------------------------------------------

constexpr int kWords = (kQrMaxSize + 63) / 64;

// Modules as bits: one word array per row and per column, bit i of a row
// is column i.
struct Planes {
  uint64_t rows[kQrMaxSize][kWords]{};
  uint64_t cols[kQrMaxSize][kWords]{};

  void set(int x, int y) { put(x, y, true); }
  void put(int x, int y, bool dark) {
    const uint64_t rbit = uint64_t(1) << (x & 63);
    const uint64_t cbit = uint64_t(1) << (y & 63);
    if (dark) {
      rows[y][x >> 6] |= rbit;
      cols[x][y >> 6] |= cbit;
    } else {
      rows[y][x >> 6] &= ~rbit;
      cols[x][y >> 6] &= ~cbit;
    }
  }
};

bool mask_bit(int mask, int x, int y) {
  switch (mask) {
    case 0: return (x + y) % 2 == 0;
    case 1: return y % 2 == 0;
    case 2: return x % 3 == 0;
    case 3: return (x + y) % 3 == 0;
    case 4: return (x / 3 + y / 2) % 2 == 0;
    case 5: return x * y % 2 + x * y % 3 == 0;
    case 6: return (x * y % 2 + x * y % 3) % 2 == 0;
    default: return ((x + y) % 2 + x * y % 3) % 2 == 0;
  }
}

// The eight mask patterns over the largest symbol, made once.
struct MaskPlanes {
  Planes masks[8];

  MaskPlanes() {
    for (int m = 0; m < 8; ++m) {
      for (int y = 0; y < kQrMaxSize; ++y) {
        for (int x = 0; x < kQrMaxSize; ++x) {
          if (mask_bit(m, x, y)) masks[m].set(x, y);
        }
      }
    }
  }
};

const Planes* mask_planes() {
  static const MaskPlanes planes;
  return planes.masks;
}

// 15 format bits: level and mask with their BCH code, masked by 0x5412.
uint32_t format_bits(int level, int mask) {
  static constexpr uint32_t kLevelBits[4] = {1, 0, 3, 2};
  const uint32_t data = kLevelBits[level] << 3 | uint32_t(mask);
  uint32_t rem = data;
  for (int i = 0; i < 10; ++i) rem = (rem << 1) ^ ((rem >> 9) * 0x537);
  return (data << 10 | rem) ^ 0x5412;
}

// 18 version bits with their BCH code.
uint32_t version_bits(int version) {
  uint32_t rem = uint32_t(version);
  for (int i = 0; i < 12; ++i) rem = (rem << 1) ^ ((rem >> 11) * 0x1F25);
  return uint32_t(version) << 12 | rem;
}

struct Position {
  int x;
  int y;
};

// Where format bit i goes, in both copies.
void format_positions(int size, Position first[15], Position second[15]) {
  for (int i = 0; i < 15; ++i) {
    if (i < 6) first[i] = {8, i};
    else if (i < 8) first[i] = {8, i + 1};
    else if (i == 8) first[i] = {7, 8};
    else first[i] = {14 - i, 8};
    if (i < 8) second[i] = {size - 1 - i, 8};
    else second[i] = {8, size - 15 + i};
  }
}

enum : uint8_t { kData = 0, kFunctionLight = 1, kFunctionDark = 2 };

// Function patterns of a version; the format areas are reserved light.
class Layout {
 public:
  explicit Layout(int version) : size_(qr_size(version)), cells_(size_t(size_) * size_t(size_), kData) {
    finder(3, 3);
    finder(size_ - 4, 3);
    finder(3, size_ - 4);
    for (int i = 0; i < size_; ++i) {
      if (cell(6, i) == kData) put(6, i, i % 2 == 0);
      if (cell(i, 6) == kData) put(i, 6, i % 2 == 0);
    }
    int centres[kQrMaxAlignments];
    const int n = qr_alignment_centres(version, centres);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        // Only the three finder corners have no alignment pattern.
        const bool corner = (i == 0 && j == 0) || (i == 0 && j == n - 1) || (i == n - 1 && j == 0);
        if (!corner) alignment(centres[i], centres[j]);
      }
    }
    Position first[15];
    Position second[15];
    format_positions(size_, first, second);
    for (int i = 0; i < 15; ++i) {
      put(first[i].x, first[i].y, false);
      put(second[i].x, second[i].y, false);
    }
    put(8, size_ - 8, true);
    if (version >= 7) {
      const uint32_t bits = version_bits(version);
      for (int i = 0; i < 18; ++i) {
        const bool dark = (bits >> i) & 1;
        put(size_ - 11 + i % 3, i / 3, dark);
        put(i / 3, size_ - 11 + i % 3, dark);
      }
    }
  }

  int size() const { return size_; }
  uint8_t cell(int x, int y) const { return cells_[size_t(y) * size_t(size_) + size_t(x)]; }

 private:
  void put(int x, int y, bool dark) {
    cells_[size_t(y) * size_t(size_) + size_t(x)] = dark ? kFunctionDark : kFunctionLight;
  }
  // A finder pattern centred at (cx, cy) with its light separator.
  void finder(int cx, int cy) {
    for (int dy = -4; dy <= 4; ++dy) {
      for (int dx = -4; dx <= 4; ++dx) {
        const int x = cx + dx;
        const int y = cy + dy;
        if (x < 0 || y < 0 || x >= size_ || y >= size_) continue;
        const int ring = std::max(std::abs(dx), std::abs(dy));
        put(x, y, ring != 2 && ring != 4);
      }
    }
  }
  void alignment(int cx, int cy) {
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) put(cx + dx, cy + dy, std::max(std::abs(dx), std::abs(dy)) != 1);
    }
  }

  int size_;
  std::vector<uint8_t> cells_;
};

// ---- Penalties ------------------------------------------------------------

// Word `k` of `line` shifted down by one module, across words.
inline uint64_t shifted(const uint64_t* line, int k) {
  return line[k] >> 1 | (k + 1 < kWords ? line[k + 1] << 63 : 0);
}

// Runs of five or more and finder-like patterns along one line of `n`
// modules (bit i = module i, bits past n clear).
void line_penalty(const uint64_t* line, int n, QrPenalty& penalty) {
  int runs[kQrMaxSize];
  int count = 0;
  int start = 0;
  for (int k = 0; k < kWords && 64 * k < n - 1; ++k) {
    uint64_t changes = line[k] ^ shifted(line, k);
    const int valid = n - 1 - 64 * k;
    if (valid < 64) changes &= (uint64_t(1) << valid) - 1;
    while (changes) {
      const int i = 64 * k + std::countr_zero(changes);
      runs[count++] = i + 1 - start;
      start = i + 1;
      changes &= changes - 1;
    }
  }
  runs[count++] = n - start;
  const bool first_dark = line[0] & 1;
  for (int j = 0; j < count; ++j) {
    if (runs[j] >= 5) penalty.runs += runs[j] - 2;
    const bool dark = first_dark != (j % 2 == 1);
    // Dark 1, light 1, dark 3, light 1, dark 1 around run j, with four
    // light modules of this line before or after.
    if (!dark || runs[j] != 3 || j < 2 || j + 2 >= count || runs[j - 1] != 1 || runs[j + 1] != 1) {
      continue;
    }
    const bool light_before = runs[j - 2] == 1 && j >= 3 && runs[j - 3] >= 4;
    const bool light_after = runs[j + 2] == 1 && j + 3 < count && runs[j + 3] >= 4;
    if (light_before || light_after) penalty.finders += 40;
  }
}

QrPenalty penalty_of(const Planes& p, int n) {
  QrPenalty penalty;
  int dark = 0;
  for (int i = 0; i < n; ++i) {
    line_penalty(p.rows[i], n, penalty);
    line_penalty(p.cols[i], n, penalty);
    for (int k = 0; k < kWords; ++k) dark += std::popcount(p.rows[i][k]);
  }
  // A 2x2 block at column i of rows y, y+1: equal across (both columns)
  // and equal along row y.
  int blocks = 0;
  for (int y = 0; y + 1 < n; ++y) {
    const uint64_t* a = p.rows[y];
    const uint64_t* b = p.rows[y + 1];
    for (int k = 0; k < kWords && 64 * k < n - 1; ++k) {
      const uint64_t same_across = ~(a[k] ^ b[k]);
      const uint64_t same_across_next = ~(shifted(a, k) ^ shifted(b, k));
      const uint64_t same_along = ~(a[k] ^ shifted(a, k));
      uint64_t found = same_across & same_across_next & same_along;
      const int valid = n - 1 - 64 * k;
      if (valid < 64) found &= (uint64_t(1) << valid) - 1;
      blocks += std::popcount(found);
    }
  }
  penalty.blocks = 3 * blocks;
  const int light = n * n - dark;
  penalty.balance = std::abs(50 - light * 100 / (n * n)) / 5 * 10;
  return penalty;
}

// The data bits, unmasked, placed in the two-column zigzag from the bottom
// right; `region` marks every data module.
void place_data(const Layout& layout, const std::vector<uint8_t>& codewords, Planes& modules,
                Planes& region) {
  const int n = layout.size();
  const size_t total_bits = codewords.size() * 8;
  size_t i = 0;
  for (int right = n - 1; right >= 1; right -= 2) {
    if (right == 6) right = 5;  // the vertical timing pattern
    const bool upward = ((right + 1) & 2) == 0;
    for (int step = 0; step < n; ++step) {
      const int y = upward ? n - 1 - step : step;
      for (int j = 0; j < 2; ++j) {
        const int x = right - j;
        if (layout.cell(x, y) != kData) continue;
        region.set(x, y);
        if (i < total_bits && (codewords[i >> 3] >> (7 - (i & 7))) & 1) modules.set(x, y);
        ++i;
      }
    }
  }
}

// The symbol with `mask` applied and its format information drawn.
void apply_mask(const Planes& base, const Planes& region, int n, int level, int mask, Planes& out) {
  const Planes& pattern = mask_planes()[mask];
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < kWords; ++k) {
      out.rows[i][k] = base.rows[i][k] ^ (pattern.rows[i][k] & region.rows[i][k]);
      out.cols[i][k] = base.cols[i][k] ^ (pattern.cols[i][k] & region.cols[i][k]);
    }
  }
  Position first[15];
  Position second[15];
  format_positions(n, first, second);
  const uint32_t bits = format_bits(level, mask);
  for (int i = 0; i < 15; ++i) {
    const bool dark = (bits >> i) & 1;
    out.put(first[i].x, first[i].y, dark);
    out.put(second[i].x, second[i].y, dark);
  }
}

// ---- Segmenting a text ----------------------------------------------------

// Segments of `text` with the character-count widths of `version`'s group:
// runs of one mode, then neighbours merged where that is cheaper.
std::vector<QrSegment> qr_segment_text(const uint8_t* text, size_t length, int version) {
  std::vector<QrSegment> segments;
  for (size_t i = 0; i < length;) {
    int mode;
    int n = 1;
    if (i + 1 < length && is_kanji_pair(text[i], text[i + 1])) {
      mode = kQrKanji;
      n = 2;
    } else {
      mode = single_byte_mode(text[i]);
    }
    if (!segments.empty() && segments.back().mode == mode) {
      segments.back().length += n;
    } else {
      segments.push_back({mode, n});
    }
    i += size_t(n);
  }
  Segmenter segmenter(segments, version);
  segmenter.merge_alphanumeric();
  segmenter.merge_bytes();
  return segments;
}

// Bits of the segments' stream (mode indicators, counts and data).
int qr_stream_bits(const std::vector<QrSegment>& segments, int version) {
  int bits = 0;
  for (const QrSegment& s : segments) bits += segment_cost(s.mode, s.length, qr_count_bits(s.mode, version));
  return bits;
}

}  // namespace

// ---- Public ---------------------------------------------------------------

QrPenalty qr_penalty(const QrSymbol& symbol) {
  if (symbol.size < 1 || symbol.size > kQrMaxSize || symbol.dark.size() < size_t(symbol.size) * size_t(symbol.size)) {
    return {};
  }
  const auto planes = std::make_unique<Planes>();
  for (int y = 0; y < symbol.size; ++y) {
    for (int x = 0; x < symbol.size; ++x) {
      if (symbol.module(x, y)) planes->set(x, y);
    }
  }
  return penalty_of(*planes, symbol.size);
}

bool QrEncoder::encode(int level, const char* text, int mask) {
  if (level < 0 || level > 3 || mask < -1 || mask > 7 || !text) return false;
  const size_t length = strnlen(text, kQrMaxTextLength + 1);
  if (length == 0 || length > kQrMaxTextLength) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);

  // The first version group whose stream fits one of its versions.
  static constexpr int kGroups[3][2] = {{1, 9}, {10, 26}, {27, 40}};
  int version = 0;
  int bits = 0;
  std::vector<QrSegment> segments;
  for (const auto& group : kGroups) {
    segments = qr_segment_text(bytes, length, group[0]);
    bits = qr_stream_bits(segments, group[0]);
    if (bits > kQrMaxStreamBits || !counts_fit(segments, group[0])) continue;
    for (int v = group[0]; v <= group[1] && version == 0; ++v) {
      if (qr_data_codewords(v, level) >= (bits + 7) / 8) version = v;
    }
    if (version) break;
  }
  if (version == 0) return false;

  // Segments, terminator, byte boundary, then pad codewords.
  const int capacity = qr_data_codewords(version, level);
  std::vector<uint8_t> data(size_t(capacity), 0);
  BitWriter writer(data);
  size_t offset = 0;
  for (const QrSegment& s : segments) {
    write_segment(writer, bytes + offset, s, version);
    offset += size_t(s.length);
  }
  writer.put(0, std::min(4, capacity * 8 - writer.count()));
  writer.put(0, (8 - writer.count() % 8) % 8);
  for (int i = writer.count() / 8, pad = 0; i < capacity; ++i, pad ^= 1) data[size_t(i)] = pad ? 0x11 : 0xEC;

  const Layout layout(version);
  const int n = layout.size();
  const auto base = std::make_unique<Planes>();
  const auto region = std::make_unique<Planes>();
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      if (layout.cell(x, y) == kFunctionDark) base->set(x, y);
    }
  }
  place_data(layout, interleave(data, version, level), *base, *region);

  const auto masked = std::make_unique<Planes>();
  int chosen = mask;
  if (chosen < 0) {
    int best = 0;
    for (int m = 0; m < 8; ++m) {
      apply_mask(*base, *region, n, level, m, *masked);
      const int score = penalty_of(*masked, n).total();
      if (m == 0 || score < best) {
        best = score;
        chosen = m;
      }
    }
  }
  apply_mask(*base, *region, n, level, chosen, *masked);

  QrSymbol symbol;
  symbol.size = n;
  symbol.dark.resize(size_t(n) * size_t(n));
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      symbol.dark[size_t(y) * size_t(n) + size_t(x)] = uint8_t((masked->rows[y][x >> 6] >> (x & 63)) & 1);
    }
  }
  level_ = level;
  version_ = version;
  mask_ = chosen;
  stream_bits_ = bits;
  segments_ = std::move(segments);
  data_codewords_ = std::move(data);
  symbol_ = std::move(symbol);
  return true;
}
