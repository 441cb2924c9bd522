// Host cost of m6 operations that do a card's or a display's work on the
// host, over a pseudo-terminal with DLE framing at 115200 baud, tracing off.
//
//   LcdBareRoundTrips   8 bare round trips of 36 bytes out, 6 back: the
//                       line alone, no framing turns.
//   LcdGlyphTurns       the raw DLE turns of 8 glyph commands, 1/1, 41/2,
//                       1/6 and 1 each: the floor of the text below.
//   LcdDisplayText      kx_LcdDisplayText of 8 units from the font file
//                       through the core API, M6Device and DleProtocol, the
//                       simulated reader answering at once.
//                       LcdDisplayText / LcdGlyphTurns is the cost of the
//                       font reads and the layers.
//
// The host work of the card sessions an m6 reader only carries, next to the
// same steps done with OpenSSL's EVP interface (the floor):
//
//   MfpAuthAndRead15         a MIFARE Plus level-3 authentication and a
//                            15-block enciphered read (two AES-CBC
//                            decryptions of the card's tokens, one
//                            encryption of the host's, two session keys,
//                            the command and response CMACs over 10 and
//                            250 bytes, 240 bytes deciphered), through the
//                            library's flows over the card's recorded
//                            answers;
//   MfpAuthAndRead15_OpenSsl the same AES steps through EVP;
//   UlcAuth                  an Ultralight C authentication (four two-key
//                            triple-DES blocks) the same way;
//   UlcAuth_OpenSsl          its steps through EVP.
//
// The library sets a key up for every block, as EVP does for every call
// here; the ratios asked for are at least 0.1x of EVP's speed for AES and
// 0.5x for triple DES.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/far_end.h"
#include "bench/pty_reader.h"
#include "kx_core.h"
#include "platform/file_helpers.h"
#include "platform/mifare_plus_ulc_flow.h"
#include "sim/mifare_plus_card.h"
#include "sim/ultralight_c_card.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int16_t kPort = 11;
constexpr int kUnits = 8;
constexpr size_t kGlyphCommand = 36;
// The glyph bytes carry no 0x10, which DLE would send twice.
constexpr uint8_t kGlyphByte = 0x5A;

// A font of units 0-0x7F in a folder of its own, gone with the object.
struct FontFolder {
  FontFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm_font_XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    path = pattern + "/";
    const Bytes font(0x80 * 32, kGlyphByte);
    ok = write_file((path + "unicode.bin").c_str(), font.data(), int(font.size()));
  }
  ~FontFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  std::string path;
  bool ok = false;
};

void LcdBareRoundTrips(benchmark::State& state) {
  BareLine line;
  if (!line.ok) return state.SkipWithError("no pseudo-terminal");
  const Bytes out(kGlyphCommand, kGlyphByte), back(6, 0x00);
  FarEnd far(line.pty, out.size(), back);
  for (auto _ : state)
    for (int i = 0; i < kUnits; ++i)
      if (!turn(*line.port, out, back.size())) return state.SkipWithError("round trip failed");
}
BENCHMARK(LcdBareRoundTrips)->Unit(benchmark::kMicrosecond);

void LcdGlyphTurns(benchmark::State& state) {
  BareLine line;
  if (!line.ok) return state.SkipWithError("no pseudo-terminal");
  // [seq][E0][35][line][column][mode][32 glyph bytes][XOR] 10 03, and the
  // status-only reply [seq][00][00][XOR] 10 03.
  Bytes command = {0x01, 0xE0, 0x23, 0x00, 0x20, 0x07};
  command.insert(command.end(), 32, kGlyphByte);
  uint8_t x = 0;
  for (uint8_t b : command) x ^= b;
  command.insert(command.end(), {x, 0x10, 0x03});
  const Bytes reply = {0x01, 0x00, 0x00, 0x01, 0x10, 0x03};
  FarEnd far(line.pty, {{1, {0x10}}, {command.size(), {0x10, 0x02}}, {1, reply}, {1, {}}});
  for (auto _ : state) {
    for (int i = 0; i < kUnits; ++i)
      if (!turn(*line.port, {0x02}, 1) || !turn(*line.port, command, 2) ||
          !turn(*line.port, {0x10}, reply.size()) || !turn(*line.port, {0x10}, 0))
        return state.SkipWithError("turn failed");
  }
}
BENCHMARK(LcdGlyphTurns)->Unit(benchmark::kMicrosecond);

void LcdDisplayText(benchmark::State& state) {
  FontFolder font;
  PtyReader reader(0);
  if (!font.ok || !reader.openM6(kPort)) return state.SkipWithError("no simulated reader");
  CoreConfigure(KX_CFG_DIRECTORY, const_cast<char*>(font.path.c_str()));
  uint8_t text[2 * kUnits + 2] = {};
  for (int i = 0; i < kUnits; ++i) text[2 * i] = uint8_t('A' + i);
  for (auto _ : state)
    if (kx_LcdDisplayText(reader.handle, 0, 0, 7, 5, text) != 0)
      return state.SkipWithError("text failed");
  CoreConfigure(KX_CFG_DIRECTORY, const_cast<char*>(""));
}
BENCHMARK(LcdDisplayText)->Unit(benchmark::kMicrosecond);

