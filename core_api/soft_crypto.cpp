// DES, triple DES, ECB, CBC-MAC and hex conversion without a reader. Every
// entry runs under api_lock, so none of them overlaps a device call, and
// every refusal is decided before an output is written.
#include <cstring>
#include <vector>

#include "core_api/call_frame.h"
#include "kx_core.h"
#include "platform/byte_helpers.h"
#include "platform/des.h"
#include "platform/text_helpers.h"

namespace {

constexpr int16_t kRefused = -1;

enum Mode : uint16_t { kDecrypt = 0, kEncrypt = 1 };

// One block cipher's two directions.
struct Cipher {
  void (*decrypt)(const uint8_t*, const uint8_t*, uint8_t*);
  void (*encrypt)(const uint8_t*, const uint8_t*, uint8_t*);
};
constexpr Cipher kDes{des_decrypt_block, des_encrypt_block};
constexpr Cipher kTripleDes{tdes_decrypt_block, tdes_encrypt_block};

// The block dispatch shared by the block entries, ECB and the MAC; false for
// a mode that is neither direction.
bool cipher_block(const Cipher& cipher, const uint8_t* key, const uint8_t* in, uint8_t* out,
                  uint16_t mode) {
  if (mode == kDecrypt) {
    cipher.decrypt(in, key, out);
  } else if (mode == kEncrypt) {
    cipher.encrypt(in, key, out);
  } else {
    return false;
  }
  return true;
}

bool des_block(const uint8_t* key, const uint8_t* in, uint8_t* out, uint16_t mode) {
  return cipher_block(kDes, key, in, out, mode);
}

// A block-operation text: at least `digits` characters, an even length (the
// whole text is one conversion) and hex digits in the first `digits`.
// Decided from the length and those digits, so no buffer is sized by the
// caller's text.
bool block_text(const char* text, size_t digits, uint8_t* out) {
  const size_t length = std::strlen(text);
  if (length < digits || length % 2 != 0) return false;
  return hex_to_bytes(text, static_cast<int>(digits), out) == static_cast<int>(digits / 2);
}

int16_t block_hex(const char* key_text, size_t key_digits, const char* data_text, char* out_text,
                  uint16_t mode, const Cipher& cipher) {
  if (!key_text || !data_text || !out_text) return kRefused;
  uint8_t key[16];
  uint8_t in[8];
  uint8_t out[8];
  if (!block_text(key_text, key_digits, key) || !block_text(data_text, 16, in)) return kRefused;
  if (!cipher_block(cipher, key, in, out, mode)) return kRefused;
  hex_twin_output(out, 8, out_text);
  return 0;
}

// The caller's block entries: the result goes out only once it is known.
int16_t block_bytes(const Cipher& cipher, const uint8_t* key, const uint8_t* in, uint8_t* out,
                    uint16_t mode) {
  if (!key || !in || !out) return kRefused;
  uint8_t result[8];
  if (!cipher_block(cipher, key, in, result, mode)) return kRefused;
  std::memcpy(out, result, sizeof result);
  return 0;
}

void ecb_blocks(const uint8_t* key, const uint8_t* in, uint16_t length, uint8_t* out,
                uint16_t mode) {
  for (size_t at = 0; at < length; at += 8) des_block(key, in + at, out + at, mode);
}

int16_t ecb(const uint8_t* key, const uint8_t* in, uint16_t length, uint8_t* out, uint16_t mode) {
  if (!key || !in || !out || length % 8 != 0) return kRefused;
  ecb_blocks(key, in, length, out, mode);
  return 0;
}

int16_t ecb_hex(const char* key_text, const char* data_text, uint16_t length, char* out_text,
                uint16_t mode) {
  if (!key_text || !data_text || !out_text || length % 8 != 0) return kRefused;
  // Zero-filled, so missing digits stand as zero bytes rather than stale heap.
  uint8_t key[8] = {};
  std::vector<uint8_t> in(length, 0);
  std::vector<uint8_t> out(length, 0);
  hex_to_bytes(key_text, 16, key);
  hex_to_bytes(data_text, 2 * length, in.data());
  ecb_blocks(key, in.data(), length, out.data(), mode);
  hex_twin_output(out.data(), length, out_text);
  return 0;
}

bool mac_arguments_valid(unsigned key_length, uint16_t length, uint8_t pad_flag) {
  if (key_length != 8 && key_length != 16) return false;
  return pad_flag != 0 || length % 8 == 0;
}

// CBC-MAC over the data, an optional padding block (built here, never in the
// caller's buffer) and, with a 16-byte key, the final triple step.
void mac_chain(unsigned key_length, const uint8_t* key, uint16_t length, const uint8_t* data,
               uint8_t* chain, uint8_t pad_flag, uint8_t pad_byte) {
  const size_t whole = length / 8 * 8;
  auto absorb = [&](const uint8_t* block) {
    for (int i = 0; i < 8; ++i) chain[i] ^= block[i];
    des_block(key, chain, chain, kEncrypt);
  };
  for (size_t at = 0; at < whole; at += 8) absorb(data + at);
  if (pad_flag != 0) {
    uint8_t last[8] = {};
    const size_t rest = length - whole;
    if (rest) std::memcpy(last, data + whole, rest);
    last[rest] = pad_byte;
    absorb(last);
  }
  if (key_length == 16) {
    des_block(key + 8, chain, chain, kDecrypt);
    des_block(key, chain, chain, kEncrypt);
  }
}

}  // namespace

