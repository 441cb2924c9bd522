// Opening and closing readers by handle, naming ports and the configuration
// entry, against the r42 simulator on a pseudo-terminal and in memory.
#include <dirent.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "connection/port_provider.h"
#include "core_api/configuration.h"
#include "core_test_support.h"
#include "memory_transport.h"
#include "sim/r42_reader_model.h"
#include "sim/r42_serial_sim.h"
#include "sim/process_probe.h"

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

// An r42 reader on a pseudo-terminal, named as serial port `port`.
struct PtyReader {
  R42ReaderModel model;
  std::unique_ptr<R42SerialSim> sim = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
  explicit PtyReader(int16_t port) {
    if (!sim) return;
    sim->setHandler(model.handler());
    sim->start();
    kx_config_port_name(port, sim->slavePath().c_str());
  }
};

TEST(CoreOpenClose, ConfigureKinds) {
  char version[16];
  std::memset(version, 'x', sizeof version);
  CoreConfigure(KX_CFG_VERSION, version);
  EXPECT_EQ(std::string(version, 10), std::string("10.1.3.14\0", 10));
  EXPECT_EQ(std::string(version + 10, 6), "xxxxxx");

  char dir[] = "/tmp/somewhere/";
  CoreConfigure(KX_CFG_DIRECTORY, dir);
  EXPECT_EQ(library_directory(), dir);
  char text[] = "free text";
  CoreConfigure(KX_CFG_TEXT, text);
  EXPECT_EQ(config_text(), "free text");

  // Unknown kinds and null data change nothing.
  char other[] = "/elsewhere/";
  CoreConfigure(5, other);
  CoreConfigure(-1, other);
  CoreConfigure(KX_CFG_DIRECTORY, nullptr);
  CoreConfigure(KX_CFG_TEXT, nullptr);
  CoreConfigure(KX_CFG_CALLBACKS, nullptr);
  CoreConfigure(KX_CFG_VERSION, nullptr);
  EXPECT_EQ(library_directory(), dir);
  EXPECT_EQ(config_text(), "free text");

  // 2047 characters fit; 2048 are refused whole, the old value kept.
  std::string fits(2047, 'a');
  CoreConfigure(KX_CFG_DIRECTORY, fits.data());
  EXPECT_EQ(library_directory(), fits);
  std::string too_long(2048, 'b');
  CoreConfigure(KX_CFG_DIRECTORY, too_long.data());
  CoreConfigure(KX_CFG_TEXT, too_long.data());
  EXPECT_EQ(library_directory(), fits);
  EXPECT_EQ(config_text(), "free text");

  char empty[] = "";
  CoreConfigure(KX_CFG_DIRECTORY, empty);
  CoreConfigure(KX_CFG_TEXT, empty);
  EXPECT_EQ(library_directory(), "");
  EXPECT_EQ(config_text(), "");
}

int creates = 0;
int32_t counting_create(const char*, ExternalTransport**) {
  ++creates;
  return 0;
}
int32_t counting_destroy(ExternalTransport*) { return 0; }

TEST(CoreOpenClose, ProviderNeedsBothHooks) {
  PortProvider half{nullptr, &counting_destroy, nullptr};
  CoreConfigure(KX_CFG_CALLBACKS, &half);
  creates = 0;
  EXPECT_EQ(kx_init(400, 115200), -1);
  EXPECT_EQ(creates, 0);

  PortProvider whole{&counting_create, &counting_destroy, nullptr};
  CoreConfigure(KX_CFG_CALLBACKS, &whole);
  EXPECT_EQ(kx_init(400, 115200), -1);
  EXPECT_GT(creates, 0);
  EXPECT_EQ(port_provider_snapshot().create, &counting_create);
  set_port_provider(nullptr);
}

TEST(CoreOpenClose, ExitRangeAndRepeats) {
  auto* first = new RecordingDevice;
  auto* last = new RecordingDevice;
  device_manager.installForTest(0, nullptr, nullptr, first);
  device_manager.installForTest(499, nullptr, nullptr, last);
  EXPECT_EQ(kx_exit(79), -1);
  EXPECT_EQ(kx_exit(580), -1);
  EXPECT_EQ(kx_exit(INT32_MIN), -1);
  EXPECT_EQ(device_manager.deviceAt(0), first);
  EXPECT_EQ(kx_exit(80), 0);
  EXPECT_EQ(kx_exit(579), 0);
  EXPECT_EQ(device_manager.deviceAt(0), nullptr);
  EXPECT_EQ(device_manager.deviceAt(499), nullptr);
  EXPECT_EQ(kx_exit(80), 0);
  EXPECT_EQ(kx_exit(300), 0);  // never opened
}

