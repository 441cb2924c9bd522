// BluetoothPort with the real D-Bus lookup against a fake org.bluez on a
// private bus, and socketpairs standing in for RFCOMM links.
#include "connection/bluetooth_port.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "connection/stx_etx_protocol.h"
#include "sim/fake_bluetooth.h"
#include "sim/r42_serial_sim.h"
#include "sim/process_probe.h"

namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

constexpr const char* kName = "VANTOR.DB.SPP";
constexpr const char* kFirst = "00:11:22:33:44:01";
constexpr const char* kSecond = "00:11:22:33:44:02";
constexpr const char* kOther = "00:11:22:33:44:03";

// Reads from a far end until `n` bytes came or `ms` passed; EOF ends early.
Bytes receive(int fd, size_t n, int ms) {
  Bytes got;
  const Deadline deadline(ms);
  while (got.size() < n) {
    const int left = deadline.msLeft();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) break;
    uint8_t buffer[65536];
    const ssize_t r = recv(fd, buffer, std::min(sizeof buffer, n - got.size()), 0);
    if (r <= 0) break;
    got.insert(got.end(), buffer, buffer + r);
  }
  return got;
}

// True when the far end sees the other side closed within `ms`.
bool sees_eof(int fd, int ms) {
  const Deadline deadline(ms);
  while (true) {
    const int left = deadline.msLeft();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) return false;
    uint8_t byte;
    const ssize_t r = recv(fd, &byte, 1, 0);
    if (r <= 0) return true;
  }
}

TEST(BluetoothPortLookup, ReadsNamedDevicesFromTheObjectList) {
  FakeBluez bluez;
  std::string error;
  ASSERT_TRUE(bluez.start(&error)) << error;
  bluez.setDevices({{kFirst, kName, true}, {kSecond, "", false}, {kOther, "HN0112345", true}});
  std::vector<BluetoothDevice> devices;
  ASSERT_TRUE(bluez_known_devices(bluez.address(), Deadline(2000), &devices));
  // The adapter and the device without a name are left out.
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].address, kFirst);
  EXPECT_EQ(devices[0].name, kName);
  EXPECT_EQ(devices[1].address, kOther);
  EXPECT_EQ(devices[1].name, "HN0112345");

  bluez.setDevices({});
  ASSERT_TRUE(bluez_known_devices(bluez.address(), Deadline(2000), &devices));
  EXPECT_TRUE(devices.empty());
}

TEST(BluetoothPortLookup, FailsWithoutTheServiceAndAtTheDeadline) {
  FakeBluez empty_bus;
  std::string error;
  ASSERT_TRUE(empty_bus.start(&error, false)) << error;
  std::vector<BluetoothDevice> devices = {{"x", "y"}};
  EXPECT_FALSE(bluez_known_devices(empty_bus.address(), Deadline(2000), &devices));
  EXPECT_TRUE(devices.empty());

  FakeBluez slow;
  ASSERT_TRUE(slow.start(&error)) << error;
  slow.setDevices({{kFirst, kName, true}});
  slow.setReplyDelay(3000);
  const Stopwatch start;
  EXPECT_FALSE(bluez_known_devices(slow.address(), Deadline(200), &devices));
  EXPECT_GE(start.ms(), 150);
  EXPECT_LT(start.ms(), 1500);
  EXPECT_FALSE(bluez_known_devices("unix:path=/nonexistent/bus", Deadline(200),
                                   &devices));
}

class BluetoothPortTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    bluez_ = new FakeBluez;
    error_ = new std::string;
    started_ = bluez_->start(error_);
  }
  static void TearDownTestSuite() {
    delete bluez_;
    delete error_;
    bluez_ = nullptr;
    error_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(started_) << *error_;
    bluez_->setDevices({});
    bluez_->setReplyDelay(0);
    backend_ = std::make_shared<FakeBluetoothBackend>(bluez_->address());
    backend_->setDeviceEnd([this](const std::string& address, int fd) {
      std::lock_guard<std::mutex> lock(mu_);
      far_ends_.emplace_back(address, fd);
      cv_.notify_all();
    });
  }
  void TearDown() override {
    backend_.reset();
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& [address, fd] : far_ends_) {
      if (fd >= 0) ::close(fd);
    }
    far_ends_.clear();
  }

  std::unique_ptr<BluetoothPort> open(bool* opened, int32_t budget_ms = 2000,
                                      const std::string& name = kName) {
    return std::make_unique<BluetoothPort>(ParamMap{{"name", name}}, opened, backend_, budget_ms);
  }

  // A port linked to the one known device; `far` gets the far end of its
  // link, or -1 when it did not open.
  std::unique_ptr<BluetoothPort> openLinked(int* far) {
    bluez_->setDevices({{kFirst, kName, true}});
    bool opened = false;
    auto port = open(&opened);
    *far = opened ? takeFarEnd(kFirst) : -1;
    return port;
  }

  // The far end of the latest connection to `address` (the test owns it
  // from then on), or -1.
  int takeFarEnd(const std::string& address) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = far_ends_.rbegin(); it != far_ends_.rend(); ++it) {
      if (it->first == address && it->second >= 0) {
        const int fd = it->second;
        it->second = -1;
        return fd;
      }
    }
    return -1;
  }

  static FakeBluez* bluez_;
  static std::string* error_;
  static bool started_;
  std::shared_ptr<FakeBluetoothBackend> backend_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::pair<std::string, int>> far_ends_;
};

