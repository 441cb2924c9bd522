// The demo's sector-card road through the core API on an m6 reader: over a
// serial line on a pseudo-terminal (DLE framing) and over USB HID (HidStx
// framing on a fake device), checking every command and reply.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "connection/m6_port_helpers.h"
#include "core_api/reader_families.h"
#include "kx_core.h"
#include "family_m6/m6_device.h"
#include "sim/m6_card_front.h"
#include "sim/pty_pair.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Step {
  Bytes command, reply;
};

void put_card(M6Reader& reader) {
  MifareCard card = MifareCard::classic1k({0x11, 0x22, 0x33, 0x44});
  for (int i = 0; i < 16; ++i) card.block(4)[size_t(i)] = uint8_t(0x20 + i);
  auto field = std::make_shared<CardField>();
  field->insert(card);
  reader.model().with([&](M6ReaderModel::State& s) {
    s.attachments.push_back(std::make_shared<M6CardFront>(field));
  });
  reader.model().scriptReply(0x57, {0x00});
}

// Runs the road on an open handle; the reader's log must show `road` after
// the open's own commands.
void run_road(int32_t h, M6Reader& reader) {
  const size_t mark = reader.commands().size();
  char text[64] = {};
  ASSERT_EQ(kx_card_double_hex(h, 1, text), 0);
  EXPECT_STREQ(text, "11223344");
  ASSERT_EQ(kx_load_key_hex(h, 0, 1, "FFFFFFFFFFFF"), 0);
  ASSERT_EQ(kx_authentication(h, 0, 1), 0);
  ASSERT_EQ(kx_read_hex(h, 4, text), 0);
  EXPECT_STREQ(text, "202122232425262728292A2B2C2D2E2F");
  ASSERT_EQ(kx_write_hex(h, 5, "11223344556677889900AABBCCDDEEFF"), 0);
  ASSERT_EQ(kx_changeb3_hex(h, 1, "A3C5E7092B4D", 0, 0, 0, 1, 0x69, "A3C5E7092B4D"), 0);
  ASSERT_EQ(kx_beep(h, 10), 0);

  const uint8_t* t1 = M6Device::kKeyLoadConstants[1];
  Bytes load_key = {0x4C, 0x00, 0x01};
  load_key.insert(load_key.end(), t1, t1 + 6);
  for (uint8_t b : {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}) load_key.push_back(b);
  Bytes block4 = {0x00};
  for (int i = 0; i < 16; ++i) block4.push_back(uint8_t(0x20 + i));
  const std::vector<Step> road = {
      {{0x41, 0x01}, {0x00, 0x04, 0x00}},
      {{0x42, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x11, 0x22, 0x33, 0x44}},
      {{0x43, 0x11, 0x22, 0x33, 0x44}, {0x00, 0x08}},
      {load_key, {0x00}},
      {{0x44, 0x00, 0x01}, {0x00}},
      {{0x46, 0x04}, block4},
      {{0x47, 0x05, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0x00, 0xAA, 0xBB, 0xCC,
        0xDD, 0xEE, 0xFF},
       {0x00}},
      {{0x47, 0x07, 0xA3, 0xC5, 0xE7, 0x09, 0x2B, 0x4D, 0xFF, 0x07, 0x80, 0x69, 0xA3, 0xC5, 0xE7,
        0x09, 0x2B, 0x4D},
       {0x00}},
      {{0x57, 0x0A, 0x00}, {0x00}},
  };
  const auto commands = reader.commands();
  const auto replies = reader.model().replies();
  ASSERT_EQ(commands.size(), mark + road.size());
  for (size_t i = 0; i < road.size(); ++i) {
    EXPECT_EQ(commands[mark + i], road[i].command) << "command " << i;
    EXPECT_EQ(replies[mark + i], road[i].reply) << "reply " << i;
  }

  // The trailer now holds the new keys: the old one fails, the new one
  // works once loaded and the card selected again.
  EXPECT_EQ(kx_authentication(h, 0, 1), -2);
  ASSERT_EQ(kx_load_key_hex(h, 0, 1, "A3C5E7092B4D"), 0);
  uint32_t snr = 0;
  ASSERT_EQ(kx_card(h, 0, &snr), 0);
  EXPECT_EQ(snr, 0x44332211u);
  EXPECT_EQ(kx_authentication(h, 0, 1), 0);
  // Slots above 249 through their own core entries.
  ASSERT_EQ(kx_cardstr(h, 0, text), 0);
  EXPECT_STREQ(text, "1144201745");
  EXPECT_EQ(kx_exit(h), 0);
}

TEST(M6MainRoad, OverTheSerialLine) {
  constexpr int16_t kPort = 8;
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const std::string slave = pty.slavePath();
  M6Reader reader(pty.releaseMaster(), M6Reader::Framing::kDle);
  put_card(reader);
  kx_config_port_name(kPort, slave.c_str());
  const int32_t h = kx_init(kPort, 115200);
  ASSERT_EQ(h, 80 + kPort);
  run_road(h, reader);
  // The open used sequences 0-2; the road's block read went out as 8.
  const auto sequences = reader.sequences();
  ASSERT_GE(sequences.size(), 9u);
  EXPECT_EQ(sequences[3], 3);
  EXPECT_EQ(sequences[8], 8);
}

TEST(M6MainRoad, OverUsb) {
  FakeHidBackend backend;
  M6Reader reader(backend.addDevice("/dev/hidraw-m6", 0x0471, 0xA112), M6Reader::Framing::kHidStx);
  put_card(reader);
  PortStacks stacks;
  stacks.hid = &backend;
  device_manager.setPortStacksForTest(stacks);
  const int32_t h = kx_init(100, 115200);
  ASSERT_EQ(h, 180);
  char name[64] = {};
  EXPECT_EQ(kx_getname(h, name), 0);
  EXPECT_STREQ(name, "m6-u");
  run_road(h, reader);
  device_manager.setPortStacksForTest(PortStacks());
}

}  // namespace
