#include "platform/card_auth_crypto.h"

#include <atomic>
#include <cstring>

#include "platform/aes128.h"
#include "platform/des.h"
#include "platform/os.h"

namespace {

int system_challenge(uint8_t* out, size_t count) {
  return os_random_bytes(out, count) ? 0 : -1;
}

std::atomic<ChallengeSource> g_challenge_source{nullptr};

constexpr uint8_t kZeroIv[16] = {};

// DESFire legacy authentication frames and answers.
constexpr uint8_t kDesfireAuthenticate = 0x0A;
constexpr uint8_t kDesfireMoreFrames = 0xAF;
constexpr uint8_t kDesfireOk = 0x00;
constexpr size_t kDesfireBlock = 8;
constexpr size_t kDesfireAnswer = 1 + kDesfireBlock;

void put_le16(uint8_t* at, uint32_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
}

// R||W: the read counter then the write counter, 16 bits each, LE.
void put_counters(const MfpSession& session, uint8_t* at) {
  put_le16(at, session.read_counter);
  put_le16(at + 2, session.write_counter);
}

void aes_encrypt_one(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]) {
  std::memcpy(out, in, 16);
  aes128_cbc(1, out, 16, key, kZeroIv);
}

}  // namespace

int draw_challenge(uint8_t* out, size_t count) {
  if (out == nullptr && count > 0) return -1;
  const ChallengeSource source = g_challenge_source.load();
  return (source != nullptr ? source : system_challenge)(out, count);
}

ChallengeSource set_challenge_source(ChallengeSource source) {
  return g_challenge_source.exchange(source);
}

void rotate_left_1(const uint8_t* in, size_t n, uint8_t* out) {
  if (n == 0) return;
  const uint8_t first = in[0];
  std::memmove(out, in + 1, n - 1);
  out[n - 1] = first;
}

void rotate_right_1(const uint8_t* in, size_t n, uint8_t* out) {
  if (n == 0) return;
  const uint8_t last = in[n - 1];
  std::memmove(out + 1, in, n - 1);
  out[0] = last;
}

// --- DESFire ---

bool desfire_decipher(const uint8_t* key, size_t key_length, const uint8_t in[8],
                      uint8_t out[8]) {
  if (key_length == 8) {
    des_decrypt_block(in, key, out);
    return true;
  }
  if (key_length == 16) {
    tdes_decrypt_block(in, key, out);
    return true;
  }
  return false;
}

bool desfire_host_token(const uint8_t* key, size_t key_length, const uint8_t rnd_a[8],
                        const uint8_t card_token[8], uint8_t rnd_b[8], uint8_t token[16]) {
  uint8_t b[8], d1[8], mixed[8];
  if (!desfire_decipher(key, key_length, card_token, b)) return false;
  rotate_left_1(b, 8, mixed);
  desfire_decipher(key, key_length, rnd_a, d1);
  xor_bytes(mixed, d1, 8);
  std::memcpy(rnd_b, b, 8);
  std::memcpy(token, d1, 8);
  desfire_decipher(key, key_length, mixed, token + 8);
  return true;
}

int16_t desfire_authenticate(const CardFrameExchange& exchange, uint8_t key_number,
                             const uint8_t* key, size_t key_length, const uint8_t rnd_a[8],
                             uint8_t rnd_b[8]) {
  if ((key_length != 8 && key_length != 16) || key == nullptr || rnd_a == nullptr ||
      rnd_b == nullptr)
    return -1;
  const uint8_t first[2] = {kDesfireAuthenticate, key_number};
  uint8_t reply[kCardFlowAnswerMax];
  size_t length = 0;
  int16_t result = exchange(first, sizeof first, reply, &length);
  if (result != 0) return result;
  if (length != kDesfireAnswer || reply[0] != kDesfireMoreFrames) return -1;
  uint8_t frame[1 + 2 * kDesfireBlock] = {kDesfireMoreFrames};
  desfire_host_token(key, key_length, rnd_a, reply + 1, rnd_b, frame + 1);
  result = exchange(frame, sizeof frame, reply, &length);
  if (result != 0) return result;
  if (length != kDesfireAnswer || reply[0] != kDesfireOk) return -2;
  return desfire_check_card(key, key_length, rnd_a, reply + 1) ? 0 : -1;
}

bool desfire_check_card(const uint8_t* key, size_t key_length, const uint8_t rnd_a[8],
                        const uint8_t answer[8]) {
  uint8_t x[8];
  if (!desfire_decipher(key, key_length, answer, x)) return false;
  rotate_right_1(x, 8, x);
  return std::memcmp(x, rnd_a, 8) == 0;
}

