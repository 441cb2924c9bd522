// The demo's serial class on a pseudo-terminal: line settings, the messages
// of received bytes, queued writes, stopping and hang-ups.
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "demo/serialport.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"

namespace {

using Message = std::pair<uint32_t, uint32_t>;  // message, wParam

// Keeps what the port reports (messages for port 3); when told, holds the
// watcher inside a delivery until the port is stopped.
class RecordingOwner : public SerialPortOwner {
 public:
  void portMessage(uint32_t message, uint32_t wparam, int port, std::stop_token stop) override {
    std::unique_lock<std::mutex> lock(mu);
    messages.push_back({message, wparam});
    EXPECT_EQ(port, 3);
    entered = block;
    if (block) std::condition_variable_any().wait(lock, stop, [] { return false; });
  }
  void portFailure(const std::string& text, std::stop_token) override {
    std::lock_guard<std::mutex> hold(mu);
    failures.push_back(text);
  }
  template <typename T>
  T get(const T& field) {
    std::lock_guard<std::mutex> hold(mu);
    return field;
  }

  std::mutex mu;
  std::vector<Message> messages;
  std::vector<std::string> failures;
  std::atomic<bool> block{false};
  bool entered = false;
};

class DemoSerialPort : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty.ok()); }
  bool open(uint32_t mask = EV_RXCHAR, size_t buffer = 64, int number = 3) {
    return port.OpenPort(&owner, number, 115200, 'N', 8, 1, mask, buffer);
  }
  bool start(uint32_t mask = EV_RXCHAR, size_t buffer = 64) {
    return open(mask, buffer) && port.StartWatch();
  }
  size_t received() { return owner.get(owner.messages).size(); }

  PtyPair pty;
  RecordingOwner owner;  // outlives the watcher
  serialport port{[this](int) { return pty.slavePath(); }};
};

// Baud, parity, data and stop bits; the c_cflag bits that must be set and
// clear; whether input parity is checked. A pseudo-terminal forces CS8 and
// clears PARENB, so data bits and parity are checked in the kept settings.
TEST_F(DemoSerialPort, LineSettings) {
  const std::tuple<uint32_t, char, int, int, tcflag_t, tcflag_t, bool> rows[] = {
      {115200, 'N', 8, 1, 0, CSTOPB | PARODD | CMSPAR, false},
      {9600, 'E', 7, 2, CSTOPB, PARODD | CMSPAR, true},
      {250000, 'm', 8, 1, PARODD | CMSPAR, CSTOPB, true},  // a rate without a B constant
  };
  for (const auto& [baud, parity, data, stop, set, clear, parity_check] : rows) {
    SCOPED_TRACE(parity);
    ASSERT_TRUE(port.OpenPort(&owner, 1, baud, parity, data, stop, EV_RXCHAR, 16));
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slave(), &tio), 0);
    EXPECT_EQ(tio.c_cflag & (set | clear), set);
    EXPECT_EQ((tio.c_iflag & INPCK) != 0, parity_check);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    uint32_t in = 0, out = 0;
    ASSERT_TRUE(pty.speeds(&in, &out));
    EXPECT_EQ(out, baud);
    const serialport::LineSettings kept = port.lineSettings();
    EXPECT_EQ(std::tie(kept.data_bits, kept.parity, kept.stop_bits), std::tie(data, parity, stop));
  }
  EXPECT_TRUE(owner.failures.empty());
}

TEST_F(DemoSerialPort, RefusedOpens) {
  const int fds = open_fd_count();
  // Port 0 and 25, no owner, no write buffer: false, unreported.
  EXPECT_FALSE(open(EV_RXCHAR, 16, 0));
  EXPECT_FALSE(open(EV_RXCHAR, 16, 25));
  EXPECT_FALSE(port.OpenPort(nullptr, 1, 9600, 'N', 8, 1, EV_RXCHAR, 16));
  EXPECT_FALSE(open(EV_RXCHAR, 0));
  EXPECT_TRUE(owner.failures.empty());
  // Bad settings: each reported once, the line closed again.
  for (auto [baud, parity, data, stop] :
       {std::tuple{9600u, 'X', 8, 1}, {9600u, 'N', 9, 1}, {9600u, 'N', 8, 3}, {0u, 'N', 8, 1}}) {
    EXPECT_FALSE(port.OpenPort(&owner, 1, baud, parity, data, stop, EV_RXCHAR, 16));
  }
  ASSERT_EQ(owner.failures.size(), 4u);
  EXPECT_EQ(owner.failures[0], "WARNING:  BuildCommDCB() Failed with the following error: \n"
                               "Invalid argument\nPort: 1\n");
  EXPECT_EQ(open_fd_count(), fds);
  EXPECT_FALSE(port.StartWatch());
  // A device that is missing, or held by another port: false, unreported.
  serialport missing([](int) { return std::string("/nonexistent/tty"); });
  EXPECT_FALSE(missing.OpenPort(&owner, 1, 9600, 'N', 8, 1, EV_RXCHAR, 16));
  ASSERT_TRUE(open());
  serialport second([&](int) { return pty.slavePath(); });
  EXPECT_FALSE(second.OpenPort(&owner, 1, 9600, 'N', 8, 1, EV_RXCHAR, 16));
  EXPECT_EQ(owner.failures.size(), 4u);
}

