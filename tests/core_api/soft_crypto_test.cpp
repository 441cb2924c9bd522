// Software DES, triple DES, ECB, MAC and hex entries, checked against
// published vectors and OpenSSL's DES as the oracle.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/des.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kx_core.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& text) {
  Bytes out(text.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = std::stoi(text.substr(2 * i, 2), nullptr, 16);
  return out;
}

std::string upper_hex(const uint8_t* data, size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}

// A text in a heap block of exactly its size, so ASan sees any over-read.
std::unique_ptr<char[]> exact(const std::string& text) {
  std::unique_ptr<char[]> p(new char[text.size() + 1]);
  std::memcpy(p.get(), text.c_str(), text.size() + 1);
  return p;
}

Bytes oracle_des(const Bytes& key, const Bytes& in, bool encrypt) {
  DES_cblock k;
  std::memcpy(k, key.data(), 8);
  DES_key_schedule ks;
  DES_set_key_unchecked(&k, &ks);
  Bytes out(in.size());
  Bytes copy = in;
  for (size_t at = 0; at < in.size(); at += 8) {
    DES_ecb_encrypt(reinterpret_cast<const_DES_cblock*>(copy.data() + at),
                    reinterpret_cast<DES_cblock*>(out.data() + at), &ks,
                    encrypt ? DES_ENCRYPT : DES_DECRYPT);
  }
  return out;
}

Bytes oracle_retail_mac(const Bytes& key, const Bytes& data) {
  Bytes chain(8, 0);
  const Bytes k1(key.begin(), key.begin() + 8);
  for (size_t at = 0; at < data.size(); at += 8) {
    for (int i = 0; i < 8; ++i) chain[i] ^= data[at + i];
    chain = oracle_des(k1, chain, true);
  }
  if (key.size() == 16) {
    chain = oracle_des(Bytes(key.begin() + 8, key.end()), chain, false);
    chain = oracle_des(k1, chain, true);
  }
  return chain;
}

const Bytes kNowIsTheTime = [] {
  const char* t = "Now is the time for all ";
  return Bytes(t, t + 24);
}();

TEST(SoftCrypto, DesBlockVectorAndModes) {
  const Bytes key = hex("133457799BBCDFF1");
  const Bytes plain = hex("0123456789ABCDEF");
  uint8_t out[8];
  ASSERT_EQ(soft_des_block(key.data(), plain.data(), out, 1), 0);
  EXPECT_EQ(upper_hex(out, 8), "85E813540F0AB405");
  uint8_t back[8];
  ASSERT_EQ(soft_des_block(key.data(), out, back, 0), 0);
  EXPECT_EQ(Bytes(back, back + 8), plain);

  uint8_t untouched[8];
  std::memset(untouched, 0x33, 8);
  EXPECT_EQ(soft_des_block(key.data(), plain.data(), untouched, 2), -1);
  EXPECT_EQ(soft_3des_block(hex("0123456789ABCDEFFEDCBA9876543210").data(), plain.data(),
                            untouched, 2),
            -1);
  EXPECT_EQ(Bytes(untouched, untouched + 8), Bytes(8, 0x33));
  EXPECT_EQ(soft_des_block(nullptr, plain.data(), out, 1), -1);
  EXPECT_EQ(soft_des_block(key.data(), plain.data(), nullptr, 1), -1);
}

TEST(SoftCrypto, TripleDesVectorMatchesOracle) {
  const Bytes key = hex("0123456789ABCDEFFEDCBA9876543210");
  const Bytes plain = hex("4E6F772069732074");
  uint8_t out[8];
  ASSERT_EQ(soft_3des_block(key.data(), plain.data(), out, 1), 0);
  EXPECT_EQ(upper_hex(out, 8), "D80A0D8B2BAE5E4E");

  DES_cblock k1, k2;
  std::memcpy(k1, key.data(), 8);
  std::memcpy(k2, key.data() + 8, 8);
  DES_key_schedule s1, s2;
  DES_set_key_unchecked(&k1, &s1);
  DES_set_key_unchecked(&k2, &s2);
  DES_cblock expected;
  DES_cblock input;
  std::memcpy(input, plain.data(), 8);
  DES_ecb2_encrypt(&input, &expected, &s1, &s2,
                   DES_ENCRYPT);
  EXPECT_EQ(Bytes(out, out + 8), Bytes(expected, expected + 8));

  uint8_t back[8];
  ASSERT_EQ(soft_3des_block(key.data(), out, back, 0), 0);
  EXPECT_EQ(Bytes(back, back + 8), plain);
}

