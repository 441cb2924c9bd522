// Scanner module costs: how long a scan takes from the simulator's write to
// the callback (a reply ends only after 21 ms of silence, the floor), the
// receive ring between two threads beside a plain copy, the CPU an idle open
// scanner uses, and a parameter write's round trip.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "scanner/environment.h"
#include "scanner/kovra_api.h"
#include "scanner/receive_ring.h"
#include "scanner/ring_reader.h"
#include "sim/fake_hid.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"
#include "sim/scanner_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

// A scanner on a pty (explicit port 5) or behind a fake HID device, opened
// with a callback that stamps each chunk's arrival.
class OpenScanner {
 public:
  explicit OpenScanner(bool hid) {
    int fd;
    if (hid) {
      scanner_environment().hid = &backend_;
      fd = backend_.addDevice("hid-0", 0x0525, 0xA402);
    } else {
      scanner_environment().port_paths[5] = pty_.slavePath();
      fd = pty_.releaseMaster();
    }
    sim_ = std::make_unique<ScannerSim>(fd, hid);
    opened_ = KOVRA_OpenPort(hid ? 1100 : 5, 115200, arrived, this) == 1;
  }
  ~OpenScanner() {
    KOVRA_Close();
    scanner_environment().hid = nullptr;
    scanner_environment().port_paths.clear();
  }
  bool opened() const { return opened_; }
  ScannerSim& sim() { return *sim_; }

  // Sends `code` and waits for its chunk: the latency in ms, -1 on time-out.
  double scanLatency(const std::string& code) {
    std::unique_lock<std::mutex> lock(mutex_);
    got_ = 0;
    lock.unlock();
    const Clock::time_point sent = Clock::now();
    sim_->scan(code);
    lock.lock();
    if (!cv_.wait_for(lock, std::chrono::seconds(2), [&] { return got_ >= code.size(); })) return -1;
    return std::chrono::duration<double, std::milli>(at_ - sent).count();
  }

 private:
  static int32_t arrived(const uint8_t*, int32_t n, void* user) {
    auto* self = static_cast<OpenScanner*>(user);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->got_ += size_t(n);
    self->at_ = Clock::now();
    self->cv_.notify_all();
    return 0;
  }

  FakeHidBackend backend_;
  PtyPair pty_;
  std::unique_ptr<ScannerSim> sim_;
  bool opened_ = false;
  std::mutex mutex_;
  std::condition_variable cv_;
  size_t got_ = 0;
  Clock::time_point at_;
};

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// Args: code length, 1 for HID.
void BM_ScanLatency(benchmark::State& state) {
  OpenScanner scanner(state.range(1) == 1);
  if (!scanner.opened()) {
    state.SkipWithError("scanner did not open");
    return;
  }
  const std::string code(size_t(state.range(0)), 'Q');
  std::vector<double> latencies;
  for (auto _ : state) {
    const double ms = scanner.scanLatency(code);
    if (ms < 0) {
      state.SkipWithError("scan lost");
      return;
    }
    latencies.push_back(ms);
    // Apart by more than the silence, so each scan is a chunk of its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  state.counters["p50_ms"] = percentile(latencies, 0.5);
  state.counters["p95_ms"] = percentile(latencies, 0.95);
  state.counters["floor_ms"] = kReplySilenceMs;
}
BENCHMARK(BM_ScanLatency)
    ->ArgsProduct({{16, 512}, {0, 1}})
    ->ArgNames({"bytes", "hid"})
    ->Iterations(40)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

constexpr size_t kStreamBytes = 64 << 20;

void BM_RingTwoThreads(benchmark::State& state) {
  const size_t chunk = size_t(state.range(0));
  ReceiveRing ring;
  const std::vector<uint8_t> source(chunk, 0x5A);
  std::vector<uint8_t> sink(chunk);
  for (auto _ : state) {
    std::thread writer([&] {
      for (size_t sent = 0; sent < kStreamBytes;) {
        if (ReceiveRing::kCapacity - ring.size() < chunk) {
          std::this_thread::yield();
          continue;
        }
        sent += ring.push(source.data(), chunk);
      }
    });
    for (size_t got = 0; got < kStreamBytes;) got += ring.read(sink.data(), chunk, Deadline(1000));
    writer.join();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kStreamBytes));
}
BENCHMARK(BM_RingTwoThreads)->Arg(64)->Arg(1024)->Arg(8192)->UseRealTime();

void BM_MemcpySameChunks(benchmark::State& state) {
  const size_t chunk = size_t(state.range(0));
  std::vector<uint8_t> ring(ReceiveRing::kCapacity), source(chunk, 0x5A), sink(chunk);
  for (auto _ : state) {
    for (size_t done = 0; done < kStreamBytes; done += chunk) {
      const size_t at = done % (ring.size() - chunk);
      std::memcpy(ring.data() + at, source.data(), chunk);
      std::memcpy(sink.data(), ring.data() + at, chunk);
      benchmark::DoNotOptimize(sink.data());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kStreamBytes));
}
BENCHMARK(BM_MemcpySameChunks)->Arg(64)->Arg(1024)->Arg(8192)->UseRealTime();

// CPU of the whole process per second while an open scanner waits.
void BM_IdleOpenScannerCpu(benchmark::State& state) {
  OpenScanner scanner(state.range(0) == 1);
  if (!scanner.opened()) {
    state.SkipWithError("scanner did not open");
    return;
  }
  double cpu = 0;
  for (auto _ : state) {
    const double before = process_cpu_ms();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    cpu += process_cpu_ms() - before;
  }
  state.counters["cpu_ms_per_s"] = cpu / double(state.iterations());
}
BENCHMARK(BM_IdleOpenScannerCpu)->Arg(0)->Arg(1)->ArgName("hid")->Iterations(2)->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_SetParamRoundTrip(benchmark::State& state) {
  OpenScanner scanner(state.range(0) == 1);
  if (!scanner.opened()) {
    state.SkipWithError("scanner did not open");
    return;
  }
  for (auto _ : state) {
    if (KOVRA_SetParam(0x3082, 0x1234) != 1) state.SkipWithError("no answer");
  }
  state.counters["floor_ms"] = kReplySilenceMs;
}
BENCHMARK(BM_SetParamRoundTrip)->Arg(0)->Arg(1)->ArgName("hid")->Iterations(20)->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
