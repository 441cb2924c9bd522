#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "product_api/escape_key.h"
#include "product_rows.h"
#include "qm_reader.h"
#include "sim/process_probe.h"
#include "sim/scanner_sim.h"
#include "sim/wire_table.h"

namespace {

// A HID scanner on port 1100 once plugged in, and a scan buffer of 0xCC.
class QrExports : public ::testing::Test {
 protected:
  QrExports() { std::memset(buffer_, 0xCC, sizeof buffer_); }
  ~QrExports() override { EscapeKey::hook() = nullptr; }

  TraceDir trace_;
  ScannerHidRig rig_;
  std::unique_ptr<ScannerSim> sim_;
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
  EXPECT_EQ(0, rig_.backend.opens());
  EXPECT_EQ(std::vector<std::string>{gbk("启动扫码失败请确认设备版本\n")}, product_messages(trace_));
}

TEST_F(QrExports, OpenScanCloseThenSerialNumberCachedWhileUnplugged) {
  sim_ = rig_.plug();
  ASSERT_EQ(0, qm_OpenQrcode(remember_length, 1100));
  sim_->scan("HELLO-123");
  EXPECT_TRUE(wait_until([] { return g_length == 9; }));
  EXPECT_EQ(1, qm_CloseQrcode());
  EXPECT_EQ("21 61 41 00 00 32 75 01 32 75 02", spaced_hex(sim_->received()));

  EXPECT_EQ(1, qm_GetSNCode(buffer_));
  EXPECT_EQ("SN20261208\xCC", std::string(buffer_, 11));
  EXPECT_EQ(std::vector<std::string>{"SN20261208"}, product_messages(trace_));
  sim_->unplug();
  rig_.backend.removeDevice("hid-0");
  std::memset(buffer_, 0xCC, sizeof buffer_);
  EXPECT_EQ(1, qm_GetSNCode(buffer_));
  EXPECT_EQ("SN20261208\xCC", std::string(buffer_, 11));
}

TEST_F(QrExports, OneShotScans) {
  sim_ = rig_.plug();
  sim_->scanOnStart("CODE-1");
  EXPECT_EQ(0, qm_GetQrcodetimeout(buffer_, 20));
  EXPECT_STREQ("CODE-1", buffer_);

  std::memset(buffer_, 0xCC, sizeof buffer_);
  Stopwatch watch;
  EXPECT_EQ(-2, qm_GetQrcodetimeout(buffer_, 1)) << "no code in 200 ms";
  EXPECT_GE(watch.ms(), 200);
  EXPECT_EQ('\xCC', buffer_[0]);

  sim_->scanOnStart("CODE-2");
  EXPECT_EQ(0, qm_GetQrcode(buffer_, 0));
  EXPECT_STREQ("CODE-2", buffer_);

  int looks = 0;
  EscapeKey::hook() = [&looks] { return ++looks > 2; };
  EXPECT_EQ(-2, qm_GetQrcode(buffer_, 0));
  const std::string sent = spaced_hex(sim_->received());
  EXPECT_EQ("32 75 01 32 75 02", sent.substr(sent.size() - 17)) << "scanning stopped";
}

TEST_F(QrExports, UnplugDuringAScanIsAFailure) {
  sim_ = rig_.plug();
  std::thread unplug([&] {
    if (wait_until([&] { return sim_->mode() == 0; })) sim_->unplug();
  });
  EXPECT_EQ(-1, qm_GetQrcodetimeout(buffer_, 30));
  unplug.join();
  EXPECT_EQ(0, buffer_[0]);
}

TEST_F(QrExports, TheLow16BitsOfThePortAreUsed) {
  ScannerMemoryReader reader;
  reader.script(0, WireBytes("22 61 41 00 00").bytes);
  reader.script(2, WireBytes("33 75 02 00 00").bytes);
  EXPECT_EQ(-2, qm_ComGetQrcodetimeout(70000, buffer_, 0));
  EXPECT_EQ(4464, reader.lastPort());
}
