#include "sim/sim_crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include "sim/evp_oracle.h"

#include <memory>
#include <stdexcept>

namespace sim_crypto {
namespace {

Bytes two_key(const Bytes& key) {
  if (key.size() == 16) return key;
  if (key.size() != 8) throw std::invalid_argument("sim_crypto: DES key of 8 or 16 bytes");
  Bytes doubled = key;
  doubled.insert(doubled.end(), key.begin(), key.end());
  return doubled;
}

}  // namespace

Bytes des_ecb(const Bytes& key, const Bytes& in, bool encrypt) {
  return evp_cipher("DES-EDE-ECB", two_key(key), {}, in, encrypt ? 1 : 0);
}

Bytes des_cbc(const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt) {
  Bytes out, chain = iv;
  for (size_t at = 0; at + 8 <= in.size(); at += 8) {
    const Bytes block(in.begin() + long(at), in.begin() + long(at + 8));
    const Bytes done = encrypt ? des_ecb(key, xor_of(block, chain), true)
                               : xor_of(des_ecb(key, block, false), chain);
    chain = encrypt ? done : block;
    out.insert(out.end(), done.begin(), done.end());
  }
  return out;
}

Bytes aes_cbc(const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt) {
  return evp_cipher("AES-128-CBC", key, iv, in, encrypt ? 1 : 0);
}

Bytes cmac8(const Bytes& key, const Bytes& message) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  EVP_MAC_CTX* ctx = mac ? EVP_MAC_CTX_new(mac) : nullptr;
  char cipher_name[] = "AES-128-CBC";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher_name, 0),
      OSSL_PARAM_construct_end()};
  uint8_t tag[16];
  size_t length = 0;
  const bool ok = ctx && EVP_MAC_init(ctx, key.data(), key.size(), params) == 1 &&
                  EVP_MAC_update(ctx, message.data(), message.size()) == 1 &&
                  EVP_MAC_final(ctx, tag, &length, sizeof tag) == 1 && length == 16;
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  if (!ok) throw std::runtime_error("sim_crypto: CMAC failed");
  Bytes out(8);
  for (size_t i = 0; i < 8; ++i) out[i] = tag[2 * i + 1];
  return out;
}

Bytes rotate_left(const Bytes& in) {
  if (in.empty()) return in;
  Bytes out(in.begin() + 1, in.end());
  out.push_back(in[0]);
  return out;
}

Bytes xor_of(Bytes a, const Bytes& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) a[i] ^= b[i];
  return a;
}

}  // namespace sim_crypto
