// Cost of m6 commands on the host side, over a pseudo-terminal with DLE
// framing at 115200 baud, tracing off.
//
//   PtyRoundTrip        (a1) 7 bytes out, 8 back, a far end answering at
//                       once: the bare line.
//   DleTurnsOfOneRead   (a2) the raw turns of one block read, 1/1, 7/2,
//                       1/23, 1: the floor of one command.
//   KxRead              (b) kx_read through the core API, M6Device and
//                       DleProtocol, the simulated reader answering at once.
//                       KxRead / DleTurnsOfOneRead is the cost of the layers.
//   ReadWhole1kCard     (c) kx_card(0), then per sector kx_authentication and
//                       4 kx_read (keys loaded before timing): 83 exchanges.
//                       Paced, the reader holds each reply until the exchange
//                       would have crossed a real 115200-baud line; `ratio`
//                       is wall time over that limit. Unpaced,
//                       `host_us_per_exchange` is the host's own cost.
// `cpu_ms` / CPU time is the calling thread's; near the wall time it would
// mean a busy wait.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/far_end.h"
#include "bench/pty_reader.h"
#include "kx_core.h"
#include "sim/m6_card_front.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int16_t kPort = 9;
constexpr double kBaud = 115200;

void PtyRoundTrip(benchmark::State& state) {
  BareLine line;
  if (!line.ok) return state.SkipWithError("no pseudo-terminal");
  const Bytes out(7, 0x46), back(8, 0x00);
  FarEnd far(line.pty, out.size(), back);
  for (auto _ : state)
    if (!turn(*line.port, out, back.size())) return state.SkipWithError("round trip failed");
}
BENCHMARK(PtyRoundTrip)->Unit(benchmark::kMicrosecond);

void DleTurnsOfOneRead(benchmark::State& state) {
  BareLine line;
  if (!line.ok) return state.SkipWithError("no pseudo-terminal");
  // The read of block 4 as sequence 8, and its reply: the length 0x10 and
  // the XOR go twice where they are 0x10.
  const Bytes command = {0x08, 0x46, 0x01, 0x04, 0x4B, 0x10, 0x03};
  Bytes reply = {0x08, 0x00, 0x10, 0x10};
  uint8_t x = 0x08 ^ 0x00 ^ 0x10;
  for (uint8_t b = 0x20; b < 0x30; ++b) {
    reply.push_back(b);
    x ^= b;
  }
  reply.push_back(x);
  reply.insert(reply.end(), {0x10, 0x03});
  FarEnd far(line.pty, {{1, {0x10}}, {command.size(), {0x10, 0x02}}, {1, reply}, {1, {}}});
  for (auto _ : state) {
    if (!turn(*line.port, {0x02}, 1) || !turn(*line.port, command, 2) ||
        !turn(*line.port, {0x10}, reply.size()) || !turn(*line.port, {0x10}, 0))
      return state.SkipWithError("turn failed");
  }
}
BENCHMARK(DleTurnsOfOneRead)->Unit(benchmark::kMicrosecond);

// An m6 reader with a 1K card and every sector's key loaded.
struct CardReader {
  explicit CardReader(bool paced) : reader(paced ? kBaud : 0) {
    if (!reader.openM6(kPort)) return;
    auto field = std::make_shared<CardField>();
    field->insert(MifareCard::classic1k({0x11, 0x22, 0x33, 0x44}));
    reader.m6->model().with([&](M6ReaderModel::State& s) {
      s.attachments.push_back(std::make_shared<M6CardFront>(field));
    });
    for (uint8_t s = 0; s < 16; ++s)
      if (kx_load_key_hex(reader.handle, 0, s, "FFFFFFFFFFFF") != 0) return;
    ready = true;
  }
  PtyReader reader;
  bool ready = false;
};

void KxRead(benchmark::State& state) {
  CardReader card(false);
  const int32_t h = card.reader.handle;
  uint32_t snr = 0;
  if (!card.ready || kx_card(h, 0, &snr) != 0 || kx_authentication(h, 0, 1) != 0)
    return state.SkipWithError("no simulated reader");
  uint8_t block[16];
  for (auto _ : state)
    if (kx_read(h, 4, block) != 0) return state.SkipWithError("read failed");
}
BENCHMARK(KxRead)->Unit(benchmark::kMicrosecond);

void ReadWhole1kCard(benchmark::State& state) {
  const bool paced = state.range(0) != 0;
  CardReader card(paced);
  if (!card.ready) return state.SkipWithError("no simulated reader");
  time_whole_1k_card(state, card.reader, paced, kBaud);
}
BENCHMARK(ReadWhole1kCard)
    ->ArgName("paced")
    ->Arg(1)
    ->Arg(0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