// --- card sessions ---

const Bytes kMfpKey = {0x2B, 0x7E, 0x15, 0x16, 0x28, 0xAE, 0xD2, 0xA6,
                       0xAB, 0xF7, 0x15, 0x88, 0x09, 0xCF, 0x4F, 0x3C};
const Bytes kUlcKey = {0x49, 0x45, 0x4D, 0x4B, 0x41, 0x45, 0x52, 0x42,
                       0x21, 0x4E, 0x41, 0x43, 0x55, 0x4F, 0x59, 0x46};
constexpr int kBlocks = 15;

Bytes g_rnd_a;
int fixed_rnd_a(uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = g_rnd_a[i % g_rnd_a.size()];
  return 0;
}

Bytes sequence(uint8_t first, size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(first + i);
  return b;
}

// The card's answers to one run of a flow, recorded once against the card
// model and replayed in turn.
struct Replay {
  std::vector<Bytes> answers;
  size_t next = 0;

  CardFrameExchange recorder(std::function<std::optional<Bytes>(const Bytes&)> card) {
    return [this, card](const uint8_t* frame, size_t length, uint8_t* reply, size_t* n) {
      const auto answer = card(Bytes(frame, frame + length));
      if (!answer) return int16_t(-1);
      answers.push_back(*answer);
      std::memcpy(reply, answer->data(), answer->size());
      *n = answer->size();
      return int16_t(0);
    };
  }
  CardFrameExchange player() {
    return [this](const uint8_t*, size_t, uint8_t* reply, size_t* n) {
      const Bytes& answer = answers[next++ % answers.size()];
      std::memcpy(reply, answer.data(), answer.size());
      *n = answer.size();
      return int16_t(0);
    };
  }
};

struct ChallengeScope {
  explicit ChallengeScope(Bytes rnd_a) : previous(set_challenge_source(fixed_rnd_a)) {
    g_rnd_a = std::move(rnd_a);
  }
  ~ChallengeScope() { set_challenge_source(previous); }
  ChallengeSource previous;
};

int16_t mfp_session_run(const CardFrameExchange& channel, uint8_t* out) {
  MfpSession session{};
  const int16_t result = mfp_authenticate_l3(channel, session, 0x4000, kMfpKey.data());
  if (result != 0) return result;
  return mfp_read(channel, session, kBlocks, true, 0, 4, kBlocks, out);
}

