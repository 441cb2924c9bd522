// Serial line and r42 framing costs: a getver round trip through the port and
// the framing against the simulated reader, the same bytes without framing,
// a read that times out on a silent peer (CPU time shows whether it waits or
// spins), and unframing a large reply from memory beside a plain copy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "connection/com_port.h"
#include "connection/stx_etx_protocol.h"
#include "fuzz/memory_port.h"
#include "sim/pty_pair.h"
#include "sim/r42_serial_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kGetver = {0x0F, 0x10, 0x00};
const Bytes kVersion = {0x00, 0x00, 0x00, 0x56, 0x35, 0x2E, 0x31, 0x32};

ParamMap params_for(const std::string& path) {
  return {{"mode", "direct"}, {"name", path}, {"baud", "115200"}};
}

std::unique_ptr<R42SerialSim> version_sim() {
  auto sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
  if (sim) {
    sim->onCommand(0x0F10, [](const Bytes&) { return kVersion; });
    sim->start();
  }
  return sim;
}

// 10 request bytes + 15 reply bytes, 10 bits each on an 8N1 line.
void report_wire_time(benchmark::State& state) {
  state.counters["wire_115200_ms"] = 25.0 * 10.0 * 1000.0 / 115200.0;
}

void BM_GetverRoundTrip(benchmark::State& state) {
  auto sim = version_sim();
  bool opened = false;
  ComPort port(params_for(sim ? sim->slavePath() : ""), &opened);
  if (!opened) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  StxEtxProtocol protocol(&port);
  uint8_t buffer[2048];
  for (auto _ : state) {
    std::memcpy(buffer, kGetver.data(), kGetver.size());
    if (protocol.transceive(buffer, 3, 2048, 5000) != 8) state.SkipWithError("exchange failed");
  }
  report_wire_time(state);
}
BENCHMARK(BM_GetverRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_GetverRawBytes(benchmark::State& state) {
  auto sim = version_sim();
  bool opened = false;
  ComPort port(params_for(sim ? sim->slavePath() : ""), &opened);
  if (!opened) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  const Bytes request = R42SerialSim::stxFrame(kGetver);
  uint8_t reply[15];
  for (auto _ : state) {
    if (!port.write(request.data(), int32_t(request.size()), 5000) ||
        !port.read(reply, sizeof reply, 5000)) {
      state.SkipWithError("exchange failed");
    }
  }
  report_wire_time(state);
}
BENCHMARK(BM_GetverRawBytes)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_SilentRead50ms(benchmark::State& state) {
  PtyPair pty;
  bool opened = false;
  ComPort port(params_for(pty.ok() ? pty.slavePath() : ""), &opened);
  if (!opened) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  uint8_t byte;
  for (auto _ : state) {
    if (port.read(&byte, 1, 50)) state.SkipWithError("silent peer answered");
  }
}
BENCHMARK(BM_SilentRead50ms)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Unframe2048(benchmark::State& state) {
  MemoryPort port(R42SerialSim::stxFrame(Bytes(2048, 0x5A)));
  StxEtxProtocol protocol(&port);
  std::vector<uint8_t> buffer(2048);
  for (auto _ : state) {
    port.rewind();
    benchmark::DoNotOptimize(protocol.transceive(buffer.data(), 0, 2048, 0));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2055);
}
BENCHMARK(BM_Unframe2048);

void BM_PlainCopy2055(benchmark::State& state) {
  std::vector<uint8_t> from(2055, 0x5A), to(2055);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2055);
}
BENCHMARK(BM_PlainCopy2055);

}  // namespace

BENCHMARK_MAIN();