FakeBluez* BluetoothPortTest::bluez_ = nullptr;
std::string* BluetoothPortTest::error_ = nullptr;
bool BluetoothPortTest::started_ = false;

TEST_F(BluetoothPortTest, StxEtxExchangeWithALongReply) {
  bluez_->setDevices({{kFirst, "vantor.db.spp", true}, {kSecond, kName, true}});
  bool opened = false;
  auto port = open(&opened);
  ASSERT_TRUE(opened);
  EXPECT_TRUE(port->isOpen());
  // Names match exactly: the lower-case device got no socket.
  EXPECT_EQ(backend_->socketsMade(), 1u);

  Bytes reply(3000);
  for (size_t i = 0; i < reply.size(); ++i) reply[i] = uint8_t(i * 7);
  R42SerialSim sim(takeFarEnd(kSecond), R42SerialSim::Framing::kStxEtx);
  sim.setHandler([&](const Bytes&) { return reply; });
  sim.start();
  StxEtxProtocol protocol(port.get());
  std::vector<uint8_t> buffer(4096);
  buffer[0] = 0x01;
  buffer[1] = 0x02;
  ASSERT_EQ(protocol.transceive(buffer.data(), 2, int32_t(buffer.size()), 5000), 3000);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 3000), reply);
  EXPECT_EQ(sim.requests(), (std::vector<Bytes>{{0x01, 0x02}}));
  EXPECT_EQ(port->available(), 0);
}

TEST_F(BluetoothPortTest, NoDeviceOfTheNameFailsAsSoonAsTheLookupEnds) {
  bluez_->setDevices({{kFirst, "HN0112345", true}, {kSecond, "VANTOR.DB.SPP2", true}});
  const size_t lookups = bluez_->lookups();
  const Stopwatch start;
  bool opened = true;
  auto port = open(&opened, BluetoothPort::kBudgetMs);
  EXPECT_FALSE(opened);
  EXPECT_FALSE(port->isOpen());
  EXPECT_LT(start.ms(), 1000);
  EXPECT_EQ(bluez_->lookups(), lookups + 1);
  EXPECT_EQ(backend_->socketsMade(), 0u);
  EXPECT_EQ(backend_->connectsStarted(), 0u);
}

TEST_F(BluetoothPortTest, OpeningEndsWhenTheLastConnectorGivesUp) {
  bluez_->setDevices({{kFirst, kName, true}, {kSecond, kName, true}, {kOther, kName, true}});
  backend_->script(kFirst, {50, false, false, false});
  backend_->script(kSecond, {80, false, false, false});
  backend_->script(kOther, {0, true, false, true});  // no socket for this one
  const Stopwatch start;
  bool opened = true;
  auto port = open(&opened, BluetoothPort::kBudgetMs);
  EXPECT_FALSE(opened);
  EXPECT_LT(start.ms(), 1000);
  EXPECT_EQ(backend_->connectsStarted(), 2u);
  EXPECT_EQ(backend_->connectsInProgress(), 0u);
}

TEST_F(BluetoothPortTest, FirstOfTwoDevicesWinsAndTheLoserIsCancelledAndJoined) {
  bluez_->setDevices({{kFirst, kName, true}, {kSecond, kName, true}});
  backend_->script(kFirst, {10000, true, false, false});
  backend_->script(kSecond, {30, true, false, false});
  const Stopwatch start;
  bool opened = false;
  auto port = open(&opened, BluetoothPort::kBudgetMs);
  ASSERT_TRUE(opened);
  EXPECT_LT(start.ms(), 1000);
  // Before the constructor returned, the loser was called off and ended.
  EXPECT_EQ(backend_->connectsInProgress(), 0u);
  EXPECT_EQ(backend_->connectsCancelled(), 1u);
  EXPECT_EQ(backend_->connectsSucceeded(), 1u);

  const int far = takeFarEnd(kSecond);
  ASSERT_GE(far, 0);
  const Bytes hello = {'h', 'i'};
  ASSERT_TRUE(port->write(hello.data(), 2, 1000));
  EXPECT_EQ(receive(far, 2, 1000), hello);
  ::close(far);
}

