// Cost of one r42 command on the host side.
//
//   PtyRoundTrip      a 10-byte frame out and a 14-byte frame back over a
//                     pseudo-terminal, answered by an echo thread: the floor.
//   GetVersion        one getver through R42Device, StxEtxProtocol and
//                     ComPort, the simulated reader answering at once.
//                     GetVersion - PtyRoundTrip is the host overhead of one
//                     command; CPU time near real time would mean busy waiting.
//   ReadWholeEeprom   ReadEepromRaw(0, 16384): 86 exchanges, 18792 bytes on
//                     the wire, which a 115200-baud line needs 1.631 s for.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/far_end.h"
#include "connection/com_port.h"
#include "connection/stx_etx_protocol.h"
#include "family_r42/r42_device.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

namespace {

ParamMap port_params(const std::string& path) {
  return {{"mode", "direct"}, {"name", path}, {"baud", "115200"}};
}

void PtyRoundTrip(benchmark::State& state) {
  PtyPair pty;
  bool opened = false;
  ComPort port(port_params(pty.slavePath()), &opened);
  if (!pty.ok() || !opened) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  const std::vector<uint8_t> request = {0x02, 0, 0, 0, 0x03, 0x0F, 0x10, 0x00, 0x1E, 0x03};
  const std::vector<uint8_t> reply = {0x02, 0, 0, 0, 0x07, 0, 0, 0, 'V', '1', '.', '0', 0x7C, 0x03};
  FarEnd far(pty, request.size(), reply);
  uint8_t in[14];
  for (auto _ : state) {
    if (!port.write(request.data(), int32_t(request.size()), 1000) ||
        !port.read(in, sizeof(in), 1000)) {
      state.SkipWithError("round trip failed");
      break;
    }
  }
}
BENCHMARK(PtyRoundTrip)->Unit(benchmark::kMicrosecond);

struct SimDevice {
  SimDevice() {
    sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
    if (!sim) return;
    sim->setHandler(model.handler());
    sim->start();
    bool opened = false;
    port = std::make_unique<ComPort>(port_params(sim->slavePath()), &opened);
    if (!opened) return;
    protocol = std::make_unique<StxEtxProtocol>(port.get());
    r42 = std::make_unique<R42Device>("r42-u", port.get(), protocol.get());
    device = r42.get();
  }
  ~SimDevice() {
    if (sim) sim->stop();
  }
  R42ReaderModel model;
  std::unique_ptr<R42SerialSim> sim;
  std::unique_ptr<ComPort> port;
  std::unique_ptr<StxEtxProtocol> protocol;
  std::unique_ptr<R42Device> r42;
  ReaderDevice* device = nullptr;
};

void GetVersion(benchmark::State& state) {
  SimDevice rig;
  if (!rig.device) {
    state.SkipWithError("no simulated reader");
    return;
  }
  char version[256];
  for (auto _ : state) {
    if (rig.device->getver(80, version) != 0) {
      state.SkipWithError("getver failed");
      break;
    }
  }
}
BENCHMARK(GetVersion)->Unit(benchmark::kMicrosecond);

void ReadWholeEeprom(benchmark::State& state) {
  SimDevice rig;
  if (!rig.device) {
    state.SkipWithError("no simulated reader");
    return;
  }
  std::vector<uint8_t> eeprom(16384);
  const size_t before = rig.sim->requestCount();
  int64_t runs = 0;
  for (auto _ : state) {
    if (rig.device->ReadEepromRaw(80, 0, 16384, eeprom.data()) != 0) {
      state.SkipWithError("read failed");
      break;
    }
    ++runs;
  }
  const double exchanges = runs ? double(rig.sim->requestCount() - before) / double(runs) : 0;
  state.counters["exchanges"] = exchanges;
  state.counters["wire_bytes"] = 18792;
  state.counters["limit_115200_s"] = 18792.0 * 10 / 115200;
}
BENCHMARK(ReadWholeEeprom)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