TEST(SoftCrypto, BlockHexDecidesFromLengthAndLeadingDigits) {
  char out[17];
  auto key = exact("0123456789abcdef");
  auto data = exact("4E6F772069732074");
  ASSERT_EQ(soft_des_block_hex(key.get(), data.get(), out, 1), 0);
  EXPECT_STREQ(out, "3FA40E8A984D4815");

  // 32 digits: the first 16 are the key; a 16-digit tail is ignored.
  auto long_key = exact("0123456789abcdefFFFFFFFFFFFFFFFF");
  char out32[17];
  ASSERT_EQ(soft_des_block_hex(long_key.get(), data.get(), out32, 1), 0);
  EXPECT_STREQ(out32, "3FA40E8A984D4815");

  std::memset(out, 'x', sizeof out);
  for (const char* bad : {"0123456789abcde", "0123456789abcdef0", "0123456789abcdeg",
                          "0123456789ABCDEF0123456789ABCDEF0"}) {
    auto k = exact(bad);
    EXPECT_EQ(soft_des_block_hex(k.get(), data.get(), out, 1), -1) << bad;
  }
  auto short_data = exact("4E6F77206973207");
  EXPECT_EQ(soft_des_block_hex(key.get(), short_data.get(), out, 1), -1);
  EXPECT_EQ(soft_des_block_hex(key.get(), data.get(), out, 2), -1);
  EXPECT_EQ(soft_des_block_hex(nullptr, data.get(), out, 1), -1);
  EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, 'x'));

  auto key3 = exact("0123456789ABCDEFFEDCBA9876543210");
  ASSERT_EQ(soft_3des_block_hex(key3.get(), data.get(), out, 1), 0);
  EXPECT_STREQ(out, "D80A0D8B2BAE5E4E");
  auto key3_short = exact("0123456789ABCDEFFEDCBA987654321");
  EXPECT_EQ(soft_3des_block_hex(key3_short.get(), data.get(), out, 1), -1);
  ASSERT_EQ(soft_3des_block_hex(key3.get(), exact("D80A0D8B2BAE5E4E").get(), out, 0), 0);
  EXPECT_STREQ(out, "4E6F772069732074");
}

TEST(SoftCrypto, EcbMatchesOracleAndRefusesPartialBlocks) {
  std::mt19937 rng(7);
  Bytes key(8), data(48);
  for (auto& b : key) b = rng();
  for (auto& b : data) b = rng();
  Bytes out(48);
  ASSERT_EQ(soft_des_ecb_encrypt(key.data(), data.data(), 48, out.data()), 0);
  EXPECT_EQ(out, oracle_des(key, data, true));
  Bytes back(48);
  ASSERT_EQ(soft_des_ecb_decrypt(key.data(), out.data(), 48, back.data()), 0);
  EXPECT_EQ(back, data);

  Bytes untouched(16, 0x44);
  EXPECT_EQ(soft_des_ecb_encrypt(key.data(), data.data(), 12, untouched.data()), -1);
  EXPECT_EQ(soft_des_ecb_encrypt(key.data(), data.data(), 0, untouched.data()), 0);
  EXPECT_EQ(untouched, Bytes(16, 0x44));

  const std::string key_text = upper_hex(key.data(), 8);
  const std::string data_text = upper_hex(data.data(), 48);
  std::vector<char> text(97);
  ASSERT_EQ(soft_des_ecb_encrypt_hex(exact(key_text).get(), exact(data_text).get(), 48,
                                     text.data()),
            0);
  EXPECT_EQ(std::string(text.data()), upper_hex(out.data(), 48));
  ASSERT_EQ(soft_des_ecb_decrypt_hex(exact(key_text).get(), exact(text.data()).get(), 48,
                                     text.data()),
            0);
  EXPECT_EQ(std::string(text.data()), data_text);

  char one = 'x';
  ASSERT_EQ(soft_des_ecb_encrypt_hex(exact(key_text).get(), exact("").get(), 0, &one), 0);
  EXPECT_EQ(one, '\0');
  char kept[4] = "abc";
  EXPECT_EQ(soft_des_ecb_encrypt_hex(exact(key_text).get(), exact(data_text).get(), 12, kept),
            -1);
  EXPECT_STREQ(kept, "abc");
}