TEST_F(BluetoothPortTest, BudgetRunsOutWhileConnecting) {
  bluez_->setDevices({{kFirst, kName, true}});
  backend_->script(kFirst, {10000, true, false, false});
  const Stopwatch start;
  bool opened = true;
  auto port = open(&opened, 200);
  EXPECT_FALSE(opened);
  EXPECT_GE(start.ms(), 150);
  EXPECT_LT(start.ms(), 1500);
  EXPECT_EQ(backend_->connectsInProgress(), 0u);
}

TEST_F(BluetoothPortTest, AWinAtTheBudgetEdgeIsKeptWholeOrClosed) {
  bluez_->setDevices({{kFirst, kName, true}});
  const int fds = settled_fd_count();
  int kept = 0, refused = 0;
  for (int round = 0; round < 30; ++round) {
    // Connects that complete before, around and after the moment the
    // budget ends, and cannot be called off.
    backend_->script(kFirst, {20 + 2 * round, true, true, false});
    bool opened = false;
    auto port = open(&opened, 50);
    EXPECT_EQ(port->isOpen(), opened);
    const int far = takeFarEnd(kFirst);
    if (opened) {
      ++kept;
      ASSERT_GE(far, 0);
      const Bytes ping = {0x50};
      ASSERT_TRUE(port->write(ping.data(), 1, 1000));
      EXPECT_EQ(receive(far, 1, 1000), ping);
    } else {
      ++refused;
      // A connection made too late is closed by its own connector.
      if (far >= 0) {
        EXPECT_TRUE(sees_eof(far, 1000)) << "round " << round;
      }
    }
    port.reset();
    if (far >= 0) ::close(far);
  }
  EXPECT_GT(kept, 0);
  EXPECT_GT(refused, 0);
  EXPECT_EQ(fd_count_settling_to(fds), fds);
}

TEST_F(BluetoothPortTest, WritesCompleteThroughThePumpAndATimedOutWriteIsDropped) {
  int far = -1;
  auto port = openLinked(&far);
  ASSERT_GE(far, 0);

  // A completed write has left the queue: the bytes are in the socket.
  const Bytes ten = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  ASSERT_TRUE(port->write(ten.data(), 10, 1000));
  uint8_t now[16];
  EXPECT_EQ(recv(far, now, sizeof now, MSG_DONTWAIT), 10);

  // Nobody reads the far end: a big write times out...
  const Bytes big(8 << 20, 0xAB);
  const Stopwatch start;
  EXPECT_FALSE(port->write(big.data(), int32_t(big.size()), 200));
  EXPECT_GE(start.ms(), 190);
  // ...and what had not gone out by then never does.
  const Bytes drained = receive(far, big.size(), 500);
  EXPECT_LT(drained.size(), big.size());
  EXPECT_TRUE(receive(far, 1, 200).empty());
  ASSERT_TRUE(port->write(ten.data(), 10, 1000));
  EXPECT_EQ(receive(far, 10, 1000), ten);
  ::close(far);
}

TEST_F(BluetoothPortTest, CloseDoesNotWaitForAPumpThatCannotSend) {
  int far = -1;
  auto port = openLinked(&far);
  ASSERT_GE(far, 0);
  // The far end reads nothing, so the pump is left waiting to send, with
  // more queued than the socket holds. The first bytes at the far end show
  // that the write has queued it all (it holds the queue while it does).
  std::thread writer([&] {
    const Bytes big(1 << 20, 0x5A);
    EXPECT_FALSE(port->write(big.data(), int32_t(big.size()), 1500));
  });
  pollfd readable{far, POLLIN, 0};
  EXPECT_EQ(poll(&readable, 1, 1500), 1);
  const Stopwatch start;
  port->close();
  // A pump left to give up would take its 5000 ms stall limit.
  EXPECT_LT(start.ms(), 2500);
  writer.join();
  EXPECT_TRUE(sees_eof(far, 2000));
  ::close(far);
}

TEST_F(BluetoothPortTest, ReadsWaitForTheirBytesUpToTheTimeOut) {
  int far = -1;
  auto port = openLinked(&far);
  ASSERT_GE(far, 0);
  uint8_t buffer[8] = {};
  ASSERT_EQ(send(far, "abc", 3, 0), 3);
  Stopwatch start;
  EXPECT_FALSE(port->read(buffer, 5, 150));
  EXPECT_GE(start.ms(), 140);
  EXPECT_EQ(port->available(), 3);
  // Bytes arriving during the wait complete it.
  std::thread late([far] {
    std::this_thread::sleep_for(milliseconds(50));
    (void)!send(far, "de", 2, 0);
  });
  start.restart();
  EXPECT_TRUE(port->read(buffer, 5, 2000));
  late.join();
  EXPECT_LT(start.ms(), 1000);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "abcde");
  ASSERT_EQ(send(far, "xy", 2, 0), 2);
  ASSERT_TRUE(port->read(buffer, 1, 1000));
  port->purge();
  EXPECT_EQ(port->available(), 0);
  ::close(far);
}

