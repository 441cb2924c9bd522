// MIFARE Plus and Ultralight C sessions against the card models, with RndA
// fixed through the challenge seam.
#include <gtest/gtest.h>

#include "family_r42/processor_card_rows.h"
#include "platform/card_auth_crypto.h"
#include "sim/mifare_plus_card.h"
#include "sim/ultralight_c_card.h"

namespace {

Bytes g_rnd_a;
int fixed_rnd_a(uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = g_rnd_a[i % g_rnd_a.size()];
  return 0;
}
int failing_source(uint8_t*, size_t) { return -1; }

const Bytes kKey = hx("2B 7E 15 16 28 AE D2 A6 AB F7 15 88 09 CF 4F 3C");
const Bytes kData = hx("30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F");

class CardRig : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = set_challenge_source(fixed_rnd_a); }
  void TearDown() override { set_challenge_source(previous_); }

  template <typename Card>
  std::shared_ptr<Card> put(std::shared_ptr<Card> card) {
    auto field = std::make_shared<CardField>();
    field->insert(card);
    reader.edit([&](State& s) { s.attachments.push_back(field); });
    uint8_t rlen = 0, ats[256];
    EXPECT_EQ(d.pro_reset(kIcdev, &rlen, ats), 0);
    reader.wire.calls.clear();
    return card;
  }
  std::vector<Bytes> frames() const {
    std::vector<Bytes> out;
    for (const auto& c : reader.wire.calls) out.push_back(c.request);
    return out;
  }

  R42MemoryReader reader;
  ReaderDevice& d = reader.device;
  ChallengeSource previous_ = nullptr;
};

class MifarePlusSession : public CardRig {
 protected:
  void SetUp() override {
    CardRig::SetUp();
    g_rnd_a = hx("10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F");
    card = put(std::make_shared<MifarePlusCard>(
        3, hx("A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF"), hx("01 02 03 04")));
    card->keys[0x4000] = kKey;
    card->keys[0x400B] = kKey;
    card->blocks[4] = kData;
  }
  std::shared_ptr<MifarePlusCard> card;
};

TEST_F(MifarePlusSession, VectorAuthenticationAndPlainRead) {
  ASSERT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 0, 0, kKey.data()), 0);
  EXPECT_EQ(card->recovered_rnd_a, g_rnd_a);
  EXPECT_EQ(card->enc_key, hx("0E EA FB FB 4C 03 0E C4 87 CF A5 97 C8 40 B3 9C"));
  const auto sent = frames();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], hx("04 11 00 00 04 76 00 40 00"));
  EXPECT_EQ(reader.wire.calls[0].timeout_ms, 6750);
  EXPECT_EQ(sent[1], (WireBytes{"04 11 00 00 21 72",
                                "C8 4A F0 B6 13 43 5D 5D 91 82 80 1A 9B D9 32 0B "
                                "78 A7 EA 9E D7 8D 73 BF 10 00 A8 E2 F6 45 2F 8C"}
                          .bytes));

  uint8_t out[16] = {};
  ASSERT_EQ(d.MFPL3_readinplain(kIcdev, 4, 1, out), 0);
  EXPECT_EQ(frames().back(), hx("04 11 00 00 0C 33 04 00 01 BC AB 19 B9 A0 A8 8D 46"));
  EXPECT_EQ(Bytes(out, out + 16), kData);
  EXPECT_EQ(card->read_counter, 1u);
}

TEST_F(MifarePlusSession, EncipheredReadsAndWritesKeepTheCallersData) {
  ASSERT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 0, 0, kKey.data()), 0);
  uint8_t out[32] = {};
  ASSERT_EQ(d.MFPL3_readencrypted(kIcdev, 4, 1, out, 1), 0);
  EXPECT_EQ(Bytes(out, out + 16), hx("41 02 10 51 61 07 44 B7 50 91 20 9A 53 7F 89 C6"))
      << "flag 1: as the card sent it (the first read's IV)";
  for (uint8_t flag : {0, 2}) {
    ASSERT_EQ(d.MFPL3_readencrypted(kIcdev, 4, 1, out, flag), 0);
    EXPECT_EQ(Bytes(out, out + 16), kData);
  }
  Bytes data = hx("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF");
  data.insert(data.end(), kData.begin(), kData.end());
  const Bytes copy = data;
  ASSERT_EQ(d.MFPL3_writeencrypted(kIcdev, 8, 2, data.data(), 0), 0);
  EXPECT_EQ(data, copy) << "the caller's buffer is an input";
  EXPECT_EQ(card->blocks[8], Bytes(copy.begin(), copy.begin() + 16));
  EXPECT_EQ(card->blocks[9], kData);
  ASSERT_EQ(d.MFPL3_writeencrypted(kIcdev, 8, 2, data.data(), 0), 0) << "a retry works too";
  ASSERT_EQ(d.MFPL3_writeinplain_hex(kIcdev, 10, 1, "000102030405060708090a0b0c0d0e0f"), 0);
  EXPECT_EQ(card->blocks[10], hx("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"));
  char text[80];
  ASSERT_EQ(d.MFPL3_readinplain_hex(kIcdev, 10, 1, text), 0);
  EXPECT_STREQ(text, "000102030405060708090A0B0C0D0E0F");
  EXPECT_EQ(card->write_counter, 3u);
}

