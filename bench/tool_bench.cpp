// QR encoding next to libqrencode on the same bytes at level L, and the
// device identifier's bitmap written to a memory file system.
#include <benchmark/benchmark.h>
#include <qrencode.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tool/bitmap_writers.h"
#include "tool/qr_encoder.h"

namespace {

constexpr char kIdentifier[] = "A09ABDA0C2BE18B571D7";

// The identifier for 20 bytes; fixed ASCII text for longer ones.
std::string text_of(size_t length) {
  if (length == sizeof kIdentifier - 1) return kIdentifier;
  static const std::string kSentence = "The quick brown fox jumps over the lazy dog, 0123456789 times. ";
  std::string text;
  while (text.size() < length) text += kSentence;
  text.resize(length);
  return text;
}

void BM_QrEncoder(benchmark::State& state) {
  const std::string text = text_of(size_t(state.range(0)));
  QrEncoder encoder;
  for (auto _ : state) {
    if (!encoder.encode(0, text.c_str())) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(encoder.symbol().dark.data());
  }
  state.counters["version"] = encoder.version();
}

void BM_QrEncoder_Libqrencode(benchmark::State& state) {
  const std::string text = text_of(size_t(state.range(0)));
  int version = 0;
  for (auto _ : state) {
    QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_L, QR_MODE_8, 1);
    if (!code) {
      state.SkipWithError("QRcode_encodeString failed");
      break;
    }
    version = code->version;
    benchmark::DoNotOptimize(code->data);
    QRcode_free(code);
  }
  state.counters["version"] = version;
}

// /dev/shm where there is one, else the temporary folder.
std::string memory_file(const char* name) {
  const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return folder + "/" + name + "." + std::to_string(getpid());
}

void BM_WriteQrBitmapIdentifier(benchmark::State& state) {
  const std::string file = memory_file("qm_tool_bench.bmp");
  for (auto _ : state) {
    if (WriteQrBitmap(file.c_str(), kIdentifier, 3, 0) != 0) state.SkipWithError("write failed");
  }
  std::remove(file.c_str());
}

}  // namespace

BENCHMARK(BM_QrEncoder)->Arg(20)->Arg(200)->Arg(1000);
BENCHMARK(BM_QrEncoder_Libqrencode)->Arg(20)->Arg(200)->Arg(1000);
BENCHMARK(BM_WriteQrBitmapIdentifier)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
