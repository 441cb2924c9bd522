// Host cost of m6 operations that do a card's or a display's work on the
// host, over a pseudo-terminal with DLE framing at 115200 baud, tracing off.
//
//   LcdBareRoundTrips   8 bare round trips of 36 bytes out, 6 back: the
//                       line alone, no framing turns.
//   LcdGlyphTurns       the raw DLE turns of 8 glyph commands, 1/1, 41/2,
//                       1/6 and 1 each: the floor of the text below.
//   LcdDisplayText      kx_LcdDisplayText of 8 units from the font file
//                       through the core API, M6Device and DleProtocol, the
//                       simulated reader answering at once.
//                       LcdDisplayText / LcdGlyphTurns is the cost of the
//                       font reads and the layers.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/far_end.h"
#include "bench/pty_reader.h"
#include "kx_core.h"
#include "platform/file_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int16_t kPort = 11;
constexpr int kUnits = 8;
constexpr size_t kGlyphCommand = 36;
// The glyph bytes carry no 0x10, which DLE would send twice.
constexpr uint8_t kGlyphByte = 0x5A;

// A font of units 0-0x7F in a folder of its own, gone with the object.
struct FontFolder {
  FontFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm_font_XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    path = pattern + "/";
    const Bytes font(0x80 * 32, kGlyphByte);
    ok = write_file((path + "unicode.bin").c_str(), font.data(), int(font.size()));
  }
  ~FontFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  std::string path;
  bool ok = false;
};

void LcdBareRoundTrips(benchmark::State& state) {
  BareLine line;
  if (!line.ok) return state.SkipWithError("no pseudo-terminal");
  const Bytes out(kGlyphCommand, kGlyphByte), back(6, 0x00);
  FarEnd far(line.pty, out.size(), back);
  for (auto _ : state)
    for (int i = 0; i < kUnits; ++i)
      if (!turn(*line.port, out, back.size())) return state.SkipWithError("round trip failed");
}
BENCHMARK(LcdBareRoundTrips)->Unit(benchmark::kMicrosecond);

void LcdGlyphTurns(benchmark::State& state) {
  BareLine line;
  if (!line.ok) return state.SkipWithError("no pseudo-terminal");
  // [seq][E0][35][line][column][mode][32 glyph bytes][XOR] 10 03, and the
  // status-only reply [seq][00][00][XOR] 10 03.
  Bytes command = {0x01, 0xE0, 0x23, 0x00, 0x20, 0x07};
  command.insert(command.end(), 32, kGlyphByte);
  uint8_t x = 0;
  for (uint8_t b : command) x ^= b;
  command.insert(command.end(), {x, 0x10, 0x03});
  const Bytes reply = {0x01, 0x00, 0x00, 0x01, 0x10, 0x03};
  FarEnd far(line.pty, {{1, {0x10}}, {command.size(), {0x10, 0x02}}, {1, reply}, {1, {}}});
  for (auto _ : state) {
    for (int i = 0; i < kUnits; ++i)
      if (!turn(*line.port, {0x02}, 1) || !turn(*line.port, command, 2) ||
          !turn(*line.port, {0x10}, reply.size()) || !turn(*line.port, {0x10}, 0))
        return state.SkipWithError("turn failed");
  }
}
BENCHMARK(LcdGlyphTurns)->Unit(benchmark::kMicrosecond);

void LcdDisplayText(benchmark::State& state) {
  FontFolder font;
  PtyReader reader(0);
  if (!font.ok || !reader.openM6(kPort)) return state.SkipWithError("no simulated reader");
  CoreConfigure(KX_CFG_DIRECTORY, const_cast<char*>(font.path.c_str()));
  uint8_t text[2 * kUnits + 2] = {};
  for (int i = 0; i < kUnits; ++i) text[2 * i] = uint8_t('A' + i);
  for (auto _ : state)
    if (kx_LcdDisplayText(reader.handle, 0, 0, 7, 5, text) != 0)
      return state.SkipWithError("text failed");
  CoreConfigure(KX_CFG_DIRECTORY, const_cast<char*>(""));
}
BENCHMARK(LcdDisplayText)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