TEST_F(MifarePlusSession, StatusesMacsAndCounters) {
  ASSERT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 1, 5, kKey.data()), 0) << "key B of sector 5";
  EXPECT_EQ(frames()[0], hx("04 11 00 00 04 76 0B 40 00"));
  uint8_t out[16];
  card->next_error = 0x0C;
  EXPECT_EQ(d.MFPL3_readinplain(kIcdev, 4, 1, out), -12);
  card->next_error = 0x00;
  EXPECT_EQ(d.MFPL3_readinplain(kIcdev, 4, 1, out), -1) << "a status 00 is no success";
  card->bad_mac = true;
  EXPECT_EQ(d.MFPL3_readinplain(kIcdev, 4, 1, out), -1);
  EXPECT_EQ(card->read_counter, 1u);
  EXPECT_EQ(d.MFPL3_readinplain(kIcdev, 4, 1, out), 0) << "the next MAC uses the new counter";
  // A 0x90 reply too short for its MAC: the counter still moves on.
  reader.model.scriptReply(0x0411, hx("00 00 00 00 05 90 01 02 03 04"));
  EXPECT_EQ(d.MFPL3_readinplain(kIcdev, 4, 1, out), -1);
  EXPECT_EQ(d.MFPL3_readinplain(kIcdev, 4, 1, out), -12)
      << "card and host counters now differ: the card refuses the MAC";
  EXPECT_EQ(card->read_counter, 2u);
}

TEST_F(MifarePlusSession, ArgumentsRefusedBeforeAnyFrame) {
  uint8_t out[16 * 15];
  EXPECT_EQ(d.MFPL3_readinplain(kIcdev, 4, 0, out), -1);
  EXPECT_EQ(d.MFPL3_readinplain(kIcdev, 4, 15, out), -1);
  EXPECT_EQ(d.MFPL3_writeinplain(kIcdev, 4, 15, out), -1);
  EXPECT_EQ(d.MFPL3_readencrypted(kIcdev, 65536, 1, out, 0), -1);
  EXPECT_EQ(d.MFPL3_writeencrypted(kIcdev, -1, 1, out, 0), -1);
  EXPECT_EQ(d.MFPL3_authl3key(kIcdev, 65536, kKey.data()), -1);
  EXPECT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 1, 0x6000, kKey.data()), -1);
  EXPECT_EQ(d.MFPL0_writeperso(kIcdev, 70000, kData.data()), -1);
  EXPECT_EQ(d.MFPL3_authl3key_hex(kIcdev, 0x4000, std::string(31, 'A').c_str()), -1);
  EXPECT_EQ(d.auth_ulc_hex(kIcdev, ("G" + std::string(31, '0')).c_str()), -1);
  EXPECT_EQ(d.MFPL3_writeinplain_hex(kIcdev, 4, 1, "00"), -1);
  set_challenge_source(failing_source);
  EXPECT_EQ(d.MFPL3_authl3key(kIcdev, 0x4000, kKey.data()), -1) << "no challenge, no frame";
  EXPECT_TRUE(frames().empty());
}

TEST_F(MifarePlusSession, FailedAuthenticationsAndTheirResults) {
  const Bytes wrong(16, 0x77);
  EXPECT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 0, 0, wrong.data()), -6) << "card refusal 06";
  card->refusal = 0x09;
  EXPECT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 0, 0, wrong.data()), -9);
  EXPECT_EQ(d.MFPL3_authl3key(kIcdev, 0x1234, kKey.data()), -7) << "unknown key";
  card->bad_token = true;
  EXPECT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 0, 0, kKey.data()), -1);
  // A second-frame answer too short leaves the session keys as they were.
  reader.model.scriptReply(0x0411, hx("00 00 00 00 05 90 01 02 03 04"), 2);
  EXPECT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 0, 0, kKey.data()), -1);
  uint8_t out[16];
  EXPECT_EQ(d.MFPL3_readinplain(kIcdev, 4, 1, out), -12)
      << "the host never derived this card session's keys";
}

TEST_F(MifarePlusSession, TwoAuthenticationsDrawFreshChallenges) {
  set_challenge_source(nullptr);
  ASSERT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 0, 0, kKey.data()), 0);
  const Bytes first = card->recovered_rnd_a;
  ASSERT_EQ(d.MFPL3_authl3sectorkey(kIcdev, 0, 0, kKey.data()), 0);
  EXPECT_NE(card->recovered_rnd_a, first);
}

