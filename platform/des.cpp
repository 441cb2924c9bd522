#include "platform/des.h"

#include <cstddef>

namespace {

// FIPS 46 tables; entries count bits from 1 = most significant.
constexpr uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kFinalPermutation[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

constexpr uint8_t kPermutation[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23,
                                      26, 5, 18, 31, 10, 2,  8,  24, 14, 32, 27,
                                      3,  9, 19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Picks bits of `in` (in_bits wide) in the order the table lists them.
template <size_t N>
uint64_t permute(uint64_t in, int in_bits, const uint8_t (&table)[N]) {
  uint64_t out = 0;
  for (uint8_t position : table) out = out << 1 | (in >> (in_bits - position) & 1);
  return out;
}

// Blocks (8 bytes) and round keys (6 bytes) are big-endian in memory.
uint64_t load_be(const uint8_t* bytes, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | bytes[i];
  return v;
}

void store_be(uint64_t v, uint8_t* bytes, int n) {
  for (int i = n - 1; i >= 0; --i) {
    bytes[i] = uint8_t(v);
    v >>= 8;
  }
}

// A bit permutation as one table per input nibble: the permutation is
// linear, so the result is the OR of the nibbles' images.
template <int InBits>
struct NibblePermutation {
  uint64_t image[InBits / 4][16];

  template <size_t N>
  explicit NibblePermutation(const uint8_t (&table)[N]) {
    for (int nibble = 0; nibble < InBits / 4; ++nibble)
      for (uint64_t v = 0; v < 16; ++v)
        image[nibble][v] = permute(v << (InBits - 4 - 4 * nibble), InBits, table);
  }
  uint64_t operator()(uint64_t in) const {
    uint64_t out = 0;
    for (int nibble = 0; nibble < InBits / 4; ++nibble)
      out |= image[nibble][in >> (InBits - 4 - 4 * nibble) & 0x0F];
    return out;
  }
};

// Everything derived from the FIPS tables, computed once; read-only
// afterwards, so threads share it safely.
struct Tables {
  NibblePermutation<64> initial{kInitialPermutation};
  NibblePermutation<64> final_{kFinalPermutation};
  NibblePermutation<64> choice1{kPermutedChoice1};
  NibblePermutation<56> choice2{kPermutedChoice2};
  // S-box j's output for a six-bit input, put through P.
  uint32_t sp[8][64];

  Tables() {
    for (int j = 0; j < 8; ++j)
      for (unsigned six = 0; six < 64; ++six) {
        const unsigned row = (six >> 4 & 2) | (six & 1);
        const unsigned column = six >> 1 & 0x0F;
        const uint64_t s = uint64_t(kSBoxes[j][row * 16 + column]) << (28 - 4 * j);
        sp[j][six] = uint32_t(permute(s, 32, kPermutation));
      }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

// The 16 round keys of one key, each as its eight six-bit groups.
struct Schedule {
  uint8_t group[16][8];
};

// The 48-bit round keys, big-endian numbered as in FIPS 46.
template <typename Use>
void each_round_key(const uint8_t key[8], Use use) {
  constexpr uint32_t kHalfMask = 0x0FFFFFFF;
  const Tables& t = tables();
  const uint64_t cd = t.choice1(load_be(key, 8));
  uint32_t c = uint32_t(cd >> 28) & kHalfMask;
  uint32_t d = uint32_t(cd) & kHalfMask;
  for (int round = 0; round < 16; ++round) {
    const int s = kShifts[round];
    c = (c << s | c >> (28 - s)) & kHalfMask;
    d = (d << s | d >> (28 - s)) & kHalfMask;
    use(round, t.choice2(uint64_t(c) << 28 | d));
  }
}

Schedule schedule_of(const uint8_t key[8]) {
  Schedule schedule;
  each_round_key(key, [&](int round, uint64_t k) {
    for (int j = 0; j < 8; ++j) schedule.group[round][j] = uint8_t(k >> (42 - 6 * j) & 0x3F);
  });
  return schedule;
}

uint32_t rotate_right(uint32_t x, unsigned n) { return n ? x >> n | x << (32 - n) : x; }

// f(R, K): group j of E(R) is R's bits 4j to 4j + 5 (bit 0 being bit 32),
// the low six bits of R rotated right by 27 - 4j.
uint32_t feistel(const Tables& t, uint32_t right, const uint8_t group[8]) {
  uint32_t out = 0;
  for (int j = 0; j < 8; ++j)
    out |= t.sp[j][(rotate_right(right, unsigned(27 - 4 * j) & 31) & 0x3F) ^ group[j]];
  return out;
}

uint64_t des_run(const Tables& t, uint64_t block, const Schedule& schedule, bool decrypt) {
  block = t.initial(block);
  uint32_t left = uint32_t(block >> 32);
  uint32_t right = uint32_t(block);
  for (int round = 0; round < 16; ++round) {
    const uint32_t next = left ^ feistel(t, right, schedule.group[decrypt ? 15 - round : round]);
    left = right;
    right = next;
  }
  return t.final_(uint64_t(right) << 32 | left);
}

void des_block(const uint8_t in[8], const uint8_t key[8], uint8_t out[8], bool decrypt) {
  store_be(des_run(tables(), load_be(in, 8), schedule_of(key), decrypt), out, 8);
}

// E(K1) D(K2) E(K1), or its inverse; K1's schedule serves both of its runs.
void tdes_block(const uint8_t in[8], const uint8_t key[16], uint8_t out[8], bool decrypt) {
  const Tables& t = tables();
  const Schedule k1 = schedule_of(key);
  const Schedule k2 = schedule_of(key + 8);
  uint64_t block = des_run(t, load_be(in, 8), k1, decrypt);
  block = des_run(t, block, k2, !decrypt);
  store_be(des_run(t, block, k1, decrypt), out, 8);
}

}  // namespace

void des_key_schedule(const uint8_t key[8], uint8_t round_keys[16][6]) {
  each_round_key(key, [&](int round, uint64_t k) { store_be(k, round_keys[round], 6); });
}

void des_encrypt_block(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]) {
  des_block(in, key, out, false);
}

void des_decrypt_block(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]) {
  des_block(in, key, out, true);
}

void tdes_encrypt_block(const uint8_t in[8], const uint8_t key[16], uint8_t out[8]) {
  tdes_block(in, key, out, false);
}

void tdes_decrypt_block(const uint8_t in[8], const uint8_t key[16], uint8_t out[8]) {
  tdes_block(in, key, out, true);
}

int des_ecb_encrypt(int mode, const uint8_t* in, int length, const uint8_t* key, uint8_t* out) {
  if ((mode != 0 && mode != 1) || length < 0 || length % 8 != 0) return -1;
  if (length == 0) return 0;
  if (!in || !key || !out) return -1;
  for (int offset = 0; offset < length; offset += 8) {
    if (mode == 0) {
      des_encrypt_block(in + offset, key, out + offset);
    } else {
      tdes_encrypt_block(in + offset, key, out + offset);
    }
  }
  return 0;
}
