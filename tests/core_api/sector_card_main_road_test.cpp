// The demo's sector-card road through the core API: open a serial reader on
// a pseudo-terminal, select the card, keep a key in the reader, authenticate,
// read, write, rewrite the trailer and beep, checking every byte each way.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kx_core.h"
#include "sim/card_field.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Exchange = std::pair<Bytes, Bytes>;

constexpr int16_t kPort = 6;

// The reader with its card field, recording each request with its reply.
struct RoadReader {
  RoadReader() {
    field.attach(model);
    field.insert(MifareCard::classic1k({0x11, 0x22, 0x33, 0x44}));
    sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
    if (!sim) return;
    sim->setHandler([this](const Bytes& request) {
      Bytes reply = model.answer(request);
      std::lock_guard<std::mutex> lock(mu);
      exchanges.push_back({request, reply});
      return reply;
    });
    sim->start();
    kx_config_port_name(kPort, sim->slavePath().c_str());
  }
  ~RoadReader() {
    if (sim) sim->stop();
  }
  std::vector<Exchange> since(size_t mark) {
    std::lock_guard<std::mutex> lock(mu);
    return std::vector<Exchange>(exchanges.begin() + long(mark), exchanges.end());
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mu);
    return exchanges.size();
  }

  R42ReaderModel model;
  CardField field;
  std::unique_ptr<R42SerialSim> sim;
  std::mutex mu;
  std::vector<Exchange> exchanges;
};

TEST(SectorCardMainRoad, DemoRoadByteForByte) {
  RoadReader reader;
  ASSERT_TRUE(reader.sim) << "no pseudo-terminal";
  const int32_t h = kx_init(kPort, 115200);
  ASSERT_EQ(h, 80 + kPort);
  const size_t mark = reader.count();

  char text[64] = {};
  ASSERT_EQ(kx_card_double_hex(h, 1, text), 0);
  EXPECT_STREQ(text, "11223344");
  ASSERT_EQ(kx_load_key_hex(h, 0, 1, "FFFFFFFFFFFF"), 0);
  ASSERT_EQ(kx_authentication(h, 0, 1), 0);
  ASSERT_EQ(kx_read_hex(h, 4, text), 0);
  EXPECT_STREQ(text, "00000000000000000000000000000000");
  ASSERT_EQ(kx_write_hex(h, 5, "11223344556677889900AABBCCDDEEFF"), 0);
  ASSERT_EQ(kx_changeb3_hex(h, 1, "A3C5E7092B4D", 0, 0, 0, 1, 0, "A3C5E7092B4D"), 0);
  ASSERT_EQ(kx_beep(h, 10), 0);

  const std::vector<Exchange> road = {
      {hx("04 33 00 52"), hx("00 00 00 04 00")},
      {hx("04 34 00 93"), hx("00 00 00 00 11 22 33 44")},
      {hx("04 35 00 93 04 11 22 33 44"), hx("00 00 00 08")},
      {hx("04 01 00 52"), hx("00 00 00 04 00")},
      {hx("05 01 00 00 00 00 0C 00 00 00 06 FF FF FF FF FF FF"), hx("00 00 00")},
      {hx("05 00 00 00 00 00 0C 00 00 00 06"), hx("00 00 00 FF FF FF FF FF FF")},
      {hx("04 04 00 60 07 FF FF FF FF FF FF"), hx("00 00 00")},
      {hx("04 05 00 04"), hx("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00")},
      {hx("04 06 00 05 11 22 33 44 55 66 77 88 99 00 AA BB CC DD EE FF"), hx("00 00 00")},
      {hx("04 06 00 07 A3 C5 E7 09 2B 4D FF 07 80 00 A3 C5 E7 09 2B 4D"), hx("00 00 00")},
      {hx("01 01 00 00 64"), hx("00 00 00")},
  };
  const std::vector<Exchange> seen = reader.since(mark);
  ASSERT_EQ(seen.size(), road.size());
  for (size_t i = 0; i < road.size(); ++i) {
    EXPECT_EQ(seen[i].first, road[i].first) << "request " << i;
    EXPECT_EQ(seen[i].second, road[i].second) << "reply " << i;
  }
  EXPECT_EQ(R42SerialSim::stxFrame(seen[0].first), hx("02 00 00 00 04 04 33 00 52 63 03"));

  // The trailer now holds the new keys.
  EXPECT_EQ(kx_authentication_pass_hex(h, 0, 1, "FFFFFFFFFFFF"), -2);
  uint32_t snr = 0;
  ASSERT_EQ(kx_card(h, 0, &snr), 0);
  EXPECT_EQ(snr, 0x44332211u);
  EXPECT_EQ(kx_authentication_pass_hex(h, 0, 1, "A3C5E7092B4D"), 0);
  EXPECT_EQ(kx_exit(h), 0);
}

}  // namespace