TEST_F(CardRig, MifarePlusLevelsZeroAndOne) {
  g_rnd_a = hx("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10");
  auto card = put(std::make_shared<MifarePlusCard>(0, Bytes(16, 0x5A), hx("00 00 00 00")));
  Bytes perso = kData;
  perso[1] = 0x0D;  // dataperso[1] = 0D: byte 4 + 6 = 19, the frame's length
  ASSERT_EQ(d.MFPL0_writeperso(kIcdev, 0x9004, perso.data()), 0);
  EXPECT_EQ(frames().back().size(), 5u + 19u);
  EXPECT_EQ(card->perso[0x9004], perso);
  ASSERT_EQ(d.MFPL0_writeperso_hex(kIcdev, 0x9003, "2B7E151628AED2A6ABF7158809CF4F3C"), 0);
  ASSERT_EQ(d.MFPL0_commitperso(kIcdev), 0);
  EXPECT_EQ(frames().back(), hx("04 11 00 00 01 AA"));
  EXPECT_EQ(d.MFPL0_commitperso(kIcdev), -11) << "level 1 refuses it";

  card->keys[0x9004] = kKey;
  const size_t before = frames().size();
  ASSERT_EQ(d.MFPL1_authl1key(kIcdev, kKey.data()), 0);
  EXPECT_EQ(frames()[before], hx("04 36 00 0A 01 00 03 76 04 90"));
  EXPECT_EQ(card->recovered_rnd_a, g_rnd_a);
  EXPECT_EQ(d.MFPL1_authl1key_hex(kIcdev, std::string(32, '0').c_str()), -6);
  card->bad_token = true;
  EXPECT_EQ(d.MFPL1_authl1key(kIcdev, kKey.data()), -1);
}

TEST_F(CardRig, MifarePlusSwitchesShareTheirFirstFrame) {
  g_rnd_a = Bytes(16, 0x42);
  auto card = put(std::make_shared<MifarePlusCard>(1, Bytes(16, 0x24), hx("0A 0B 0C 0D")));
  card->keys[0x9003] = kKey;
  card->keys[0x9002] = kKey;
  ASSERT_EQ(d.MFPL1_switchtol3(kIcdev, kKey.data()), 0);
  ASSERT_EQ(d.MFPL2_switchtol3(kIcdev, kKey.data()), 0);
  ASSERT_EQ(d.MFPL1_switchtol2(kIcdev, kKey.data()), 0);
  const auto sent = frames();
  EXPECT_EQ(sent[0], hx("04 11 00 00 04 76 03 90 00"));
  EXPECT_EQ(sent[2], sent[0]);
  EXPECT_EQ(sent[4], hx("04 11 00 00 04 76 02 90 00"));
}

TEST_F(CardRig, UltralightCAuthenticationVectorAndKeyChange) {
  g_rnd_a = hx("01 02 03 04 05 06 07 08");
  auto card = put(std::make_shared<UltralightCCard>(hx("10 20 30 40 50 60 70 80")));
  const Bytes key = hx("49 45 4D 4B 41 45 52 42 21 4E 41 43 55 4F 59 46");
  ASSERT_EQ(d.auth_ulc(kIcdev, key.data()), 0);
  EXPECT_EQ(frames(), (std::vector<Bytes>{
                          hx("04 36 00 0A 01 00 02 1A 00"),
                          hx("04 36 00 0A 01 00 11 AF 29 44 46 17 6B DD FB 0C 4A BC 0B 2D BA 23 "
                             "B4 DC")}));
  EXPECT_EQ(card->recovered_rnd_a, g_rnd_a);
  EXPECT_EQ(d.auth_ulc(kIcdev, Bytes(16, 0).data()), -1) << "wrong key";

  const Bytes new_key = hx("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
  ASSERT_EQ(d.changekey_ulc_hex(kIcdev, "000102030405060708090A0B0C0D0E0F"), 0);
  const auto sent = frames();
  EXPECT_EQ(sent[sent.size() - 4],
            hx("04 06 00 2C 07 06 05 04 00 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(sent.back(), hx("04 06 00 2F 0B 0A 09 08 00 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(card->key(), new_key);
  EXPECT_EQ(d.auth_ulc_hex(kIcdev, "000102030405060708090a0b0c0d0e0f"), 0);

  reader.model.failWithStatus(0x0406, 0x6F03, 2);
  const size_t before = frames().size();
  EXPECT_EQ(d.changekey_ulc(kIcdev, key.data()), -2);
  EXPECT_EQ(frames().size(), before + 2) << "the first failing page stops the change";
}

TEST_F(CardRig, UltralightCAnswersItDoesNotAccept) {
  g_rnd_a = hx("01 02 03 04 05 06 07 08");
  put(std::make_shared<UltralightCCard>(hx("10 20 30 40 50 60 70 80")));
  const Bytes key(16, 0);
  reader.model.scriptReply(0x0436, hx("00 00 00 00 09 00 01 02 03 04 05 06 07 08"));
  EXPECT_EQ(d.auth_ulc(kIcdev, key.data()), -1) << "first answer 00 instead of AF";
  reader.model.scriptReply(0x0436, hx("00 00 00 00 05 AF 01 02 03 04"));
  EXPECT_EQ(d.auth_ulc(kIcdev, key.data()), -1) << "first answer too short";
  reader.model.scriptReply(0x0436, hx("00 00 00 00 00"));
  EXPECT_EQ(d.auth_ulc(kIcdev, key.data()), -1) << "empty answer";
  reader.model.failWithStatus(0x0436, 0x6F01);
  EXPECT_EQ(d.auth_ulc(kIcdev, key.data()), -2);
}

}  // namespace
