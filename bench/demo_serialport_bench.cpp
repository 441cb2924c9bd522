// The demo's serial class on a pseudo-terminal: 64 KiB from the far end
// through the watcher to an owner that counts the messages, beside a bare
// read loop on the same kind of line; and the CPU time of one idle second
// with the port open (more than a few ms would mean a busy wait).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "demo/serialport.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"

namespace {

constexpr size_t kBlock = 64 * 1024;

// Counts received bytes and wakes the benchmark when a whole block is in.
class CountingOwner : public SerialPortOwner {
 public:
  void portMessage(uint32_t message, uint32_t, int, std::stop_token) override {
    if (message != kCommRxChar) return;
    std::lock_guard<std::mutex> hold(mu_);
    if (++bytes_ >= kBlock) done_.notify_all();
  }
  void portFailure(const std::string&, std::stop_token) override {}
  bool waitBlock() {
    std::unique_lock<std::mutex> lock(mu_);
    const bool whole = done_.wait_for(lock, std::chrono::seconds(10), [&] { return bytes_ >= kBlock; });
    bytes_ = 0;
    return whole;
  }

 private:
  std::mutex mu_;
  std::condition_variable done_;
  size_t bytes_ = 0;
};

const std::vector<uint8_t>& block() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(kBlock);
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t('a' + i % 26);
    return b;
  }();
  return bytes;
}

void BM_SerialPortReceive64K(benchmark::State& state) {
  PtyPair pty;
  serialport port([&](int) { return pty.slavePath(); });
  CountingOwner owner;
  if (!pty.ok() || !port.OpenPort(&owner, 1, 115200, 'N', 8, 1, EV_RXCHAR, 64) ||
      !port.StartWatch()) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  for (auto _ : state) {
    if (!sim_write_all(pty.master(), block().data(), block().size()) || !owner.waitBlock()) {
      state.SkipWithError("the block did not arrive");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlock));
  port.StopWatch();
}
BENCHMARK(BM_SerialPortReceive64K)->UseRealTime()->Unit(benchmark::kMillisecond);

// The floor: the same line read raw by a thread of its own.
void BM_BarePtyRead64K(benchmark::State& state) {
  PtyPair pty;
  const int fd = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios tio{};
  if (!pty.ok() || fd < 0 || tcgetattr(fd, &tio) != 0) {
    state.SkipWithError("no pseudo-terminal");
    if (fd >= 0) close(fd);
    return;
  }
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  for (auto _ : state) {
    std::thread reader([fd] {
      size_t got = 0;
      uint8_t buffer[4096];
      while (got < kBlock) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) return;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) got += size_t(n);
      }
    });
    sim_write_all(pty.master(), block().data(), block().size());
    reader.join();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlock));
  close(fd);
}
BENCHMARK(BM_BarePtyRead64K)->UseRealTime()->Unit(benchmark::kMillisecond);

// One second with the port open and watched and nothing on the line.
void BM_SerialPortIdleSecond(benchmark::State& state) {
  PtyPair pty;
  serialport port([&](int) { return pty.slavePath(); });
  CountingOwner owner;
  if (!pty.ok() || !port.OpenPort(&owner, 1, 115200, 'N', 8, 1, EV_RXCHAR | EV_CTS | EV_RING, 64) ||
      !port.StartWatch()) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  double cpu = 0;
  for (auto _ : state) {
    const double start = process_cpu_ms();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    cpu += process_cpu_ms() - start;
  }
  state.counters["cpu_ms"] = cpu / double(state.iterations());
  port.StopWatch();
}
BENCHMARK(BM_SerialPortIdleSecond)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
