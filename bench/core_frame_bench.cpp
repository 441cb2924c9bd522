// Cost of the core call frame: the device slot called directly versus the
// traced core operation, with the trace off and at level 3, on one r42
// reader reached through an in-memory application transport. The members:
// a name kept in the device, the version (one exchange), a long APDU
// exchange with the processor card in contact slot 0 (261 bytes out, 258
// back) and the identity-card text parser.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "connection/reader_device.h"
#include "core_api/memory_transport.h"
#include "core_api/reader_families.h"
#include "kx_core.h"
#include "platform/settings.h"
#include "sim/contact_slots.h"

namespace {

constexpr int16_t kPort = 400;
constexpr int32_t kHandle = kPort + 80;

// 256 data bytes and the status word: what the card answers every APDU.
std::vector<uint8_t> long_answer() {
  std::vector<uint8_t> answer(258);
  for (size_t i = 0; i < 256; ++i) answer[i] = uint8_t(i);
  answer[256] = 0x90;
  return answer;
}

// One reader for the whole run, opened once, with a processor card powered
// in contact slot 0.
struct Bench {
  ContactSlots slots;
  std::shared_ptr<Iso7816Card> card;
  MemoryTransportReader reader;
  PortProvider provider;
  std::string trace_dir;
  bool open = false;

  Bench() : provider(reader.provider()) {
    slots.attach(reader.model);
    card = slots.insert(0);
    card->scriptForever(long_answer());
    char pattern[] = "/dev/shm/core_frame_bench_XXXXXX";
    const char* made = mkdtemp(pattern);
    trace_dir = std::string(made ? made : "/tmp") + "/";
    CoreConfigure(KX_CFG_DIRECTORY, trace_dir.data());
    CoreConfigure(KX_CFG_CALLBACKS, &provider);
    uint8_t length = 0;
    uint8_t atr[256];
    open = kx_init(kPort, 115200) == kHandle && kx_cpureset(kHandle, &length, atr) == 0;
  }
  // The reader and the card log every request; kept over a run, those
  // logs would grow by the megabyte and time the allocator instead.
  void forget_requests() {
    reader.model.clearLog();
    card->log.clear();
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
  for (auto _ : state) {
    benchmark::DoNotOptimize(call());
  }
  set_trace_level(0);
}

ReaderDevice& device() { return *device_manager.deviceAt(kPort); }
int level(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

char text[256];

void DeviceGetname(benchmark::State& state) {
  run(state, 0, [] { return device().getname(kHandle, text); });
}
void DeviceGetver(benchmark::State& state) {
  run(state, 0, [] {
    bench().forget_requests();
    return device().getver(kHandle, text);
  });
}
void CoreGetname(benchmark::State& state) {
  run(state, level(state), [] { return kx_getname(kHandle, text); });
}
void CoreGetver(benchmark::State& state) {
  run(state, level(state), [] {
    bench().forget_requests();
    return kx_getver(kHandle, text);
  });
}

// A 261-byte command APDU (header, Lc 0x00 and a two-byte length, 254 data
// bytes, Le) whose answer is 256 data bytes and the status word.
struct Apdu {
  uint8_t command[261] = {0x00, 0xD6, 0x00, 0x00, 0x00, 0x00, 0xFE};
  uint8_t reply[4096] = {};
  int32_t reply_length = 0;
};
Apdu apdu;

// A run in which any call missed the card's whole answer timed something
// else, and is reported as an error.
template <typename Call>
void run_apdu(benchmark::State& state, int level, Call call) {
  bool whole = true;
  run(state, level, [&] {
    apdu.reply_length = 0;
    bench().forget_requests();
    const int16_t result = call();
    whole = whole && result == 0 && apdu.reply_length == 258;
    return result;
  });
  if (!whole) state.SkipWithError("no 258-byte answer");
}

void DeviceCpuapduInt(benchmark::State& state) {
  run_apdu(state, 0, [] {
    return device().cpuapduInt(kHandle, 261, apdu.command, &apdu.reply_length, apdu.reply);
  });
}
void CoreCpuapduInt(benchmark::State& state) {
  run_apdu(state, level(state), [] {
    return kx_cpuapduInt(kHandle, 261, apdu.command, &apdu.reply_length, apdu.reply);
  });
}

// A resident card's 256-byte text record, cut into ten fields.
struct TextRecord {
  uint8_t info[256] = {};
  char fields[10][128] = {};
  TextRecord() {
    for (size_t i = 0; i < sizeof info; i += 2) info[i] = '0' + i % 10;
  }
};
TextRecord record;

void DeviceParseTextInfo(benchmark::State& state) {
  run(state, 0, [] {
    char(*f)[128] = record.fields;
    return device().ParseTextInfo(kHandle, 0, 256, record.info, f[0], f[1], f[2], f[3], f[4], f[5],
                                  f[6], f[7], f[8], f[9]);
  });
}
void CoreParseTextInfo(benchmark::State& state) {
  run(state, level(state), [] {
    char(*f)[128] = record.fields;
    return kx_ParseTextInfo(kHandle, 0, 256, record.info, f[0], f[1], f[2], f[3], f[4], f[5], f[6],
                            f[7], f[8], f[9]);
  });
}

BENCHMARK(DeviceGetname);
BENCHMARK(CoreGetname)->Arg(0)->Arg(3);
BENCHMARK(DeviceGetver);
BENCHMARK(CoreGetver)->Arg(0)->Arg(3);
BENCHMARK(DeviceCpuapduInt);
BENCHMARK(CoreCpuapduInt)->Arg(0)->Arg(3);
BENCHMARK(DeviceParseTextInfo);
BENCHMARK(CoreParseTextInfo)->Arg(0)->Arg(3);

}  // namespace

BENCHMARK_MAIN();
