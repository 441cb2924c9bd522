// MIFARE Plus and Ultralight C through an m6 reader: the frames on the wire
// (blocks of the host's block protocol and bare frames through 0x86, key
// pages through 0x47), the m6 block limit, and whole sessions against the
// card models with RndA fixed. The flows themselves are tested through
// r42's reader.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "family_m6/m6_device.h"
#include "sim/iso14443_4_picc.h"
#include "sim/m6_card_front.h"
#include "sim/mifare_plus_card.h"
#include "sim/sim_crypto.h"
#include "sim/ultralight_c_card.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;
using State = M6ReaderModel::State;
using Bytes = std::vector<uint8_t>;

// RndA fixed for the life of the object.
Bytes g_rnd_a;
int fixed_rnd_a(uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = g_rnd_a[i % g_rnd_a.size()];
  return 0;
}
struct FixedRndA {
  explicit FixedRndA(Bytes rnd_a) : previous(set_challenge_source(fixed_rnd_a)) {
    g_rnd_a = std::move(rnd_a);
  }
  ~FixedRndA() { set_challenge_source(previous); }
  ChallengeSource previous;
};
Row::Call with_rnd_a(const char* rnd_a, Row::Call call) {
  return [rnd_a, call](Call& c) {
    FixedRndA fixed(hx(rnd_a));
    return call(c);
  };
}

// The card activated first (ATS 02 00): the next block is numbered 0.
Row::Call after_reset(Row::Call call) {
  return [call](Call& c) {
    uint8_t ats[256], length = 0;
    const int16_t reset = c.d.pro_reset(kIcdev, &length, ats);
    return reset != 0 ? int32_t(reset) : call(c);
  };
}

