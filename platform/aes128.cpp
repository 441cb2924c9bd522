#include "platform/aes128.h"

#include <cstring>

namespace {

uint8_t xtime(uint8_t x) { return uint8_t(x << 1 ^ ((x & 0x80) ? 0x1B : 0)); }

uint8_t rotl8(uint8_t x, int n) { return uint8_t(x << n | x >> (8 - n)); }

struct SBoxes {
  uint8_t forward[256];
  uint8_t inverse[256];
};

// The S-boxes from the field's exp/log tables (generator 3). Computed once;
// read-only afterwards, so threads share them safely.
SBoxes compute_sboxes() {
  uint8_t exp[256];
  uint8_t log[256] = {};
  uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    exp[i] = p;
    log[p] = uint8_t(i);
    p = uint8_t(p ^ xtime(p));
  }
  exp[255] = exp[0];
  SBoxes boxes{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t inv = x == 0 ? 0 : exp[255 - log[x]];
    const uint8_t s = uint8_t(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^
                              rotl8(inv, 4) ^ 0x63);
    boxes.forward[x] = s;
    boxes.inverse[s] = uint8_t(x);
  }
  return boxes;
}

const SBoxes& sboxes() {
  static const SBoxes boxes = compute_sboxes();
  return boxes;
}

uint8_t multiply(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  while (b) {
    if (b & 1) product ^= a;
    a = xtime(a);
    b >>= 1;
  }
  return product;
}

uint32_t rotate_right(uint32_t x, int n) { return n ? x >> n | x << (32 - n) : x; }

uint32_t word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t(b0) << 24 | uint32_t(b1) << 16 | uint32_t(b2) << 8 | b3;
}

uint32_t load_be32(const uint8_t* p) { return word(p[0], p[1], p[2], p[3]); }

void store_be32(uint32_t v, uint8_t* p) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// A round's SubBytes, ShiftRows and MixColumns as four lookups per column
// (and InvSubBytes with InvMixColumns for decryption): table r holds a
// byte's column image for row r. Computed once, read-only afterwards.
struct RoundTables {
  uint32_t encrypt[4][256];
  uint32_t decrypt[4][256];

  RoundTables() {
    const SBoxes& boxes = sboxes();
    for (int x = 0; x < 256; ++x) {
      const uint8_t s = boxes.forward[x];
      const uint8_t v = boxes.inverse[x];
      const uint32_t e = word(multiply(s, 2), s, s, multiply(s, 3));
      const uint32_t d = word(multiply(v, 0x0E), multiply(v, 0x09), multiply(v, 0x0D),
                              multiply(v, 0x0B));
      for (int r = 0; r < 4; ++r) {
        encrypt[r][x] = rotate_right(e, 8 * r);
        decrypt[r][x] = rotate_right(d, 8 * r);
      }
    }
  }
};

const RoundTables& round_tables() {
  static const RoundTables tables;
  return tables;
}

// The byte of `w` that row r of a column holds (row 0 the high byte).
inline uint8_t row(uint32_t w, int r) { return uint8_t(w >> (24 - 8 * r)); }

// Ten rounds over the block with the round keys `k` (44 words): nine
// through the round tables, the last through the S-box alone. Row r of
// column c comes from column c + r x step: step 1 is ShiftRows, step 3
// InvShiftRows.
void run_rounds(const uint32_t (&tables)[4][256], const uint8_t box[256], const uint32_t* k,
                int step, uint8_t block[16]) {
  uint32_t s[4], n[4];
  for (int c = 0; c < 4; ++c) s[c] = load_be32(block + 4 * c) ^ k[c];
  auto from = [&](int c, int r) { return row(s[(c + r * step) & 3], r); };
  for (int round = 1; round < 10; ++round) {
    k += 4;
    for (int c = 0; c < 4; ++c)
      n[c] = tables[0][from(c, 0)] ^ tables[1][from(c, 1)] ^ tables[2][from(c, 2)] ^
             tables[3][from(c, 3)] ^ k[c];
    std::memcpy(s, n, sizeof s);
  }
  k += 4;
  for (int c = 0; c < 4; ++c)
    store_be32(word(box[from(c, 0)], box[from(c, 1)], box[from(c, 2)], box[from(c, 3)]) ^ k[c],
               block + 4 * c);
}

// The 128-bit big-endian left shift by one, reduced by 0x87 on carry.
void double_subkey(const uint8_t in[16], uint8_t out[16]) {
  const bool carry = in[0] & 0x80;
  for (int i = 0; i < 15; ++i) out[i] = uint8_t(in[i] << 1 | in[i + 1] >> 7);
  out[15] = uint8_t(in[15] << 1 ^ (carry ? 0x87 : 0));
}

}  // namespace

void xor_bytes(uint8_t* dst, const uint8_t* src, int n) {
  if (!dst || !src) return;
  for (int i = 0; i < n; ++i) dst[i] ^= src[i];
}

