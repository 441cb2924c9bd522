#include <cstring>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "platform/aes128.h"
#include "test_support.h"

namespace {

const Bytes kKey = from_hex("2B7E151628AED2A6ABF7158809CF4F3C");
const Bytes kIv = from_hex("000102030405060708090A0B0C0D0E0F");
const Bytes kPlain = from_hex(
    "6BC1BEE22E409F96E93D7E117393172A AE2D8A571E03AC9C9EB76FAC45AF8E51"
    "30C81C46A35CE411E5FBC1191A0A52EF F69F2445DF4F9B17AD2B417BE66C3710");

// A heap buffer of exactly `size` bytes, so ASan sees any write past it.
std::unique_ptr<uint8_t[]> exact_copy(const Bytes& data, size_t size) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
  std::memset(buffer.get(), 0xA5, size);
  if (!data.empty()) std::memcpy(buffer.get(), data.data(), std::min(size, data.size()));
  return buffer;
}

Bytes padded(Bytes data) {
  if (data.size() % 16 == 0) return data;
  data.push_back(0x80);
  while (data.size() % 16) data.push_back(0);
  return data;
}

Bytes cmac8(const Bytes& key, const Bytes& message) {
  Bytes mac(8);
  EXPECT_EQ(0, aes128_cmac8(mac.data(), key.data(), message.data(), int(message.size())));
  return mac;
}

}  // namespace

TEST(Aes128, BlockAndKeyExpansionMatchFips197) {
  uint8_t round_keys[176];
  aes128_expand_key(round_keys, kKey.data());
  EXPECT_EQ(from_hex("D014F9A8C9EE2589E13F0CC8B6630CA6"), Bytes(round_keys + 160, round_keys + 176));

  Aes128Context ctx;
  aes128_init(ctx, kKey.data());
  EXPECT_EQ(0, std::memcmp(round_keys, ctx.round_keys, 176));
  Bytes block = from_hex("3243F6A8885A308D313198A2E0370734");
  aes128_encrypt_block(ctx, block.data());
  EXPECT_EQ(from_hex("3925841D02DC09FBDC118597196A0B32"), block);
  aes128_decrypt_block(ctx, block.data());
  EXPECT_EQ(from_hex("3243F6A8885A308D313198A2E0370734"), block);
  for (int x = 0; x < 256; ++x) ASSERT_EQ(x, ctx.inv_sbox[ctx.sbox[x]]);
}

TEST(Aes128, CbcMatchesSp80038aAndLeavesTheIvAlone) {
  Bytes buffer = kPlain;
  const Bytes iv = kIv;
  ASSERT_EQ(0, aes128_cbc(1, buffer.data(), int(buffer.size()), kKey.data(), iv.data()));
  EXPECT_EQ(from_hex("7649ABAC8119B246CEE98E9B12E9197D 5086CB9B507219EE95DB113A917678B2"
                     "73BED6B8E3C1743B7116E69E22229516 3FF1CAA1681FAC09120ECA307586E1A7"),
            buffer);
  EXPECT_EQ(kIv, iv);
  ASSERT_EQ(0, aes128_cbc(0, buffer.data(), int(buffer.size()), kKey.data(), iv.data()));
  EXPECT_EQ(kPlain, buffer);
  EXPECT_EQ(kIv, iv);
}

TEST(Aes128, CbcMatchesOpenSslForWholeBlocksOfAnyLength) {
  std::mt19937 rng(42);
  // 256 and 272 bytes are encrypted whole, not cut to eight bits.
  for (int blocks : {1, 2, 14, 15, 16, 17, 40}) {
    const Bytes key = random_bytes(rng, 16);
    const Bytes iv = random_bytes(rng, 16);
    const Bytes plain = random_bytes(rng, size_t(16 * blocks));
    Bytes buffer = plain;
    ASSERT_EQ(0, aes128_cbc(1, buffer.data(), int(buffer.size()), key.data(), iv.data()));
    ASSERT_EQ(evp_cipher("AES-128-CBC", key, iv, plain, 1), buffer) << blocks;
    ASSERT_EQ(0, aes128_cbc(0, buffer.data(), int(buffer.size()), key.data(), iv.data()));
    ASSERT_EQ(plain, buffer) << blocks;
  }
}

TEST(Aes128, CbcPadsAPartialTailInPlace) {
  std::mt19937 rng(3);
  for (int length = 1; length < 48; ++length) {
    if (length % 16 == 0) continue;
    const Bytes plain = random_bytes(rng, size_t(length));
    const size_t end = size_t((length + 15) / 16 * 16);
    auto buffer = exact_copy(plain, end + 4);  // four guard bytes
    ASSERT_EQ(0, aes128_cbc(1, buffer.get(), length, kKey.data(), kIv.data()));
    EXPECT_EQ(evp_cipher("AES-128-CBC", kKey, kIv, padded(plain), 1),
              Bytes(buffer.get(), buffer.get() + end))
        << length;
    EXPECT_EQ(Bytes(4, 0xA5), Bytes(buffer.get() + end, buffer.get() + end + 4)) << length;
    // Decrypting pads in place too, then undoes the whole padded run.
    auto cipher = exact_copy(Bytes(buffer.get(), buffer.get() + end), end);
    ASSERT_EQ(0, aes128_cbc(0, cipher.get(), int(end), kKey.data(), kIv.data()));
    EXPECT_EQ(padded(plain), Bytes(cipher.get(), cipher.get() + end));
  }
  const Bytes twenty = random_bytes(rng, 20);
  auto buffer = exact_copy(twenty, 32);
  ASSERT_EQ(0, aes128_cbc(1, buffer.get(), 20, kKey.data(), kIv.data()));
  ASSERT_EQ(0, aes128_cbc(0, buffer.get(), 32, kKey.data(), kIv.data()));
  EXPECT_EQ(padded(twenty), Bytes(buffer.get(), buffer.get() + 32));
}

