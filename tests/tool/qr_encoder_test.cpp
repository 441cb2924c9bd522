#include "tool/qr_encoder.h"

#include <qrcodegen.hpp>

#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_oracle.h"
#include "platform/test_support.h"
#include "tool/bitmap_writers.h"

namespace {

using qrcodegen::QrCode;

QrCode::Ecc ecc_of(int level) {
  static const QrCode::Ecc kLevels[4] = {QrCode::Ecc::LOW, QrCode::Ecc::MEDIUM,
                                         QrCode::Ecc::QUARTILE, QrCode::Ecc::HIGH};
  return kLevels[level];
}

// Our segments as qrcodegen segments over the same text; Kanji characters
// folded to 13 bits here, from the Shift JIS ranges.
std::vector<qrcodegen::QrSegment> oracle_segments(const std::string& text,
                                                  const std::vector<QrSegment>& ours) {
  std::vector<qrcodegen::QrSegment> out;
  size_t at = 0;
  for (const QrSegment& s : ours) {
    const std::string piece = text.substr(at, size_t(s.length));
    at += size_t(s.length);
    switch (s.mode) {
      case kQrNumeric:
        out.push_back(qrcodegen::QrSegment::makeNumeric(piece.c_str()));
        break;
      case kQrAlphanumeric:
        out.push_back(qrcodegen::QrSegment::makeAlphanumeric(piece.c_str()));
        break;
      case kQrByte:
        out.push_back(qrcodegen::QrSegment::makeBytes(std::vector<uint8_t>(piece.begin(), piece.end())));
        break;
      default: {
        std::vector<bool> bits;
        for (size_t i = 0; i + 1 < piece.size(); i += 2) {
          const int code = uint8_t(piece[i]) << 8 | uint8_t(piece[i + 1]);
          const int offset = code - (code >= 0xC140 ? 0xC140 : 0x8140);
          const int folded = (offset >> 8) * 0xC0 + (offset & 0xFF);
          for (int b = 12; b >= 0; --b) bits.push_back((folded >> b) & 1);
        }
        out.emplace_back(qrcodegen::QrSegment::Mode::KANJI, int(piece.size() / 2), bits);
      }
    }
  }
  return out;
}

int differing_modules(const QrSymbol& ours, const QrCode& theirs) {
  if (theirs.getSize() != ours.size) return -1;
  int differ = 0;
  for (int y = 0; y < ours.size; ++y) {
    for (int x = 0; x < ours.size; ++x) differ += theirs.getModule(x, y) != ours.module(x, y);
  }
  return differ;
}

// The encoder's last symbol equals qrcodegen's for the same segments,
// version and mask, and for the same data codewords.
void expect_matches_qrcodegen(const QrEncoder& encoder, const std::string& text, const std::string& what) {
  const QrCode::Ecc ecc = ecc_of(encoder.level());
  const QrCode from_segments = QrCode::encodeSegments(oracle_segments(text, encoder.segments()), ecc,
                                                      encoder.version(), encoder.version(),
                                                      encoder.mask(), false);
  EXPECT_EQ(0, differing_modules(encoder.symbol(), from_segments)) << what;
  const QrCode from_codewords(encoder.version(), ecc, encoder.data_codewords(), encoder.mask());
  EXPECT_EQ(0, differing_modules(encoder.symbol(), from_codewords)) << what;
}

std::string random_text(std::mt19937& rng, const std::string& alphabet, size_t n) {
  std::string text(n, ' ');
  for (char& c : text) c = alphabet[rng() % alphabet.size()];
  return text;
}

const std::string kLower = "abcdefghijklmnopqrstuvwxyz";
const std::string kAlphaNoDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";
const std::string kDigits = "0123456789";

// Most bytes of a byte-mode text that `version` holds at `level`.
int byte_capacity(int version, int level) {
  const int count_bits = version <= 9 ? 8 : 16;
  return (qr_data_codewords(version, level) * 8 - 4 - count_bits) / 8;
}

std::string encoder_text(const QrEncoder& e) {
  return std::to_string(e.version()) + "-" + "LMQH"[e.level()] + " mask " + std::to_string(e.mask());
}

}  // namespace