TEST(SoftCrypto, EcbHexWithMissingDigitsEncryptsZeros) {
  // Fewer digits than the length asks for: the rest of the block is zero,
  // never left-over memory.
  const Bytes key = hex("133457799BBCDFF1");
  char out[33];
  ASSERT_EQ(soft_des_ecb_encrypt_hex(exact("133457799BBCDFF1").get(), exact("0102").get(), 16,
                                     out),
            0);
  Bytes expected_in(16, 0);
  expected_in[0] = 1;
  expected_in[1] = 2;
  const Bytes expected = oracle_des(key, expected_in, true);
  EXPECT_EQ(std::string(out), upper_hex(expected.data(), 16));
}

TEST(SoftCrypto, MacVectors) {
  const Bytes k1 = hex("0123456789ABCDEF");
  const Bytes k16 = hex("0123456789ABCDEFFEDCBA9876543210");
  uint8_t chain[8] = {};
  uint8_t mac[4];
  ASSERT_EQ(soft_mac(8, k1.data(), 24, kNowIsTheTime.data(), chain, 0, 0, mac), 0);
  EXPECT_EQ(upper_hex(chain, 8), "70A30640CC76DD8B");
  EXPECT_EQ(upper_hex(mac, 4), "70A30640");

  std::memset(chain, 0, 8);
  ASSERT_EQ(soft_mac(16, k16.data(), 24, kNowIsTheTime.data(), chain, 0, 0, mac), 0);
  EXPECT_EQ(upper_hex(chain, 8), "A1C72E74EA3FA9B6");
  EXPECT_EQ(upper_hex(mac, 4), "A1C72E74");
  EXPECT_EQ(Bytes(chain, chain + 8), oracle_retail_mac(k16, kNowIsTheTime));

  // Equal halves collapse to single DES.
  Bytes same = k1;
  same.insert(same.end(), k1.begin(), k1.end());
  std::memset(chain, 0, 8);
  ASSERT_EQ(soft_mac(16, same.data(), 24, kNowIsTheTime.data(), chain, 0, 0, mac), 0);
  EXPECT_EQ(upper_hex(chain, 8), "70A30640CC76DD8B");
}

TEST(SoftCrypto, MacPaddingStaysOutOfCallersBuffer) {
  const Bytes k1 = hex("0123456789ABCDEF");
  // Buffers of exactly the data length: a padding block written after the
  // data would be a heap overflow.
  auto run = [&](const char* text) {
    const size_t n = std::strlen(text);
    std::unique_ptr<uint8_t[]> data(new uint8_t[n]);
    std::memcpy(data.get(), text, n);
    uint8_t chain[8] = {};
    uint8_t mac[4];
    EXPECT_EQ(soft_mac(8, k1.data(), static_cast<uint16_t>(n), data.get(), chain, 1, 0x80, mac),
              0);
    EXPECT_EQ(std::memcmp(data.get(), text, n), 0);
    return upper_hex(chain, 8);
  };
  EXPECT_EQ(run("Now is t"), "02D106FAC9CF78F9");
  EXPECT_EQ(run("Now is the"), "DAD27341A7E16D4D");
}

