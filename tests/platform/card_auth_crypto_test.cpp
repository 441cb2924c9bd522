// The host's card-authentication steps against fixed vectors and against
// the card models' OpenSSL computations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

#include "platform/card_auth_crypto.h"
#include "sim/sim_crypto.h"
#include "test_support.h"

namespace {

const Bytes kRndA8 = from_hex("0102030405060708");
const Bytes kRndB8 = from_hex("1020304050607080");

struct DesfireVector {
  const char* key;
  const char* card_token;
  const char* host_token;
  const char* card_proof;
};

class CardAuthDesfire : public ::testing::TestWithParam<DesfireVector> {};

TEST_P(CardAuthDesfire, HostTokenAndProofOfTheVector) {
  const DesfireVector& v = GetParam();
  const Bytes key = from_hex(v.key);
  Bytes rnd_b(8), token(16);
  ASSERT_TRUE(desfire_host_token(key.data(), key.size(), kRndA8.data(),
                                 from_hex(v.card_token).data(), rnd_b.data(), token.data()));
  EXPECT_EQ(rnd_b, kRndB8);
  EXPECT_EQ(token, from_hex(v.host_token));
  EXPECT_TRUE(desfire_check_card(key.data(), key.size(), kRndA8.data(),
                                 from_hex(v.card_proof).data()));
  Bytes other = kRndA8;
  other[7] ^= 1;
  EXPECT_FALSE(desfire_check_card(key.data(), key.size(), other.data(),
                                  from_hex(v.card_proof).data()));
  // What a card computes with OpenSSL agrees.
  using namespace sim_crypto;
  EXPECT_EQ(des_ecb(key, kRndB8, true), from_hex(v.card_token));
  EXPECT_EQ(des_ecb(key, rotate_left(kRndA8), true), from_hex(v.card_proof));
}

INSTANTIATE_TEST_SUITE_P(
    , CardAuthDesfire,
    ::testing::Values(DesfireVector{"0000000000000000", "6C905ABBE37FA86D",
                                    "CEAD373DB80EABF8809BFDE03E6DD9C3", "FB796C9AAFBF71D3"},
                      DesfireVector{"00112233445566778899AABBCCDDEEFF", "9366223E0B89F631",
                                    "D916AA29EF0A8F6A1D6ED0352836B1DE", "B6F31EE6F998C235"}));

TEST(CardAuthDesfireKeys, OnlyEightOrSixteenByteKeys) {
  const uint8_t key[24] = {};
  uint8_t out[16] = {}, rnd_b[8] = {};
  EXPECT_FALSE(desfire_decipher(key, 24, key, out));
  EXPECT_FALSE(desfire_host_token(key, 7, key, key, rnd_b, out));
  EXPECT_FALSE(desfire_check_card(key, 0, key, key));
}

const Bytes kMfpKey = from_hex("2B7E151628AED2A6ABF7158809CF4F3C");
const Bytes kMfpRndA = from_hex("101112131415161718191A1B1C1D1E1F");
const Bytes kMfpRndB = from_hex("A0A1A2A3A4A5A6A7A8A9AAABACADAEAF");

MfpSession vector_session() {
  MfpSession session{};
  const Bytes ti = from_hex("01020304");
  std::memcpy(session.transaction_id, ti.data(), 4);
  mfp_session_keys(kMfpKey.data(), kMfpRndA.data(), kMfpRndB.data(), session.enc_key,
                   session.mac_key);
  return session;
}

TEST(CardAuthMifarePlus, AuthenticationVector) {
  Bytes rnd_b(16), token(32);
  mfp_host_token(kMfpKey.data(), kMfpRndA.data(),
                 from_hex("C0234DE8DB1FBEBBD9ABBBD5F033C2A0").data(), rnd_b.data(),
                 token.data());
  EXPECT_EQ(rnd_b, kMfpRndB);
  EXPECT_EQ(token, from_hex("C84AF0B613435D5D9182801A9BD9320B78A7EA9ED78D73BF1000A8E2F6452F8C"));
  const Bytes answer =
      from_hex("A2B820D775D31E1EF09858D20601CAD21DF6E155237BB9E56C0198778F5E4C88");
  Bytes plain(32);
  EXPECT_TRUE(mfp_check_card(kMfpKey.data(), kMfpRndA.data(), answer.data(), 32, 4, plain.data()));
  EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 4), from_hex("01020304")) << "TI";
  EXPECT_FALSE(mfp_check_card(kMfpKey.data(), kMfpRndB.data(), answer.data(), 32, 4,
                              plain.data()));
  EXPECT_FALSE(mfp_check_card(kMfpKey.data(), kMfpRndA.data(), answer.data(), 24, 4,
                              plain.data()))
      << "not whole blocks";

  const MfpSession session = vector_session();
  EXPECT_EQ(Bytes(session.enc_key, session.enc_key + 16),
            from_hex("0EEAFBFB4C030EC487CFA597C840B39C"));
  EXPECT_EQ(Bytes(session.mac_key, session.mac_key + 16),
            from_hex("1319A142537F1056163F8AFC7A2CADBB"));
}

