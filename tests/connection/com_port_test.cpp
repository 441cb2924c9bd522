#include "connection/com_port.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "sim/pty_pair.h"
#include "sim/process_probe.h"

namespace {


ParamMap params_for(const std::string& name, const std::string& baud = "115200",
                    const std::string& mode = "direct") {
  return {{"mode", mode}, {"name", name}, {"baud", baud}};
}

class ComPortOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    port_ = std::make_unique<ComPort>(params_for(pty_.slavePath()), &opened_);
    ASSERT_TRUE(opened_);
  }

  PtyPair pty_;
  bool opened_ = false;
  std::unique_ptr<ComPort> port_;
};

}  // namespace

TEST(ComPort, MapsOnlyExactComNamesToSerialDevices) {
  EXPECT_EQ(ComPort::devicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(ComPort::devicePath("COM12"), "/dev/ttyS11");
  EXPECT_EQ(ComPort::devicePath("COM256"), "/dev/ttyS255");
  for (const char* same : {"com3", "COM012", "COM0", "COM257", "COM", "COM1a", "COM-1", " COM1",
                           "/dev/ttyUSB0", "/dev/pts/7", ""}) {
    EXPECT_EQ(ComPort::devicePath(same), same);
  }
}

TEST(ComPort, TakesLeadingDigitsAsBaudAndRefusesUnusableRates) {
  int32_t baud = 0;
  EXPECT_TRUE(ComPort::parseBaud("115200", &baud));
  EXPECT_EQ(baud, 115200);
  EXPECT_TRUE(ComPort::parseBaud("9600bps", &baud));
  EXPECT_EQ(baud, 9600);
  EXPECT_TRUE(ComPort::parseBaud("2147483647", &baud));
  EXPECT_EQ(baud, 2147483647);
  baud = 7;
  // B0 would hang the line up; a wrapped value would be a random rate.
  for (const char* bad : {"abc", "", "0", "-9600", "2147483648", "99999999999999999999999"}) {
    EXPECT_FALSE(ComPort::parseBaud(bad, &baud)) << bad;
  }
  EXPECT_EQ(baud, 7);
}

TEST_F(ComPortOnPty, CarriesEveryByteValueUnchangedBothWays) {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[size_t(i)] = uint8_t(i);
  ASSERT_TRUE(port_->write(all.data(), 256, 1000));
  EXPECT_EQ(pty_.readExact(256, 1000), all);
  EXPECT_TRUE(pty_.drain(20).empty());

  ASSERT_TRUE(pty_.writeAll(all));
  std::vector<uint8_t> got(256);
  ASSERT_TRUE(port_->read(got.data(), 256, 1000));
  EXPECT_EQ(got, all);
}

TEST(ComPort, SetsStandardAndNonStandardRates) {
  for (uint32_t rate : {115200u, 256000u, 14400u, 9600u}) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    bool opened = false;
    ComPort port(params_for(pty.slavePath(), std::to_string(rate)), &opened);
    ASSERT_TRUE(opened) << rate;
    uint32_t in = 0, out = 0;
    ASSERT_TRUE(pty.speeds(&in, &out));
    EXPECT_EQ(out, rate);
    EXPECT_EQ(in, rate);
  }
}

TEST_F(ComPortOnPty, HoldsTheLineExclusivelyUntilClosed) {
  bool second = true;
  { ComPort other(params_for(pty_.slavePath()), &second); }
  EXPECT_FALSE(second);

  port_->close();
  EXPECT_FALSE(port_->isOpen());
  ComPort again(params_for(pty_.slavePath()), &second);
  EXPECT_TRUE(second);
  again.close();

  EXPECT_TRUE(port_->reopen());
  EXPECT_TRUE(port_->isOpen());
  bool third = true;
  { ComPort other(params_for(pty_.slavePath()), &third); }
  EXPECT_FALSE(third);
}

TEST_F(ComPortOnPty, PartialReplyFailsOnlyAtTheTimeOutWithoutSpinning) {
  ASSERT_TRUE(pty_.writeAll({1, 2, 3}));
  uint8_t buffer[10];
  const double cpu_before = thread_cpu_ms();
  const Stopwatch start;
  EXPECT_FALSE(port_->read(buffer, 10, 200));
  const long elapsed = start.ms();
  EXPECT_GE(elapsed, 200);
  EXPECT_LT(elapsed, 2000);
  EXPECT_LT(thread_cpu_ms() - cpu_before, 50.0);
  EXPECT_TRUE(port_->isOpen());
  EXPECT_EQ(buffer[0], 1);
}

TEST_F(ComPortOnPty, HangUpEndsAWaitAtOnce) {
  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty_.closeMaster();
  });
  uint8_t buffer[4];
  const Stopwatch start;
  EXPECT_FALSE(port_->read(buffer, 4, 30000));
  EXPECT_LT(start.ms(), 3000);
  peer.join();

  const Stopwatch again;
  EXPECT_FALSE(port_->read(buffer, 4, 30000));
  EXPECT_FALSE(port_->write(buffer, 4, 30000));
  EXPECT_LT(again.ms(), 3000);
}

TEST_F(ComPortOnPty, EarlyBytesCountAndPurgeDropsThem) {
  ASSERT_TRUE(pty_.writeAll({0xA1, 0xA2, 0xA3}));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(port_->available(), 0);
  uint8_t buffer[3] = {};
  ASSERT_TRUE(port_->read(buffer, 3, 0));  // already there: no wait needed
  EXPECT_EQ(buffer[2], 0xA3);

  ASSERT_TRUE(pty_.writeAll({0xB1, 0xB2}));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  port_->purge();
  EXPECT_FALSE(port_->read(buffer, 1, 50));
  EXPECT_FALSE(port_->read(buffer, 1, 0));
}

// A write returns once the bytes are queued; the purge before the next
// command must leave them to reach the reader.
TEST_F(ComPortOnPty, PurgeKeepsBytesStillGoingOut) {
  const std::vector<uint8_t> sent(64, 0x10);
  ASSERT_TRUE(port_->write(sent.data(), int32_t(sent.size()), 1000));
  port_->purge();
  EXPECT_EQ(pty_.readExact(sent.size(), 1000), sent);
}

TEST_F(ComPortOnPty, ReadsAReplyThatStartsLate) {
  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty_.writeAll({1, 2, 3, 4});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pty_.writeAll({5, 6, 7, 8});
  });
  uint8_t buffer[8] = {};
  EXPECT_TRUE(port_->read(buffer, 8, 2000));
  peer.join();
  EXPECT_EQ(buffer[7], 8);
}