void aes128_expand_key(uint8_t out[176], const uint8_t key[16]) {
  const uint8_t* sbox = sboxes().forward;
  std::memcpy(out, key, 16);
  uint8_t rcon = 1;
  for (int i = 4; i < 44; ++i) {
    uint8_t t[4];
    std::memcpy(t, out + 4 * (i - 1), 4);
    if (i % 4 == 0) {
      const uint8_t first = t[0];
      t[0] = uint8_t(sbox[t[1]] ^ rcon);
      t[1] = sbox[t[2]];
      t[2] = sbox[t[3]];
      t[3] = sbox[first];
      rcon = xtime(rcon);
    }
    for (int j = 0; j < 4; ++j) out[4 * i + j] = uint8_t(out[4 * (i - 4) + j] ^ t[j]);
  }
}

void aes128_init(Aes128Context& ctx, const uint8_t key[16]) {
  const SBoxes& boxes = sboxes();
  const RoundTables& t = round_tables();
  std::memcpy(ctx.sbox, boxes.forward, sizeof ctx.sbox);
  std::memcpy(ctx.inv_sbox, boxes.inverse, sizeof ctx.inv_sbox);
  aes128_expand_key(ctx.round_keys, key);
  for (int i = 0; i < 44; ++i) ctx.encrypt_words[i] = load_be32(ctx.round_keys + 4 * i);
  // The equivalent inverse cipher: the round keys in reverse order, those
  // of rounds 1 to 9 put through InvMixColumns (S then the decryption
  // tables, whose inverse S-box undoes it).
  for (int round = 0; round <= 10; ++round) {
    for (int c = 0; c < 4; ++c) {
      const uint32_t w = ctx.encrypt_words[4 * (10 - round) + c];
      uint32_t out = w;
      if (round != 0 && round != 10) {
        out = 0;
        for (int r = 0; r < 4; ++r) out ^= t.decrypt[r][boxes.forward[row(w, r)]];
      }
      ctx.decrypt_words[4 * round + c] = out;
    }
  }
}

void aes128_encrypt_block(const Aes128Context& ctx, uint8_t block[16]) {
  run_rounds(round_tables().encrypt, ctx.sbox, ctx.encrypt_words, 1, block);
}

void aes128_decrypt_block(const Aes128Context& ctx, uint8_t block[16]) {
  run_rounds(round_tables().decrypt, ctx.inv_sbox, ctx.decrypt_words, 3, block);
}

int aes128_cbc(int encrypt, uint8_t* buffer, int length, const uint8_t key[16],
               const uint8_t iv[16]) {
  if (length < 0 || !key || !iv || (!buffer && length > 0)) return -1;
  if (length == 0) return 0;
  Aes128Context ctx;
  aes128_init(ctx, key);

  // A partial tail is padded in place with 80 00 ... to its block's end.
  const int tail = length % 16;
  if (tail != 0) {
    buffer[length] = 0x80;
    std::memset(buffer + length + 1, 0, size_t(15 - tail));
  }
  const size_t blocks = size_t(length / 16) + (tail != 0 ? 1 : 0);

  uint8_t chain[16];
  std::memcpy(chain, iv, 16);
  for (size_t b = 0; b < blocks; ++b) {
    uint8_t* block = buffer + 16 * b;
    if (encrypt) {
      xor_bytes(block, chain, 16);
      aes128_encrypt_block(ctx, block);
      std::memcpy(chain, block, 16);
    } else {
      uint8_t cipher[16];
      std::memcpy(cipher, block, 16);
      aes128_decrypt_block(ctx, block);
      xor_bytes(block, chain, 16);
      std::memcpy(chain, cipher, 16);
    }
  }
  return 0;
}

int aes128_cmac8(uint8_t mac[8], const uint8_t key[16], const uint8_t* message, int length) {
  if (length < 0 || !mac || !key || (!message && length > 0)) return -1;
  Aes128Context ctx;
  aes128_init(ctx, key);

  uint8_t subkey1[16];
  uint8_t subkey2[16];
  uint8_t zero_block[16] = {};
  aes128_encrypt_block(ctx, zero_block);
  double_subkey(zero_block, subkey1);
  double_subkey(subkey1, subkey2);

  // The message is only read; the last block is prepared in a work block.
  const size_t n = size_t(length);
  const bool whole = n != 0 && n % 16 == 0;
  const size_t last_start = whole ? n - 16 : n / 16 * 16;
  uint8_t state[16] = {};
  for (size_t offset = 0; offset < last_start; offset += 16) {
    xor_bytes(state, message + offset, 16);
    aes128_encrypt_block(ctx, state);
  }
  uint8_t last[16] = {};
  const size_t tail = n - last_start;
  if (tail) std::memcpy(last, message + last_start, tail);
  if (whole) {
    xor_bytes(last, subkey1, 16);
  } else {
    last[tail] = 0x80;
    xor_bytes(last, subkey2, 16);
  }
  xor_bytes(state, last, 16);
  aes128_encrypt_block(ctx, state);
  for (int k = 0; k < 8; ++k) mac[k] = state[2 * k + 1];
  return 0;
}
