#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "scanner/hid_link.h"
#include "scanner/kovra_api.h"
#include "sim/process_probe.h"
#include "sim/scanner_sim.h"
#include "sim/wire_table.h"

TEST(ScannerHid, ReportLayoutsOfBothRows) {
  for (const size_t size : {64u, 65u}) {
    const size_t shift = size - 64;  // the report id 00 in front
    for (const size_t n : {0u, 1u, 60u, 61u, 120u, 121u}) {
      const std::vector<uint8_t> data = wire_pattern(n, 1);
      const auto reports = hid_output_reports(data.data(), n, size);
      ASSERT_EQ((n + 59) / 60, reports.size()) << n;
      for (size_t i = 0; i < reports.size(); ++i) {
        const size_t part = std::min<size_t>(60, n - 60 * i);
        std::vector<uint8_t> expected(size, 0x00);
        expected[shift] = 0x04, expected[shift + 1] = uint8_t(part);
        std::copy_n(data.begin() + long(60 * i), part, expected.begin() + long(shift + 2));
        expected[shift + 63] = i + 1 < reports.size();
        EXPECT_EQ(spaced_hex(expected), spaced_hex(reports[i])) << n << " bytes, report " << i;
      }
    }
  }
}

// The 65-byte row is tried first; bad reports are dropped whole; a message
// longer than the link's buffer still arrives whole; a dead device fails
// the write.
TEST(ScannerHid, RowsMessagesAndBadReports) {
  ScannerHidRig rig;
  auto later = rig.plug("hid-a402");
  const int raw = rig.backend.addDevice("hid-3010", 0x257B, 0x3010);
  FakeHidEndpoint device(raw);
  ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, nullptr, nullptr));
  EXPECT_EQ(1, KOVRA_StartScan());
  std::vector<uint8_t> start(65, 0x00);  // report id 00, then the 64-byte layout
  start[1] = 0x04, start[2] = 3, start[3] = 0x32, start[4] = 0x75, start[5] = 0x01;
  EXPECT_EQ(spaced_hex(start), spaced_hex(device.next(1000).report));

  uint8_t report[64] = {0x04, 57};
  device.sendInput(report, sizeof report);
  report[1] = 3;
  device.sendInput(report, 63);
  const std::vector<uint8_t> message = wire_pattern(1500, 2);
  for (const auto& part : hid_input_reports(message)) device.sendInput(part.data(), part.size());
  std::vector<uint8_t> got(4096);
  int32_t n = 0;
  ASSERT_EQ(1, KOVRA_ReadScanData(20, got.data(), int32_t(got.size()), &n));
  got.resize(size_t(n));
  EXPECT_EQ(message, got);
  ::close(raw);
  EXPECT_EQ(-1, KOVRA_SetMode(0));
  EXPECT_EQ(1, KOVRA_Close());
  EXPECT_EQ(-1, later->mode());
}

// --- threads ------------------------------------------------------------------

TEST(ScannerThreads, ScansStreamWhileTwoThreadsExchange) {
  ScanLog log;
  ScannerHidRig rig;
  auto sim = rig.plug();
  ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, ScanLog::callback, &log));
  std::atomic<bool> done{false};
  std::thread scans([&] {
    while (!done) {
      sim->scan("SCAN");
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  });
  std::atomic<int> answered{0};
  auto ask = [&] {
    for (int i = 0; i < 10; ++i) {
      answered += KOVRA_SetMode(0) == 1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  std::thread other(ask);
  ask();
  other.join();
  EXPECT_TRUE(wait_until([&] { return !log.chunks().empty(); }));
  done = true;
  scans.join();
  EXPECT_EQ(20, answered.load());
}

// The receive thread closes its own connection: it cannot join itself, so
// it is parked and joined by the next call. Two closes at once, and many
// opens and closes, leave no thread or descriptor behind.
TEST(ScannerThreads, ClosesFromAnyThreadLeaveNothing) {
  ScannerHidRig rig;
  auto sim = rig.plug();
  const int fds = settled_fd_count(), threads = settled_thread_count();
  std::atomic<int32_t> result{0};
  auto close_from_callback = [](const uint8_t*, int32_t, void* user) {
    *static_cast<std::atomic<int32_t>*>(user) = KOVRA_Close();
    return int32_t(0);
  };
  ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, close_from_callback, &result));
  sim->scan("X");
  ASSERT_TRUE(wait_until([&] { return result == 1; }));
  EXPECT_EQ(-1, KOVRA_SetMode(0));
  ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, nullptr, nullptr));
  EXPECT_EQ(1, KOVRA_SetMode(0));
  std::atomic<int> closed{0};
  std::thread a([&] { closed += KOVRA_Close(); }), b([&] { closed += KOVRA_Close(); });
  a.join();
  b.join();
  EXPECT_EQ(2, closed.load());
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, nullptr, nullptr)) << i;
    ASSERT_EQ(1, KOVRA_Close());
  }
  EXPECT_EQ(fds, fd_count_settling_to(fds));
  EXPECT_EQ(threads, thread_count_settling_to(threads));
}
