// UTF-16 text on the reader's LCD, one 16x16 glyph command per code unit.
#include <cstring>
#include <string>

#include "family_m6/m6_device.h"
#include "platform/file_helpers.h"
#include "platform/settings.h"

namespace {

constexpr uint8_t kGlyphCommand = 0xE0;
constexpr int kLines = 4;
constexpr int kCells = 8;
constexpr size_t kGlyphSize = 32;
// Lines and cells go as multiples of 16 dots.
constexpr int kCellDots = 16;
constexpr const char* kFontFile = "unicode.bin";

// The units of one text and the glyphs drawn for them.
struct LcdText {
  uint16_t units[kCells];
  uint8_t glyphs[kCells][kGlyphSize];
  int count = 0;
};

static_assert(M6Device::kLcdTextReadBytes == 2 * (kCells + 1));

// Checks where the text goes and reads its units: -1 (refused), 0 (an
// empty text, nothing to draw) or 1 (units to draw). At most one unit past
// the last cell is read.
int read_units(uint8_t line, uint8_t offset, const unsigned char* text, LcdText& out) {
  if (line >= kLines || text == nullptr) return -1;
  int count = 0;
  for (;; ++count) {
    if (count > kCells) return -1;
    const uint16_t unit = uint16_t(text[2 * count] | text[2 * count + 1] << 8);
    if (unit == 0) break;
    if (count < kCells) out.units[count] = unit;
  }
  if (count == 0) return 0;
  if (int(offset) + count > kCells) return -1;
  out.count = count;
  return 1;
}

// One command per glyph; the first failure ends the text.
int16_t draw(M6Device& device, uint8_t line, uint8_t offset, uint8_t mode, const LcdText& text) {
  int16_t result = 0;
  for (int i = 0; i < text.count; ++i) {
    M6Request request(kGlyphCommand);
    request.u8(uint8_t(line * kCellDots))
        .u8(uint8_t((offset + i) * kCellDots))
        .u8(mode)
        .bytes(text.glyphs[i], kGlyphSize);
    result = device.exchange(request, M6Device::kDefaultTimeoutMs, 0);
    if (result < 0) break;
  }
  return result;
}

}  // namespace

int16_t M6Device::LcdDisplayText(int32_t, uint8_t line, uint8_t offset, uint8_t mode, uint8_t,
                                 const unsigned char* text) {
  LcdText units;
  const int found = read_units(line, offset, text, units);
  if (found <= 0) return int16_t(found);
  const RegularFile font((library_directory() + kFontFile).c_str());
  for (int i = 0; i < units.count; ++i)
    if (!font.read_at(uint64_t(units.units[i]) * kGlyphSize, units.glyphs[i], kGlyphSize))
      return -1;
  return draw(*this, line, offset, mode, units);
}

int16_t M6Device::LcdDisplayTextFromData(int32_t, uint8_t line, uint8_t offset, uint8_t mode,
                                         uint8_t, const unsigned char* text,
                                         const unsigned char* data, int32_t data_len) {
  LcdText units;
  const int found = read_units(line, offset, text, units);
  if (found <= 0) return int16_t(found);
  if (data == nullptr || data_len < 0) return -1;
  for (int i = 0; i < units.count; ++i) {
    const size_t at = size_t(units.units[i]) * kGlyphSize;
    if (at + kGlyphSize > size_t(data_len)) return -1;
    std::memcpy(units.glyphs[i], data + at, kGlyphSize);
  }
  return draw(*this, line, offset, mode, units);
}
