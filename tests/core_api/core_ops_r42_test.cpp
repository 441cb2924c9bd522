// Reader operations of the later slots through the core on a simulated r42
// reader behind a pseudo-terminal: the bytes on the line, the results and
// the trace, slots the family leaves out, and a reader that goes away in the
// middle of a call.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int16_t kPort = 3;
constexpr int32_t kHandle = 83;

// A reader on a pseudo-terminal, opened through the core as an application
// opens a serial reader, closed again at the end.
struct SerialReader {
  R42ReaderModel model;
  std::unique_ptr<R42SerialSim> sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
  int32_t handle = -1;

  SerialReader() {
    if (!sim) return;
    sim->setHandler(model.handler());
    sim->start();
    kx_config_port_name(kPort, sim->slavePath().c_str());
    handle = kx_init(kPort, 115200);
  }
  ~SerialReader() {
    if (handle >= 0) kx_exit(handle);
    if (sim) sim->stop();
  }
  // Request payloads the line carried since the open.
  std::vector<Bytes> requests() const {
    std::vector<Bytes> all = sim->requests();
    return std::vector<Bytes>(all.begin() + long(opened), all.end());
  }
  size_t opened = 0;
};

#define ASSERT_OPEN(reader)                              \
  ASSERT_TRUE((reader).sim) << "no pseudo-terminal";     \
  ASSERT_EQ((reader).handle, kHandle);                   \
  (reader).opened = (reader).sim->requestCount()

TEST(CoreOpsR42, MemoriesByteForByteWithTheirTrace) {
  TraceDir dir;
  SerialReader reader;
  ASSERT_OPEN(reader);
  set_trace_level(2);
  const uint8_t data[] = {0xAB, 0xCD};
  EXPECT_EQ(kx_WriteFlash(kHandle, 0x10, 2, data), 0);
  uint8_t back[4] = {};
  EXPECT_EQ(kx_ReadFlash(kHandle, 0x10, 3, back), 0);
  set_trace_level(0);
  EXPECT_EQ(Bytes(back, back + 3), hx("AB CD FF"));
  EXPECT_EQ(reader.requests(), (std::vector<Bytes>{hx("05 09 00 00 00 00 10 00 00 00 02 AB CD"),
                                                   hx("05 08 00 00 00 00 10 00 00 00 03")}));
  EXPECT_EQ(R42SerialSim::stxFrame(reader.requests()[1]),
            hx("02 00 00 00 0B 05 08 00 00 00 00 10 00 00 00 03 17 03"));
  const std::vector<std::string> expected = {
      "function:[len:13]kx_WriteFlash",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  parameter:[offset[in]][len:2]16",
      "  parameter:[length[in]][len:1]2",
      "  parameter:[data_buffer[in]][len:2]ABCD",
      "  return:[len:1]0",
      "function:[len:12]kx_ReadFlash",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  parameter:[offset[in]][len:2]16",
      "  parameter:[length[in]][len:1]3",
      "  parameter:[data_buffer[out]][len:3]ABCDFF",
      "  return:[len:1]0",
  };
  EXPECT_EQ(dir.lines(), expected);
}

// Slots the r42 family leaves to the interface: the default answer of each
// kind, nothing on the line, outputs untouched, and a trace without output
// lines.
TEST(CoreOpsR42, SlotsTheFamilyLeavesOutStayOffTheLine) {
  TraceDir dir;
  SerialReader reader;
  ASSERT_OPEN(reader);
  set_trace_level(2);
  uint8_t info[9] = {0xEE};
  uint8_t map[1024] = {};
  uint8_t cardnum = 0xEE;
  uint8_t atqb[64] = {};
  char serial[16] = "untouched";
  uint8_t response[64] = {0xEE};
  const uint8_t apdu[] = {0x00, 0x84, 0x00, 0x00, 0x08};
  const std::vector<std::function<int16_t()>> calls = {
      [&] { return kx_getrcinfo(kHandle, info); },
      [&] { return kx_dispmap_V7(kHandle, map); },
      [&] { return kx_mulrequest_b(kHandle, 0, 0, &cardnum, atqb); },
      [&] { return kx_card_n_number(kHandle, 0x52, serial); },
      [&] { return kx_checkcopy_m1(kHandle, 1); },
      [&] { return kx_rf_poweron(kHandle, 0, response); },
      [&] { return kx_rf_application(kHandle, 0, 5, apdu, response); },
  };
  for (const auto& call : calls) EXPECT_EQ(call(), -1);
  set_trace_level(0);
  EXPECT_TRUE(reader.requests().empty());
  EXPECT_EQ(info[0], 0xEE);
  EXPECT_EQ(cardnum, 0xEE);
  EXPECT_STREQ(serial, "untouched");
  EXPECT_EQ(response[0], 0xEE);
  size_t functions = 0;
  for (const std::string& line : dir.lines()) {
    EXPECT_EQ(line.find("[out]]"), std::string::npos) << line;
    if (line.rfind("function:", 0) == 0) ++functions;
  }
  EXPECT_EQ(functions, calls.size());
  EXPECT_EQ(dir.lines().back(), "  return:[len:2]-1");
}

// The reader hangs up between two chunks of one read: the call fails within
// the exchange's budget, traces no output, and later calls fail at once.
TEST(CoreOpsR42, ReaderGoneMidCallFailsWithinTheBudget) {
  TraceDir dir;
  SerialReader reader;
  ASSERT_OPEN(reader);
  R42SerialSim::FaultPlan hang;
  hang.kind = R42SerialSim::Fault::kHangUp;
  hang.nth = 2;
  reader.sim->injectFault(hang);
  set_trace_level(2);
  std::vector<uint8_t> data(400, 0x11);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kx_ReadFlash(kHandle, 0, 400, data.data()), -1);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(5000 + 1500));  // a hang guard
  EXPECT_EQ(reader.requests().size(), 2u);
  EXPECT_EQ(data[0], 0xFF);   // the first chunk arrived
  EXPECT_EQ(data[200], 0x11);  // the second did not
  char name[64];
  EXPECT_EQ(kx_ReadDeviceTypeName(kHandle, name), -1);
  set_trace_level(0);
  const std::vector<std::string> expected = {
      "function:[len:12]kx_ReadFlash",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  parameter:[offset[in]][len:1]0",
      "  parameter:[length[in]][len:3]400",
      "  return:[len:2]-1",
      "function:[len:21]kx_ReadDeviceTypeName",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  return:[len:2]-1",
  };
  EXPECT_EQ(dir.lines(), expected);
}

}  // namespace