TEST(CardAuthMifarePlus, MacInputsAndIvsOfTheSession) {
  MfpSession session = vector_session();
  Bytes mac(8);
  const Bytes bnr_n = from_hex("040001");
  mfp_mac(session, 0x33, session.read_counter, bnr_n.data(), bnr_n.size(), mac.data());
  EXPECT_EQ(mac, from_hex("BCAB19B9A0A88D46")) << "command MAC of readinplain(4, 1)";
  session.read_counter = 1;
  Bytes tail = bnr_n;
  for (uint8_t b = 0x30; b <= 0x3F; ++b) tail.push_back(b);
  mfp_mac(session, kMfpOk, session.read_counter, tail.data(), tail.size(), mac.data());
  EXPECT_EQ(mac, from_hex("C890EE6AFDE1E44E")) << "response MAC";

  Bytes iv(16);
  mfp_read_iv(session, iv.data());
  EXPECT_EQ(iv, from_hex("01000000010000000100000001020304"));
  session.read_counter = 0x10002;  // only the low 16 bits travel
  session.write_counter = 0x0304;
  mfp_write_iv(session, iv.data());
  EXPECT_EQ(iv, from_hex("01020304020004030200040302000403"));

  // The card model's MAC (OpenSSL's CMAC) agrees on inputs of every length.
  std::mt19937 rng(7);
  for (size_t n : {0u, 1u, 9u, 16u, 57u, 233u, 242u, 243u}) {
    const Bytes message = random_bytes(rng, n);
    Bytes full(7 + n);
    full[0] = 0xA3;
    full[1] = uint8_t(session.write_counter);
    full[2] = uint8_t(session.write_counter >> 8);
    std::memcpy(full.data() + 3, session.transaction_id, 4);
    std::copy(message.begin(), message.end(), full.begin() + 7);
    mfp_mac(session, 0xA3, session.write_counter, message.data(), n, mac.data());
    EXPECT_EQ(mac, sim_crypto::cmac8(Bytes(session.mac_key, session.mac_key + 16), full)) << n;
  }
}

TEST(CardAuthUltralightC, AuthenticationVectorAndKeyPages) {
  const Bytes key = from_hex("49454D4B41455242214E4143554F5946");
  Bytes rnd_b(8), token(16);
  ulc_host_token(key.data(), kRndA8.data(), from_hex("0DB925E262E44186").data(), rnd_b.data(),
                 token.data());
  EXPECT_EQ(rnd_b, kRndB8);
  EXPECT_EQ(token, from_hex("294446176BDDFB0C4ABC0B2DBA23B4DC"));
  EXPECT_TRUE(ulc_check_card(key.data(), kRndA8.data(), token.data(),
                             from_hex("F10404DD083C90DF").data()));
  EXPECT_FALSE(ulc_check_card(key.data(), kRndB8.data(), token.data(),
                              from_hex("F10404DD083C90DF").data()));

  uint8_t pages[4][4];
  const Bytes new_key = from_hex("000102030405060708090A0B0C0D0E0F");
  ulc_key_pages(new_key.data(), pages);
  EXPECT_EQ(Bytes(&pages[0][0], &pages[0][0] + 16),
            from_hex("07060504 03020100 0F0E0D0C 0B0A0908"));
}

TEST(CardAuthRotation, OneByteEachWayInPlace) {
  Bytes b = from_hex("0102030405");
  rotate_left_1(b.data(), b.size(), b.data());
  EXPECT_EQ(b, from_hex("0203040501"));
  rotate_right_1(b.data(), b.size(), b.data());
  EXPECT_EQ(b, from_hex("0102030405"));
}

int fixed_challenge(uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = uint8_t(0xC0 + i);
  return 0;
}

TEST(CardAuthChallenge, FreshBytesLeaveTheApplicationGeneratorAlone) {
  std::srand(1234);
  const int expected_first = std::rand();
  std::srand(1234);
  Bytes first(16), second(16);
  // Two draws within the same second.
  const time_t start = std::time(nullptr);
  ASSERT_EQ(draw_challenge(first.data(), 16), 0);
  ASSERT_EQ(draw_challenge(second.data(), 16), 0);
  EXPECT_EQ(std::time(nullptr) - start <= 1, true);
  EXPECT_NE(first, second);
  EXPECT_EQ(std::rand(), expected_first) << "rand was reseeded or drawn from";

  const ChallengeSource before = set_challenge_source(fixed_challenge);
  ASSERT_EQ(draw_challenge(first.data(), 3), 0);
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 3), from_hex("C0C1C2"));
  EXPECT_EQ(set_challenge_source(before), fixed_challenge);
  EXPECT_EQ(draw_challenge(nullptr, 1), -1);
}

}  // namespace
