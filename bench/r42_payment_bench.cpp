// Cost of the host-side MAC composition over the reader's single-block
// service, against the bare line.
//
//   BareBlockRoundTrip  the frames of one single-block DES call (20 bytes
//                       out, 18 back) over a pseudo-terminal, answered by a
//                       thread that only copies a canned reply: the floor.
//   MacMethod3Over1024  CreatMacDataECB method 3 over 1024 bytes: 128
//                       service calls through R42Device, StxEtxProtocol and
//                       ComPort, the simulated reader answering at once. Its
//                       time divided by 128 against the floor is the host
//                       overhead of one call; CPU time near real time would
//                       mean busy waiting.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/far_end.h"
#include "connection/com_port.h"
#include "connection/stx_etx_protocol.h"
#include "family_r42/r42_device.h"
#include "sim/r42_serial_sim.h"
#include "sim/r42_sim_services.h"

namespace {

constexpr int kCallsPerMac = 1024 / 8;

ParamMap line_params(const std::string& path) {
  return {{"mode", "direct"}, {"name", path}, {"baud", "115200"}};
}

void BareBlockRoundTrip(benchmark::State& state) {
  PtyPair pty;
  bool opened = false;
  ComPort port(line_params(pty.slavePath()), &opened);
  if (!pty.ok() || !opened) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  const std::vector<uint8_t> out =
      R42SerialSim::stxFrame(hx("C0 04 00 01 10 00 01 02 03 04 05 06 07"));
  const std::vector<uint8_t> back = R42SerialSim::stxFrame(hx("00 00 00 11 12 13 14 15 16 17 18"));
  FarEnd far(pty, out.size(), back);
  std::vector<uint8_t> in(back.size());
  for (auto _ : state) {
    if (!port.write(out.data(), int32_t(out.size()), 1000) ||
        !port.read(in.data(), int32_t(in.size()), 1000)) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
}
BENCHMARK(BareBlockRoundTrip)->Unit(benchmark::kMicrosecond);

void MacMethod3Over1024(benchmark::State& state) {
  R42ReaderModel model;
  ServicesSim services;
  services.attach(model);
  services.with([](ServicesSim::State& s) {
    s.key_table[1] = hx("01 23 45 67 89 AB CD EF FE DC BA 98 76 54 32 10 89 AB CD EF 01 23 45 67");
  });
  auto sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
  if (!sim) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  sim->setHandler(model.handler());
  sim->start();
  bool opened = false;
  ComPort port(line_params(sim->slavePath()), &opened);
  StxEtxProtocol protocol(&port);
  R42Device device("r42-u", &port, &protocol);
  ReaderDevice& d = device;
  std::vector<uint8_t> data(1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  uint8_t mac[40];
  int32_t rlen = 0;
  const size_t before = sim->requestCount();
  int64_t runs = 0;
  for (auto _ : state) {
    if (!opened || d.CreatMacDataECB(80, 1, 3, 1024, data.data(), &rlen, mac) != 0) {
      state.SkipWithError("MAC failed");
      break;
    }
    ++runs;
  }
  sim->stop();
  state.counters["calls"] = runs ? double(sim->requestCount() - before) / double(runs) : 0;
  state.SetItemsProcessed(runs * kCallsPerMac);
}
BENCHMARK(MacMethod3Over1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