TEST(QrEncoder, EveryVersionAndLevelMatchesQrcodegen) {
  std::mt19937 rng(18);
  std::set<int> masks;
  QrEncoder encoder;
  for (int version = 1; version <= 40; ++version) {
    for (int level = 0; level < 4; ++level) {
      // About 90 % full, and more than the version below holds.
      int n = byte_capacity(version, level) * 9 / 10;
      if (version > 1) n = std::max(n, byte_capacity(version - 1, level) + 1);
      const std::string text = random_text(rng, kLower, size_t(n));
      ASSERT_TRUE(encoder.encode(level, text.c_str()));
      ASSERT_EQ(version, encoder.version()) << n << " bytes at level " << level;
      ASSERT_EQ(1u, encoder.segments().size());
      expect_matches_qrcodegen(encoder, text, encoder_text(encoder));
      masks.insert(encoder.mask());
    }
  }
  EXPECT_EQ(8u, masks.size());
}

TEST(QrEncoder, MixedTextsMatchQrcodegen) {
  std::mt19937 rng(1807);
  QrEncoder encoder;
  std::set<int> modes;
  for (int round = 0; round < 40; ++round) {
    std::string text;
    const size_t target = 5 + rng() % 1500;
    while (text.size() < target) {
      switch (rng() % 5) {
        case 0: text += random_text(rng, kDigits, 1 + rng() % 30); break;
        case 1: text += random_text(rng, kAlphaNoDigits, 1 + rng() % 20); break;
        case 2: text += random_text(rng, kLower, 1 + rng() % 12); break;
        case 3:
          for (size_t k = 1 + rng() % 12; k > 0; --k) text += char(1 + rng() % 255);
          break;
        default:
          for (size_t k = 1 + rng() % 8; k > 0; --k) {
            // Shift JIS pairs from both Kanji ranges.
            const bool high = rng() % 2;
            text += char(high ? 0xE0 + rng() % 11 : 0x81 + rng() % 31);
            text += char(0x40 + rng() % 0x80);
          }
      }
    }
    const int level = int(rng() % 4);
    ASSERT_TRUE(encoder.encode(level, text.c_str())) << text.size();
    for (const QrSegment& s : encoder.segments()) modes.insert(s.mode);
    expect_matches_qrcodegen(encoder, text, encoder_text(encoder) + ", " + std::to_string(text.size()) + " bytes");
  }
  EXPECT_EQ(4u, modes.size());
}

struct WorkedText {
  const char* text;
  std::vector<std::pair<int, int>> segments;  // mode, bytes
  int bits;
};

class QrSegments : public ::testing::TestWithParam<WorkedText> {};

TEST_P(QrSegments, SplitAndCostAsWorked) {
  const WorkedText& w = GetParam();
  QrEncoder encoder;
  ASSERT_TRUE(encoder.encode(0, w.text));
  std::vector<std::pair<int, int>> got;
  for (const QrSegment& s : encoder.segments()) got.emplace_back(s.mode, s.length);
  EXPECT_EQ(w.segments, got);
  EXPECT_EQ(w.bits, encoder.stream_bits());
  EXPECT_EQ(1, encoder.version());
  EXPECT_EQ(21, encoder.size());
  expect_matches_qrcodegen(encoder, w.text, w.text);
}

INSTANTIATE_TEST_SUITE_P(
    Worked, QrSegments,
    ::testing::Values(WorkedText{"AB12345678901234567890", {{kQrAlphanumeric, 2}, {kQrNumeric, 20}}, 105},
                      WorkedText{"AB1C", {{kQrAlphanumeric, 4}}, 35},
                      WorkedText{"ab12cd", {{kQrByte, 6}}, 60},
                      WorkedText{"\x93\x5F\xE4\xAA", {{kQrKanji, 4}}, 38},
                      WorkedText{"12345678901234567", {{kQrNumeric, 17}}, 71},
                      // Not Kanji: a second byte below 0x40, 0x9F before 0xFD,
                      // 0xEB before 0xC0.
                      WorkedText{"\x81\x3F", {{kQrByte, 2}}, 28},
                      WorkedText{"\x9F\xFD\xEB\xC0", {{kQrByte, 4}}, 44}));