TEST_F(DemoSerialPort, BytesInOrderThenDrained) {
  ASSERT_TRUE(start(EV_RXCHAR | EV_RXFLAG));
  ASSERT_TRUE(pty.writeAll({'A', 'B', 0xFF}));
  ASSERT_TRUE(wait_until([&] { return received() >= 4; }));
  // The event character (0) is announced before the bytes that hold it.
  ASSERT_TRUE(pty.writeAll({'x', 0x00}));
  const Message drained = {kCommDrained, kInputDrained};
  const std::vector<Message> want = {{kCommRxChar, 'A'}, {kCommRxChar, 'B'}, {kCommRxChar, 0xFF},
                                     drained,           {kCommRxFlag, 0},   {kCommRxChar, 'x'},
                                     {kCommRxChar, 0},  drained};
  ASSERT_TRUE(wait_until([&] { return received() >= want.size(); }));
  EXPECT_EQ(owner.get(owner.messages), want);
}

TEST_F(DemoSerialPort, QueuedWrites) {
  const uint8_t eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(port.QueueWrite(eight, 1));  // closed
  ASSERT_TRUE(open(EV_RXCHAR, 8));
  EXPECT_FALSE(port.QueueWrite(nullptr, 1));
  EXPECT_TRUE(port.QueueWrite(eight, 5));
  EXPECT_FALSE(port.QueueWrite(eight, 4));  // 1 byte over
  EXPECT_TRUE(port.QueueWrite(eight + 5, 3));
  ASSERT_TRUE(port.StartWatch());
  EXPECT_EQ(pty.readExact(8, 5000), std::vector<uint8_t>(eight, eight + 8));
  // More than the line's queue holds goes out whole while the far end reads.
  std::vector<uint8_t> big(64 * 1024);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
  ASSERT_TRUE(start(EV_RXCHAR, big.size()));
  ASSERT_TRUE(port.QueueWrite(big.data(), big.size()));
  EXPECT_EQ(pty.readExact(big.size(), 10000), big);
  EXPECT_TRUE(owner.get(owner.failures).empty());
}

TEST_F(DemoSerialPort, StopWhileTheOwnerBlocks) {
  ASSERT_TRUE(start());
  const int threads = thread_count();
  owner.block = true;
  ASSERT_TRUE(pty.writeAll({'a', 'b', 'c'}));
  ASSERT_TRUE(wait_until([&] { return owner.get(owner.entered); }));
  const auto begun = std::chrono::steady_clock::now();
  port.StopWatch();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(2));
  EXPECT_EQ(received(), 1u);               // no byte after the stop
  EXPECT_EQ(thread_count(), threads - 1);  // the watcher was joined
  EXPECT_FALSE(port.QueueWrite(reinterpret_cast<const uint8_t*>("x"), 1));  // closed
}

TEST_F(DemoSerialPort, HangUpIsReportedOnce) {
  ASSERT_TRUE(start());
  const double cpu_before = process_cpu_ms();
  pty.closeMaster();
  ASSERT_TRUE(wait_until([&] { return !owner.get(owner.failures).empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::vector<std::string> failures = owner.get(owner.failures);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].rfind("WARNING:  ReadFile() Failed", 0), 0u) << failures[0];
  EXPECT_LT(process_cpu_ms() - cpu_before, 200.0);  // the watcher ended, no spin
  // The ended watcher is not running: nothing is queued for it, and only a
  // fresh open lets it start again.
  const uint8_t byte = 'x';
  EXPECT_FALSE(port.QueueWrite(&byte, 1));
  EXPECT_FALSE(port.StartWatch());
  EXPECT_FALSE(port.StartWatch());
  EXPECT_FALSE(port.QueueWrite(&byte, 1));
}

TEST_F(DemoSerialPort, ParmrkDecoder) {
  using Kind = ParmrkDecoder::Kind;
  const std::pair<std::vector<uint8_t>, std::vector<std::pair<Kind, uint8_t>>> rows[] = {
      {{0x41, 0x00}, {{Kind::kByte, 0x41}, {Kind::kByte, 0x00}}},
      {{0xFF, 0xFF, 0x42}, {{Kind::kByte, 0xFF}, {Kind::kByte, 0x42}}},  // a doubled 0xFF
      {{0xFF, 0x00, 0x00, 0x43}, {{Kind::kBreak, 0}, {Kind::kByte, 0x43}}},
      {{0xFF, 0x00, 0x7A}, {{Kind::kLineError, 0x7A}}},
  };
  for (const auto& [in, want] : rows) {
    ParmrkDecoder decoder;
    std::vector<std::pair<Kind, uint8_t>> out;
    for (uint8_t b : in) {
      const ParmrkDecoder::Event e = decoder.feed(b);
      if (e.kind != Kind::kNone) out.push_back({e.kind, e.byte});
    }
    EXPECT_EQ(out, want);
  }
}

}  // namespace
