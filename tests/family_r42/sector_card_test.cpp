#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "family_r42/sector_card_rig.h"

namespace {

using SectorCardBlocks = OneCardTest;
using SectorCardGone = OneCardTest;
using SectorCardInput = OneCardTest;

using namespace card_status;
const Bytes kUid2 = {0x55, 0x66, 0x77, 0x88};
const Bytes kUid7 = {0x04, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};

TEST(SectorCardSelect, RequestModesResultsAndTagTypeOrder) {
  SectorRig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  uint16_t tag = 0;
  EXPECT_EQ(d->request(kIcdev, 0, &tag), 1) << "empty field: no card";
  rig.field.insert(MifareCard::classic4k(kUid1));
  for (uint8_t mode : {0, 1, 5}) EXPECT_EQ(d->request(kIcdev, mode, &tag), 0);
  EXPECT_EQ(tag, 2);
  auto sent = rig.sentWith(0x0433);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[1], hx("04 33 00 26"));
  EXPECT_EQ(sent[2], hx("04 33 00 52"));
  EXPECT_EQ(sent[3], hx("04 33 00 52"));

  rig.model.scriptReply(0x0433, hx("00 00 00 34 12"));
  EXPECT_EQ(d->request(kIcdev, 0, &tag), 0);
  EXPECT_EQ(tag, 0x1234) << "the answer comes low byte first";
  rig.model.scriptReply(0x0433, hx("00 01"));
  EXPECT_EQ(d->request(kIcdev, 0, &tag), 1);
  tag = 0xBEEF;
  rig.model.scriptReply(0x0433, hx("00 00 00 04"));
  EXPECT_EQ(d->request(kIcdev, 0, &tag), -1) << "success without the answer";
  EXPECT_EQ(tag, 0xBEEF);
  rig.sim->hangUp();
  EXPECT_EQ(d->request(kIcdev, 0, &tag), -1) << "a dead reader is no 'no card'";
}

TEST(SectorCardSelect, CompleteUidAsksForTheAnswerAgainCascadeDoesNot) {
  SectorRig rig;
  ASSERT_RIG(rig);
  rig.field.insert(MifareCard::classic1k(kUid1));
  uint32_t snr = 0;
  ASSERT_EQ(rig.device->card(kIcdev, 0, &snr), 0);
  EXPECT_EQ(snr, 0x44332211u);
  EXPECT_EQ(rig.requests(),
            (std::vector<Bytes>{hx("04 33 00 26"), hx("04 34 00 93"),
                                hx("04 35 00 93 04 11 22 33 44"), hx("04 01 00 26")}));

  // Level 1 of a 7-byte UID answers SAK 04: done at once.
  SectorRig seven;
  ASSERT_RIG(seven);
  seven.field.insert(MifareCard::classic1k(kUid7));
  uint8_t sak = 0;
  uint16_t tag = 0;
  ASSERT_EQ(seven.device->request(kIcdev, 1, &tag), 0);
  ASSERT_EQ(seven.device->anticoll(kIcdev, 0, &snr), 0);
  EXPECT_EQ(snr, 0xB2A10488u);
  EXPECT_EQ(seven.device->select(kIcdev, snr, &sak), 0);
  EXPECT_EQ(sak, 0x04);
  EXPECT_TRUE(seven.sentWith(0x0401).empty());
}

TEST(SectorCardSelect, UidTextsAndSizes) {
  SectorRig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  const int first = rig.field.insert(MifareCard::classic1k(kUid1));
  char text[32];
  ASSERT_EQ(d->card_hex(kIcdev, 0, text), 0);
  EXPECT_STREQ(text, "44332211");
  ASSERT_EQ(d->card_double_hex(kIcdev, 1, text), 0);
  EXPECT_STREQ(text, "11223344");

  rig.field.remove(first);
  rig.field.insert(MifareCard::classic1k(kUid7));
  ASSERT_EQ(d->card_double_hex(kIcdev, 1, text), 0);
  EXPECT_STREQ(text, "04A1B2C3D4E5F6");
  uint8_t uid[8];
  std::memset(uid, 0xEE, sizeof uid);
  ASSERT_EQ(d->card_double(kIcdev, 1, uid), 0);
  EXPECT_EQ(Bytes(uid, uid + 8), hx("04 A1 B2 C3 D4 E5 F6 EE"));
  EXPECT_EQ(rig.sentWith(0x0435).back(), hx("04 35 00 95 04 C3 D4 E5 F6"));
}

