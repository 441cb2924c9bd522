#include "tool/qr_tables.h"

#include <array>

namespace {

struct VersionRow {
  int16_t total;           // codewords of the symbol
  uint8_t ecc[4];          // error-correction codewords per block, L M Q H
  uint8_t blocks[4];       // number of blocks, L M Q H
  uint8_t centres[kQrMaxAlignments];  // alignment-pattern centres, 0 ends the list
};

// Versions 1-40.
constexpr VersionRow kVersions[kQrMaxVersion] = {
    {26, {7, 10, 13, 17}, {1, 1, 1, 1}, {}},
    {44, {10, 16, 22, 28}, {1, 1, 1, 1}, {6, 18}},
    {70, {15, 26, 18, 22}, {1, 1, 2, 2}, {6, 22}},
    {100, {20, 18, 26, 16}, {1, 2, 2, 4}, {6, 26}},
    {134, {26, 24, 18, 22}, {1, 2, 4, 4}, {6, 30}},
    {172, {18, 16, 24, 28}, {2, 4, 4, 4}, {6, 34}},
    {196, {20, 18, 18, 26}, {2, 4, 6, 5}, {6, 22, 38}},
    {242, {24, 22, 22, 26}, {2, 4, 6, 6}, {6, 24, 42}},
    {292, {30, 22, 20, 24}, {2, 5, 8, 8}, {6, 26, 46}},
    {346, {18, 26, 24, 28}, {4, 5, 8, 8}, {6, 28, 50}},
    {404, {20, 30, 28, 24}, {4, 5, 8, 11}, {6, 30, 54}},
    {466, {24, 22, 26, 28}, {4, 8, 10, 11}, {6, 32, 58}},
    {532, {26, 22, 24, 22}, {4, 9, 12, 16}, {6, 34, 62}},
    {581, {30, 24, 20, 24}, {4, 9, 16, 16}, {6, 26, 46, 66}},
    {655, {22, 24, 30, 24}, {6, 10, 12, 18}, {6, 26, 48, 70}},
    {733, {24, 28, 24, 30}, {6, 10, 17, 16}, {6, 26, 50, 74}},
    {815, {28, 28, 28, 28}, {6, 11, 16, 19}, {6, 30, 54, 78}},
    {901, {30, 26, 28, 28}, {6, 13, 18, 21}, {6, 30, 56, 82}},
    {991, {28, 26, 26, 26}, {7, 14, 21, 25}, {6, 30, 58, 86}},
    {1085, {28, 26, 30, 28}, {8, 16, 20, 25}, {6, 34, 62, 90}},
    {1156, {28, 26, 28, 30}, {8, 17, 23, 25}, {6, 28, 50, 72, 94}},
    {1258, {28, 28, 30, 24}, {9, 17, 23, 34}, {6, 26, 50, 74, 98}},
    {1364, {30, 28, 30, 30}, {9, 18, 25, 30}, {6, 30, 54, 78, 102}},
    {1474, {30, 28, 30, 30}, {10, 20, 27, 32}, {6, 28, 54, 80, 106}},
    {1588, {26, 28, 30, 30}, {12, 21, 29, 35}, {6, 32, 58, 84, 110}},
    {1706, {28, 28, 28, 30}, {12, 23, 34, 37}, {6, 30, 58, 86, 114}},
    {1828, {30, 28, 30, 30}, {12, 25, 34, 40}, {6, 34, 62, 90, 118}},
    {1921, {30, 28, 30, 30}, {13, 26, 35, 42}, {6, 26, 50, 74, 98, 122}},
    {2051, {30, 28, 30, 30}, {14, 28, 38, 45}, {6, 30, 54, 78, 102, 126}},
    {2185, {30, 28, 30, 30}, {15, 29, 40, 48}, {6, 26, 52, 78, 104, 130}},
    {2323, {30, 28, 30, 30}, {16, 31, 43, 51}, {6, 30, 56, 82, 108, 134}},
    {2465, {30, 28, 30, 30}, {17, 33, 45, 54}, {6, 34, 60, 86, 112, 138}},
    {2611, {30, 28, 30, 30}, {18, 35, 48, 57}, {6, 30, 58, 86, 114, 142}},
    {2761, {30, 28, 30, 30}, {19, 37, 51, 60}, {6, 34, 62, 90, 118, 146}},
    {2876, {30, 28, 30, 30}, {19, 38, 53, 63}, {6, 30, 54, 78, 102, 126, 150}},
    {3034, {30, 28, 30, 30}, {20, 40, 56, 66}, {6, 24, 50, 76, 102, 128, 154}},
    {3196, {30, 28, 30, 30}, {21, 43, 59, 70}, {6, 28, 54, 80, 106, 132, 158}},
    {3362, {30, 28, 30, 30}, {22, 45, 62, 74}, {6, 32, 58, 84, 110, 136, 162}},
    {3532, {30, 28, 30, 30}, {24, 47, 65, 77}, {6, 26, 54, 82, 110, 138, 166}},
    {3706, {30, 28, 30, 30}, {25, 49, 68, 81}, {6, 30, 58, 86, 114, 142, 170}},
};

// Character-count widths by mode (numeric, alphanumeric, byte, Kanji) and
// version group (1-9, 10-26, 27-40).
constexpr uint8_t kCountBits[4][3] = {{10, 12, 14}, {9, 11, 13}, {8, 16, 16}, {8, 10, 12}};

constexpr char kAlphanumeric[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";

// Byte -> alphanumeric value, -1 outside the set.
constexpr std::array<int8_t, 256> make_alphanumeric_values() {
  std::array<int8_t, 256> values{};
  for (auto& v : values) v = -1;
  for (int i = 0; i < 45; ++i) values[uint8_t(kAlphanumeric[i])] = int8_t(i);
  return values;
}

constexpr std::array<int8_t, 256> kAlphanumericValues = make_alphanumeric_values();

// GF(256) with the primitive polynomial 0x11D and generator 2. The exponent
// table runs twice around so a sum of two logarithms needs no reduction.
struct Field {
  std::array<uint8_t, 512> exp{};
  std::array<uint8_t, 256> log{};
};

constexpr Field make_field() {
  Field f;
  int x = 1;
  for (int i = 0; i < 255; ++i) {
    f.exp[i] = uint8_t(x);
    f.exp[i + 255] = uint8_t(x);
    f.log[x] = uint8_t(i);
    x <<= 1;
    if (x & 0x100) x ^= 0x11D;
  }
  f.exp[510] = f.exp[0];
  f.exp[511] = f.exp[1];
  return f;
}

constexpr Field kField = make_field();

// Generator polynomials (x - 2^0)(x - 2^1)...(x - 2^(d-1)) for every degree
// up to the longest block, coefficients below the leading 1 as logarithms,
// highest first.
struct Generators {
  uint8_t log_coefficients[kQrMaxEccPerBlock + 1][kQrMaxEccPerBlock]{};
};

constexpr Generators make_generators() {
  Generators g;
  for (int degree = 1; degree <= kQrMaxEccPerBlock; ++degree) {
    // Coefficients as field values, poly[0] the leading term.
    uint8_t poly[kQrMaxEccPerBlock + 1] = {1};
    for (int root = 0; root < degree; ++root) {
      const uint8_t alpha = kField.exp[root];
      for (int i = root + 1; i > 0; --i) {
        const uint8_t product =
            poly[i - 1] == 0 ? 0 : kField.exp[kField.log[poly[i - 1]] + kField.log[alpha]];
        poly[i] = uint8_t(poly[i] ^ product);
      }
    }
    for (int i = 0; i < degree; ++i) g.log_coefficients[degree][i] = kField.log[poly[i + 1]];
  }
  return g;
}

constexpr Generators kGenerators = make_generators();

const VersionRow& row(int version) { return kVersions[version - 1]; }

}  // namespace

int qr_total_codewords(int version) { return row(version).total; }

int qr_ecc_per_block(int version, int level) { return row(version).ecc[level]; }

int qr_block_count(int version, int level) { return row(version).blocks[level]; }

int qr_data_codewords(int version, int level) {
  return qr_total_codewords(version) - qr_block_count(version, level) * qr_ecc_per_block(version, level);
}

void qr_block_kinds(int version, int level, QrBlockKind kinds[2]) {
  const int blocks = qr_block_count(version, level);
  const int total = qr_total_codewords(version);
  const int ecc = qr_ecc_per_block(version, level);
  const int longer = total % blocks;
  kinds[0] = {blocks - longer, total / blocks, total / blocks - ecc};
  kinds[1] = {longer, total / blocks + 1, total / blocks + 1 - ecc};
}

int qr_alignment_centres(int version, int centres[kQrMaxAlignments]) {
  int n = 0;
  for (uint8_t c : row(version).centres) {
    if (c == 0) break;
    centres[n++] = c;
  }
  return n;
}

int qr_count_bits(int mode, int version) {
  const int group = version <= 9 ? 0 : version <= 26 ? 1 : 2;
  return kCountBits[mode][group];
}

int qr_alphanumeric_value(uint8_t c) { return kAlphanumericValues[c]; }

void qr_reed_solomon(const uint8_t* data, int data_count, int ecc_count, uint8_t* ecc) {
  const uint8_t* generator = kGenerators.log_coefficients[ecc_count];
  for (int i = 0; i < ecc_count; ++i) ecc[i] = 0;
  // Long division by the generator, the remainder shifted through `ecc`.
  for (int i = 0; i < data_count; ++i) {
    const uint8_t factor = uint8_t(data[i] ^ ecc[0]);
    for (int j = 0; j + 1 < ecc_count; ++j) ecc[j] = ecc[j + 1];
    ecc[ecc_count - 1] = 0;
    if (factor == 0) continue;
    const int log_factor = kField.log[factor];
    for (int j = 0; j < ecc_count; ++j) {
      ecc[j] = uint8_t(ecc[j] ^ kField.exp[generator[j] + log_factor]);
    }
  }
}
