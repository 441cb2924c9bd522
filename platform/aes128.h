// AES-128 (FIPS 197), CBC (SP 800-38A) in place, and the reader's 8-byte
// CMAC (SP 800-38B tag, bytes 1, 3, ..., 15). No shared state: every call
// works on its own context.
#pragma once

#include <cstdint>

struct Aes128Context {
  uint8_t round_keys[176];
  uint8_t sbox[256];
  uint8_t inv_sbox[256];
  // The round keys as big-endian column words, in cipher order and in the
  // order of the equivalent inverse cipher.
  uint32_t encrypt_words[44];
  uint32_t decrypt_words[44];
};

void aes128_expand_key(uint8_t out[176], const uint8_t key[16]);
void aes128_init(Aes128Context& ctx, const uint8_t key[16]);
void aes128_encrypt_block(const Aes128Context& ctx, uint8_t block[16]);
void aes128_decrypt_block(const Aes128Context& ctx, uint8_t block[16]);

// dst[i] ^= src[i] for i < n; nothing for n <= 0.
void xor_bytes(uint8_t* dst, const uint8_t* src, int n);

// CBC over `length` bytes in place (encrypt != 0 encrypts). A partial last
// block is first padded in place with 80 00..., so the buffer must reach the
// end of that block (16 * ceil(length / 16) bytes). The IV is not changed.
// 0, or -1 (nothing changed) for a negative length, a null key or IV, or a
// null buffer with a positive length.
int aes128_cbc(int encrypt, uint8_t* buffer, int length, const uint8_t key[16],
               const uint8_t iv[16]);

// 8-byte MAC of the message (only read; any length). 0, or -1 for a negative
// length, a null mac or key, or a null message with a positive length.
int aes128_cmac8(uint8_t mac[8], const uint8_t key[16], const uint8_t* message, int length);
