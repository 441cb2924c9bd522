// Cost of the periphery commands on the host side, the simulated reader
// answering at once over a pseudo-terminal.
//
//   LedControl / GetVersion  one status-only command against the probe's
//                     command: the thin operations should cost no more
//                     than the exchange itself (within 5%).
//   ScreenImage64k    ScreenDisplayImage of a 64 KiB image: one 65562-byte
//                     frame out, a 3-byte reply back.
//   RawFrame64k       the same frame written to the port and the same reply
//                     read back, without the device: the floor.
//   StripeBudgetCpu   readmagcardallA(1) without a swipe: about five polls
//                     in one second; CPU time far below real time means the
//                     wait sleeps.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/far_end.h"
#include "family_r42/r42_rig.h"
#include "sim/process_probe.h"
#include "sim/stripe_keypad.h"

namespace {

constexpr uint32_t kImageBytes = 65536;

std::vector<uint8_t> image_blob() {
  std::vector<uint8_t> blob(4 + kImageBytes, 0x5A);
  blob[0] = uint8_t(kImageBytes >> 24);
  blob[1] = uint8_t(kImageBytes >> 16);
  blob[2] = uint8_t(kImageBytes >> 8);
  blob[3] = uint8_t(kImageBytes);
  return blob;
}

// The request frame of that image: what both image benchmarks put on the line.
std::vector<uint8_t> image_frame(const std::vector<uint8_t>& blob) {
  // Code, rectangle 0, 0, 64, 64, no time limit, the marker, the image.
  const uint8_t head[] = {0x08, 0x07, 0x00, 0, 0, 0, 0, 0, 0x40, 0, 0x40, 0, 0, 0, 0,
                          0xFF, 0xFF, 0xFF, 0xFF};
  std::vector<uint8_t> payload(sizeof head + kImageBytes);
  std::copy(std::begin(head), std::end(head), payload.begin());
  std::copy(blob.begin() + 4, blob.end(), payload.begin() + sizeof head);
  return R42SerialSim::stxFrame(payload);
}

template <typename Call>
void run_status_command(benchmark::State& state, Call call) {
  R42Rig rig;
  if (!rig.ready) {
    state.SkipWithError("no simulated reader");
    return;
  }
  rig.model.addCommand(0x0203, [](const Bytes&) { return Bytes{0x00, 0x00, 0x00}; });
  for (auto _ : state) {
    if (call(*rig.device) != 0) {
      state.SkipWithError("command failed");
      break;
    }
  }
}

void LedControl(benchmark::State& state) {
  run_status_command(state, [](ReaderDevice& d) { return d.LedControl(80, 1); });
}
BENCHMARK(LedControl)->Unit(benchmark::kMicrosecond);

void GetVersion(benchmark::State& state) {
  char version[256];
  run_status_command(state, [&](ReaderDevice& d) { return d.getver(80, version); });
}
BENCHMARK(GetVersion)->Unit(benchmark::kMicrosecond);

void ScreenImage64k(benchmark::State& state) {
  HandRig rig;
  if (!rig.ready) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  const std::vector<uint8_t> blob = image_blob();
  FarEnd far(rig.pty, image_frame(blob).size(), R42SerialSim::stxFrame({0, 0, 0}));
  for (auto _ : state) {
    if (rig.device->ScreenDisplayImage(80, 0, 0, 64, 64, 0, blob.data()) != 0) {
      state.SkipWithError("image refused");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kImageBytes);
}
BENCHMARK(ScreenImage64k)->Unit(benchmark::kMillisecond);

void RawFrame64k(benchmark::State& state) {
  HandRig rig;
  if (!rig.ready) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  const std::vector<uint8_t> frame = image_frame(image_blob());
  const std::vector<uint8_t> reply = R42SerialSim::stxFrame({0, 0, 0});
  FarEnd far(rig.pty, frame.size(), reply);
  std::vector<uint8_t> in(reply.size());
  for (auto _ : state) {
    if (!rig.port->write(frame.data(), int32_t(frame.size()), 5000) ||
        !rig.port->read(in.data(), int32_t(in.size()), 5000)) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kImageBytes);
}
BENCHMARK(RawFrame64k)->Unit(benchmark::kMillisecond);

void StripeBudgetCpu(benchmark::State& state) {
  StripeKeypadSim stripe;
  R42Rig rig;
  if (!rig.ready) {
    state.SkipWithError("no simulated reader");
    return;
  }
  stripe.attach(rig.model);
  char t[3][256];
  int32_t n[3] = {};
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double cpu_before = thread_cpu_ms();
    Stopwatch clock;
    if (rig.device->readmagcardallA(80, 1, t[0], n, t[1], n + 1, t[2], n + 2) != -2) {
      state.SkipWithError("a swipe came");
      break;
    }
    cpu += thread_cpu_ms() - cpu_before;
    wall += double(clock.ms());
  }
  const double runs = double(state.iterations());
  state.counters["cpu_ms"] = cpu / runs;
  state.counters["wall_ms"] = wall / runs;
  state.counters["polls"] = double(rig.model.count(0x0703)) / runs;
}
BENCHMARK(StripeBudgetCpu)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
