// Opening readers through an application-supplied transport: the names the
// transports are opened with, the bound on repeated rows, readers that can
// be held only once, and transports that all go back to the application.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "connection/port_provider.h"
#include "device_manager_fixture_test.h"
#include "family_m6/m6_device.h"
#include "sim/m6_reader.h"

namespace {

// One reader at the far end of a socketpair, reachable through at most one
// open transport at a time (as a real device that is held open is).
struct SharedReader {
  int host_fd = -1;
  ExternalTransport* holder = nullptr;
};

enum class Mode { kReader, kSilent, kNeverOpens, kLeavesNull };

struct Recorder {
  std::mutex mutex;
  Mode mode = Mode::kReader;
  SharedReader* reader = nullptr;
  int creates = 0;
  int handed = 0;  // creates that made a transport
  int destroys = 0;
  int opens = 0;
  std::vector<std::string> types;
  std::vector<std::string> names;
  std::vector<void*> parameters;
};
Recorder recorder;

struct TestTransport {
  ExternalTransport base;  // first: the library sees only this
  bool open = false;
};

TestTransport* self_of(ExternalTransport* t) { return reinterpret_cast<TestTransport*>(t); }

int holder_fd(ExternalTransport* t) {
  std::lock_guard<std::mutex> lock(recorder.mutex);
  SharedReader* reader = recorder.reader;
  return reader && reader->holder == t ? reader->host_fd : -1;
}

int32_t t_open(ExternalTransport* t, const char* name, void* parameter) {
  std::lock_guard<std::mutex> lock(recorder.mutex);
  ++recorder.opens;
  recorder.names.push_back(name ? name : "(null)");
  recorder.parameters.push_back(parameter);
  switch (recorder.mode) {
    case Mode::kSilent:
      return self_of(t)->open = true;
    case Mode::kReader: {
      SharedReader* reader = recorder.reader;
      if (reader == nullptr || (reader->holder && reader->holder != t)) return 0;
      reader->holder = t;
      return self_of(t)->open = true;
    }
    default:
      return 0;
  }
}

void release_hold(ExternalTransport* t) {
  SharedReader* reader = recorder.reader;
  if (reader && reader->holder == t) reader->holder = nullptr;
  self_of(t)->open = false;
}

int32_t t_close(ExternalTransport* t) {
  std::lock_guard<std::mutex> lock(recorder.mutex);
  release_hold(t);
  return 0;
}

// Waits for the descriptor within the budget; false on time-out, error or
// hang-up of the peer.
bool wait_for(int fd, short events, int64_t deadline_ms, const Stopwatch& watch) {
  for (;;) {
    int64_t left = deadline_ms - watch.ms();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, int(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (p.revents & (POLLERR | POLLNVAL)) return false;
    if (p.revents & events) return true;
    if (p.revents & POLLHUP) return false;
  }
}

bool t_read(ExternalTransport* t, uint8_t* buf, int32_t length, int32_t ms) {
  int fd = holder_fd(t);
  if (fd < 0) return false;
  Stopwatch watch;
  int32_t got = 0;
  while (got < length) {
    if (!wait_for(fd, POLLIN, ms, watch)) return false;
    ssize_t n = recv(fd, buf + got, size_t(length - got), MSG_DONTWAIT);
    if (n == 0) return false;  // the reader hung up
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    got += int32_t(n);
  }
  return true;
}

bool t_write(ExternalTransport* t, const uint8_t* buf, int32_t length, int32_t ms) {
  int fd = holder_fd(t);
  if (fd < 0) return false;
  Stopwatch watch;
  int32_t sent = 0;
  while (sent < length) {
    if (!wait_for(fd, POLLOUT, ms, watch)) return false;
    ssize_t n = send(fd, buf + sent, size_t(length - sent), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    sent += int32_t(n);
  }
  return true;
}

void t_purge(ExternalTransport* t) {
  int fd = holder_fd(t);
  uint8_t scratch[256];
  while (fd >= 0 && recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
  }
}

int32_t t_available(ExternalTransport*) { return 0; }

const ExternalTransportOps kOps = {nullptr, t_open,  t_close,    t_read,
                                   t_write, t_purge, t_available};

int32_t create_hook(const char* type, ExternalTransport** out) {
  std::lock_guard<std::mutex> lock(recorder.mutex);
  ++recorder.creates;
  recorder.types.push_back(type);
  if (recorder.mode == Mode::kLeavesNull) return 0;
  *out = &(new TestTransport{{&kOps}, false})->base;
  ++recorder.handed;
  return 1;
}

int32_t destroy_hook(ExternalTransport* t) {
  std::lock_guard<std::mutex> lock(recorder.mutex);
  ++recorder.destroys;
  release_hold(t);
  delete self_of(t);
  return 0;
}

void* const kParameter = reinterpret_cast<void*>(uintptr_t(0x1234567890ULL));

class DeviceManagerProvider : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> lock(recorder.mutex);
    recorder.mode = Mode::kReader;
    recorder.reader = nullptr;
    recorder.creates = recorder.handed = recorder.destroys = recorder.opens = 0;
    recorder.types.clear();
    recorder.names.clear();
    recorder.parameters.clear();
    PortProvider provider{create_hook, destroy_hook, kParameter};
    set_port_provider(&provider);
  }
  void TearDown() override {
    manager.reset();
    set_port_provider(nullptr);
    EXPECT_EQ(recorder.handed, recorder.destroys) << "every transport went back";
  }
  void setMode(Mode mode) {
    std::lock_guard<std::mutex> lock(recorder.mutex);
    recorder.mode = mode;
  }
  std::vector<std::string> names() {
    std::lock_guard<std::mutex> lock(recorder.mutex);
    return recorder.names;
  }

  std::unique_ptr<DeviceManager> manager = std::make_unique<DeviceManager>(reader_device_makers());
  PortNames port_names;
};

// A reader on a socketpair, held through the recorder.
struct SocketReader {
  SocketReader() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
      shared.host_fd = fds[0];
      device_fd = fds[1];
    }
    std::lock_guard<std::mutex> lock(recorder.mutex);
    recorder.reader = &shared;
  }
  ~SocketReader() {
    std::lock_guard<std::mutex> lock(recorder.mutex);
    recorder.reader = nullptr;
    if (shared.host_fd >= 0) ::close(shared.host_fd);
  }
  SharedReader shared;
  int device_fd = -1;  // handed to a simulator, which closes it
};

