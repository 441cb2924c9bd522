#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scanner/environment.h"
#include "scanner/hid_link.h"
#include "scanner/kovra_api.h"
#include "sim/fake_hid.h"
#include "sim/process_probe.h"
#include "sim/scanner_sim.h"
#include "sim/wire_table.h"

namespace {

// A fake HID stack that the module uses while it lives.
struct HidStack {
  FakeHidBackend backend;
  HidStack() { scanner_environment().hid = &backend; }
  ~HidStack() { scanner_environment().hid = nullptr; }
  std::unique_ptr<ScannerSim> plug(const char* path, uint16_t vendor, uint16_t product) {
    return std::make_unique<ScannerSim>(backend.addDevice(path, vendor, product), true);
  }
};

struct Offline {
  std::mutex mutex;
  std::vector<std::string> heard;
  static int32_t callback(const uint8_t* data, int32_t n, void* user) {
    auto* self = static_cast<Offline*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->heard.emplace_back(reinterpret_cast<const char*>(data), size_t(n));
    return 0;
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return heard.size();
  }
};

}  // namespace

TEST(ScannerHid, ReportLayoutsOfBothRows) {
  for (const size_t size : {64u, 65u}) {
    const size_t shift = size - 64;
    for (const size_t n : {0u, 1u, 60u, 61u, 120u, 121u}) {
      const std::vector<uint8_t> data = wire_pattern(n, 1);
      const auto reports = hid_output_reports(data.data(), n, size);
      ASSERT_EQ((n + 59) / 60, reports.size()) << n;
      std::vector<uint8_t> carried;
      for (size_t i = 0; i < reports.size(); ++i) {
        const std::vector<uint8_t>& r = reports[i];
        ASSERT_EQ(size, r.size());
        EXPECT_TRUE(shift == 0 || r[0] == 0x00);
        EXPECT_EQ(0x04, r[shift]);
        const size_t len = r[shift + 1];
        carried.insert(carried.end(), r.begin() + long(shift + 2), r.begin() + long(shift + 2 + len));
        EXPECT_TRUE(std::all_of(r.begin() + long(shift + 2 + len), r.begin() + long(shift + 63),
                                [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(i + 1 < reports.size() ? 1 : 0, r[shift + 63]);
      }
      EXPECT_EQ(data, carried);
    }
  }
}

// The 65-byte row is tried first; bad reports are dropped whole; a message
// longer than the link's buffer still arrives whole; a dead device fails
// the write.
TEST(ScannerHid, RowsMessagesAndBadReports) {
  HidStack hid;
  auto later = hid.plug("hid-a402", 0x0525, 0xA402);
  const int raw = hid.backend.addDevice("hid-3010", 0x257B, 0x3010);
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
  for (size_t at = 0; at < message.size(); at += 56) {
    uint8_t part[64] = {0x04, uint8_t(std::min<size_t>(56, message.size() - at))};
    std::memcpy(part + 2, message.data() + at, part[1]);
    part[63] = at + 56 < message.size();
    device.sendInput(part, sizeof part);
  }
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

// Unplugged: "offline" once, reopen tries 600 ms apart; plugged in again:
// mode 5 and scans flow; unplugged again: "offline" again.
TEST(ScannerReconnect, HidScannerComesBackAfterEachLoss) {
  HidStack hid;
  auto scanner = hid.plug("hid-0", 0x0525, 0xA402);
  Offline heard;
  ASSERT_EQ(0, KOVRA_StartAutoConnect(1100, 115200, Offline::callback, &heard));
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(wait_until([&] { return scanner->mode() == 5; }));
    scanner->scan("CODE" + std::to_string(round));
    ASSERT_TRUE(wait_until([&] { return heard.count() == size_t(2 * round + 1); }));
    hid.backend.removeDevice("hid-0");
    scanner->unplug();
    ASSERT_TRUE(wait_until([&] { return heard.count() == size_t(2 * round + 2); }));
    const int opens = hid.backend.opens();
    Stopwatch watch;
    ASSERT_TRUE(wait_until([&] { return watch.ms() > 1300; }));
    EXPECT_EQ(2 * round + 2, int(heard.count())) << "offline once per loss";
    EXPECT_EQ(opens, hid.backend.opens()) << "nothing to open while unplugged";
    scanner = hid.plug("hid-0", 0x0525, 0xA402);
  }
  ASSERT_TRUE(wait_until([&] { return scanner->mode() == 5; }));
  EXPECT_EQ(0, KOVRA_StopAutoConnect());
  EXPECT_EQ((std::vector<std::string>{"CODE0", "offline", "CODE1", "offline"}), heard.heard);
  EXPECT_EQ(0, scanner->mode()) << "mode 0 on the way out";
}
