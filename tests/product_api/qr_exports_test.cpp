#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "product_api/escape_key.h"
#include "product_rows.h"
#include "qm_reader.h"
#include "scanner/environment.h"
#include "sim/fake_hid.h"
#include "sim/process_probe.h"
#include "sim/scanner_sim.h"
#include "sim/wire_table.h"

namespace {

// A HID scanner on port 1100, plugged in by plug().
class QrExports : public ::testing::Test {
 protected:
  QrExports() { scanner_environment().hid = &backend_; }
  ~QrExports() override {
    if (scanner_.joinable()) scanner_.join();
    qm_CloseQrcode();
    scanner_environment().hid = nullptr;
    EscapeKey::hook() = nullptr;
  }
  ScannerSim& plug() {
    sim_ = std::make_unique<ScannerSim>(backend_.addDevice("hid-0", 0x0525, 0xA402), true);
    return *sim_;
  }
  // Scans `code` once the module has started scanning again.
  void scanWhenStarted(const std::string& code) {
    const size_t starts = this->starts();
    if (scanner_.joinable()) scanner_.join();
    scanner_ = std::thread([this, code, starts] {
      if (wait_until([&] { return this->starts() > starts; })) sim_->scan(code);
    });
  }
  size_t starts() {
    const std::string sent = spaced_hex(sim_->received());
    size_t count = 0;
    for (size_t at = sent.find("32 75 01"); at != std::string::npos; at = sent.find("32 75 01", at + 1))
      ++count;
    return count;
  }

  TraceDir trace_;
  FakeHidBackend backend_;
  std::unique_ptr<ScannerSim> sim_;
  std::thread scanner_;
  char buffer_[1100];
};

std::atomic<int> g_length{0};
int32_t remember_length(const uint8_t*, int32_t n, void* user) {
  g_length = user ? -1 : n;
  return 0;
}

}  // namespace

TEST_F(QrExports, NoScannerAndNullBuffers) {
  EXPECT_EQ(-4, qm_OpenQrcode(nullptr, 1100));
  EXPECT_EQ(-4, qm_GetQrcodetimeout(buffer_, 1));
  EXPECT_EQ(-10, qm_GetQrcode(nullptr, 0));
  EXPECT_EQ(-10, qm_GetQrcodetimeout(nullptr, 1));
  EXPECT_EQ(-10, qm_ComGetQrcodetimeout(1100, nullptr, 1));
  EXPECT_EQ(-10, qm_GetSNCode(nullptr));
  EXPECT_EQ(0, backend_.opens());
  const std::string open_failed =  // 启动扫码失败请确认设备版本
      "\xC6\xF4\xB6\xAF\xC9\xA8\xC2\xEB\xCA\xA7\xB0\xDC\xC7\xEB\xC8\xB7\xC8\xCF\xC9\xE8"
      "\xB1\xB8\xB0\xE6\xB1\xBE\n";
  EXPECT_EQ(std::vector<std::string>{open_failed}, product_messages(trace_));
}

TEST_F(QrExports, OpenScanCloseThenSerialNumberCachedWhileUnplugged) {
  ScannerSim& sim = plug();
  g_length = 0;
  ASSERT_EQ(0, qm_OpenQrcode(remember_length, 1100));
  sim.scan("HELLO-123");
  EXPECT_TRUE(wait_until([] { return g_length == 9; }));
  EXPECT_EQ(1, qm_CloseQrcode());
  EXPECT_EQ("21 61 41 00 00 32 75 01 32 75 02", spaced_hex(sim.received()));

  std::memset(buffer_, 0xCC, sizeof buffer_);
  EXPECT_EQ(1, qm_GetSNCode(buffer_));
  EXPECT_EQ("SN20261208\xCC", std::string(buffer_, 11));
  EXPECT_EQ(std::vector<std::string>{"SN20261208"}, product_messages(trace_));
  sim.unplug();
  backend_.removeDevice("hid-0");
  std::memset(buffer_, 0xCC, sizeof buffer_);
  EXPECT_EQ(1, qm_GetSNCode(buffer_));
  EXPECT_EQ("SN20261208\xCC", std::string(buffer_, 11));
}

TEST_F(QrExports, OneShotScans) {
  plug();
  scanWhenStarted("CODE-1");
  std::memset(buffer_, 0xCC, sizeof buffer_);
  EXPECT_EQ(0, qm_GetQrcodetimeout(buffer_, 20));
  EXPECT_STREQ("CODE-1", buffer_);

  std::memset(buffer_, 0xCC, sizeof buffer_);
  Stopwatch watch;
  EXPECT_EQ(-2, qm_GetQrcodetimeout(buffer_, 1)) << "no code in 200 ms";
  EXPECT_GE(watch.ms(), 200);
  EXPECT_EQ('\xCC', buffer_[0]);

  scanWhenStarted("CODE-2");
  EXPECT_EQ(0, qm_GetQrcode(buffer_, 0));
  EXPECT_STREQ("CODE-2", buffer_);

  int looks = 0;
  EscapeKey::hook() = [&looks] { return ++looks > 2; };
  EXPECT_EQ(-2, qm_GetQrcode(buffer_, 0));
  EXPECT_NE(std::string::npos, spaced_hex(sim_->received()).rfind("32 75 02"));
}

TEST_F(QrExports, UnplugDuringAScanIsAFailure) {
  ScannerSim& sim = plug();
  scanner_ = std::thread([&] {
    if (wait_until([&] { return sim.mode() == 0; })) sim.unplug();
  });
  std::memset(buffer_, 0xCC, sizeof buffer_);
  EXPECT_EQ(-1, qm_GetQrcodetimeout(buffer_, 30));
  EXPECT_EQ(0, buffer_[0]);
}

TEST(QrExportsPort, TheLow16BitsOfThePortAreUsed) {
  TraceDir trace;
  ScannerMemoryReader reader;
  reader.script(0, WireBytes("22 61 41 00 00").bytes);
  reader.script(2, WireBytes("33 75 02 00 00").bytes);
  char buffer[1024];
  EXPECT_EQ(-2, qm_ComGetQrcodetimeout(70000, buffer, 0));
  EXPECT_EQ(4464, reader.lastPort());
}