TEST(SoftCrypto, MacRefusalsLeaveOutputsUntouched) {
  const Bytes key = hex("0123456789ABCDEF0123456789ABCDEF");
  const Bytes data(9, 0x11);
  uint8_t chain[8];
  uint8_t mac[4];
  std::memset(chain, 0x5A, 8);
  std::memset(mac, 0x5A, 4);
  EXPECT_EQ(soft_mac(12, key.data(), 8, data.data(), chain, 0, 0, mac), -1);
  EXPECT_EQ(soft_mac(8, key.data(), 9, data.data(), chain, 0, 0, mac), -1);
  EXPECT_EQ(soft_mac(8, key.data(), 8, nullptr, chain, 0, 0, mac), -1);
  EXPECT_EQ(Bytes(chain, chain + 8), Bytes(8, 0x5A));
  EXPECT_EQ(Bytes(mac, mac + 4), Bytes(4, 0x5A));

  char text[9] = "kept";
  auto data_text = exact("111111111111111111");
  auto key_text = exact("0123456789ABCDEF0123456789ABCDEF");
  auto iv = exact("0000000000000000");
  EXPECT_EQ(soft_mac_hex(12, key_text.get(), 8, data_text.get(), iv.get(), 0, 0, text), -1);
  EXPECT_EQ(soft_mac_hex(8, key_text.get(), 9, data_text.get(), iv.get(), 0, 0, text), -1);
  EXPECT_STREQ(text, "kept");
}

TEST(SoftCrypto, MacHexMatchesBinaryAndKeepsIv) {
  const std::string data_text = upper_hex(kNowIsTheTime.data(), 24);
  auto key = exact("0123456789ABCDEFFEDCBA9876543210");
  auto data = exact(data_text);
  auto iv = exact("0000000000000000");
  char mac[9];
  ASSERT_EQ(soft_mac_hex(16, key.get(), 24, data.get(), iv.get(), 0, 0, mac), 0);
  EXPECT_STREQ(mac, "A1C72E74");
  EXPECT_STREQ(iv.get(), "0000000000000000");
  // Only the low 8 bits of the key length count.
  ASSERT_EQ(soft_mac_hex(0x0108, key.get(), 24, data.get(), iv.get(), 0, 0, mac), 0);
  EXPECT_STREQ(mac, "70A30640");
  auto padded = exact(upper_hex(reinterpret_cast<const uint8_t*>("Now is the"), 10));
  auto k1 = exact("0123456789ABCDEF");
  ASSERT_EQ(soft_mac_hex(8, k1.get(), 10, padded.get(), iv.get(), 1, 0x80, mac), 0);
  EXPECT_STREQ(mac, "DAD27341");
}

TEST(SoftCrypto, HexConversions) {
  char text[8];
  std::memset(text, 'x', sizeof text);
  const uint8_t bytes[] = {0x12, 0xAB};
  ASSERT_EQ(bytes_to_hex_text(bytes, text, 0), 0);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(text[1], 'x');
  ASSERT_EQ(bytes_to_hex_text(bytes, text, 2), 0);
  EXPECT_STREQ(text, "12AB");

  // A negative count would put the NUL before the buffer.
  char guarded[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(bytes_to_hex_text(bytes, guarded + 2, -1), -1);
  EXPECT_EQ(std::string(guarded, 4), "abcd");
  EXPECT_EQ(bytes_to_hex_text(nullptr, text, 1), -1);

  uint8_t out[4] = {0, 0, 0, 0};
  EXPECT_EQ(hex_text_to_bytes("12x456", out, 6), 0);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(hex_text_to_bytes("1234", out, 3), 0);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(hex_text_to_bytes("abCD", out, 4), 0);
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0xCD);
  EXPECT_EQ(hex_text_to_bytes(nullptr, out, 4), -1);
}

}  // namespace
