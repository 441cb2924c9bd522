// A whole 1K card read through the core API, over a pseudo-terminal at
// 115200 baud with tracing off. One iteration: kx_card(0), then for each of
// the 16 sectors kx_authentication(0, s) and kx_read of its 4 blocks. That is
// 100 exchanges; the simulated reader counts the framed bytes both ways
// (3459 when every reply carries a 3-byte status), 300.3 ms at 10 bits a
// byte.
//
//   Paced     the reader holds each reply back until the request and the
//             reply would have crossed a real 115200-baud line; `ratio` is
//             wall time over the wire limit.
//   Unpaced   replies go out at once; `host_us_per_exchange` is the host's
//             own cost of one command.
// `cpu_ms` is the calling thread's CPU time per iteration; close to the
// wall time it would mean a busy wait in the read path.
#include <benchmark/benchmark.h>

#include "bench/pty_reader.h"
#include "kx_core.h"
#include "sim/card_field.h"

namespace {

constexpr int16_t kPort = 7;
constexpr double kBaud = 115200;

// The card sits in the field before the reader opens.
struct BenchReader {
  explicit BenchReader(bool paced) : reader(paced ? kBaud : 0) {
    field.attach(reader.model);
    field.insert(MifareCard::classic1k({0x11, 0x22, 0x33, 0x44}));
    open = reader.open(kPort);
  }
  CardField field;
  PtyReader reader;
  bool open = false;
};

void ReadWhole1kCard(benchmark::State& state) {
  const bool paced = state.range(0) != 0;
  BenchReader bench(paced);
  if (!bench.open) {
    state.SkipWithError("no simulated reader");
    return;
  }
  time_whole_1k_card(state, bench.reader, paced, kBaud);
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