TEST(QrEncoder, KanjiFoldsShiftJisTo13Bits) {
  QrEncoder encoder;
  ASSERT_TRUE(encoder.encode(0, "\x93\x5F\xE4\xAA"));
  // 1000, count 2 in 8 bits, 0xD9F, 0x1AAA: 38 bits.
  const uint64_t expected = uint64_t(0x8) << 34 | uint64_t(2) << 26 | uint64_t(0xD9F) << 13 | 0x1AAA;
  uint64_t stream = 0;
  for (int i = 0; i < 5; ++i) stream = stream << 8 | encoder.data_codewords()[size_t(i)];
  EXPECT_EQ(expected, stream >> 2);
}

struct Limit {
  int level;
  const std::string* alphabet;
  size_t fits;
};

class QrLimits : public ::testing::TestWithParam<Limit> {};

TEST_P(QrLimits, LongestTextDecodesAndOneMoreFails) {
  const Limit& limit = GetParam();
  TempDir dir;
  std::mt19937 rng(uint32_t(limit.fits));
  const std::string text = random_text(rng, *limit.alphabet, limit.fits);
  const std::string bmp = dir.file("fit.bmp");
  ASSERT_EQ(0, WriteQrBitmap(bmp.c_str(), text.c_str(), 1, limit.level));
  Picture picture;
  ASSERT_EQ("", parse_bmp(read_text(bmp), picture));
  EXPECT_EQ(2 * 177, picture.width);
  EXPECT_EQ(text, zbar_decode(picture, 8, dir.file("fit.pgm")));

  const std::string over = text + (*limit.alphabet)[0];
  EXPECT_EQ(-1, WriteQrBitmap(dir.file("over.bmp").c_str(), over.c_str(), 1, limit.level));
  EXPECT_FALSE(std::filesystem::exists(dir.file("over.bmp")));
}

INSTANTIATE_TEST_SUITE_P(Version40, QrLimits,
                         ::testing::Values(Limit{0, &kDigits, 7089}, Limit{0, &kAlphaNoDigits, 4296},
                                           Limit{0, &kLower, 2953}, Limit{3, &kDigits, 3057},
                                           Limit{3, &kAlphaNoDigits, 1852}, Limit{3, &kLower, 1273}));

TEST(QrEncoder, RefusesBadInputAndKeepsTheLastSymbol) {
  QrEncoder encoder;
  ASSERT_TRUE(encoder.encode(2, "KEEP ME"));
  const QrSymbol kept = encoder.symbol();
  const int version = encoder.version();
  const std::string digits_over(7090, '7');
  const std::string long_bytes(9000, 'x');
  EXPECT_FALSE(encoder.encode(0, ""));
  EXPECT_FALSE(encoder.encode(0, nullptr));
  EXPECT_FALSE(encoder.encode(-1, "A"));
  EXPECT_FALSE(encoder.encode(4, "A"));
  EXPECT_FALSE(encoder.encode(0, "A", 8));
  EXPECT_FALSE(encoder.encode(0, "A", -2));
  EXPECT_FALSE(encoder.encode(0, digits_over.c_str()));
  EXPECT_FALSE(encoder.encode(0, long_bytes.c_str()));
  EXPECT_EQ(2, encoder.level());
  EXPECT_EQ(version, encoder.version());
  EXPECT_EQ(kept.dark, encoder.symbol().dark);
  // Longer than version 40's data bytes, yet digits: fits.
  const std::string digits(3000, '1');
  EXPECT_TRUE(encoder.encode(0, digits.c_str()));
}

struct Decoded {
  const char* name;
  std::string text;
  int level;
  int min_version;
};

class QrZbar : public ::testing::TestWithParam<Decoded> {};

