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
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kx_core.h"
#include "sim/card_field.h"
#include "sim/process_probe.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int16_t kPort = 7;
constexpr double kBitsPerByte = 10;
constexpr double kBaud = 115200;
constexpr size_t kFrameOverhead = 7;  // 02, length u32, XOR, 03

struct BenchReader {
  explicit BenchReader(bool paced) : paced_(paced) {
    field.attach(model);
    field.insert(MifareCard::classic1k({0x11, 0x22, 0x33, 0x44}));
    sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
    if (!sim) return;
    sim->setHandler([this](const Bytes& request) { return answer(request); });
    sim->start();
    kx_config_port_name(kPort, sim->slavePath().c_str());
    handle = kx_init(kPort, 115200);
  }
  ~BenchReader() {
    if (handle > 0) kx_exit(handle);
    if (sim) sim->stop();
  }

  Bytes answer(const Bytes& request) {
    const auto arrived = std::chrono::steady_clock::now();
    Bytes reply = model.answer(request);
    const size_t bytes = request.size() + reply.size() + 2 * kFrameOverhead;
    wire_bytes += bytes;
    ++exchanges;
    if (paced_) {
      // The reader's release time is what is measured, not the kernel's
      // default 50 us of timer slack on this thread.
      static thread_local bool tight = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
      (void)tight;
      // Both frames at 10 bits a byte; the host's request reached us at once.
      const auto wire = std::chrono::duration<double>(double(bytes) * kBitsPerByte / kBaud);
      std::this_thread::sleep_until(
          arrived + std::chrono::duration_cast<std::chrono::steady_clock::duration>(wire));
    }
    return reply;
  }

  R42ReaderModel model;
  CardField field;
  std::unique_ptr<R42SerialSim> sim;
  int32_t handle = -1;
  std::atomic<uint64_t> wire_bytes{0};
  std::atomic<uint64_t> exchanges{0};

 private:
  bool paced_;
};

bool read_card(int32_t h) {
  uint32_t snr = 0;
  if (kx_card(h, 0, &snr) != 0) return false;
  uint8_t block[16];
  for (uint8_t s = 0; s < 16; ++s) {
    if (kx_authentication(h, 0, s) != 0) return false;
    for (uint8_t b = 0; b < 4; ++b)
      if (kx_read(h, uint8_t(4 * s + b), block) != 0) return false;
  }
  return true;
}

void ReadWhole1kCard(benchmark::State& state) {
  const bool paced = state.range(0) != 0;
  BenchReader reader(paced);
  if (!reader.sim || reader.handle < 0) {
    state.SkipWithError("no simulated reader");
    return;
  }
  const uint64_t bytes_before = reader.wire_bytes, exchanges_before = reader.exchanges;
  double wall = 0, cpu_total_ms = 0;
  int64_t runs = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = thread_cpu_ms();
    if (!read_card(reader.handle)) {
      state.SkipWithError("card read failed");
      return;
    }
    cpu_total_ms += thread_cpu_ms() - cpu_start;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++runs;
  }
  if (runs == 0) return;
  const double per_run_bytes = double(reader.wire_bytes - bytes_before) / double(runs);
  const double per_run_exchanges = double(reader.exchanges - exchanges_before) / double(runs);
  const double limit_s = per_run_bytes * kBitsPerByte / kBaud;
  state.counters["exchanges"] = per_run_exchanges;
  state.counters["wire_bytes"] = per_run_bytes;
  state.counters["wire_limit_ms"] = limit_s * 1e3;
  state.counters["wall_ms"] = wall / double(runs) * 1e3;
  state.counters["cpu_ms"] = cpu_total_ms / double(runs);
  if (paced)
    state.counters["ratio"] = wall / double(runs) / limit_s;
  else
    state.counters["host_us_per_exchange"] = wall / double(runs) / per_run_exchanges * 1e6;
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
