// OpenSSL as the tests' independent cipher oracle (tests and simulators
// only; the library never links it).
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// One-shot EVP cipher without padding: encrypt != 0 encrypts.
inline std::vector<uint8_t> evp_cipher(const char* name, const std::vector<uint8_t>& key,
                                       const std::vector<uint8_t>& iv,
                                       const std::vector<uint8_t>& in, int encrypt) {
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::vector<uint8_t> out(in.size() + 32);
  int n = 0;
  int tail = 0;
  const bool ok = cipher && ctx &&
                  EVP_CipherInit_ex2(ctx, cipher, key.data(), iv.empty() ? nullptr : iv.data(),
                                     encrypt, nullptr) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                  EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
                  EVP_CipherFinal_ex(ctx, out.data() + n, &tail) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  if (!ok) throw std::runtime_error(std::string("OpenSSL cipher failed: ") + name);
  out.resize(size_t(n + tail));
  return out;
}

// DES and triple DES in ECB by key length: 8 bytes single DES (run as
// DES-EDE with K || K), 16 two-key, 24 three-key.
inline std::vector<uint8_t> evp_des_ecb(std::vector<uint8_t> key, const std::vector<uint8_t>& in,
                                        bool encrypt) {
  if (key.size() == 8) key.insert(key.end(), key.begin(), key.end());
  return evp_cipher(key.size() == 24 ? "DES-EDE3-ECB" : "DES-EDE-ECB", key, {}, in,
                    encrypt ? 1 : 0);
}