TEST_P(QrZbar, BitmapDecodesToTheSameBytes) {
  const Decoded& d = GetParam();
  TempDir dir;
  QrEncoder encoder;
  ASSERT_TRUE(encoder.encode(d.level, d.text.c_str()));
  EXPECT_LE(d.min_version, encoder.version());
  const std::string bmp = dir.file("code.bmp");
  ASSERT_EQ(0, WriteQrBitmap(bmp.c_str(), d.text.c_str(), 2, d.level));
  Picture picture;
  ASSERT_EQ("", parse_bmp(read_text(bmp), picture));
  EXPECT_EQ(d.text, zbar_decode(picture, 4 * 4, dir.file("code.pgm")));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QrZbar,
    ::testing::Values(Decoded{"Version1", "HELLO WORLD", 0, 1},
                      Decoded{"Mixed", "AB12345678901234567890", 1, 1},
                      Decoded{"Numeric", "3141592653589793238462643383279", 3, 2},
                      Decoded{"Version7", std::string(140, 'q'), 0, 7},
                      Decoded{"Kanji", "\x93\xFA\x96\x7B\x8C\xEA\x93\x5F\xE4\xAA", 2, 1},
                      Decoded{"GbkPair", "\x81\x40", 0, 1},
                      Decoded{"Utf8Bytes", "h\xC3\xA9llo w\xC3\xB6rld", 1, 1},
                      Decoded{"Url", "https://example.com/device?id=A09ABDA0C2BE18B571D7&x=1", 3, 4},
                      Decoded{"Version14",
                              "Tel +86 10 12345678 / " + std::string(300, 'k') + " 0123456789", 1, 13}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Penalties --------------------------------------------------------------

namespace {

QrSymbol symbol_of(int size, const std::vector<std::string>& rows) {
  QrSymbol s;
  s.size = size;
  s.dark.assign(size_t(size) * size_t(size), 0);
  for (size_t y = 0; y < rows.size(); ++y) {
    for (size_t x = 0; x < rows[y].size(); ++x) s.dark[y * size_t(size) + x] = rows[y][x] == '1';
  }
  return s;
}

QrSymbol transposed(const QrSymbol& s) {
  QrSymbol t = s;
  for (int y = 0; y < s.size; ++y) {
    for (int x = 0; x < s.size; ++x) t.dark[size_t(x) * size_t(s.size) + size_t(y)] = s.module(x, y);
  }
  return t;
}

// The rules straight from their wording, window by window.
QrPenalty penalty_by_windows(const QrSymbol& s) {
  const int n = s.size;
  QrPenalty p;
  auto line = [&](int i, bool row) {
    std::vector<bool> v(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) v[size_t(k)] = row ? s.module(k, i) : s.module(i, k);
    return v;
  };
  for (int i = 0; i < n; ++i) {
    for (bool row : {true, false}) {
      const std::vector<bool> v = line(i, row);
      for (int start = 0; start < n;) {
        int end = start;
        while (end < n && v[size_t(end)] == v[size_t(start)]) ++end;
        if (end - start >= 5) p.runs += end - start - 2;
        start = end;
      }
      static const bool kPattern[7] = {true, false, true, true, true, false, true};
      for (int at = 0; at + 7 <= n; ++at) {
        bool match = true;
        for (int k = 0; k < 7; ++k) match = match && v[size_t(at + k)] == kPattern[k];
        if (!match) continue;
        bool before = at >= 4;
        for (int k = at - 4; before && k < at; ++k) before = !v[size_t(k)];
        bool after = at + 11 <= n;
        for (int k = at + 7; after && k < at + 11; ++k) after = !v[size_t(k)];
        if (before || after) p.finders += 40;
      }
    }
  }
  int light = 0;
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      light += !s.module(x, y);
      if (x + 1 < n && y + 1 < n && s.module(x, y) == s.module(x + 1, y) &&
          s.module(x, y) == s.module(x, y + 1) && s.module(x, y) == s.module(x + 1, y + 1)) {
        p.blocks += 3;
      }
    }
  }
  p.balance = std::abs(50 - light * 100 / (n * n)) / 5 * 10;
  return p;
}

void expect_penalty(const QrPenalty& want, const QrPenalty& got, const std::string& what) {
  EXPECT_EQ(want.runs, got.runs) << what;
  EXPECT_EQ(want.blocks, got.blocks) << what;
  EXPECT_EQ(want.finders, got.finders) << what;
  EXPECT_EQ(want.balance, got.balance) << what;
}

}  // namespace

