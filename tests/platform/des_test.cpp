#include <gtest/gtest.h>

#include "platform/des.h"
#include "test_support.h"

namespace {

Bytes des(const Bytes& key, const Bytes& in, bool decrypt = false) {
  Bytes out(8);
  (decrypt ? des_decrypt_block : des_encrypt_block)(in.data(), key.data(), out.data());
  return out;
}

Bytes tdes(const Bytes& key, const Bytes& in, bool decrypt = false) {
  Bytes out(8);
  (decrypt ? tdes_decrypt_block : tdes_encrypt_block)(in.data(), key.data(), out.data());
  return out;
}

Bytes concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace

TEST(Des, PublishedVectors) {
  const Bytes key = from_hex("0123456789ABCDEF");
  const Bytes plain = from_hex("4E6F772069732074");
  const Bytes cipher = from_hex("3FA40E8A984D4815");
  EXPECT_EQ(cipher, des(key, plain));
  EXPECT_EQ(plain, des(key, cipher, true));
  // Only the parity bits differ: same result.
  EXPECT_EQ(cipher, des(from_hex("0022446688AACCEE"), plain));
  EXPECT_EQ(from_hex("95F8A5E5DD31D900"),
            des(from_hex("0101010101010101"), from_hex("8000000000000000")));

  const Bytes key16 = from_hex("0123456789ABCDEF FEDCBA9876543210");
  EXPECT_EQ(from_hex("7F1D0A77826B8AFF"), tdes(key16, from_hex("0123456789ABCDE7")));
  EXPECT_EQ(from_hex("0123456789ABCDE7"), tdes(key16, from_hex("7F1D0A77826B8AFF"), true));
}

TEST(Des, MatchesOpenSslOnRandomKeysAndBlocks) {
  std::mt19937 rng(20261208);
  for (int i = 0; i < 200; ++i) {
    const Bytes k1 = random_bytes(rng, 8);
    const Bytes k2 = random_bytes(rng, 8);
    const Bytes block = random_bytes(rng, 8);
    // DES-EDE with K||K is single DES under K.
    ASSERT_EQ(evp_cipher("DES-EDE-ECB", concat(k1, k1), {}, block, 1), des(k1, block));
    ASSERT_EQ(evp_cipher("DES-EDE-ECB", concat(k1, k1), {}, block, 0), des(k1, block, true));
    ASSERT_EQ(evp_cipher("DES-EDE-ECB", concat(k1, k2), {}, block, 1), tdes(concat(k1, k2), block));
    ASSERT_EQ(evp_cipher("DES-EDE-ECB", concat(k1, k2), {}, block, 0),
              tdes(concat(k1, k2), block, true));
  }
}

TEST(Des, TripleFormsInvertAndReduceToSingleDes) {
  std::mt19937 rng(7);
  for (int i = 0; i < 50; ++i) {
    const Bytes k1 = random_bytes(rng, 8);
    const Bytes key = concat(k1, random_bytes(rng, 8));
    const Bytes block = random_bytes(rng, 8);
    EXPECT_EQ(des(k1, block), tdes(concat(k1, k1), block));
    EXPECT_EQ(block, tdes(key, tdes(key, block), true));
    EXPECT_EQ(block, des(k1, des(k1, block), true));
  }
}

TEST(Des, InPlaceEqualsSeparateBuffers) {
  const Bytes key = from_hex("0123456789ABCDEF FEDCBA9876543210");
  const Bytes plain = from_hex("0123456789ABCDE7");
  Bytes block = plain;
  tdes_encrypt_block(block.data(), key.data(), block.data());
  EXPECT_EQ(tdes(key, plain), block);
  tdes_decrypt_block(block.data(), key.data(), block.data());
  EXPECT_EQ(plain, block);
  des_encrypt_block(block.data(), key.data(), block.data());
  EXPECT_EQ(des(key, plain), block);
  des_decrypt_block(block.data(), key.data(), block.data());
  EXPECT_EQ(plain, block);
}

TEST(Des, EcbEncryptsWholeBlocksOnly) {
  const Bytes key = from_hex("0123456789ABCDEF FEDCBA9876543210");
  const Bytes in = from_hex("4E6F772069732074 0123456789ABCDE7");
  Bytes out(16, 0xEE);
  ASSERT_EQ(0, des_ecb_encrypt(0, in.data(), 16, key.data(), out.data()));
  EXPECT_EQ(concat(des(key, Bytes(in.begin(), in.begin() + 8)),
                   des(key, Bytes(in.begin() + 8, in.end()))),
            out);
  ASSERT_EQ(0, des_ecb_encrypt(1, in.data(), 16, key.data(), out.data()));
  EXPECT_EQ(evp_cipher("DES-EDE-ECB", key, {}, in, 1), out);

  const Bytes untouched(16, 0xEE);
  out = untouched;
  EXPECT_EQ(0, des_ecb_encrypt(0, in.data(), 0, key.data(), out.data()));
  EXPECT_EQ(-1, des_ecb_encrypt(0, in.data(), 12, key.data(), out.data()));
  EXPECT_EQ(-1, des_ecb_encrypt(2, in.data(), 8, key.data(), out.data()));
  EXPECT_EQ(-1, des_ecb_encrypt(0, in.data(), -8, key.data(), out.data()));
  EXPECT_EQ(-1, des_ecb_encrypt(0, nullptr, 8, key.data(), out.data()));
  EXPECT_EQ(untouched, out);
}
