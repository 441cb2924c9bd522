// A simulated reader behind a pseudo-terminal for the benchmarks that time
// whole commands through the core API (tracing off): an r42 reader (open)
// or an m6 reader with DLE framing (openM6). The reader counts the framed
// bytes both ways; paced, it holds each reply back until the request and
// the reply would have crossed a real line at `baud`, 10 bits a byte (8N1),
// counted from the moment the request arrived. Unpaced, replies go out as
// soon as a request frame is complete.
//
//   PtyReader reader(115200);            // 0: unpaced
//   cards.attach(reader.model);          // cards first, then open
//   reader.open(7);                      // kx_init(7, 115200)
//   auto runs = time_runs(state, reader, [&] { return read_card(reader.handle); });
#pragma once

#include <benchmark/benchmark.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "kx_core.h"
#include "sim/m6_reader.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

// Frame bytes around a payload: 02, length u32, XOR, 03.
inline constexpr size_t kR42FrameOverhead = 7;
// The DLE turns of one m6 exchange around the command and the reply data:
// 02/10, [seq cmd d data xor 10 03]/10 02, 10/[seq status d data xor 10 03],
// 10. Every 0x10 inside a frame goes twice.
inline constexpr size_t kM6DleOverhead = 17;
inline size_t m6_dle_bytes(const std::vector<uint8_t>& command,
                           const std::vector<uint8_t>& reply) {
  size_t stuffed = 0;
  for (const auto* payload : {&command, &reply}) {
    stuffed += size_t(payload->size() - 1 == 0x10);
    for (uint8_t b : *payload) stuffed += b == 0x10;
  }
  return command.size() + reply.size() - 1 + kM6DleOverhead + stuffed;
}
inline constexpr double kBitsPerByte = 10;

// Seconds that `bytes` take on an 8N1 line at `baud`.
inline double wire_seconds(double bytes, double baud) { return bytes * kBitsPerByte / baud; }

class PtyReader {
 public:
  using Bytes = std::vector<uint8_t>;

  explicit PtyReader(double paced_baud) : paced_baud_(paced_baud) {}
  ~PtyReader() {
    if (handle > 0) kx_exit(handle);
    if (sim) sim->stop();
    m6.reset();
  }
  PtyReader(const PtyReader&) = delete;
  PtyReader& operator=(const PtyReader&) = delete;

  // Starts the simulator and opens the reader on `port`; false when there
  // is no pseudo-terminal or the core does not open it.
  bool open(int16_t port) {
    sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
    if (!sim) return false;
    sim->setHandler([this](const Bytes& request) { return answer(request); });
    sim->start();
    kx_config_port_name(port, sim->slavePath().c_str());
    handle = kx_init(port, 115200);
    return handle > 0;
  }

  // An m6 reader on the line instead; its model takes the cards
  // (m6->model()) before the open.
  bool openM6(int16_t port) {
    if (!pty.ok()) return false;
    m6 = std::make_unique<M6Reader>(pty.releaseMaster(), M6Reader::Framing::kDle);
    m6->setReplyDelay([this](const Bytes& command, const Bytes& reply) {
      ++exchanges;
      return std::chrono::duration_cast<std::chrono::microseconds>(
          wireTime(m6_dle_bytes(command, reply)));
    });
    kx_config_port_name(port, pty.slavePath().c_str());
    handle = kx_init(port, 115200);
    return handle > 0;
  }

  // Framed bytes on the line so far, both ways.
  uint64_t wireBytes() const { return m6 ? m6->wireBytes() : wire_bytes.load(); }

  R42ReaderModel model;
  std::unique_ptr<R42SerialSim> sim;
  PtyPair pty;
  std::unique_ptr<M6Reader> m6;
  int32_t handle = -1;
  std::atomic<uint64_t> wire_bytes{0};
  std::atomic<uint64_t> exchanges{0};

 private:
  Bytes answer(const Bytes& request) {
    const auto arrived = std::chrono::steady_clock::now();
    Bytes reply = model.answer(request);
    const size_t bytes = request.size() + reply.size() + 2 * kR42FrameOverhead;
    wire_bytes += bytes;
    ++exchanges;
    if (paced_baud_ > 0) std::this_thread::sleep_until(arrived + wireTime(bytes));
    return reply;
  }

  // How long `bytes` hold a paced line (0 unpaced), for the simulator that
  // sleeps out the rest of it.
  std::chrono::steady_clock::duration wireTime(size_t bytes) {
    if (paced_baud_ <= 0) return {};
    // The reader's release time is what is measured, not the kernel's
    // default 50 us of timer slack on this thread.
    static thread_local bool tight = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)tight;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(wire_seconds(double(bytes), paced_baud_)));
  }

  double paced_baud_;
};

// One iteration of a benchmark over the reader, averaged: the wall time, the
// calling thread's CPU time (close to the wall time it would mean a busy
// wait in the read path), and the framed bytes and exchanges on the line.
struct PerRun {
  double wall_s = 0;
  double cpu_ms = 0;
  double wire_bytes = 0;
  double exchanges = 0;
};

// Runs `step` once per iteration and sets the counters `exchanges`,
// `wire_bytes`, `wall_ms` and `cpu_ms`. A step that returns false ends the
// benchmark with an error; nothing is returned then, nor without runs.
template <typename Step>
std::optional<PerRun> time_runs(benchmark::State& state, PtyReader& reader, Step step) {
  const uint64_t bytes_before = reader.wireBytes(), exchanges_before = reader.exchanges;
  double wall = 0, cpu = 0;
  int64_t runs = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = thread_cpu_ms();
    const bool done = step();
    cpu += thread_cpu_ms() - cpu_start;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!done) {
      state.SkipWithError("the reader did not answer as expected");
      return std::nullopt;
    }
    ++runs;
  }
  if (runs == 0) return std::nullopt;
  PerRun per;
  per.wall_s = wall / double(runs);
  per.cpu_ms = cpu / double(runs);
  per.wire_bytes = double(reader.wireBytes() - bytes_before) / double(runs);
  per.exchanges = double(reader.exchanges - exchanges_before) / double(runs);
  state.counters["exchanges"] = per.exchanges;
  state.counters["wire_bytes"] = per.wire_bytes;
  state.counters["wall_ms"] = per.wall_s * 1e3;
  state.counters["cpu_ms"] = per.cpu_ms;
  return per;
}

// kx_card(0), then per sector 0-15 kx_authentication (key mode 0) and
// kx_read of its 4 blocks: a whole 1K card.
inline bool read_whole_1k_card(int32_t h) {
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

// Times whole-card reads on an open reader and sets `wire_limit_ms` and,
// paced at `baud`, the `ratio` of wall time to that limit, or, unpaced,
// `host_us_per_exchange`.
inline void time_whole_1k_card(benchmark::State& state, PtyReader& reader, bool paced,
                               double baud) {
  const int32_t h = reader.handle;
  const auto per = time_runs(state, reader, [h] { return read_whole_1k_card(h); });
  if (!per) return;
  const double limit_s = wire_seconds(per->wire_bytes, baud);
  state.counters["wire_limit_ms"] = limit_s * 1e3;
  if (paced)
    state.counters["ratio"] = per->wall_s / limit_s;
  else
    state.counters["host_us_per_exchange"] = per->wall_s / per->exchanges * 1e6;
}
