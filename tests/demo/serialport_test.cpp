// The demo's serial class on a pseudo-terminal: line settings, the messages
// of received bytes, queued writes, stopping and hang-ups.
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <tuple>
#include <thread>
#include <utility>
#include <vector>

#include "demo/serialport.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"

namespace {

using Message = std::pair<uint32_t, uint32_t>;  // message, wParam

// Keeps what the port reports; can hold the watcher inside a delivery until
// the port is stopped.
class RecordingOwner : public SerialPortOwner {
 public:
  void portMessage(uint32_t message, uint32_t wparam, int port, std::stop_token stop) override {
    std::unique_lock<std::mutex> lock(mu_);
    messages_.push_back({message, wparam});
    EXPECT_EQ(port, 3);
    if (block_) {
      entered_ = true;
      std::condition_variable_any().wait(lock, stop, [] { return false; });
    }
  }
  void portFailure(const std::string& text, std::stop_token) override {
    std::lock_guard<std::mutex> hold(mu_);
    failures_.push_back(text);
  }
  std::vector<Message> messages() {
    std::lock_guard<std::mutex> hold(mu_);
    return messages_;
  }
  std::vector<std::string> failures() {
    std::lock_guard<std::mutex> hold(mu_);
    return failures_;
  }
  void blockDeliveries() { block_ = true; }
  bool entered() {
    std::lock_guard<std::mutex> hold(mu_);
    return entered_;
  }

 private:
  std::mutex mu_;
  std::vector<Message> messages_;
  std::vector<std::string> failures_;
  std::atomic<bool> block_{false};
  bool entered_ = false;
};

struct Line {
  PtyPair pty;
  serialport port{[this](int) { return pty.slavePath(); }};
  RecordingOwner owner;

  bool open(uint32_t mask = EV_RXCHAR, size_t buffer = 64) {
    return port.OpenPort(&owner, 3, 115200, 'N', 8, 1, mask, buffer);
  }
};

std::vector<Message> bytes_then_drained(const std::string& text) {
  std::vector<Message> out;
  for (unsigned char c : text) out.push_back({kCommRxChar, c});
  out.push_back({kCommDrained, kInputDrained});
  return out;
}

// A pseudo-terminal keeps 8 data bits and no parity whatever it is told
// (the kernel forces CS8 and clears PARENB), so those two are checked in the
// settings the port keeps; the bits it passes on are checked on the line.
TEST(DemoSerialPort, LineSettings) {
  struct Row {
    const char* name;
    uint32_t baud;
    char parity;
    int data, stop;
    tcflag_t set, clear;  // of the bits a pseudo-terminal keeps
    bool parity_check;
  } rows[] = {
      {"8N1", 115200, 'N', 8, 1, 0, CSTOPB | PARODD | CMSPAR, false},
      {"7E2", 9600, 'E', 7, 2, CSTOPB, PARODD | CMSPAR, true},
      {"8M1_odd_rate", 250000, 'm', 8, 1, PARODD | CMSPAR, CSTOPB, true},
  };
  for (const Row& row : rows) {
    Line line;
    ASSERT_TRUE(line.pty.ok());
    ASSERT_TRUE(line.port.OpenPort(&line.owner, 1, row.baud, row.parity, row.data, row.stop,
                                   EV_RXCHAR, 16))
        << row.name;
    termios tio{};
    ASSERT_EQ(tcgetattr(line.pty.slave(), &tio), 0);
    EXPECT_EQ(tio.c_cflag & (row.set | row.clear), row.set) << row.name;
    EXPECT_EQ((tio.c_iflag & INPCK) != 0, row.parity_check) << row.name;
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u) << row.name;
    uint32_t in = 0, out = 0;
    ASSERT_TRUE(line.pty.speeds(&in, &out));
    EXPECT_EQ(out, row.baud) << row.name;
    const serialport::LineSettings kept = line.port.lineSettings();
    EXPECT_EQ(kept.data_bits, row.data) << row.name;
    EXPECT_EQ(kept.parity, row.parity) << row.name;
    EXPECT_EQ(kept.stop_bits, row.stop) << row.name;
    EXPECT_TRUE(line.owner.failures().empty()) << row.name;
  }
}