TEST_F(BluetoothPortTest, AfterThePeersEofThePortIdlesAndReadsTimeOut) {
  int far = -1;
  auto port = openLinked(&far);
  ASSERT_GE(far, 0);
  // A quiet open link costs nothing...
  double before = process_cpu_ms();
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_LT(process_cpu_ms() - before, 50.0);
  ASSERT_EQ(send(far, "z", 1, 0), 1);
  ::close(far);
  uint8_t byte;
  ASSERT_TRUE(port->read(&byte, 1, 1000));  // what came before EOF still counts
  // ...and neither does one the peer has closed.
  std::this_thread::sleep_for(milliseconds(50));
  before = process_cpu_ms();
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_LT(process_cpu_ms() - before, 50.0);
  const Stopwatch start;
  EXPECT_FALSE(port->read(&byte, 1, 200));
  EXPECT_GE(start.ms(), 190);
  // A dropped link still reports open.
  EXPECT_TRUE(port->isOpen());
  const Stopwatch close_start;
  port.reset();
  EXPECT_LT(close_start.ms(), 500);
}

TEST_F(BluetoothPortTest, CloseAndReopen) {
  int first = -1;
  auto port = openLinked(&first);
  ASSERT_GE(first, 0);
  port->close();
  EXPECT_FALSE(port->isOpen());
  EXPECT_TRUE(sees_eof(first, 1000));
  ::close(first);
  const Bytes data = {1, 2, 3};
  EXPECT_FALSE(port->write(data.data(), 3, 50));
  port->close();  // twice is harmless

  ASSERT_TRUE(port->reopen());
  EXPECT_TRUE(port->isOpen());
  const int second = takeFarEnd(kFirst);
  ASSERT_GE(second, 0);
  ASSERT_TRUE(port->write(data.data(), 3, 1000));
  EXPECT_EQ(receive(second, 3, 1000), data);  // nothing of the failed write
  ASSERT_EQ(send(second, "ok", 2, 0), 2);
  uint8_t reply[2];
  ASSERT_TRUE(port->read(reply, 2, 1000));
  EXPECT_EQ(reply[0], 'o');

  bluez_->setDevices({});
  EXPECT_FALSE(port->reopen());
  EXPECT_FALSE(port->isOpen());
  ::close(second);
}

TEST_F(BluetoothPortTest, ConnectorThreadsThatCannotStartAreSkipped) {
  bluez_->setDevices({{kFirst, kName, true}, {kSecond, kName, true}});
  std::vector<BluetoothDevice> devices;
  ASSERT_TRUE(backend_->knownDevices(Deadline(1000), &devices));
  const int fds = settled_fd_count();
  // New threads get a stack no system can map, so none can start.
  pthread_attr_t saved;
  ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
  size_t saved_size = 0;
  ASSERT_EQ(pthread_attr_getstacksize(&saved, &saved_size), 0);
  pthread_attr_t huge;
  pthread_attr_init(&huge);
  pthread_attr_setstacksize(&huge, size_t(1) << 46);
  ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
  bool opened = true;
  auto port = open(&opened, 1000);
  pthread_attr_t restore;
  pthread_attr_init(&restore);
  pthread_attr_setstacksize(&restore, saved_size);
  ASSERT_EQ(pthread_setattr_default_np(&restore), 0);
  pthread_attr_destroy(&restore);
  pthread_attr_destroy(&huge);
  pthread_attr_destroy(&saved);

  EXPECT_FALSE(opened);
  EXPECT_EQ(backend_->socketsMade(), 2u);
  EXPECT_EQ(backend_->connectsStarted(), 0u);
  port.reset();
  backend_.reset();  // closes the far ends it still holds
  EXPECT_EQ(fd_count_settling_to(fds), fds);
}

TEST_F(BluetoothPortTest, NoBluezServiceMeansNotOpened) {
  FakeBluez empty_bus;
  std::string error;
  ASSERT_TRUE(empty_bus.start(&error, false)) << error;
  auto backend = std::make_shared<FakeBluetoothBackend>(empty_bus.address());
  bool opened = true;
  BluetoothPort port(ParamMap{{"name", kName}}, &opened, backend, 2000);
  EXPECT_FALSE(opened);
  EXPECT_EQ(backend->socketsMade(), 0u);
}

}  // namespace