// --- MIFARE Plus ---

void mfp_host_token(const uint8_t key[16], const uint8_t rnd_a[16], const uint8_t card_token[16],
                    uint8_t rnd_b[16], uint8_t token[32]) {
  uint8_t b[16];
  std::memcpy(b, card_token, 16);
  aes128_cbc(0, b, 16, key, kZeroIv);
  std::memcpy(token, rnd_a, 16);
  rotate_left_1(b, 16, token + 16);
  aes128_cbc(1, token, 32, key, kZeroIv);
  std::memcpy(rnd_b, b, 16);
}

bool mfp_check_card(const uint8_t key[16], const uint8_t rnd_a[16], const uint8_t* answer,
                    size_t length, size_t at, uint8_t* plain) {
  if (length % 16 != 0 || length > 32 || at + 16 > length) return false;
  std::memcpy(plain, answer, length);
  aes128_cbc(0, plain, int(length), key, kZeroIv);
  uint8_t a[16];
  rotate_right_1(plain + at, 16, a);
  return std::memcmp(a, rnd_a, 16) == 0;
}

void mfp_session_keys(const uint8_t key[16], const uint8_t rnd_a[16], const uint8_t rnd_b[16],
                      uint8_t enc_key[16], uint8_t mac_key[16]) {
  uint8_t sv[16];
  std::memcpy(sv, rnd_a + 11, 5);
  std::memcpy(sv + 5, rnd_b + 11, 5);
  std::memcpy(sv + 10, rnd_a + 4, 5);
  xor_bytes(sv + 10, rnd_b + 4, 5);
  sv[15] = 0x11;
  aes_encrypt_one(key, sv, enc_key);
  std::memcpy(sv, rnd_a + 7, 5);
  std::memcpy(sv + 5, rnd_b + 7, 5);
  std::memcpy(sv + 10, rnd_a, 5);
  xor_bytes(sv + 10, rnd_b, 5);
  sv[15] = 0x22;
  aes_encrypt_one(key, sv, mac_key);
}

void mfp_mac(const MfpSession& session, uint8_t head, uint32_t counter, const uint8_t* tail,
             size_t tail_length, uint8_t mac[8]) {
  // Head, counter and TI, then at most BNr, n and 15 blocks.
  uint8_t input[kMfpMacInputMost];
  if (tail_length > sizeof input - 7) tail_length = sizeof input - 7;
  input[0] = head;
  put_le16(input + 1, counter);
  std::memcpy(input + 3, session.transaction_id, 4);
  if (tail_length) std::memcpy(input + 7, tail, tail_length);
  aes128_cmac8(mac, session.mac_key, input, int(7 + tail_length));
}

void mfp_read_iv(const MfpSession& session, uint8_t iv[16]) {
  for (int i = 0; i < 3; ++i) put_counters(session, iv + 4 * i);
  std::memcpy(iv + 12, session.transaction_id, 4);
}

void mfp_write_iv(const MfpSession& session, uint8_t iv[16]) {
  std::memcpy(iv, session.transaction_id, 4);
  for (int i = 1; i < 4; ++i) put_counters(session, iv + 4 * i);
}

// --- MIFARE Ultralight C ---

void ulc_host_token(const uint8_t key[16], const uint8_t rnd_a[8], const uint8_t card_token[8],
                    uint8_t rnd_b[8], uint8_t token[16]) {
  uint8_t b[8], block[8];
  tdes_decrypt_block(card_token, key, b);
  std::memcpy(block, rnd_a, 8);
  xor_bytes(block, card_token, 8);
  tdes_encrypt_block(block, key, token);
  rotate_left_1(b, 8, block);
  xor_bytes(block, token, 8);
  tdes_encrypt_block(block, key, token + 8);
  std::memcpy(rnd_b, b, 8);
}

bool ulc_check_card(const uint8_t key[16], const uint8_t rnd_a[8], const uint8_t token[16],
                    const uint8_t answer[8]) {
  uint8_t a[8];
  tdes_decrypt_block(answer, key, a);
  xor_bytes(a, token + 8, 8);
  rotate_right_1(a, 8, a);
  return std::memcmp(a, rnd_a, 8) == 0;
}

void ulc_key_pages(const uint8_t key[16], uint8_t pages[4][4]) {
  static constexpr int kFirstByte[4] = {7, 3, 15, 11};
  for (int page = 0; page < 4; ++page)
    for (int i = 0; i < 4; ++i) pages[page][i] = key[kFirstByte[page] - i];
}
