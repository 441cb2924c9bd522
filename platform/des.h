// DES (FIPS 46) and two-key triple DES on single 8-byte blocks. Parity bits
// are ignored; out may equal in.
#pragma once

#include <cstdint>

void des_key_schedule(const uint8_t key[8], uint8_t round_keys[16][6]);
void des_encrypt_block(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]);
void des_decrypt_block(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]);
// key = K1 (bytes 0-7) || K2 (8-15): E(K1, D(K2, E(K1, in))) and its inverse.
void tdes_encrypt_block(const uint8_t in[8], const uint8_t key[16], uint8_t out[8]);
void tdes_decrypt_block(const uint8_t in[8], const uint8_t key[16], uint8_t out[8]);
// Encrypts length/8 blocks: mode 0 DES (8-byte key), mode 1 3DES (16-byte
// key). 0, or -1 (nothing done) for another mode, a length that is
// negative or not a multiple of 8, or null pointers with a positive length.
int des_ecb_encrypt(int mode, const uint8_t* in, int length, const uint8_t* key, uint8_t* out);