TEST_F(DeviceManagerProvider, HeldOnceReaderIsFoundByItsOwnNetworkRow) {
  SocketReader line;
  R42ReaderModel model;
  R42SerialSim sim(line.device_fd, R42SerialSim::Framing::kStxEtx);
  sim.setHandler(model.handler());
  sim.start();

  Stopwatch watch;
  ASSERT_EQ(manager->openByPort(400, 0), 400);
  EXPECT_LT(watch.ms(), 4 * 200 + 5000 + 3000);
  EXPECT_EQ(device_name(manager->deviceAt(400)), "r42-vnet");
  // Each m6 row: one transport held by a refused probe, one that could not
  // open; then the r42 row's transport, which stays with the entry.
  EXPECT_EQ(recorder.creates, 5);
  EXPECT_EQ(recorder.destroys, 4);
  for (const std::string& name : names()) EXPECT_EQ(name, "127.0.0.1:7001");
  for (void* parameter : recorder.parameters) EXPECT_EQ(parameter, kParameter);
  EXPECT_EQ(device_version(manager->deviceAt(400)), "R42 SIM 1.0");
  manager->close(400);
  EXPECT_EQ(recorder.destroys, 5);
}

TEST_F(DeviceManagerProvider, M6ReaderOnTheNetworkRowAnswersFirst) {
  SocketReader line;
  M6Reader reader(line.device_fd, M6Reader::Framing::kDle);
  reader.setSerial("SP0-NETWORK-READER-0000000000000");
  port_names.set(*manager, 499, "reader.example:7001");
  ASSERT_EQ(manager->openByPort(499, 0), 499);
  auto* device = dynamic_cast<M6Device*>(manager->deviceAt(499));
  ASSERT_NE(device, nullptr);
  EXPECT_STREQ(device->name(), "m6-s-vnet");
  EXPECT_TRUE(device->sp0()) << "init read the serial";
  EXPECT_EQ(names(), std::vector<std::string>{"reader.example:7001"});
}

TEST_F(DeviceManagerProvider, TransportsThatNeverAnswerEndEachRowAfterSixteenAttempts) {
  setMode(Mode::kSilent);
  Stopwatch watch;
  EXPECT_EQ(manager->openByPort(400, 0), -1);
  EXPECT_EQ(recorder.creates, 3 * 16);
  EXPECT_EQ(recorder.destroys, 3 * 16);
  EXPECT_EQ(manager->openByPort(100, 0), -1);
  EXPECT_EQ(recorder.creates, 3 * 16 + 13 * 16);
  EXPECT_EQ(manager->openByPort(300, 0), -1);
  EXPECT_EQ(recorder.creates, 3 * 16 + 13 * 16 + 2 * 16);
  EXPECT_EQ(recorder.destroys, recorder.creates);
  EXPECT_LT(watch.ms(), 10000) << "reads fail at once, so the bound, not time-outs, ends it";
}