TEST(DemoSerialPort, RefusedOpens) {
  Line line;
  ASSERT_TRUE(line.pty.ok());
  const int fds = open_fd_count();
  EXPECT_FALSE(line.port.OpenPort(&line.owner, 0, 9600, 'N', 8, 1, EV_RXCHAR, 16));
  EXPECT_FALSE(line.port.OpenPort(&line.owner, 25, 9600, 'N', 8, 1, EV_RXCHAR, 16));
  EXPECT_FALSE(line.port.OpenPort(nullptr, 1, 9600, 'N', 8, 1, EV_RXCHAR, 16));
  EXPECT_FALSE(line.port.OpenPort(&line.owner, 1, 9600, 'N', 8, 1, EV_RXCHAR, 0));
  EXPECT_TRUE(line.owner.failures().empty());

  // Bad settings: reported once, the line closed again.
  for (auto [parity, data, stop] : {std::tuple{'X', 8, 1}, {'N', 9, 1}, {'N', 8, 3}}) {
    EXPECT_FALSE(line.port.OpenPort(&line.owner, 1, 9600, parity, data, stop, EV_RXCHAR, 16));
  }
  EXPECT_FALSE(line.port.OpenPort(&line.owner, 1, 0, 'N', 8, 1, EV_RXCHAR, 16));
  const std::vector<std::string> failures = line.owner.failures();
  ASSERT_EQ(failures.size(), 4u);
  EXPECT_EQ(failures[0], "WARNING:  BuildCommDCB() Failed with the following error: \n"
                         "Invalid argument\nPort: 1\n");
  EXPECT_EQ(open_fd_count(), fds);
  EXPECT_FALSE(line.port.StartWatch());

  // A device that is missing, or held by another port: false, unreported.
  serialport missing([](int) { return std::string("/nonexistent/tty"); });
  EXPECT_FALSE(missing.OpenPort(&line.owner, 1, 9600, 'N', 8, 1, EV_RXCHAR, 16));
  ASSERT_TRUE(line.open());
  serialport second([&](int) { return line.pty.slavePath(); });
  EXPECT_FALSE(second.OpenPort(&line.owner, 1, 9600, 'N', 8, 1, EV_RXCHAR, 16));
  EXPECT_EQ(line.owner.failures().size(), 4u);
}

TEST(DemoSerialPort, BytesInOrderThenDrained) {
  Line line;
  ASSERT_TRUE(line.pty.ok());
  ASSERT_TRUE(line.open(EV_RXCHAR | EV_RXFLAG));
  ASSERT_TRUE(line.port.StartWatch());
  ASSERT_TRUE(line.pty.writeAll({'A', 'B', 0xFF, 'C'}));
  std::vector<Message> want = bytes_then_drained("AB\xFF" "C");
  ASSERT_TRUE(wait_until([&] { return line.owner.messages().size() >= want.size(); }));
  // The event character (0) is announced before the bytes that hold it.
  ASSERT_TRUE(line.pty.writeAll({'x', 0x00}));
  want.push_back({kCommRxFlag, 0});
  for (const Message& m : bytes_then_drained(std::string("x\0", 2))) want.push_back(m);
  ASSERT_TRUE(wait_until([&] { return line.owner.messages().size() >= want.size(); }));
  EXPECT_EQ(line.owner.messages(), want);
}

