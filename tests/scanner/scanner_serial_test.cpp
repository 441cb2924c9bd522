#include <gtest/gtest.h>

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

// A scanner on a pseudo-terminal, its slave at pty.slavePath().
struct PtyScanner {
  PtyPair pty;
  ScannerSim sim{pty.releaseMaster(), false};
};

std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

TEST(ScannerSerial, ExplicitPortOpensProbesAndDeliversScans) {
  PtyScanner scanner;
  scanner_environment().port_paths[5] = scanner.pty.slavePath();
  ScanLog log;
  ASSERT_EQ(1, KOVRA_OpenPort(5, 115200, ScanLog::callback, &log));
  EXPECT_EQ(1, KOVRA_SetMode(0));
  EXPECT_EQ(1, KOVRA_StartScan());
  scanner.sim.scan("HELLO-123");
  EXPECT_TRUE(wait_until([&] { return log.chunks() == std::vector<std::string>{"HELLO-123"}; }));
  EXPECT_EQ(1, KOVRA_StopScan());
  EXPECT_EQ(1, KOVRA_Close());
  EXPECT_EQ("23 10 40 21 61 41 00 00 32 75 01 32 75 02", spaced_hex(scanner.sim.received()));
  scanner_environment().port_paths.clear();
}

TEST(ScannerSerial, SilentOrUnknownPortFailsAndLeavesNothingBehind) {
  PtyPair silent;
  scanner_environment().port_paths[7] = silent.slavePath();
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
  scanner_environment().port_paths.clear();
}

// ttyS2 to ttyS7 are silent lines, ttyS8 the scanner; consoles and ttyS
// ports without a UART are left out, and numbers sort as numbers.
TEST(ScannerDiscovery, ListsTheFirstTwentyByKindThenNumberAndProbesThemInOrder) {
  FakeSysfs sysfs;
  std::vector<std::unique_ptr<PtyPair>> silent;
  for (int i = 2; i < 8; ++i) {
    silent.push_back(std::make_unique<PtyPair>());
    sysfs.addTty("ttyS" + std::to_string(i), silent.back()->slavePath());
  }
  PtyScanner scanner;
  sysfs.addTty("ttyS8", scanner.pty.slavePath());
  for (int i = 9; i < 12; ++i) sysfs.addTty("ttyS" + std::to_string(i), "/dev/null");
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
  EXPECT_EQ(0, scanner.sim.mode());
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

// Found through its USB ids: unplugging is noticed by the presence check,
// and the reconnect loop brings it back once it is plugged in again.
TEST(ScannerReconnect, SerialScannerFoundThroughUsbComesBack) {
  FakeSysfs sysfs;
  auto scanner = std::make_unique<PtyScanner>();
  sysfs.addTty("ttyUSB0", scanner->pty.slavePath(), "0525", "a4a7");
  ScanLog log;
  ASSERT_EQ(0, KOVRA_StartAutoConnect(-1, 115200, ScanLog::callback, &log));
  ASSERT_TRUE(wait_until([&] { return scanner->sim.mode() == 5; }));
  scanner->sim.scan("ONE");
  ASSERT_TRUE(wait_until([&] { return log.chunks().size() == 1; }));
  scanner->sim.unplug();
  sysfs.removeTty("ttyUSB0");
  EXPECT_TRUE(wait_until([&] { return log.chunks().size() == 2; }));
  scanner = std::make_unique<PtyScanner>();
  sysfs.addTty("ttyUSB0", scanner->pty.slavePath(), "0525", "a4a7");
  ASSERT_TRUE(wait_until([&] { return scanner->sim.mode() == 5; }));
  scanner->sim.scan("TWO");
  EXPECT_TRUE(wait_until([&] { return log.chunks().size() == 3; }));
  EXPECT_EQ(0, KOVRA_StopAutoConnect());
  EXPECT_EQ((std::vector<std::string>{"ONE", "offline", "TWO"}), log.chunks());
}