TEST_F(DeviceManagerProvider, TransportNamesPerPortType) {
  setMode(Mode::kNeverOpens);
  EXPECT_EQ(manager->openByPort(2, 9600), -1);
  EXPECT_EQ(names(), (std::vector<std::string>{"COM3:9600", "COM3:9600"}));
  EXPECT_EQ(recorder.types, (std::vector<std::string>{"com", "com"}));

  SetUp();
  setMode(Mode::kNeverOpens);
  port_names.set(*manager, 2, "/dev/ttyUSB9");
  EXPECT_EQ(manager->openByPort(2, 115200), -1);
  EXPECT_EQ(names(), (std::vector<std::string>{"/dev/ttyUSB9:115200", "/dev/ttyUSB9:115200"}));

  SetUp();
  setMode(Mode::kNeverOpens);
  EXPECT_EQ(manager->openByPort(150, 0), -1);
  ASSERT_EQ(names().size(), 13u) << "a port that does not open ends its row";
  EXPECT_EQ(names()[0], "0471:A112:control:control:32:32");
  EXPECT_EQ(names()[12], "257B:A003:bulk:bulk:64:64");
  EXPECT_EQ(recorder.types[0], "usb");

  SetUp();
  setMode(Mode::kNeverOpens);
  EXPECT_EQ(manager->openByPort(200, 0), -1);
  ASSERT_EQ(names().size(), 2u * 32 * 3) << "each suffix asks the provider again";
  EXPECT_EQ(names()[0], "user:USB Smart Card Reader 0");
  EXPECT_EQ(names()[1], "user:USB Smart Card Reader 00");
  EXPECT_EQ(names()[2], "user:USB Smart Card Reader 00 00");
  EXPECT_EQ(names()[3 * 31 + 2], "user:USB Smart Card Reader 31 31");
  EXPECT_EQ(names()[3 * 32], "user:KX.Ltd Smart Card Reader 0");
  EXPECT_EQ(recorder.types[0], "pcsc");

  SetUp();
  setMode(Mode::kNeverOpens);
  EXPECT_EQ(manager->openByPort(300, 0), -1);
  EXPECT_EQ(names(), (std::vector<std::string>{"VANTOR.DB.SPP", "HN01-12345999"}));
  port_names.set(*manager, 350, "MY.READER");
  EXPECT_EQ(manager->openByPort(350, 0), -1);
  EXPECT_EQ(names().size(), 4u);
  EXPECT_EQ(names()[2], "MY.READER");
  EXPECT_EQ(names()[3], "MY.READER");
}

TEST_F(DeviceManagerProvider, WithoutBothHooksOrATransportTheBuiltInPortsAreUsed) {
  PortProvider create_only{create_hook, nullptr, kParameter};
  set_port_provider(&create_only);
  EXPECT_EQ(manager->openByPort(400, 0), -1) << "no built-in network port";
  R42OnPty reader;
  port_names.set(*manager, 1, reader.path());
  EXPECT_EQ(manager->openByName(1, 9600, "r42-s9600"), 1);
  EXPECT_EQ(recorder.creates, 0);

  PortProvider both{create_hook, destroy_hook, kParameter};
  set_port_provider(&both);
  setMode(Mode::kLeavesNull);
  EXPECT_EQ(manager->openByPort(400, 0), -1);
  EXPECT_EQ(recorder.creates, 3) << "each network row asks once and ends";
  EXPECT_EQ(manager->openByName(1, 9600, "r42-s9600"), 1) << "a null transport: own port";
  EXPECT_EQ(recorder.handed, 0);
}

TEST_F(DeviceManagerProvider, PeerClosingMidExchangeFailsFast) {
  SocketReader line;
  R42ReaderModel model;
  R42SerialSim sim(line.device_fd, R42SerialSim::Framing::kStxEtx);
  sim.setHandler(model.handler());
  sim.start();
  ASSERT_EQ(manager->openByName(420, 0, "r42-vnet"), 420);
  R42SerialSim::FaultPlan fault;
  fault.kind = R42SerialSim::Fault::kHangUp;
  sim.injectFault(fault);
  Stopwatch watch;
  EXPECT_EQ(manager->deviceAt(420)->beep(500, 10), -1);
  EXPECT_LT(watch.ms(), 2500) << "at once, well within the 5100 ms budget";
  manager->close(420);
  EXPECT_EQ(recorder.destroys, recorder.handed);
}

}  // namespace
