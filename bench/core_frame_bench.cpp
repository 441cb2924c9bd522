// Cost of the core call frame: the device slot called directly versus the
// traced core operation, with the trace off and at level 3, on one r42
// reader reached through an in-memory application transport.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "connection/reader_device.h"
#include "core_api/memory_transport.h"
#include "core_api/reader_families.h"
#include "kx_core.h"
#include "platform/settings.h"

namespace {

constexpr int16_t kPort = 400;
constexpr int32_t kHandle = kPort + 80;

// One reader for the whole run, opened once.
struct Bench {
  MemoryReader reader;
  PortProvider provider;
  std::string trace_dir;
  bool open = false;

  Bench() : provider(reader.provider()) {
    char pattern[] = "/dev/shm/core_frame_bench_XXXXXX";
    const char* made = mkdtemp(pattern);
    trace_dir = std::string(made ? made : "/tmp") + "/";
    CoreConfigure(KX_CFG_DIRECTORY, trace_dir.data());
    CoreConfigure(KX_CFG_CALLBACKS, &provider);
    open = kx_init(kPort, 115200) == kHandle;
  }
  ~Bench() {
    kx_exit(kHandle);
    std::error_code ignored;
    std::filesystem::remove_all(trace_dir, ignored);
  }
};

Bench& bench() {
  static Bench b;
  return b;
}

template <typename Call>
void run(benchmark::State& state, int level, Call call) {
  if (!bench().open) {
    state.SkipWithError("reader did not open");
    return;
  }
  set_trace_level(level);
  char text[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(call(text));
  }
  set_trace_level(0);
}

void DeviceGetname(benchmark::State& state) {
  run(state, 0, [](char* t) { return device_manager.deviceAt(kPort)->getname(kHandle, t); });
}
void DeviceGetver(benchmark::State& state) {
  run(state, 0, [](char* t) { return device_manager.deviceAt(kPort)->getver(kHandle, t); });
}
void CoreGetname(benchmark::State& state) {
  run(state, static_cast<int>(state.range(0)), [](char* t) { return kx_getname(kHandle, t); });
}
void CoreGetver(benchmark::State& state) {
  run(state, static_cast<int>(state.range(0)), [](char* t) { return kx_getver(kHandle, t); });
}

BENCHMARK(DeviceGetname);
BENCHMARK(CoreGetname)->Arg(0)->Arg(3);
BENCHMARK(DeviceGetver);
BENCHMARK(CoreGetver)->Arg(0)->Arg(3);

}  // namespace

BENCHMARK_MAIN();