TEST(SectorCardSelect, TwoCardsTakeTurnsByUidAndHalt) {
  SectorRig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  rig.field.insert(MifareCard::classic1k(kUid2));
  rig.field.insert(MifareCard::classic1k(kUid1));
  uint32_t snr = 0;
  ASSERT_EQ(d->card(kIcdev, 0, &snr), 0);
  EXPECT_EQ(snr, 0x44332211u);
  ASSERT_EQ(d->halt(kIcdev), 0);
  ASSERT_EQ(d->card(kIcdev, 0, &snr), 0);
  EXPECT_EQ(snr, 0x88776655u);
  ASSERT_EQ(d->halt(kIcdev), 0);
  EXPECT_EQ(d->card(kIcdev, 0, &snr), 1) << "both halted";
  ASSERT_EQ(d->card(kIcdev, 1, &snr), 0);
  EXPECT_EQ(snr, 0x44332211u);
}

TEST(SectorCardSelect, CardFailingAtSelectKeepsTheAnticollisionSerial) {
  SectorRig rig;
  ASSERT_RIG(rig);
  rig.field.insert(MifareCard::classic1k(kUid1));
  rig.model.failWithStatus(0x0435, kNoCard);
  uint32_t snr = 7;
  EXPECT_EQ(rig.device->card(kIcdev, 0, &snr), -2);
  EXPECT_EQ(snr, 0x44332211u);
}

