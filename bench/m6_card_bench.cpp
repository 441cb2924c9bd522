// Card transfers through an m6 reader over a pseudo-terminal with DLE
// framing at 115200 baud, tracing off, each beside the bare line carrying
// the same bytes.
//
//   Read24c64            kx_read_24c64 of a whole 8192-byte card (0x55):
//                        43 exchanges of up to 192 bytes. Paced, the reader
//                        holds each reply until the exchange would have
//                        crossed a real line; `ratio` is wall time over that
//                        limit. Unpaced, the host's own cost.
//   BareTurnsOf24c64Read the DLE turns of the same 43 exchanges, the same
//                        sizes each way, a far end answering at once: the
//                        floor of the unpaced read.
// `cpu_ms` / CPU time is the calling thread's; near the wall time it would
// mean a busy wait.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/far_end.h"
#include "bench/pty_reader.h"
#include "connection/com_port.h"
#include "kx_core.h"
#include "sim/m6_memory_front.h"
#include "sim/memory_cards.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int16_t kPort = 9;
constexpr double kBaud = 115200;
constexpr int16_t kCardSize = 8192;
constexpr size_t kChunk = 192;

// A 24C64 card full of 0x55 in the reader's slot.
struct EepromReader {
  explicit EepromReader(bool paced) : reader(paced ? kBaud : 0) {
    if (!reader.openM6(kPort)) return;
    auto front = std::make_shared<M6MemoryFront>();
    front->slot.insert(EepromCard::c24(64)).memory.assign(kCardSize, 0x55);
    reader.m6->model().with([&](M6ReaderModel::State& s) { s.attachments.push_back(front); });
    ready = true;
  }
  PtyReader reader;
  bool ready = false;
};

void Read24c64(benchmark::State& state) {
  const bool paced = state.range(0) != 0;
  EepromReader card(paced);
  if (!card.ready) return state.SkipWithError("no simulated reader");
  const int32_t h = card.reader.handle;
  std::vector<uint8_t> data(kCardSize);
  const auto per = time_runs(state, card.reader, [&] {
    return kx_read_24c64(h, 0, kCardSize, data.data()) == 0 && data[kCardSize - 1] == 0x55;
  });
  if (!per) return;
  const double limit_s = wire_seconds(per->wire_bytes, kBaud);
  state.counters["wire_limit_ms"] = limit_s * 1e3;
  if (paced) state.counters["ratio"] = per->wall_s / limit_s;
}
BENCHMARK(Read24c64)
    ->ArgName("paced")
    ->Arg(1)
    ->Arg(0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

void BareTurnsOf24c64Read(benchmark::State& state) {
  PtyPair pty;
  bool opened = false;
  ComPort port(ParamMap{{"mode", "direct"}, {"name", pty.slavePath()}, {"baud", "115200"}},
               &opened);
  if (!pty.ok() || !opened) return state.SkipWithError("no pseudo-terminal");
  // Per exchange: 02 / 10; [seq B8 03 offset count xor] 10 03 / 10 02;
  // 10 / [seq 00 count data xor] 10 03; 10.
  std::vector<size_t> counts(kCardSize / kChunk, kChunk);
  counts.push_back(kCardSize % kChunk);
  std::vector<FarEnd::Turn> turns;
  for (size_t n : counts)
    turns.insert(turns.end(), {{1, {0x10}}, {9, {0x10, 0x02}}, {1, Bytes(n + 6, 0x55)}, {1, {}}});
  FarEnd far(pty, turns);
  const Bytes command(9, 0x42), one(1, 0x10);
  uint8_t back[kChunk + 6];
  auto turn = [&](const Bytes& out, size_t in) {
    return port.write(out.data(), int32_t(out.size()), 1000) &&
           (in == 0 || port.read(back, int32_t(in), 1000));
  };
  for (auto _ : state) {
    for (size_t n : counts) {
      if (!turn({0x02}, 1) || !turn(command, 2) || !turn(one, n + 6) || !turn(one, 0))
        return state.SkipWithError("turn failed");
    }
  }
}
BENCHMARK(BareTurnsOf24c64Read)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