TEST(QrMask, WorkedPenalties) {
  QrSymbol light;
  light.size = 21;
  light.dark.assign(21 * 21, 0);
  QrPenalty want;
  want.runs = 798;
  want.blocks = 1200;
  want.balance = 100;
  expect_penalty(want, qr_penalty(light), "all light");
  QrSymbol checker = light;
  for (int y = 0; y < 21; ++y) {
    for (int x = 0; x < 21; ++x) checker.dark[size_t(y * 21 + x)] = (x + y) % 2;
  }
  expect_penalty(QrPenalty{}, qr_penalty(checker), "checkerboard");
}

TEST(QrMask, PenaltiesAgreeWithWindowCountsOnRandomMatrices) {
  std::mt19937 rng(7);
  for (int size : {21, 25, 61, 65, 69, 129, 133, 177}) {
    for (int density : {2, 3, 5}) {
      QrSymbol s;
      s.size = size;
      s.dark.resize(size_t(size) * size_t(size));
      for (auto& m : s.dark) m = rng() % density == 0;
      // Finder-like rows and columns that cross the 64-module words.
      for (int at : {0, 57, 60, 63, 64, 120, 126, size - 11}) {
        if (at < 0 || at + 11 > size) continue;
        const char* pattern = "00001011101";
        for (int k = 0; k < 11; ++k) {
          s.dark[size_t(at / 2) * size_t(size) + size_t(at + k)] = pattern[k] == '1';
          s.dark[size_t(at + k) * size_t(size) + size_t(size - 1 - at / 3)] = pattern[10 - k] == '1';
        }
      }
      expect_penalty(penalty_by_windows(s), qr_penalty(s), std::to_string(size) + "/" + std::to_string(density));
    }
  }
}

struct FinderRow {
  const char* row;  // row 10 of a light 21 x 21 matrix
  int score;
};

class QrFinderRule : public ::testing::TestWithParam<FinderRow> {};

TEST_P(QrFinderRule, CountsOnlyLightModulesInsideTheSymbol) {
  std::vector<std::string> rows(11);
  rows[10] = GetParam().row;
  const QrSymbol s = symbol_of(21, rows);
  EXPECT_EQ(GetParam().score, qr_penalty(s).finders);
  EXPECT_EQ(GetParam().score, qr_penalty(transposed(s)).finders);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QrFinderRule,
    ::testing::Values(FinderRow{"101110111", 0},              // at the edge, dark two after
                      FinderRow{"1011101", 40},               // at the edge, light after
                      FinderRow{"10111010001", 0},            // three light, then dark
                      FinderRow{"100010111011", 0},           // three light before
                      FinderRow{"1000010111011", 40},         // four light before
                      FinderRow{"111111111100001011101", 40}));  // the same at the right edge

TEST(QrMask, ChoosesTheLowestPenaltyAndTheLowerMaskOnTies) {
  QrEncoder encoder;
  for (const char* text : {"A", "HELLO WORLD", "0000000000", "https://example.com/a?b=c", "\x81\x40\x81\x40"}) {
    for (int level = 0; level < 4; ++level) {
      ASSERT_TRUE(encoder.encode(level, text));
      const int chosen = encoder.mask();
      int scores[8];
      for (int m = 0; m < 8; ++m) {
        ASSERT_TRUE(encoder.encode(level, text, m));
        scores[m] = qr_penalty(encoder.symbol()).total();
      }
      for (int m = 0; m < 8; ++m) {
        if (m < chosen) {
          EXPECT_GT(scores[m], scores[chosen]) << text << " mask " << m;
        } else {
          EXPECT_GE(scores[m], scores[chosen]) << text << " mask " << m;
        }
      }
    }
  }
}
