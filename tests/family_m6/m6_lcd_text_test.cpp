// UTF-16 text on the LCD of an m6 reader, drawn from a synthetic font file
// (glyphs of units 0-0x7F) or from the caller's font data.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_helpers.h"
#include "platform/settings.h"
#include "platform/test_support.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;

Bytes glyph(uint16_t unit) { return wire_pattern(32, uint8_t(unit * 3 + 1)); }

// The font of units 0-0x7F, and a sparse one of the whole 16-bit range.
struct Fonts {
  Fonts() {
    Bytes font;
    for (uint16_t u = 0; u < 0x80; ++u) {
      const Bytes g = glyph(u);
      font.insert(font.end(), g.begin(), g.end());
    }
    write_file(small.file("unicode.bin").c_str(), font.data(), int(font.size()));
    write_file(whole.file("unicode.bin").c_str(), nullptr, 0);
    if (truncate(whole.file("unicode.bin").c_str(), 0x10000 * 32) != 0) ADD_FAILURE();
  }
  TempDir small, whole;
};
const Fonts& fonts() {
  static const Fonts instance;
  return instance;
}

// The units little-endian from an odd address, with a 0 unit after them.
Row::Call draw(uint8_t line, uint8_t offset, std::vector<uint16_t> units,
               const std::string& directory = fonts().small.path() + "/") {
  return [=](Call& c) {
    set_library_directory(directory);
    Bytes text(1 + 2 * units.size() + 2, 0);
    for (size_t i = 0; i < units.size(); ++i) {
      text[1 + 2 * i] = uint8_t(units[i]);
      text[2 + 2 * i] = uint8_t(units[i] >> 8);
    }
    return c.d.LcdDisplayText(kIcdev, line, offset, 7, 5, text.data() + 1);
  };
}
// Unit `unit` from a caller's font of 0x42 glyphs, handed over as `length` bytes.
Row::Call from_data(uint8_t unit, int32_t length) {
  return [=](Call& c) {
    const Bytes font(0x42 * 32, 0x5A);
    const uint8_t text[] = {unit, 0, 0, 0};
    return c.d.LcdDisplayTextFromData(kIcdev, 2, 1, 7, 0, text, font.data(), length);
  };
}
WireBytes command(uint8_t line, uint8_t column, uint16_t unit) {
  return {Bytes{0xE0, line, column, 0x07}, glyph(unit)};
}

const Row kRows[] = {
    Row("two_units_at_the_end_of_line_3", draw(3, 6, {0x41, 0x7F}))
        .sends(command(0x30, 0x60, 0x41), 5000).sends(command(0x30, 0x70, 0x7F)).gives(0),
    Row("two_units_past_the_last_cell", draw(3, 7, {0x41, 0x7F})).gives(-1),
    Row("offset_255", draw(0, 255, {0x41})).gives(-1),
    Row("line_4_whatever_the_text", draw(4, 0, {})).gives(-1),
    Row("empty_text_reads_no_file", draw(0, 0, {}, "/nonexistent/")).gives(0),
    Row("missing_font", draw(0, 0, {0x41}, "/nonexistent/")).gives(-1),
    Row("unit_beyond_the_font", draw(0, 0, {0x41, 0x80})).gives(-1),
    Row("whole_font_file", draw(0, 0, {0xFFFF}, fonts().whole.path() + "/"))
        .sends({"E0 00 00 07", Bytes(32, 0)}).gives(0),
    Row("second_glyph_refused", draw(1, 0, {1, 2, 3})).sends(command(0x10, 0x00, 1))
        .sends(command(0x10, 0x10, 2)).answer("05").gives(-2).status(5),
    Row("nine_units_without_a_terminator",
        [](Call& c) {
          std::unique_ptr<uint8_t[]> text(new uint8_t[18]);
          std::fill(text.get(), text.get() + 18, 0x41);
          return c.d.LcdDisplayText(kIcdev, 0, 0, 0, 0, text.get());
        }).gives(-1),
    Row("caller_font", from_data(0x41, 0x42 * 32)).sends({"E0 20 10 07", Bytes(32, 0x5A)}).gives(0),
    Row("unit_beyond_the_caller_font", from_data(0x42, 0x42 * 32)).gives(-1),
    Row("caller_font_of_negative_length", from_data(0x41, -1)).gives(-1),
};
WIRE_TABLE(M6LcdText, M6MemoryReader, kRows);

}  // namespace
