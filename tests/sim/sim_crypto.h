// The card models' own cryptography, computed with OpenSSL's EVP interface
// (never the library's code, so a test compares two implementations).
// Single DES runs as DES-EDE with K || K, which the default provider has.
#pragma once

#include <cstdint>
#include <vector>

namespace sim_crypto {

using Bytes = std::vector<uint8_t>;

// ECB over whole 8-byte blocks; an 8-byte key is DES, a 16-byte key
// two-key triple DES.
Bytes des_ecb(const Bytes& key, const Bytes& in, bool encrypt);
// CBC over whole blocks as a chain of the above, starting from `iv`.
Bytes des_cbc(const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt);
// AES-128-CBC over whole 16-byte blocks, no padding.
Bytes aes_cbc(const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt);
// AES-128 CMAC, cut the MIFARE Plus way: bytes 1, 3, ..., 15 of the tag.
Bytes cmac8(const Bytes& key, const Bytes& message);

Bytes rotate_left(const Bytes& in);
Bytes xor_of(Bytes a, const Bytes& b);

}  // namespace sim_crypto