TEST_F(SectorCardBlocks, WrongKeyLeavesNoStaleAuthentication) {
  ASSERT_EQ(rig.open(1), 0);
  uint8_t block[16];
  ASSERT_EQ(d->read(kIcdev, 4, block), 0);
  const uint8_t wrong[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(d->authentication_pass(kIcdev, 0, 1, wrong), -2);
  EXPECT_EQ(rig.status(), kAuthFailed);
  EXPECT_EQ(d->read(kIcdev, 4, block), -2);
  EXPECT_EQ(rig.status(), kNoCard) << "a failed authentication deselects the card";
}

TEST_F(SectorCardBlocks, RefusedAccessesAreReaderStatuses) {
  const int id = card_id;
  // Block 1 read-only, block 2 closed, trailer as delivered.
  const uint8_t conditions[4] = {0, 2, 7, 1};
  rig.field.edit(id, [&](MifareCard& c) { c.setAccess(0, conditions); });
  ASSERT_EQ(rig.open(0), 0);
  uint8_t block[16] = {};
  EXPECT_EQ(d->read(kIcdev, 0, block), 0) << "the manufacturer block reads";
  EXPECT_EQ(Bytes(block, block + 5), hx("11 22 33 44 44")) << "UID and BCC";
  EXPECT_EQ(d->write(kIcdev, 0, block), -2);
  EXPECT_EQ(rig.status(), kAccessRefused);
  EXPECT_EQ(d->read(kIcdev, 1, block), 0);
  EXPECT_EQ(d->write(kIcdev, 1, block), -2);
  EXPECT_EQ(d->read(kIcdev, 2, block), -2);
  EXPECT_EQ(rig.status(), kAccessRefused);
  EXPECT_EQ(d->read(kIcdev, 4, block), -2) << "outside the authenticated sector";
  EXPECT_EQ(rig.status(), kAuthFailed);

  // The trailer: key A reads as zeros; the access bytes, the general-purpose
  // byte and (readable here) key B come back.
  ASSERT_EQ(d->read(kIcdev, 3, block), 0);
  Bytes expected(16, 0x00);
  MifareCard::encodeAccess(conditions, expected.data() + 6);
  expected[9] = 0x69;
  std::fill(expected.begin() + 10, expected.end(), 0xFF);
  EXPECT_EQ(Bytes(block, block + 16), expected);
}

TEST_F(SectorCardBlocks, HexTwinsAndOneCallForms) {
  ASSERT_EQ(rig.open(1), 0);
  const char* text = "00112233445566778899aabbccddeeff";
  ASSERT_EQ(d->write_hex(kIcdev, 5, text), 0);
  EXPECT_EQ(rig.sentWith(0x0406).back(),
            hx("04 06 00 05 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"));
  char out[40];
  ASSERT_EQ(d->read_hex(kIcdev, 5, out), 0);
  EXPECT_STREQ(out, "00112233445566778899AABBCCDDEEFF");

  uint32_t snr = 0, nsnr = 0;
  EXPECT_EQ(d->HL_write_hex(kIcdev, 0, 5, &snr, text), -2) << "no authentication in between";
  EXPECT_EQ(snr, 0x44332211u);
  EXPECT_EQ(d->HL_read_hex(kIcdev, 0, 5, 0, out, &nsnr), -2);
  EXPECT_EQ(nsnr, 0u);

  // check_write selects, authenticates through the key store and compares.
  EXPECT_EQ(d->check_write_hex(kIcdev, 0x44332211u, 0, 5, text), 0);
  EXPECT_EQ(d->check_write_hex(kIcdev, 0x44332211u, 0, 5, "00112233445566778899AABBCCDDEE00"),
            -2);
  EXPECT_EQ(rig.status(), kOk) << "a mismatch is no reader status";
  const size_t before = rig.sent();
  EXPECT_EQ(d->check_write_hex(kIcdev, 0x11111111u, 0, 5, text), -1) << "another card";
  EXPECT_EQ(rig.sent(), before + 4) << "stops after the card steps";
  EXPECT_EQ(d->HL_authentication(kIcdev, 0, 0, 0, 1), 0);
  EXPECT_EQ(d->HL_read_hex(kIcdev, 0, 5, 0, out, &nsnr), -2) << "HL_read selects afresh";
}

TEST(SectorCardLargeSectors, FormulasAndBoundsOf4kCards) {
  SectorRig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  rig.field.insert(MifareCard::classic4k(kUid1));
  uint32_t snr = 0;
  ASSERT_EQ(d->card(kIcdev, 0, &snr), 0);
  EXPECT_EQ(d->authentication_2(kIcdev, 0, 33, 2), 0);
  EXPECT_EQ(rig.sentWith(0x0404).back(), hx("04 04 00 60 92 FF FF FF FF FF FF"));
  EXPECT_EQ(d->authentication_pass(kIcdev, 0, 33, kKeyFF.data()), 0);
  EXPECT_EQ(rig.sentWith(0x0404).back()[4], 159);
  EXPECT_EQ(d->authentication_pass(kIcdev, 0, 1, kKeyFF.data()), 0);
  EXPECT_EQ(rig.sentWith(0x0404).back()[4], 7);
  EXPECT_EQ(d->authentication_pass(kIcdev, 0, 35, kKeyFF.data()), 0);
  EXPECT_EQ(d->changeb3(kIcdev, 35, kKeyFF.data(), 0, 0, 0, 1, 0x69, kKeyFF.data()), 0);
  EXPECT_EQ(rig.sentWith(0x0406).back()[3], 191);
  ASSERT_EQ(d->check_write(kIcdev, snr, 0, 130, std::vector<uint8_t>(16, 0).data()), 0);
  EXPECT_EQ(rig.sentWith(0x0500).back(), hx("05 00 00 00 00 01 80 00 00 00 06"))
      << "sector 32's key A";
  EXPECT_EQ(rig.sentWith(0x0404).back()[4], 143) << "sector 32's trailer";

  // Bounds: nothing wraps onto another sector.
  const size_t before = rig.sent();
  EXPECT_EQ(d->authentication_2(kIcdev, 0, 39, 20), -1);
  EXPECT_EQ(d->authentication_pass(kIcdev, 0, 40, kKeyFF.data()), -1);
  EXPECT_EQ(d->changeb3(kIcdev, 40, kKeyFF.data(), 0, 0, 0, 1, 0, kKeyFF.data()), -1);
  EXPECT_EQ(rig.sent(), before);
  EXPECT_EQ(d->authentication_2(kIcdev, 0, 39, 15), 0) << "block 255 is the last";
}

TEST(SectorCardShortReply, CallerBuffersStayUntouched) {
  SectorRig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  for (size_t n = 3; n <= 18; ++n) {
    rig.model.scriptReply(0x0405, Bytes(n, 0x00));
    uint8_t block[16];
    std::memset(block, 0xA5, sizeof block);
    EXPECT_EQ(d->read(kIcdev, 4, block), -1) << n;
    EXPECT_EQ(Bytes(block, block + 16), Bytes(16, 0xA5)) << n;
  }
  rig.model.scriptReply(0x0434, hx("00 00 00 00 11 22 33"));
  uint32_t snr = 0x5A5A5A5A;
  EXPECT_EQ(d->anticoll(kIcdev, 0, &snr), -1);
  EXPECT_EQ(snr, 0x5A5A5A5Au);
  rig.model.scriptReply(0x0408, hx("00 00 00 00 00 01"));
  uint32_t value = 0x5A5A5A5A;
  EXPECT_EQ(d->readval(kIcdev, 5, &value), -1);
  EXPECT_EQ(value, 0x5A5A5A5Au);
  char text[33];
  std::memset(text, 'z', sizeof text);
  rig.model.scriptReply(0x0405, Bytes(18, 0x00));
  EXPECT_EQ(d->read_hex(kIcdev, 4, text), -1);
  EXPECT_EQ(std::string(text, sizeof text), std::string(33, 'z'));
}

TEST_F(SectorCardGone, CardLeavesBetweenOrInsideCommands) {
  int id = card_id;
  ASSERT_EQ(rig.open(1), 0);
  rig.field.remove(id);
  uint8_t block[16];
  EXPECT_EQ(d->read(kIcdev, 4, block), -2);
  EXPECT_EQ(rig.status(), kNoCard);

  // request, anticollision, select, follow-up request: gone before the read.
  id = rig.field.insert(MifareCard::classic1k(kUid1));
  rig.field.removeAfter(id, 4);
  uint32_t nsnr = 0xCAFEF00D;
  EXPECT_EQ(d->HL_read(kIcdev, 1, 4, 0, block, &nsnr), -2);
  EXPECT_EQ(nsnr, 0xCAFEF00Du);
  EXPECT_FALSE(rig.field.present(id));
}

TEST(SectorCardSilentReader, StopsInsideAReplyFrame) {
  SectorRig rig;
  ASSERT_RIG(rig);
  rig.field.insert(MifareCard::classic1k(kUid1));
  R42SerialSim::FaultPlan fault;
  fault.kind = R42SerialSim::Fault::kPartial;
  fault.length = 6;
  rig.sim->injectFault(fault);
  uint32_t snr = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rig.device->card(kIcdev, 0, &snr), -1);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(6500));
  EXPECT_EQ(rig.sent(), 1u);
}

