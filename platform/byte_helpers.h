// Byte order, hexadecimal text, check bytes and base64.
#pragma once

#include <cstdint>

bool host_is_big_endian();
bool host_is_little_endian();
// Low 16 bits with their bytes exchanged.
uint16_t swap16(uint32_t value);
uint32_t swap32(uint32_t value);
// Writes a value's bytes most significant first.
inline void store_be16(uint16_t value, uint8_t* out) {
  out[0] = uint8_t(value >> 8);
  out[1] = uint8_t(value);
}
inline void store_be32(uint32_t value, uint8_t* out) {
  for (int i = 0; i < 4; ++i) out[i] = uint8_t(value >> (24 - 8 * i));
}

// Converts up to text_length hex characters (either case) to bytes, two a
// byte, stopping at the first non-hex character (a NUL included) without
// reading past it. Returns the bytes written; -1 for a negative or odd
// length or a null pointer with a positive length. `out` may equal `text`.
int hex_to_bytes(const char* text, int text_length, uint8_t* out);

// Writes 2*length upper-case hex characters (no NUL) and returns 2*length;
// 0 for length 0; -1 (nothing written) for a negative length, a length over
// INT_MAX/2 or null pointers. `out` may overlap `data`.
int bytes_to_hex(const uint8_t* data, int length, char* out);

// XOR / sum (mod 256) of n bytes; 0 when n < 1.
uint8_t xor_checksum(const uint8_t* data, int n);
uint8_t sum_checksum(const uint8_t* data, int n);
// CRC-16/IBM-3740 (poly 0x1021, init 0xFFFF); 0xFFFF when n < 1.
uint16_t crc16_ccitt(const uint8_t* data, int n);
// CRC-16/UMTS (also called BUYPASS: poly 0x8005, init 0, not reflected, no
// final XOR), the scanner module's data-block check; 0 when n < 1.
uint16_t crc16_umts(const uint8_t* data, int n);

// Standard base64 with padding into a malloc'd, NUL-terminated buffer stored
// in *out_text (the caller frees it). Returns the text length, or -1 with
// *out_text unchanged for a negative length, null pointers, a text over
// INT_MAX or a failed allocation.
int base64_encode(const uint8_t* data, int length, char** out_text);
// Position 0-63 in the alphabet, -1 when absent.
int base64_index(char c);
