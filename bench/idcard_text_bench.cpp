// The identity-card text parsers on card A's text, and the country-code
// lookup of ParseOtherInfo: the first code of the table, the last, and one
// that is missing. One iteration is one call through the device interface,
// with no I/O.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "family_r42/r42_device.h"
#include "sim/id_card_module.h"

namespace {

constexpr int32_t kIcdev = 80;

R42Device& device() {
  static R42Device d("r42-u", nullptr, nullptr);
  return d;
}

void ParseTextInfo(benchmark::State& state) {
  const int32_t charset = int32_t(state.range(0));
  const IdCard card = IdCard::a();
  ReaderDevice& d = device();
  std::vector<std::vector<char>> out(10, std::vector<char>(128));
  for (auto _ : state) {
    const int16_t result =
        d.ParseTextInfo(kIcdev, charset, 256, card.text.data(), out[0].data(), out[1].data(),
                        out[2].data(), out[3].data(), out[4].data(), out[5].data(), out[6].data(),
                        out[7].data(), out[8].data(), out[9].data());
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(ParseTextInfo)->ArgName("charset")->Arg(0)->Arg(1);

void ParseOtherInfoCountry(benchmark::State& state) {
  static const char* const kCodes[] = {"ABW", "ZWE", "XXX"};
  const char* code = kCodes[state.range(0)];
  ReaderDevice& d = device();
  char out[64];
  for (auto _ : state) {
    const int16_t result = d.ParseOtherInfo(kIcdev, 2, code, out);
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
  state.SetLabel(code);
}
BENCHMARK(ParseOtherInfoCountry)->ArgName("code")->Arg(0)->Arg(1)->Arg(2);

}  // namespace

BENCHMARK_MAIN();