TEST(Aes128, CbcRefusesBadArgumentsAndIgnoresLengthZero) {
  Bytes buffer = kPlain;
  EXPECT_EQ(0, aes128_cbc(1, buffer.data(), 0, kKey.data(), kIv.data()));
  EXPECT_EQ(-1, aes128_cbc(1, buffer.data(), -16, kKey.data(), kIv.data()));
  EXPECT_EQ(-1, aes128_cbc(1, buffer.data(), 16, nullptr, kIv.data()));
  EXPECT_EQ(-1, aes128_cbc(1, buffer.data(), 16, kKey.data(), nullptr));
  EXPECT_EQ(-1, aes128_cbc(1, nullptr, 16, kKey.data(), kIv.data()));
  EXPECT_EQ(kPlain, buffer);
}

TEST(Aes128, XorBytesTakesAnyPositiveCount) {
  Bytes dst(300, 0x0F);
  const Bytes src(300, 0xF0);
  xor_bytes(dst.data(), src.data(), 256);
  EXPECT_EQ(0xFF, dst[0]);
  EXPECT_EQ(0xFF, dst[255]);
  EXPECT_EQ(0x0F, dst[256]);
  xor_bytes(dst.data(), src.data(), 0);
  xor_bytes(dst.data(), src.data(), -5);
  EXPECT_EQ(0xFF, dst[0]);
}

TEST(Aes128, FourThreadsWithDifferentKeysGetTheirOwnResults) {
  std::vector<std::thread> threads;
  int failures[4] = {};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      std::mt19937 rng(uint32_t(100 + t));
      const Bytes key = random_bytes(rng, 16);
      const Bytes iv = random_bytes(rng, 16);
      const Bytes plain = random_bytes(rng, 64);
      Bytes expected_cipher(64);
      Bytes expected_mac(8);
      for (int i = 0; i < 200; ++i) {
        Bytes buffer = plain;
        aes128_cbc(1, buffer.data(), 64, key.data(), iv.data());
        Bytes mac(8);
        aes128_cmac8(mac.data(), key.data(), plain.data(), 40);
        if (i == 0) {
          expected_cipher = buffer;
          expected_mac = mac;
        } else if (buffer != expected_cipher || mac != expected_mac) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(0, failures[t]);
}

TEST(Cmac8, PicksTheOddBytesOfTheRfc4493Tags) {
  const struct {
    size_t length;
    const char* tag;
    const char* mac;
  } cases[] = {
      {0, "BB1D6929E95937287FA37D129B756746", "1D295928A3127546"},
      {16, "070A16B46B4D4144F79BDD9DD04A287C", "0AB44D449B9D4A7C"},
      {40, "DFA66747DE9AE63030CA32611497C827", "A6479A30CA619727"},
      {64, "51F0BEBF7E3B9D92FC49741779363CFE", "F0BF3B92491736FE"},
  };
  for (const auto& c : cases) {
    const Bytes message(kPlain.begin(), kPlain.begin() + long(c.length));
    EXPECT_EQ(from_hex(c.mac), cmac8(kKey, message)) << c.length;
    EXPECT_EQ(odd_bytes(from_hex(c.tag)), cmac8(kKey, message)) << c.length;
  }
}

TEST(Cmac8, MatchesOpenSslForEveryLengthAndLeavesTheMessageAlone) {
  std::mt19937 rng(99);
  for (int length = 0; length <= 300; ++length) {
    const Bytes key = random_bytes(rng, 16);
    const Bytes message = random_bytes(rng, size_t(length));
    // Exactly the message's bytes: a write past it, or into it, shows.
    auto buffer = exact_copy(message, size_t(length) + (length == 0));
    uint8_t mac[8];
    ASSERT_EQ(0, aes128_cmac8(mac, key.data(), buffer.get(), length));
    ASSERT_EQ(odd_bytes(evp_cmac(key, message)), Bytes(mac, mac + 8)) << length;
    ASSERT_EQ(message, Bytes(buffer.get(), buffer.get() + length)) << length;
  }
}

TEST(Cmac8, RefusesBadArguments) {
  uint8_t mac[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const Bytes untouched(mac, mac + 8);
  EXPECT_EQ(-1, aes128_cmac8(mac, kKey.data(), kPlain.data(), -1));
  EXPECT_EQ(-1, aes128_cmac8(mac, nullptr, kPlain.data(), 16));
  EXPECT_EQ(-1, aes128_cmac8(mac, kKey.data(), nullptr, 16));
  EXPECT_EQ(-1, aes128_cmac8(nullptr, kKey.data(), kPlain.data(), 16));
  EXPECT_EQ(untouched, Bytes(mac, mac + 8));
}
