// Cost of the software ciphers, the hex conversions, the byte queue and the
// trace line next to the serial wire: at 115200 baud 8N1 one byte takes
// 86.8 us, so every figure here is compared with bytes x 86.8 us.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/aes128.h"
#include "platform/byte_helpers.h"
#include "platform/byte_queue.h"
#include "platform/des.h"
#include "platform/trace_file.h"

namespace {

constexpr uint8_t kKey[16] = {0x2B, 0x7E, 0x15, 0x16, 0x28, 0xAE, 0xD2, 0xA6,
                              0xAB, 0xF7, 0x15, 0x88, 0x09, 0xCF, 0x4F, 0x3C};
constexpr uint8_t kIv[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr double kWireMicrosPerByte = 86.8;

void set_wire_time(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
  state.counters["wire_us"] = benchmark::Counter(kWireMicrosPerByte * double(bytes));
}

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> data(n);
  for (size_t i = 0; i < n; ++i) data[i] = uint8_t(i * 37 + 11);
  return data;
}

// OpenSSL with the key set up on every call, as the library does.
void evp_run(benchmark::State& state, const char* name, const uint8_t* key, const uint8_t* iv,
             size_t length) {
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::vector<uint8_t> in = pattern(length);
  std::vector<uint8_t> out(length + 32);
  for (auto _ : state) {
    int n = 0;
    int tail = 0;
    EVP_EncryptInit_ex2(ctx, cipher, key, iv, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), int(length));
    EVP_EncryptFinal_ex(ctx, out.data() + n, &tail);
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  set_wire_time(state, length);
}

void BM_DesBlock(benchmark::State& state) {
  uint8_t block[8] = {0x4E, 0x6F, 0x77, 0x20, 0x69, 0x73, 0x20, 0x74};
  for (auto _ : state) {
    des_encrypt_block(block, kKey, block);
    benchmark::DoNotOptimize(block);
  }
  set_wire_time(state, 8);
}
BENCHMARK(BM_DesBlock);

void BM_DesBlock_OpenSsl(benchmark::State& state) {
  uint8_t key[16];
  std::memcpy(key, kKey, 8);
  std::memcpy(key + 8, kKey, 8);  // K||K: single DES without the legacy provider
  evp_run(state, "DES-EDE-ECB", key, nullptr, 8);
}
BENCHMARK(BM_DesBlock_OpenSsl);

void BM_TdesBlock(benchmark::State& state) {
  uint8_t block[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xE7};
  for (auto _ : state) {
    tdes_encrypt_block(block, kKey, block);
    benchmark::DoNotOptimize(block);
  }
  set_wire_time(state, 8);
}
BENCHMARK(BM_TdesBlock);

void BM_TdesBlock_OpenSsl(benchmark::State& state) { evp_run(state, "DES-EDE-ECB", kKey, nullptr, 8); }
BENCHMARK(BM_TdesBlock_OpenSsl);

void BM_AesCbc(benchmark::State& state) {
  const size_t length = size_t(state.range(0));
  std::vector<uint8_t> buffer = pattern(length);
  for (auto _ : state) {
    aes128_cbc(1, buffer.data(), int(length), kKey, kIv);
    benchmark::DoNotOptimize(buffer.data());
  }
  set_wire_time(state, length);
}
BENCHMARK(BM_AesCbc)->Arg(16)->Arg(32)->Arg(224);

void BM_AesCbc_OpenSsl(benchmark::State& state) {
  evp_run(state, "AES-128-CBC", kKey, kIv, size_t(state.range(0)));
}
BENCHMARK(BM_AesCbc_OpenSsl)->Arg(16)->Arg(32)->Arg(224);

void BM_Cmac8(benchmark::State& state) {
  const size_t length = size_t(state.range(0));
  const std::vector<uint8_t> message = pattern(length);
  uint8_t mac[8];
  for (auto _ : state) {
    aes128_cmac8(mac, kKey, message.data(), int(length));
    benchmark::DoNotOptimize(mac);
  }
  set_wire_time(state, length);
}
BENCHMARK(BM_Cmac8)->Arg(10)->Arg(240);

void BM_Cmac_OpenSsl(benchmark::State& state) {
  const size_t length = size_t(state.range(0));
  const std::vector<uint8_t> message = pattern(length);
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
  char cipher_name[] = "AES-128-CBC";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("cipher", cipher_name, 0),
                               OSSL_PARAM_construct_end()};
  uint8_t tag[16];
  for (auto _ : state) {
    size_t n = 0;
    EVP_MAC_init(ctx, kKey, 16, params);
    EVP_MAC_update(ctx, message.data(), length);
    EVP_MAC_final(ctx, tag, &n, sizeof tag);
    benchmark::DoNotOptimize(tag);
  }
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  set_wire_time(state, length);
}
BENCHMARK(BM_Cmac_OpenSsl)->Arg(10)->Arg(240);

void BM_BytesToHex(benchmark::State& state) {
  const std::vector<uint8_t> data = pattern(2048);
  std::vector<char> text(4096);
  for (auto _ : state) {
    bytes_to_hex(data.data(), 2048, text.data());
    benchmark::DoNotOptimize(text.data());
  }
  set_wire_time(state, 2048);
}
BENCHMARK(BM_BytesToHex);

void BM_HexToBytes(benchmark::State& state) {
  const std::vector<uint8_t> data = pattern(2048);
  std::vector<char> text(4096);
  bytes_to_hex(data.data(), 2048, text.data());
  std::vector<uint8_t> out(2048);
  for (auto _ : state) {
    hex_to_bytes(text.data(), 4096, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  set_wire_time(state, 2048);
}
BENCHMARK(BM_HexToBytes);

// A port's reply: 2048 bytes pushed by the pump, then taken one by one.
void BM_ByteQueuePushPop(benchmark::State& state) {
  ByteQueue queue;
  for (auto _ : state) {
    for (int i = 0; i < 2048; ++i) queue.push(uint8_t(i));
    uint8_t b = 0;
    for (int n = queue.size(); n > 0; --n) {
      queue.front(b);
      queue.pop();
    }
    benchmark::DoNotOptimize(b);
  }
  set_wire_time(state, 2048);
}
BENCHMARK(BM_ByteQueuePushPop);

void BM_TraceWriteHex(benchmark::State& state) {
  const std::vector<uint8_t> data = pattern(2048);
  TraceFile trace("/dev/null");
  for (auto _ : state) {
    benchmark::DoNotOptimize(trace.writeHex(data.data(), 2048, "  Data[in]:", ""));
  }
  set_wire_time(state, 2048);
}
BENCHMARK(BM_TraceWriteHex);

}  // namespace

BENCHMARK_MAIN();