TEST_F(SectorCardInput, NullPointersAndBadTextSendNothing) {
  uint8_t b[16] = {};
  uint32_t u = 0;
  const char* good = "00112233445566778899AABBCCDDEEFF";
  const char* bad_texts[] = {nullptr, "", "0011223344556677889", "0011223344556677889G",
                             "00112233445566778899AABBCCDDEEF"};
  EXPECT_EQ(d->request(kIcdev, 0, nullptr), -1);
  EXPECT_EQ(d->anticoll(kIcdev, 0, nullptr), -1);
  EXPECT_EQ(d->select(kIcdev, 0, nullptr), -1);
  EXPECT_EQ(d->card(kIcdev, 0, nullptr), -1);
  EXPECT_EQ(d->card_hex(kIcdev, 0, nullptr), -1);
  EXPECT_EQ(d->card_double(kIcdev, 0, nullptr), -1);
  EXPECT_EQ(d->card_double_hex(kIcdev, 0, nullptr), -1);
  EXPECT_EQ(d->read(kIcdev, 4, nullptr), -1);
  EXPECT_EQ(d->read_hex(kIcdev, 4, nullptr), -1);
  EXPECT_EQ(d->write(kIcdev, 4, nullptr), -1);
  EXPECT_EQ(d->load_key(kIcdev, 0, 1, nullptr), -1);
  EXPECT_EQ(d->authentication_pass(kIcdev, 0, 1, nullptr), -1);
  EXPECT_EQ(d->authentication_passaddr(kIcdev, 0, 7, nullptr), -1);
  EXPECT_EQ(d->changeb3(kIcdev, 1, nullptr, 0, 0, 0, 1, 0, b), -1);
  EXPECT_EQ(d->changeb3(kIcdev, 1, b, 0, 0, 0, 1, 0, nullptr), -1);
  EXPECT_EQ(d->readval(kIcdev, 4, nullptr), -1);
  EXPECT_EQ(d->readval_ml(kIcdev, nullptr), -1);
  EXPECT_EQ(d->HL_write(kIcdev, 0, 4, nullptr, b), -1);
  EXPECT_EQ(d->HL_write(kIcdev, 0, 4, &u, nullptr), -1);
  EXPECT_EQ(d->HL_read(kIcdev, 0, 4, 0, nullptr, &u), -1);
  EXPECT_EQ(d->HL_read(kIcdev, 0, 4, 0, b, nullptr), -1);
  EXPECT_EQ(d->check_write(kIcdev, 0, 0, 4, nullptr), -1);
  EXPECT_EQ(d->card_fm11rf005(kIcdev, 0, nullptr), -1);
  EXPECT_EQ(d->getsnr_fm11rf005(kIcdev, nullptr), -1);
  EXPECT_EQ(d->read_fm11rf005(kIcdev, 1, nullptr), -1);
  EXPECT_EQ(d->write_fm11rf005(kIcdev, 2, nullptr), -1);
  for (const char* t : bad_texts) {
    EXPECT_EQ(d->write_hex(kIcdev, 4, t), -1);
    EXPECT_EQ(d->HL_writehex(kIcdev, 0, 4, &u, t), -1);
    EXPECT_EQ(d->check_writehex(kIcdev, 0, 0, 4, t), -1);
  }
  for (const char* t : {static_cast<const char*>(nullptr), "", "0102030", "0102030G"})
    EXPECT_EQ(d->write_fm11rf005_hex(kIcdev, 2, t), -1);
  const char* bad_keys[] = {nullptr, "", "FFFFFFFFFFF", "FFFFFFFFFFFX"};
  for (const char* k : bad_keys) {
    EXPECT_EQ(d->load_key_hex(kIcdev, 0, 1, k), -1);
    EXPECT_EQ(d->authentication_pass_hex(kIcdev, 0, 1, k), -1);
    EXPECT_EQ(d->authentication_passaddr_hex(kIcdev, 0, 7, k), -1);
    EXPECT_EQ(d->changeb3_hex(kIcdev, 1, "FFFFFFFFFFFF", 0, 0, 0, 1, 0, k), -1);
    EXPECT_EQ(d->changeb3_hex(kIcdev, 1, k, 0, 0, 0, 1, 0, "FFFFFFFFFFFF"), -1);
  }
  EXPECT_EQ(rig.sent(), 0u);
  EXPECT_EQ(d->write_hex(kIcdev, 4, good), -2) << "a good text does go out";
}