const Bytes kMfpKey = hx("2B 7E 15 16 28 AE D2 A6 AB F7 15 88 09 CF 4F 3C");
const Bytes kUlcKey = hx("49 45 4D 4B 41 45 52 42 21 4E 41 43 55 4F 59 46");
const Bytes kNewKey = hx("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
const WireBytes kData = "30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F";

const Row kMifarePlus[] = {
    // After the reset the frames go whole in blocks 0A 00, 0B 00, 0A 00.
    Row("sector_key_then_plain_read",
        with_rnd_a("10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F", after_reset([](Call& c) {
          const int16_t r = c.d.MFPL3_authl3sectorkey(kIcdev, 0, 0, kMfpKey.data());
          return r != 0 ? r : c.d.MFPL3_readinplain(kIcdev, 4, 1, c.bytes());
        })))
        .sends("85 50").answer("00 02 00")
        .sends("86 07 06 0A 00 76 00 40 00").capacity(0)
        .sends("", 6750).answer("00 13 0A 00 90 C0 23 4D E8 DB 1F BE BB D9 AB BB D5 F0 33 C2 A0")
        .sends({"86 07 23 0B 00 72 C8 4A F0 B6 13 43 5D 5D 91 82 80 1A 9B D9 32 0B",
                "78 A7 EA 9E D7 8D 73 BF 10 00 A8 E2 F6 45 2F 8C"}).capacity(0)
        .sends("").answer({"00 23 0B 00 90 A2 B8 20 D7 75 D3 1E 1E F0 98 58 D2 06 01 CA D2",
                           "1D F6 E1 55 23 7B B9 E5 6C 01 98 77 8F 5E 4C 88"})
        .sends("86 07 0E 0A 00 33 04 00 01 BC AB 19 B9 A0 A8 8D 46").capacity(0)
        .sends("").answer({"00 1B 0A 00 90", kData, "C8 90 EE 6A FD E1 E4 4E"})
        .gives(0).out(kData),
    // The m6 frames carry 15 blocks (r42's fewer); the other limits are the
    // shared flows', tested through r42.
    Row("count_16", [](Call& c) {
          return c.d.MFPL3_writeencrypted(kIcdev, 4, 16, Bytes(256).data(), 0);
        }).gives(-1),
};
WIRE_TABLE(M6MifarePlus, M6MemoryReader, kMifarePlus);

const Row kUltralightC[] = {
    Row("vector", with_rnd_a("01 02 03 04 05 06 07 08",
                             [](Call& c) { return c.d.auth_ulc(kIcdev, kUlcKey.data()); }))
        .sends("86 07 02 1A 00").capacity(0)
        .sends("", 6750).answer("00 09 AF 0D B9 25 E2 62 E4 41 86")
        .sends("86 07 11 AF 29 44 46 17 6B DD FB 0C 4A BC 0B 2D BA 23 B4 DC").capacity(0)
        .sends("").answer("00 09 00 F1 04 04 DD 08 3C 90 DF")
        .gives(0),
};
WIRE_TABLE(M6UltralightC, M6MemoryReader, kUltralightC);

// A card behind the reader's 0x86 (and, given a field, 0x47), activated:
// the key pages written through 0x47 must make up the card's new key.
struct CardRig {
  CardRig(std::shared_ptr<ContactlessCard> card, M6PiccFront::Frames frames) {
    auto picc = std::make_shared<Iso14443_4Picc>(card);
    auto field = std::make_shared<CardField>();
    field->insert(card);
    reader.edit([&](State& s) {
      s.attachments.push_back(std::make_shared<M6PiccFront>(picc, frames));
      s.attachments.push_back(std::make_shared<M6CardFront>(field));
    });
    uint8_t ats[256], length = 0, serial[8];
    EXPECT_EQ(d.card_double(kIcdev, 0, serial), 0);
    EXPECT_EQ(d.pro_reset(kIcdev, &length, ats), 0);
  }
  M6MemoryReader reader;
  ReaderDevice& d = reader.device;
};

TEST(M6MifarePlusCard, FifteenBlocksEachWayAndFramesThatCase4WouldCut) {
  auto card = std::make_shared<MifarePlusCard>(
      3, hx("A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF"), hx("01 02 03 04"));
  card->keys[0x4000] = kMfpKey;
  CardRig rig(card, M6PiccFront::Frames::kBlocks);
  // A RndA whose E(RndA) has byte 3 = 1B: the 33-byte second frame's byte 4
  // then reads as the Lc of a case-4 APDU.
  Bytes rnd_a(16, 0x5C);
  for (uint16_t i = 0; sim_crypto::aes_cbc(kMfpKey, Bytes(16, 0), rnd_a, true)[3] != 0x1B; ++i)
    rnd_a[0] = uint8_t(i), rnd_a[1] = uint8_t(i >> 8);
  FixedRndA fixed(rnd_a);
  ASSERT_EQ(rig.d.MFPL3_authl3sectorkey(kIcdev, 0, 0, kMfpKey.data()), 0);
  EXPECT_EQ(card->log.back().size(), 33u);

  Bytes data(16 * 15);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  ASSERT_EQ(rig.d.MFPL3_writeencrypted(kIcdev, 4, 15, data.data(), 0), 0) << "MAC over 249 bytes";
  EXPECT_EQ(card->blocks[18], Bytes(data.end() - 16, data.end()));
  Bytes back(data.size());
  ASSERT_EQ(rig.d.MFPL3_readencrypted(kIcdev, 4, 15, back.data(), 0), 0) << "MAC over 250 bytes";
  EXPECT_EQ(back, data);
  data[1] = 0x15;  // byte 4 of the 27-byte frame: 27 - 6
  ASSERT_EQ(rig.d.MFPL3_writeinplain(kIcdev, 4, 1, data.data()), 0);
  EXPECT_EQ(card->log.back().size(), 27u);
}

TEST(M6MifarePlusCard, LevelZeroThenLevelOneThroughBareFrames) {
  auto card = std::make_shared<MifarePlusCard>(0, Bytes(16, 0x5A), hx("00 00 00 00"));
  CardRig rig(card, M6PiccFront::Frames::kBlocks);
  Bytes perso(kData.bytes);
  perso[1] = 0x0D;  // byte 4 of the 19-byte frame: 19 - 6
  ASSERT_EQ(rig.d.MFPL0_writeperso(kIcdev, 0x9004, perso.data()), 0);
  EXPECT_EQ(card->perso[0x9004], perso);
  ASSERT_EQ(rig.d.MFPL0_commitperso(kIcdev), 0);
  card->keys[0x9004] = kMfpKey;
  FixedRndA fixed(hx("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"));
  ASSERT_EQ(rig.d.MFPL1_authl1key(kIcdev, kMfpKey.data()), 0);
  EXPECT_EQ(card->recovered_rnd_a, g_rnd_a);
  EXPECT_EQ(rig.reader.wire.calls[rig.reader.wire.calls.size() - 4].request,
            hx("86 07 03 76 04 90"));
}

TEST(M6UltralightCCard, NewKeyThroughTheBlockWriteThenAuthentication) {
  auto card = std::make_shared<UltralightCCard>(hx("10 20 30 40 50 60 70 80"));
  CardRig rig(card, M6PiccFront::Frames::kBare);
  ASSERT_EQ(rig.d.auth_ulc(kIcdev, kUlcKey.data()), 0);
  ASSERT_EQ(rig.d.changekey_ulc_hex(kIcdev, "000102030405060708090A0B0C0D0E0F"), 0);
  EXPECT_EQ(card->key(), kNewKey);
  EXPECT_EQ(rig.d.auth_ulc(kIcdev, kUlcKey.data()), -1);
  EXPECT_EQ(rig.d.auth_ulc(kIcdev, kNewKey.data()), 0);
}

}  // namespace
