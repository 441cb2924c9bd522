// Memory cards and a type-B card through the core API on an m6 reader over
// a serial line on a pseudo-terminal (DLE framing), slots above 249 through
// their own core entries.
#include <gtest/gtest.h>

#include <memory>

#include "kx_core.h"
#include "sim/iso14443_4_picc.h"
#include "sim/iso7816_card.h"
#include "sim/m6_memory_front.h"
#include "sim/m6_reader.h"
#include "sim/memory_cards.h"
#include "sim/pty_pair.h"

namespace {

TEST(M6CardRoad, MemoryCardThenTypeBCard) {
  constexpr int16_t kPort = 11;
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const std::string slave = pty.slavePath();
  M6Reader reader(pty.releaseMaster(), M6Reader::Framing::kDle);
  auto memory = std::make_shared<M6MemoryFront>();
  memory->slot.insert(Sle4442Card({0x12, 0x34, 0x56}));
  auto card = std::make_shared<Iso7816Card>();
  const std::vector<uint8_t> atqb = {0x50, 0xA1, 0xA2, 0xA3, 0xA4, 0, 0, 0, 0, 0x00, 0x71, 0x85};
  card->setField(ContactlessCard::Type::kB, {0xA1, 0xA2, 0xA3, 0xA4}, atqb);
  reader.model().with([&](M6ReaderModel::State& s) {
    s.attachments.push_back(memory);
    s.attachments.push_back(std::make_shared<M6PiccFront>(std::make_shared<Iso14443_4Picc>(card)));
  });
  kx_config_port_name(kPort, slave.c_str());
  const int32_t h = kx_init(kPort, 115200);
  ASSERT_EQ(h, 80 + kPort);

  EXPECT_EQ(kx_CheckCard(h), 8);
  EXPECT_EQ(kx_verifypin_4442_hex(h, "123456"), 0);
  ASSERT_EQ(kx_write_4442_hex(h, 32, 4, "0A0B0C0D"), 0);
  char text[64] = {};
  ASSERT_EQ(kx_read_4442_hex(h, 32, 4, text), 0);
  EXPECT_STREQ(text, "0A0B0C0D");
  EXPECT_EQ(kx_readpincount_4442(h), 3);

  ASSERT_EQ(kx_card_b_hex(h, text), 0);
  EXPECT_STREQ(text, "50A1A2A3A400000000007185");
  int32_t length = 0;
  uint8_t ats[256];
  ASSERT_EQ(kx_ReadRfTypeABATS(h, &length, ats), 0);
  EXPECT_EQ(length, 13);
  EXPECT_EQ(ats[12], 0x00);
  EXPECT_EQ(kx_exit(h), 0);
}

}  // namespace