void MfpAuthAndRead15(benchmark::State& state) {
  ChallengeScope challenge(sequence(0x10, 16));
  auto card = std::make_shared<MifarePlusCard>(3, sequence(0xA0, 16), Bytes{1, 2, 3, 4});
  card->keys[0x4000] = kMfpKey;
  for (int b = 0; b < kBlocks; ++b) card->blocks[uint16_t(4 + b)] = sequence(uint8_t(16 * b), 16);
  Replay replay;
  uint8_t out[16 * kBlocks];
  if (mfp_session_run(replay.recorder([card](const Bytes& f) { return card->apdu(f); }), out) !=
      0) {
    state.SkipWithError("the recorded session failed");
    return;
  }
  const CardFrameExchange player = replay.player();
  for (auto _ : state) {
    if (mfp_session_run(player, out) != 0) {
      state.SkipWithError("a replayed session failed");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(MfpAuthAndRead15)->Unit(benchmark::kMicrosecond);

// EVP with the cipher and MAC fetched once and a key set up on every call.
class Evp {
 public:
  Evp()
      : aes_(EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr)),
        tdes_cbc_(EVP_CIPHER_fetch(nullptr, "DES-EDE-CBC", nullptr)),
        mac_(EVP_MAC_fetch(nullptr, "CMAC", nullptr)),
        ctx_(EVP_CIPHER_CTX_new()),
        mac_ctx_(mac_ ? EVP_MAC_CTX_new(mac_) : nullptr) {}
  ~Evp() {
    EVP_MAC_CTX_free(mac_ctx_);
    EVP_CIPHER_CTX_free(ctx_);
    EVP_MAC_free(mac_);
    EVP_CIPHER_free(tdes_cbc_);
    EVP_CIPHER_free(aes_);
  }
  bool ok() const { return aes_ && tdes_cbc_ && mac_ctx_ && ctx_; }

  void aes(bool encrypt, const uint8_t* key, const uint8_t* iv, const uint8_t* in, size_t n,
           uint8_t* out) {
    run(aes_, encrypt, key, iv, in, n, out);
  }
  void tdes(bool encrypt, const uint8_t* key, const uint8_t* iv, const uint8_t* in, size_t n,
            uint8_t* out) {
    run(tdes_cbc_, encrypt, key, iv, in, n, out);
  }
  // The MIFARE Plus cut of the CMAC: tag bytes 1, 3, ..., 15.
  void cmac8(const uint8_t* key, const uint8_t* in, size_t n, uint8_t* out) {
    char cipher_name[] = "AES-128-CBC";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("cipher", cipher_name, 0),
                                 OSSL_PARAM_construct_end()};
    uint8_t tag[16];
    size_t length = 0;
    EVP_MAC_init(mac_ctx_, key, 16, params);
    EVP_MAC_update(mac_ctx_, in, n);
    EVP_MAC_final(mac_ctx_, tag, &length, sizeof tag);
    for (int i = 0; i < 8; ++i) out[i] = tag[2 * i + 1];
  }

 private:
  void run(EVP_CIPHER* cipher, bool encrypt, const uint8_t* key, const uint8_t* iv,
           const uint8_t* in, size_t n, uint8_t* out) {
    int length = 0;
    EVP_CipherInit_ex2(ctx_, cipher, key, iv, encrypt ? 1 : 0, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx_, 0);
    EVP_CipherUpdate(ctx_, out, &length, in, int(n));
  }

  EVP_CIPHER* aes_;
  EVP_CIPHER* tdes_cbc_;
  EVP_MAC* mac_;
  EVP_CIPHER_CTX* ctx_;
  EVP_MAC_CTX* mac_ctx_;
};

void MfpAuthAndRead15_OpenSsl(benchmark::State& state) {
  Evp evp;
  if (!evp.ok()) {
    state.SkipWithError("no OpenSSL AES or CMAC");
    return;
  }
  const uint8_t zero_iv[16] = {};
  const Bytes rnd_a = sequence(0x10, 16), card_token = sequence(0x50, 16);
  const Bytes card_answer = sequence(0x60, 32), card_data = sequence(0x70, 16 * kBlocks + 8);
  uint8_t rnd_b[16], token[32], plain[32], enc_key[16], mac_key[16], sv[16], mac[8];
  uint8_t input[250] = {0x31}, data[16 * kBlocks];
  for (auto _ : state) {
    evp.aes(false, kMfpKey.data(), zero_iv, card_token.data(), 16, rnd_b);
    std::memcpy(token, rnd_a.data(), 16);
    std::memcpy(token + 16, rnd_b + 1, 15);
    token[31] = rnd_b[0];
    evp.aes(true, kMfpKey.data(), zero_iv, token, 32, token);
    evp.aes(false, kMfpKey.data(), zero_iv, card_answer.data(), 32, plain);
    benchmark::DoNotOptimize(std::memcmp(plain + 4, rnd_a.data() + 1, 15));
    for (int i = 0; i < 16; ++i) sv[i] = uint8_t(rnd_a[size_t(i)] ^ rnd_b[i]);
    evp.aes(true, kMfpKey.data(), zero_iv, sv, 16, enc_key);
    evp.aes(true, kMfpKey.data(), zero_iv, sv, 16, mac_key);
    evp.cmac8(mac_key, input, 10, mac);
    std::memcpy(input + 10, card_data.data(), 16 * kBlocks);
    evp.cmac8(mac_key, input, sizeof input, mac);
    benchmark::DoNotOptimize(std::memcmp(mac, card_data.data() + 16 * kBlocks, 8));
    evp.aes(false, enc_key, input, card_data.data(), 16 * kBlocks, data);
    benchmark::DoNotOptimize(data);
  }
}
BENCHMARK(MfpAuthAndRead15_OpenSsl)->Unit(benchmark::kMicrosecond);

void UlcAuth(benchmark::State& state) {
  ChallengeScope challenge(sequence(0x01, 8));
  auto card = std::make_shared<UltralightCCard>(sequence(0x10, 8));
  Replay replay;
  if (ulc_authenticate(replay.recorder([card](const Bytes& f) { return card->frame(f); }),
                       kUlcKey.data()) != 0) {
    state.SkipWithError("the recorded authentication failed");
    return;
  }
  const CardFrameExchange player = replay.player();
  for (auto _ : state) {
    if (ulc_authenticate(player, kUlcKey.data()) != 0) {
      state.SkipWithError("a replayed authentication failed");
      break;
    }
  }
}
BENCHMARK(UlcAuth)->Unit(benchmark::kMicrosecond);

void UlcAuth_OpenSsl(benchmark::State& state) {
  Evp evp;
  if (!evp.ok()) {
    state.SkipWithError("no OpenSSL triple DES");
    return;
  }
  const uint8_t zero_iv[8] = {};
  const Bytes rnd_a = sequence(0x01, 8), card_token = sequence(0x40, 8), answer = sequence(0x90, 8);
  uint8_t rnd_b[8], plain[16], token[16], check[8];
  for (auto _ : state) {
    evp.tdes(false, kUlcKey.data(), zero_iv, card_token.data(), 8, rnd_b);
    std::memcpy(plain, rnd_a.data(), 8);
    std::memcpy(plain + 8, rnd_b + 1, 7);
    plain[15] = rnd_b[0];
    evp.tdes(true, kUlcKey.data(), card_token.data(), plain, 16, token);
    evp.tdes(false, kUlcKey.data(), token + 8, answer.data(), 8, check);
    benchmark::DoNotOptimize(std::memcmp(check + 1, rnd_a.data(), 7));
  }
}
BENCHMARK(UlcAuth_OpenSsl)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
