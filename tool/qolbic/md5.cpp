// The digest library the device identifier loads at run time: MD5 as
// RFC 1321 gives it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/byte_helpers.h"
#include "qm_export.h"

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left rotations by round (rows) and step within a group of four.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t rotate_left(uint32_t x, int n) { return x << n | x >> (32 - n); }

void compress(uint32_t state[4], const uint8_t block[64]) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 |
           uint32_t(block[4 * i + 2]) << 16 | uint32_t(block[4 * i + 3]) << 24;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f;
    int g;
    switch (round) {
      case 0: f = (b & c) | (~b & d); g = i; break;
      case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
      case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
      default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
    }
    const uint32_t rotated = rotate_left(a + f + kSine[i] + m[g], kShift[round][i % 4]);
    a = d;
    d = c;
    c = b;
    b += rotated;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

void md5(const uint8_t* data, size_t length, uint8_t digest[16]) {
  uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  size_t done = 0;
  for (; length - done >= 64; done += 64) compress(state, data + done);
  // The tail, a 1 bit, zeros, and the length in bits (little-endian) in one
  // or two last blocks.
  uint8_t last[128] = {};
  const size_t tail = length - done;
  if (tail) std::memcpy(last, data + done, tail);
  last[tail] = 0x80;
  const size_t blocks = tail < 56 ? 1 : 2;
  const uint64_t bits = uint64_t(length) * 8;
  for (int i = 0; i < 8; ++i) last[64 * blocks - 8 + size_t(i)] = uint8_t(bits >> (8 * i));
  for (size_t i = 0; i < blocks; ++i) compress(state, last + 64 * i);
  for (int i = 0; i < 16; ++i) digest[i] = uint8_t(state[i / 4] >> (8 * (i % 4)));
}

}  // namespace

// Mode 1: the MD5 digest of `len` bytes as 32 upper-case hex digits and a
// NUL in `out` (33 bytes), 0. Any other mode, a null pointer or a negative
// length: -1, nothing written.
QM_API int Encrypt_MD5(int mode, const unsigned char* data, int len, char* out) {
  if (mode != 1 || !data || !out || len < 0) return -1;
  uint8_t digest[16];
  md5(data, size_t(len), digest);
  bytes_to_hex(digest, 16, out);
  out[32] = '\0';
  return 0;
}
