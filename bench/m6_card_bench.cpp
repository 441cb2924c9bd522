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
//   CommandLinkExt       kx_pro_commandlinkEXT of a 1024-byte command, frame
//                        size 64, answered with 1024 bytes that the card
//                        chains at 60 a block: 18 I-blocks out, 17 answer
//                        blocks acknowledged, 35 card-frame exchanges,
//                        unpaced.
//   BareTurnsOfCommandLinkExt
//                        the DLE turns of the same 35 exchanges: its floor.
//   PurgesOfCommandLinkExt
//                        the 35 purges of the port that the exchanges make
//                        before each command, alone.
// `cpu_ms` / CPU time is the calling thread's; near the wall time it would
// mean a busy wait.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/far_end.h"
#include "bench/pty_reader.h"
#include "connection/com_port.h"
#include "connection/m6_frame_limits.h"
#include "kx_core.h"
#include "sim/iso14443_4_picc.h"
#include "sim/iso7816_card.h"
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

// --- a linked exchange with a processor card ---

constexpr int16_t kLinkPort = 10;
constexpr size_t kLinkLength = 1024;
constexpr size_t kBlockInf = 60;

// The payloads of the 35 card-frame exchanges, [86][t][n][PCB CID INF] out
// and [00][n][PCB CID INF] back: 17 chained blocks of 60 bytes and a last
// of 4, each acknowledged, then the answer the same way, each acknowledged.
std::vector<std::pair<size_t, size_t>> link_payloads() {
  const size_t full = kLinkLength / kBlockInf, rest = kLinkLength % kBlockInf;
  std::vector<std::pair<size_t, size_t>> sizes(full, {5 + kBlockInf, 4});
  sizes.push_back({5 + rest, 4 + kBlockInf});
  sizes.insert(sizes.end(), full - 1, {5, 4 + kBlockInf});
  sizes.push_back({5, 4 + rest});
  return sizes;
}

void CommandLinkExt(benchmark::State& state) {
  PtyReader reader(0);
  if (!reader.openM6(kLinkPort)) return state.SkipWithError("no simulated reader");
  auto picc = std::make_shared<Iso14443_4Picc>(std::make_shared<Iso7816Card>(), kBlockInf);
  reader.m6->model().with([&](M6ReaderModel::State& s) {
    s.attachments.push_back(std::make_shared<M6PiccFront>(picc));
  });
  uint8_t ats_length = 0;
  Bytes command(kLinkLength), answer(kLinkLength + 2), ats(256);
  for (size_t i = 0; i < command.size(); ++i) command[i] = uint8_t(0x20 + i % 0x50);
  command[0] = 0x80;  // the card's echo command
  command[1] = 0xEE;
  if (kx_pro_reset(reader.handle, &ats_length, ats.data()) != 0)
    return state.SkipWithError("no card");
  time_runs(state, reader, [&] {
    int32_t length = 0;
    return kx_pro_commandlinkEXT(reader.handle, int32_t(command.size()), command.data(), &length,
                                 answer.data(), 7, 64) == 0 &&
           size_t(length) == kLinkLength;
  });
}
BENCHMARK(CommandLinkExt)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BareTurnsOfCommandLinkExt(benchmark::State& state) {
  PtyPair pty;
  bool opened = false;
  ComPort port(ParamMap{{"mode", "direct"}, {"name", pty.slavePath()}, {"baud", "115200"}},
               &opened);
  if (!pty.ok() || !opened) return state.SkipWithError("no pseudo-terminal");
  // A payload of n bytes is a DLE frame of n + 5.
  const auto sizes = link_payloads();
  std::vector<FarEnd::Turn> turns;
  for (auto [out, back] : sizes)
    turns.insert(turns.end(), {{1, {0x10}}, {out + 5, {0x10, 0x02}}, {1, Bytes(back + 5, 0x33)},
                               {1, {}}});
  FarEnd far(pty, turns);
  const Bytes frame(kM6FrameCommandMax + 5, 0x42), one(1, 0x10);
  uint8_t back[kM6FrameCommandMax + 5];
  auto turn = [&](const uint8_t* out, size_t n, size_t in) {
    return port.write(out, int32_t(n), 1000) && (in == 0 || port.read(back, int32_t(in), 1000));
  };
  const uint8_t stx = 0x02;
  for (auto _ : state) {
    for (auto [out, in] : sizes) {
      if (!turn(&stx, 1, 1) || !turn(frame.data(), out + 5, 2) || !turn(one.data(), 1, in + 5) ||
          !turn(one.data(), 1, 0))
        return state.SkipWithError("turn failed");
    }
  }
}
BENCHMARK(BareTurnsOfCommandLinkExt)->UseRealTime()->Unit(benchmark::kMicrosecond);

void PurgesOfCommandLinkExt(benchmark::State& state) {
  PtyPair pty;
  bool opened = false;
  ComPort port(ParamMap{{"mode", "direct"}, {"name", pty.slavePath()}, {"baud", "115200"}},
               &opened);
  if (!pty.ok() || !opened) return state.SkipWithError("no pseudo-terminal");
  const size_t exchanges = link_payloads().size();
  const uint8_t ack = 0x10;
  for (auto _ : state) {
    for (size_t i = 0; i < exchanges; ++i) {
      // As after each reply: the acknowledgement written, then the purge.
      port.write(&ack, 1, 1000);
      port.purge();
    }
  }
}
BENCHMARK(PurgesOfCommandLinkExt)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
