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
#include "sim/r42_reader_model.h"

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
  Bytes load_key = hx("4C 00 01");
  load_key.insert(load_key.end(), t1, t1 + 6);
  for (uint8_t b : hx("00 00 FF FF FF FF FF FF 00 00")) load_key.push_back(b);
  const std::vector<Step> road = {
      {hx("41 01"), hx("00 04 00")},
      {hx("42 00 00 00 00 00"), hx("00 11 22 33 44")},
      {hx("43 11 22 33 44"), hx("00 08")},
      {load_key, hx("00")},
      {hx("44 00 01"), hx("00")},
      {hx("46 04"), hx("00 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F")},
      {hx("47 05 11 22 33 44 55 66 77 88 99 00 AA BB CC DD EE FF"), hx("00")},
      {hx("47 07 A3 C5 E7 09 2B 4D FF 07 80 69 A3 C5 E7 09 2B 4D"), hx("00")},
      {hx("57 0A 00"), hx("00")},
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