TEST(CoreOpenClose, RefusedOpensAndTheirTrace) {
  TraceDir dir;
  char missing[] = "/nonexistent/tty-for-core-tests";
  kx_config_port_name(0, missing);
  kx_config_port_name(1, missing);
  set_trace_level(2);
  EXPECT_EQ(kx_init(500, 115200), -1);
  EXPECT_EQ(kx_init(static_cast<int16_t>(65535), 115200), -1);
  EXPECT_EQ(kx_init(1, 12345), -1);  // no row carries this baud rate
  EXPECT_EQ(kx_init_name(0, 9600, "r42-s9600"), -1);
  EXPECT_EQ(kx_init_name(0, 9600, nullptr), -1);
  EXPECT_EQ(kx_init_485(1, 9600), -1);
  kx_config_port_name(2, nullptr);  // a null name changes nothing
  set_trace_level(0);
  const Lines lines = dir.lines();
  const Lines expected_head = {
      "function:[len:7]kx_init",
      "  parameter:[port[in]][len:3]500",
      "  parameter:[baud[in]][len:6]115200",
      "  return:[len:2]-1",
      "function:[len:7]kx_init",
      "  parameter:[port[in]][len:2]-1",
      "  parameter:[baud[in]][len:6]115200",
      "  return:[len:2]-1",
  };
  ASSERT_GE(lines.size(), expected_head.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 8), expected_head);
  const Lines expected_tail = {
      "function:[len:12]kx_init_name",
      "  parameter:[port[in]][len:1]0",
      "  parameter:[baud[in]][len:4]9600",
      "  parameter:[name[in]][len:6](null)",
      "  return:[len:2]-1",
      "function:[len:11]kx_init_485",
      "  parameter:[port[in]][len:1]1",
      "  parameter:[baud[in]][len:4]9600",
      "  return:[len:2]-1",
      "function:[len:19]kx_config_port_name",
      "  parameter:[port[in]][len:1]2",
      "  parameter:[name[in]][len:6](null)",
  };
  ASSERT_GE(lines.size(), expected_tail.size());
  EXPECT_EQ(Lines(lines.end() - expected_tail.size(), lines.end()), expected_tail);
  EXPECT_EQ(port_name(2), "");
}

TEST(CoreOpenClose, PtyReaderOpenCallsAndTrace) {
  TraceDir dir;
  PtyReader reader(3);
  ASSERT_TRUE(reader.sim);
  set_trace_level(2);
  ASSERT_EQ(kx_init(3, 115200), 83);
  reader.sim->waitForRequests(1, 1000);
  const size_t before = reader.sim->requestCount();

  char version[256] = {};
  ASSERT_EQ(kx_getver(83, version), 0);
  EXPECT_EQ(std::string(version), "R42 SIM 1.0");
  ASSERT_EQ(reader.sim->requestCount(), before + 1);
  EXPECT_EQ(R42SerialSim::stxFrame(reader.sim->requests().back()),
            (Bytes{0x02, 0x00, 0x00, 0x00, 0x03, 0x0F, 0x10, 0x00, 0x1E, 0x03}));

  ASSERT_EQ(kx_beep(83, 10), 0);
  EXPECT_EQ(R42SerialSim::stxFrame(reader.sim->requests().back()),
            (Bytes{0x02, 0x00, 0x00, 0x00, 0x05, 0x01, 0x01, 0x00, 0x00, 0x64, 0x63, 0x03}));
  reader.model.failWithStatus(0x0101, 0x6A82);
  EXPECT_EQ(kx_beep(83, 10), -2);
  reader.model.failWithStatus(0x0F10, 0x6A82);
  EXPECT_EQ(kx_getver(83, version), -2);
  EXPECT_EQ(kx_exit(83), 0);
  set_trace_level(0);

  const Lines lines = dir.lines();
  const Lines open_lines = {
      "function:[len:7]kx_init",
      "  parameter:[port[in]][len:1]3",
      "  parameter:[baud[in]][len:6]115200",
      "  return:[len:2]83",
  };
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 4), open_lines);
  const Lines call_lines = {
      "function:[len:9]kx_getver",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  parameter:[sver[out]][len:11]R42 SIM 1.0",
      "  return:[len:1]0",
      "function:[len:7]kx_beep",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  parameter:[_Msec[in]][len:2]10",
      "  return:[len:1]0",
      "function:[len:7]kx_beep",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  parameter:[_Msec[in]][len:2]10",
      "  return:[len:2]-2",
      "function:[len:9]kx_getver",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  return:[len:2]-2",
      "function:[len:7]kx_exit",
      "  parameter:[icdev[in]][len:10]0x00000053",
      "  return:[len:1]0",
  };
  ASSERT_EQ(lines.size(), 4 + call_lines.size());
  EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), call_lines);
  EXPECT_FALSE(dir.exists("port"));
}

TEST(CoreOpenClose, LevelThreeAddsThePortTrace) {
  TraceDir dir;
  PtyReader reader(3);
  ASSERT_TRUE(reader.sim);
  set_trace_level(3);
  ASSERT_EQ(kx_init(3, 115200), 83);
  EXPECT_EQ(kx_exit(83), 0);
  set_trace_level(0);
  EXPECT_TRUE(dir.exists("port"));
  EXPECT_EQ(dir.lines().size(), 7u);
}

TEST(CoreOpenClose, InMemoryTransportReader) {
  MemoryTransportReader reader;
  PortProvider provider = reader.provider();
  CoreConfigure(KX_CFG_CALLBACKS, &provider);
  ASSERT_EQ(kx_init(499, 115200), 579);
  char version[256] = {};
  EXPECT_EQ(kx_getver(579, version), 0);
  EXPECT_STREQ(version, "R42 SIM 1.0");
  // Opening an open port again closes and reopens it.
  ASSERT_EQ(kx_init(499, 115200), 579);
  EXPECT_EQ(reader.live(), 1);
  EXPECT_EQ(kx_exit(579), 0);
  EXPECT_EQ(reader.live(), 0);
  EXPECT_EQ(kx_getver(579, version), -1);
  set_port_provider(nullptr);
}

TEST(CoreOpenClose, UnplugMidCall) {
  const int fds = open_fd_count();
  {
    PtyReader reader(4);
    ASSERT_TRUE(reader.sim);
    ASSERT_EQ(kx_init(4, 115200), 84);
    R42SerialSim::FaultPlan fault;
    fault.kind = R42SerialSim::Fault::kHangUp;
    reader.sim->injectFault(fault);
    char version[256];
    const Stopwatch watch;
    EXPECT_EQ(kx_getver(84, version), -1);
    EXPECT_LT(watch.ms(), 5000);
    EXPECT_EQ(kx_exit(84), 0);
  }
  EXPECT_EQ(open_fd_count(), fds);
}

}  // namespace
