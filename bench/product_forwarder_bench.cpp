// Cost of a product forwarder over its core operation: qm_getname and
// qm_setcpu against kx_getname and kx_setcpu (an r42 reader answers both
// without I/O), each resolved with dlsym from the built libQM_Reader.so as
// an application would, with the reader behind an in-memory application
// transport on port 400 and the trace off. Inside the library the
// forwarder's call to its core operation is bound directly, so the two
// should differ by a jump at most.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdint>

#include "core_api/memory_transport.h"
#include "kx_core.h"
#include "qm_reader.h"

namespace {

constexpr int16_t kPort = 400;
constexpr int32_t kHandle = kPort + 80;

struct Loaded {
  void* library = dlopen(QM_READER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  MemoryTransportReader reader;
  PortProvider provider = reader.provider();
  bool open = false;

  template <typename F>
  F* get(const char* name) const {
    return reinterpret_cast<F*>(library ? dlsym(library, name) : nullptr);
  }
  decltype(&kx_getname) kx_name = get<decltype(kx_getname)>("kx_getname");
  decltype(&qm_getname) qm_name = get<decltype(qm_getname)>("qm_getname");
  decltype(&kx_setcpu) kx_seat = get<decltype(kx_setcpu)>("kx_setcpu");
  decltype(&qm_setcpu) qm_seat = get<decltype(qm_setcpu)>("qm_setcpu");

  Loaded() {
    auto configure = get<decltype(CoreConfigure)>("CoreConfigure");
    auto init = get<decltype(kx_init)>("kx_init");
    if (!configure || !init || !kx_name || !qm_name || !kx_seat || !qm_seat) return;
    configure(KX_CFG_CALLBACKS, &provider);
    open = init(kPort, 115200) == kHandle;
  }
  ~Loaded() {
    if (auto exit = get<decltype(kx_exit)>("kx_exit")) exit(kHandle);
    if (library) dlclose(library);
  }
};

Loaded& loaded() {
  static Loaded l;
  return l;
}

template <typename Call>
void run(benchmark::State& state, Call call) {
  if (!loaded().open) {
    state.SkipWithError("the library or its reader did not open");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(call());
}

void BM_kx_getname(benchmark::State& state) {
  char name[64];
  run(state, [&] { return loaded().kx_name(kHandle, name); });
}
void BM_qm_getname(benchmark::State& state) {
  char name[64];
  run(state, [&] { return loaded().qm_name(kHandle, name); });
}
void BM_kx_setcpu(benchmark::State& state) {
  run(state, [] { return loaded().kx_seat(kHandle, 0x0C); });
}
void BM_qm_setcpu(benchmark::State& state) {
  run(state, [] { return loaded().qm_seat(kHandle, 0x0C); });
}

BENCHMARK(BM_kx_getname);
BENCHMARK(BM_qm_getname);
BENCHMARK(BM_kx_setcpu);
BENCHMARK(BM_qm_setcpu);

}  // namespace

BENCHMARK_MAIN();
