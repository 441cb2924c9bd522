// Reader settings that do more than one exchange or none (the PPS read-back,
// the contact voltage) and the serial-line loop-back, which opens a port of
// the host: here a second pseudo-terminal that plays the reader's line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "family_r42/r42_rig.h"
#include "sim/process_probe.h"
#include "sim/r42_sim_services.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42ServicesReader>;
using Call = WireCall<R42ServicesReader>;
using State = R42ServicesReader::State;

const Row kRows[] = {
    Row("pps_read_back", [](Call& c) { return c.d.SetCpuCardPps(kIcdev, 2); })
        .sends("0F 31 00 02").sends("0F 32 00")
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.services.pps, 2); }),
    Row("pps_read_back_differs", [](Call& c) { return c.d.SetCpuCardPps(kIcdev, 2); })
        .given([](State& s) { s.services.pps_read_back = 1; })
        .sends("0F 31 00 02").sends("0F 32 00")
        .gives(-1),
    Row("pps_set_refused", [](Call& c) { return c.d.SetCpuCardPps(kIcdev, 2); })
        .sends("0F 31 00 02").answer("6A 81 00")
        .gives(-2).status(0x6A81),
    Row("pps_read_back_fails", [](Call& c) { return c.d.SetCpuCardPps(kIcdev, 2); })
        .sends("0F 31 00 02").sends("0F 32 00").answer("00 00 00")
        .gives(-1),
};
WIRE_TABLE(ReaderSettings, R42ServicesReader, kRows);

// The voltage waits in the device, without I/O, for the next contact-card
// reset, which sends it after the slot and the baud selector.
TEST(ReaderSettingsVoltage, KeptForTheNextContactReset) {
  NullPort port;
  RecordingProtocol wire(&port, [](const RecordingProtocol::Bytes&) {
    return std::optional<RecordingProtocol::Bytes>(RecordingProtocol::Bytes{0, 0, 0, 0x3B, 0x00});
  });
  R42Device device("r42-u", &port, &wire);
  ReaderDevice& d = device;
  EXPECT_EQ(d.SetCpuVoltage(kIcdev, 3), 0);
  EXPECT_TRUE(wire.calls.empty());
  uint8_t length = 0;
  uint8_t atr[300] = {};
  EXPECT_EQ(d.cpureset(kIcdev, &length, atr), 0);
  ASSERT_EQ(wire.calls.size(), 1u);
  EXPECT_EQ(wire.calls[0].request, (RecordingProtocol::Bytes{0x03, 0x01, 0x00, 0x00, 0x00, 0x03}));
}

struct LoopRig : R42Rig {
  LoopRig() { services.attach(model); }
  ~LoopRig() {
    if (sim) sim->stop();
  }
  ServicesSim services;
};

class ReaderSettingsLoopBack : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_RIG(rig);
    ASSERT_TRUE(line.ok());
    name = line.slavePath() + ":9600";
    before = settled_fd_count();
  }
  void TearDown() override { EXPECT_EQ(fd_count_settling_to(before), before) << "the host port stays open"; }

  int16_t test_com(const char* port_name, Bytes& data, int32_t* length) {
    return rig.device->TestCom(kIcdev, 2, port_name, data.data(), length);
  }

  LoopRig rig;
  PtyPair& line = rig.services.serialLine();
  std::string name;
  int before = 0;
};

TEST_F(ReaderSettingsLoopBack, BytesComeBackOverTheReadersLine) {
  Bytes data = {'H', 'E', 'L', 'L', 'O', 0xCC};
  int32_t length = 5;
  ASSERT_EQ(test_com(name.c_str(), data, &length), 0);
  EXPECT_EQ(length, 5);
  EXPECT_EQ(data, (Bytes{'H', 'E', 'L', 'L', 'O', 0xCC}));
  ASSERT_EQ(rig.sent(), 1u);
  EXPECT_EQ(rig.requests()[0], hx("AF 05 00 02 05 48 45 4C 4C 4F"));
  EXPECT_EQ(rig.last().timeout_ms, 5000);
}

TEST_F(ReaderSettingsLoopBack, NothingToLoopBack) {
  Bytes data(1, 0xCC);
  int32_t length = 0;
  EXPECT_EQ(test_com(name.c_str(), data, &length), 0);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(rig.requests()[0], hx("AF 05 00 02 00"));
}

TEST_F(ReaderSettingsLoopBack, ReaderReportsOtherBytes) {
  rig.services.with([](ServicesSim::State& s) { s.garble_line_reply = true; });
  Bytes data = {1, 2, 3};
  int32_t length = 3;
  EXPECT_EQ(test_com(name.c_str(), data, &length), -1);
}

TEST_F(ReaderSettingsLoopBack, CountsPastTheReplyOrTheDataAreRefused) {
  Bytes data = {1, 2, 3, 0xCC, 0xCC, 0xCC};
  int32_t length = 3;
  rig.model.scriptReply(0xAF05, hx("00 00 00 03 01 02"));
  EXPECT_EQ(test_com(name.c_str(), data, &length), -1);
  rig.model.scriptReply(0xAF05, hx("00 00 00 05 01 02 03 04 05"));
  EXPECT_EQ(test_com(name.c_str(), data, &length), -1);
  EXPECT_EQ(data, (Bytes{1, 2, 3, 0xCC, 0xCC, 0xCC})) << "nothing read past the caller's bytes";
  rig.model.scriptReply(0xAF05, hx("6A 82 00"));
  EXPECT_EQ(test_com(name.c_str(), data, &length), -2);
  rig.model.scriptReply(0xAF05, hx("00 00 00"));
  EXPECT_EQ(test_com(name.c_str(), data, &length), -1);
}

TEST_F(ReaderSettingsLoopBack, RefusedBeforeAnyPort) {
  Bytes data(300, 0x11);
  int32_t length = 5;
  const std::string no_speed = line.slavePath();
  EXPECT_EQ(test_com(no_speed.c_str(), data, &length), -1);
  EXPECT_EQ(test_com(nullptr, data, &length), -1);
  EXPECT_EQ(test_com("/nonexistent/tty:9600", data, &length), -1);
  EXPECT_EQ(rig.device->TestCom(kIcdev, 2, name.c_str(), data.data(), nullptr), -1);
  for (int32_t bad : {256, -1}) {
    length = bad;
    EXPECT_EQ(test_com(name.c_str(), data, &length), -1) << bad;
    EXPECT_EQ(length, bad);
  }
  EXPECT_EQ(rig.sent(), 0u);
  EXPECT_TRUE(line.drain(20).empty()) << "nothing reached the line";
}

}  // namespace