TEST(SectorCardFm11rf005, SerialBlocksAndHexForms) {
  SectorRig rig;
  ASSERT_RIG(rig);
  ReaderDevice* d = rig.device;
  const int id = rig.field.insert(MifareCard::fm11rf005({0xDE, 0xAD, 0xBE, 0xEF}));
  uint32_t snr = 0;
  ASSERT_EQ(d->card_fm11rf005(kIcdev, 0, &snr), 0);
  EXPECT_EQ(snr, 0xEFBEADDEu);
  char text[16];
  ASSERT_EQ(d->getsnr_fm11rf005_hex(kIcdev, text), 0);
  EXPECT_STREQ(text, "DEADBEEF");
  ASSERT_EQ(d->write_fm11rf005_hex(kIcdev, 7, "0a0b0c0d"), 0);
  EXPECT_EQ(rig.sentWith(0x0406).back(),
            hx("04 06 00 07 0A 0B 0C 0D 00 00 00 00 00 00 00 00 00 00 00 00"));
  ASSERT_EQ(d->read_fm11rf005_hex(kIcdev, 7, text), 0);
  EXPECT_STREQ(text, "0A0B0C0D");
  EXPECT_EQ(rig.field.card(id).block(7)[0], 0x0A);
  EXPECT_EQ(d->write_fm11rf005_hex(kIcdev, 1, "01020304"), -2) << "the serial block stays";
}

}  // namespace