TEST(DemoSerialPort, QueuedWrites) {
  Line line;
  ASSERT_TRUE(line.pty.ok());
  const uint8_t one = 'z';
  EXPECT_FALSE(line.port.QueueWrite(&one, 1));  // closed
  ASSERT_TRUE(line.open(EV_RXCHAR, 8));
  EXPECT_FALSE(line.port.QueueWrite(nullptr, 1));
  const std::vector<uint8_t> eight = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_TRUE(line.port.QueueWrite(eight.data(), 5));
  EXPECT_FALSE(line.port.QueueWrite(eight.data(), 4));  // 1 byte over
  EXPECT_TRUE(line.port.QueueWrite(eight.data() + 5, 3));
  ASSERT_TRUE(line.port.StartWatch());
  EXPECT_EQ(line.pty.readExact(8, 5000), eight);

  // More than the line's queue holds goes out whole while the far end reads.
  std::vector<uint8_t> big(64 * 1024);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
  ASSERT_TRUE(line.open(EV_RXCHAR, big.size()));
  ASSERT_TRUE(line.port.StartWatch());
  ASSERT_TRUE(line.port.QueueWrite(big.data(), big.size()));
  EXPECT_EQ(line.pty.readExact(big.size(), 10000), big);
  EXPECT_TRUE(line.owner.failures().empty());
}

TEST(DemoSerialPort, StopWhileTheOwnerBlocks) {
  Line line;
  ASSERT_TRUE(line.pty.ok());
  ASSERT_TRUE(line.open());
  ASSERT_TRUE(line.port.StartWatch());
  const int threads = thread_count();
  line.owner.blockDeliveries();
  ASSERT_TRUE(line.pty.writeAll({'a', 'b', 'c'}));
  ASSERT_TRUE(wait_until([&] { return line.owner.entered(); }));
  const auto start = std::chrono::steady_clock::now();
  line.port.StopWatch();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(line.owner.messages().size(), 1u);  // no byte after the stop
  EXPECT_EQ(thread_count(), threads - 1);  // the watcher was joined
  EXPECT_FALSE(line.port.QueueWrite(reinterpret_cast<const uint8_t*>("x"), 1));  // closed
}

TEST(DemoSerialPort, HangUpIsReportedOnce) {
  Line line;
  ASSERT_TRUE(line.pty.ok());
  ASSERT_TRUE(line.open());
  ASSERT_TRUE(line.port.StartWatch());
  const double cpu_before = process_cpu_ms();
  line.pty.closeMaster();
  ASSERT_TRUE(wait_until([&] { return !line.owner.failures().empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::vector<std::string> failures = line.owner.failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].rfind("WARNING:  ReadFile() Failed", 0), 0u) << failures[0];
  EXPECT_LT(process_cpu_ms() - cpu_before, 200.0);  // the watcher ended, no spin
  line.port.StopWatch();
}

TEST(DemoSerialPort, ParmrkDecoder) {
  using Kind = ParmrkDecoder::Kind;
  struct Row {
    const char* name;
    std::vector<uint8_t> in;
    std::vector<std::pair<Kind, uint8_t>> out;
  } rows[] = {
      {"plain", {0x41, 0x00}, {{Kind::kByte, 0x41}, {Kind::kByte, 0x00}}},
      {"doubled_ff", {0xFF, 0xFF, 0x42}, {{Kind::kByte, 0xFF}, {Kind::kByte, 0x42}}},
      {"break", {0xFF, 0x00, 0x00, 0x43}, {{Kind::kBreak, 0}, {Kind::kByte, 0x43}}},
      {"bad_byte", {0xFF, 0x00, 0x7A}, {{Kind::kLineError, 0x7A}}},
  };
  for (const Row& row : rows) {
    ParmrkDecoder decoder;
    std::vector<std::pair<Kind, uint8_t>> out;
    for (uint8_t b : row.in) {
      const ParmrkDecoder::Event e = decoder.feed(b);
      if (e.kind != Kind::kNone) out.push_back({e.kind, e.byte});
    }
    EXPECT_EQ(out, row.out) << row.name;
  }
}

}  // namespace