QM_API int16_t bytes_to_hex_text(const uint8_t* data, char* text, int16_t count) {
  MutexLock hold(api_lock);
  if (!data || !text || count < 0) return kRefused;
  hex_twin_output(data, count, text);
  return 0;
}

QM_API int16_t hex_text_to_bytes(const char* text, uint8_t* data, int16_t count) {
  MutexLock hold(api_lock);
  if (!text || !data) return kRefused;
  // What the conversion gave is deliberately not reported.
  hex_to_bytes(text, count, data);
  return 0;
}

QM_API int16_t soft_des_block(const uint8_t* key, const uint8_t* in, uint8_t* out,
                              uint16_t mode) {
  MutexLock hold(api_lock);
  return block_bytes(kDes, key, in, out, mode);
}

QM_API int16_t soft_3des_block(const uint8_t* key, const uint8_t* in, uint8_t* out,
                               uint16_t mode) {
  MutexLock hold(api_lock);
  return block_bytes(kTripleDes, key, in, out, mode);
}

QM_API int16_t soft_des_block_hex(const char* key, const char* data, char* out, uint16_t mode) {
  MutexLock hold(api_lock);
  return block_hex(key, 16, data, out, mode, kDes);
}

QM_API int16_t soft_3des_block_hex(const char* key, const char* data, char* out,
                                   uint16_t mode) {
  MutexLock hold(api_lock);
  return block_hex(key, 32, data, out, mode, kTripleDes);
}

QM_API int16_t soft_des_ecb_encrypt(const uint8_t* key, const uint8_t* in, uint16_t length,
                                    uint8_t* out) {
  MutexLock hold(api_lock);
  return ecb(key, in, length, out, kEncrypt);
}

QM_API int16_t soft_des_ecb_decrypt(const uint8_t* key, const uint8_t* in, uint16_t length,
                                    uint8_t* out) {
  MutexLock hold(api_lock);
  return ecb(key, in, length, out, kDecrypt);
}

QM_API int16_t soft_des_ecb_encrypt_hex(const char* key, const char* data, uint16_t length,
                                        char* out) {
  MutexLock hold(api_lock);
  return ecb_hex(key, data, length, out, kEncrypt);
}

QM_API int16_t soft_des_ecb_decrypt_hex(const char* key, const char* data, uint16_t length,
                                        char* out) {
  MutexLock hold(api_lock);
  return ecb_hex(key, data, length, out, kDecrypt);
}

QM_API int16_t soft_mac(uint8_t key_length, const uint8_t* key, uint16_t length,
                        const uint8_t* data, uint8_t* chain, uint8_t pad_flag, uint8_t pad_byte,
                        uint8_t* mac) {
  MutexLock hold(api_lock);
  if (!key || !data || !chain || !mac) return kRefused;
  if (!mac_arguments_valid(key_length, length, pad_flag)) return kRefused;
  uint8_t work[8];
  std::memcpy(work, chain, sizeof work);
  mac_chain(key_length, key, length, data, work, pad_flag, pad_byte);
  std::memcpy(chain, work, sizeof work);
  std::memcpy(mac, work, 4);
  return 0;
}

QM_API int16_t soft_mac_hex(int16_t key_length, const char* key, uint16_t length,
                            const char* data, const char* iv, uint8_t pad_flag, uint8_t pad_byte,
                            char* mac) {
  MutexLock hold(api_lock);
  if (!key || !data || !iv || !mac) return kRefused;
  const unsigned key_bytes = static_cast<uint8_t>(key_length);
  // Checked first: nothing is converted for arguments that are refused.
  if (!mac_arguments_valid(key_bytes, length, pad_flag)) return kRefused;
  uint8_t key_work[16] = {};
  uint8_t chain[8] = {};
  std::vector<uint8_t> data_work(length, 0);
  hex_to_bytes(key, static_cast<int>(2 * key_bytes), key_work);
  hex_to_bytes(data, 2 * length, data_work.data());
  hex_to_bytes(iv, 16, chain);
  mac_chain(key_bytes, key_work, length, data_work.data(), chain, pad_flag, pad_byte);
  hex_twin_output(chain, 4, mac);
  return 0;
}
