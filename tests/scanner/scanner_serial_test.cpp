#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "scanner/discovery.h"
#include "scanner/environment.h"
#include "scanner/kovra_api.h"
#include "sim/fake_sysfs.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"
#include "sim/scanner_sim.h"
#include "sim/wire_table.h"

namespace {

std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Leaves `bytes` from the scanner unread in its line's input queue.
void queue_on_the_line(ScannerSim& scanner, const std::string& bytes) {
  const int fd = open(scanner.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios tio{};
  ASSERT_EQ(0, tcgetattr(fd, &tio));
  cfmakeraw(&tio);
  ASSERT_EQ(0, tcsetattr(fd, TCSANOW, &tio));
  scanner.scan(bytes);
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(1, poll(&p, 1, 2000));
  close(fd);
}

}  // namespace

// A silent or unknown port fails and leaves nothing behind; the scanner's
// port, with bytes left on its line from before, opens after the probe and
// delivers scans.
TEST(ScannerSerial, ExplicitPorts) {
  PtyPair silent;
  ScannerSim scanner;
  scanner_environment().port_paths = {{5, scanner.slavePath()}, {7, silent.slavePath()}};
  auto fail_all = [&] {
    EXPECT_EQ(-4, KOVRA_OpenPort(7, 115200, nullptr, nullptr));
    EXPECT_EQ(-4, KOVRA_OpenPort(0, 115200, nullptr, nullptr));
    EXPECT_EQ(-4, KOVRA_OpenPort(257, 115200, nullptr, nullptr));
    EXPECT_EQ(-1, KOVRA_SetMode(0)) << "nothing open";
  };
  // What the first use sets up for the process (a sanitizer's own thread)
  // is settled before counting.
  fail_all();
  const int fds = settled_fd_count(), threads = settled_thread_count();
  fail_all();
  EXPECT_EQ(fds, fd_count_settling_to(fds));
  EXPECT_EQ(threads, thread_count_settling_to(threads));

  ScanLog log;
  queue_on_the_line(scanner, "STALE");
  ASSERT_EQ(1, KOVRA_OpenPort(5, 115200, ScanLog::callback, &log));
  EXPECT_EQ(1, KOVRA_StartScan());
  scanner.scan("HELLO-123");
  EXPECT_TRUE(wait_until([&] { return log.chunks() == std::vector<std::string>{"HELLO-123"}; }));
  EXPECT_EQ(1, KOVRA_StopScan());
  EXPECT_EQ(1, KOVRA_Close());
  EXPECT_EQ("23 10 40 32 75 01 32 75 02", spaced_hex(scanner.received()));
  scanner_environment().port_paths.clear();
}

// ttyS2 to ttyS7 are silent lines, ttyS8 the scanner; consoles and ttyS
// ports without a UART are left out, and numbers sort as numbers.
TEST(ScannerDiscovery, ListsTheFirstTwentyByKindThenNumberAndProbesThemInOrder) {
  FakeSysfs sysfs;
  std::vector<std::unique_ptr<PtyPair>> silent;
  ScannerSim scanner;
  for (int i = 2; i < 12; ++i) {
    if (i < 8) silent.push_back(std::make_unique<PtyPair>());
    sysfs.addTty("ttyS" + std::to_string(i),
                 i < 8 ? silent.back()->slavePath() : i == 8 ? scanner.slavePath() : "/dev/null");
  }
  for (int i = 11; i >= 0; --i) sysfs.addTty("ttyUSB" + std::to_string(i), "/dev/null");
  for (int i = 0; i < 5; ++i) sysfs.addTty("ttyACM" + std::to_string(i), "/dev/null");
  sysfs.addTty("ttyS0", "/dev/null", "", "", "Y");       // a console
  sysfs.addTty("ttyS1", "/dev/null", "", "", "N", "0");  // no UART
  sysfs.addTty("tty5", "/dev/null");
  std::vector<std::string> paths, expected;
  for (int i = 2; i < 12; ++i) expected.push_back("ttyS" + std::to_string(i));
  for (int i = 0; i < 10; ++i) expected.push_back("ttyUSB" + std::to_string(i));
  ASSERT_EQ(20, list_serial_ports(&paths));
  for (std::string& path : paths) path = name_of(path);
  EXPECT_EQ(expected, paths);

  ASSERT_EQ(1, KOVRA_OpenPort(-2, 0, nullptr, nullptr));
  for (auto& line : silent) EXPECT_EQ("23 10 40", spaced_hex(line->drain(10)));
  EXPECT_EQ(1, KOVRA_SetMode(0));
  EXPECT_EQ(0, scanner.mode());
  EXPECT_EQ(1, KOVRA_Close());
}

TEST(ScannerDiscovery, UsbListFindsOnePortByTheScannerIds) {
  FakeSysfs sysfs;
  sysfs.addTty("ttyUSB0", "/dev/null", "1234", "a4a7");
  std::string path;
  UsbIds ids;
  EXPECT_EQ(-1, find_usb_scanner_port(&path, &ids));
  EXPECT_EQ(-4, KOVRA_OpenPort(-1, 0, nullptr, nullptr));
  EXPECT_FALSE(usb_scanner_present(nullptr));
  sysfs.addTty("ttyACM3", "/dev/null", "0416", "5011");
  sysfs.addTty("ttyUSB1", "/dev/null", "0525", "a4a7");
  ASSERT_EQ(1, find_usb_scanner_port(&path, &ids));
  EXPECT_EQ("ttyUSB1", name_of(path));
  EXPECT_EQ("0525 A4A7", ids.vendor + " " + ids.product);
  EXPECT_TRUE(usb_scanner_present(&ids));
  EXPECT_EQ(1, KOVRA_IsPresent());
}

// Unplugged: "offline" once, nothing opened while it is away (counted on
// the HID stack); plugged in again: mode 5 and scans flow. The serial
// scanner is found through its USB ids, its loss seen by the presence check.
class ScannerReconnect : public ::testing::TestWithParam<bool> {};

TEST_P(ScannerReconnect, ComesBackAfterEachLoss) {
  const bool hid = GetParam();
  ScanLog log;
  FakeSysfs sysfs;
  ScannerHidRig rig;
  auto plug = [&] {
    if (hid) return rig.plug();
    auto sim = std::make_unique<ScannerSim>();
    sysfs.addTty("ttyUSB0", sim->slavePath(), "0525", "a4a7");
    return sim;
  };
  auto scanner = plug();
  ASSERT_EQ(0, KOVRA_StartAutoConnect(hid ? 1100 : -1, 115200, ScanLog::callback, &log));
  for (size_t round = 0; round < 2; ++round) {
    ASSERT_TRUE(wait_until([&] { return scanner->mode() == 5; }));
    scanner->scan("CODE" + std::to_string(round));
    ASSERT_TRUE(wait_until([&] { return log.chunks().size() == 2 * round + 1; }));
    rig.backend.removeDevice("hid-0");
    scanner->unplug();
    sysfs.removeTty("ttyUSB0");
    ASSERT_TRUE(wait_until([&] { return log.chunks().size() == 2 * round + 2; }));
    const int opens = rig.backend.opens();
    Stopwatch watch;
    ASSERT_TRUE(wait_until([&] { return watch.ms() > 1300; }));
    EXPECT_EQ(2 * round + 2, log.chunks().size()) << "offline once per loss";
    EXPECT_EQ(opens, rig.backend.opens()) << "nothing to open while unplugged";
    scanner = plug();
  }
  ASSERT_TRUE(wait_until([&] { return scanner->mode() == 5; }));
  EXPECT_EQ(0, KOVRA_StopAutoConnect());
  EXPECT_EQ((std::vector<std::string>{"CODE0", "offline", "CODE1", "offline"}), log.chunks());
  EXPECT_EQ(0, scanner->mode()) << "mode 0 on the way out";
}

INSTANTIATE_TEST_SUITE_P(, ScannerReconnect, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Hid" : "Serial"; });
