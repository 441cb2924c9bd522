// One round trip of a long APDU through the core API over a pseudo-terminal,
// tracing off: 80 EE 00 00 FA and 250 data bytes (255 bytes, sent whole),
// which the simulated processor card echoes from P1 on: 253 bytes and 90 00.
//
//   kx_cpuapdu      contact slot 0 (0x0304): 266 frame bytes out, 265 back,
//                   46.1 ms on an 8N1 line at 115200 baud, 5.76 ms at 921600
//   kx_pro_command  the card in the radio field (0x0411): 267 out, 267 back,
//                   46.4 ms at 115200, 5.79 ms at 921600
//
//   Paced     the reader holds each reply back until both frames would have
//             crossed a 115200-baud line; `over_wire_us` is what the round
//             trip took beyond that.
//   Unpaced   replies go out as soon as the request frame is complete;
//             `host_us` is the host's own cost of one round trip, and
//             `host_pct_115200` / `host_pct_921600` set it against the wire
//             time at those rates.
// `cpu_ms` is the calling thread's CPU time per round trip; close to the
// wall time it would mean a busy wait in the read path.
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <memory>

#include "bench/pty_reader.h"
#include "kx_core.h"
#include "sim/card_field.h"
#include "sim/contact_slots.h"
#include "sim/iso7816_card.h"

namespace {

constexpr int16_t kPort = 8;
constexpr double kBaud = 115200;
constexpr double kFastBaud = 921600;
constexpr uint8_t kApduLength = 255;
constexpr uint8_t kAnswerLength = 255;  // 253 echoed bytes and 90 00
constexpr uint8_t kCardTimeout = 7;

// The same processor card in contact slot 0 and in the radio field, both
// powered or activated before the reader is timed.
struct Bench {
  explicit Bench(bool paced) : reader(paced ? kBaud : 0) {
    slots.attach(reader.model);
    slots.insert(0);
    field.attach(reader.model);
    field.insert(std::make_shared<Iso7816Card>());
    if (!reader.open(kPort)) return;
    uint8_t length = 0;
    uint8_t answer[256];
    ready = kx_cpureset(reader.handle, &length, answer) == 0 &&
            kx_pro_reset(reader.handle, &length, answer) == 0;
  }
  ContactSlots slots;
  CardField field;
  PtyReader reader;
  bool ready = false;
};

struct Apdu {
  uint8_t command[kApduLength] = {0x80, 0xEE, 0x00, 0x00, 0xFA};
  uint8_t answer[256] = {};
  uint8_t answer_length = 0;
  Apdu() {
    for (size_t i = 5; i < sizeof command; ++i) command[i] = uint8_t(i);
  }
  // The card's echo, whole.
  bool echoed() const {
    return answer_length == kAnswerLength &&
           std::memcmp(answer, command + 2, kAnswerLength - 2) == 0 &&
           answer[kAnswerLength - 2] == 0x90 && answer[kAnswerLength - 1] == 0x00;
  }
};

void round_trip(benchmark::State& state, const std::function<int16_t(int32_t, Apdu&)>& call) {
  const bool paced = state.range(0) != 0;
  Bench bench(paced);
  if (!bench.ready) {
    state.SkipWithError("no simulated reader, or its cards did not start");
    return;
  }
  const int32_t handle = bench.reader.handle;
  Apdu apdu;
  const auto per = time_runs(state, bench.reader, [&] {
    apdu.answer_length = 0;
    return call(handle, apdu) == 0 && apdu.echoed();
  });
  if (!per) return;
  const double wire_s = wire_seconds(per->wire_bytes, kBaud);
  const double fast_wire_s = wire_seconds(per->wire_bytes, kFastBaud);
  state.counters["wire_ms_115200"] = wire_s * 1e3;
  state.counters["wire_ms_921600"] = fast_wire_s * 1e3;
  if (paced) {
    state.counters["over_wire_us"] = (per->wall_s - wire_s) * 1e6;
  } else {
    state.counters["host_us"] = per->wall_s * 1e6;
    state.counters["host_pct_115200"] = per->wall_s / wire_s * 100;
    state.counters["host_pct_921600"] = per->wall_s / fast_wire_s * 100;
  }
}

void Cpuapdu(benchmark::State& state) {
  round_trip(state, [](int32_t handle, Apdu& apdu) {
    return kx_cpuapdu(handle, kApduLength, apdu.command, &apdu.answer_length, apdu.answer);
  });
}

void ProCommand(benchmark::State& state) {
  round_trip(state, [](int32_t handle, Apdu& apdu) {
    return kx_pro_command(handle, kApduLength, apdu.command, &apdu.answer_length, apdu.answer,
                          kCardTimeout);
  });
}

BENCHMARK(Cpuapdu)->ArgName("paced")->Arg(1)->Arg(0)->UseRealTime()->Unit(
    benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ProCommand)->ArgName("paced")->Arg(1)->Arg(0)->UseRealTime()->Unit(
    benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
