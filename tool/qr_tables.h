// Fixed values of QR code model 2: capacities, error-correction blocks,
// alignment patterns, character-count lengths and GF(256) arithmetic.
// Levels are 0-3 for L, M, Q and H; versions 1-40.
#pragma once

#include <cstdint>

constexpr int kQrMinVersion = 1;
constexpr int kQrMaxVersion = 40;
constexpr int kQrMaxSize = 4 * kQrMaxVersion + 17;
constexpr int kQrMaxAlignments = 7;
// The longest error-correction block of any version and level.
constexpr int kQrMaxEccPerBlock = 30;

constexpr int qr_size(int version) { return 4 * version + 17; }

// All codewords of a symbol (data and error correction).
int qr_total_codewords(int version);
int qr_data_codewords(int version, int level);
int qr_ecc_per_block(int version, int level);
int qr_block_count(int version, int level);

// One kind of Reed-Solomon block: `count` blocks of `total` codewords, of
// which `data` carry data.
struct QrBlockKind {
  int count;
  int total;
  int data;
};
// The shorter blocks, then those with one data codeword more (count 0
// where all blocks are alike).
void qr_block_kinds(int version, int level, QrBlockKind kinds[2]);

// Row (and column) coordinates of the alignment-pattern centres; their
// number, 0 for version 1.
int qr_alignment_centres(int version, int centres[kQrMaxAlignments]);

// Width of the character count of a mode (0 numeric, 1 alphanumeric,
// 2 byte, 3 Kanji) in the version's group 1-9, 10-26 or 27-40.
int qr_count_bits(int mode, int version);

// 0-44 for a character of the alphanumeric set, -1 for any other byte.
int qr_alphanumeric_value(uint8_t c);

// Error-correction codewords of one block: `ecc_count` (at most
// kQrMaxEccPerBlock) remainder codewords of `data` divided by the generator
// polynomial of that degree over GF(256) with x^8+x^4+x^3+x^2+1.
void qr_reed_solomon(const uint8_t* data, int data_count, int ecc_count, uint8_t* ecc);
