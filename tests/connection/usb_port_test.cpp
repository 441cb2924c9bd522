#include "connection/usb_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "connection/hid_stx_protocol.h"
#include "connection/stx_etx_protocol.h"
#include "m6_port_helpers.h"
#include "sim/process_probe.h"
#include "sim/r42_serial_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Request = FakeHidEndpoint::Request;
using Kind = FakeHidEndpoint::Kind;
using Peer = FakeHidPeer;

ParamMap usb_params(const std::string& vid, const std::string& pid, const std::string& read,
                    const std::string& write, const std::string& read_len,
                    const std::string& write_len) {
  return {{"vid", vid},
          {"pid", pid},
          {"read_endpoint_name", read},
          {"write_endpoint_name", write},
          {"read_block_len", read_len},
          {"write_block_len", write_len}};
}

Bytes report_of(size_t block, std::initializer_list<uint8_t> data) {
  Bytes r(block + 1, 0);
  std::copy(data.begin(), data.end(), r.begin() + 1);
  return r;
}

// A feature-report device with the m6 identifiers, and a UsbPort on it.
struct FeatureDevice {
  explicit FeatureDevice(std::vector<Bytes> reports = {})
      : peer(backend.addDevice("/dev/hidraw0", 0x0471, 0xA112), std::move(reports)),
        port(m6_usb_params(), &opened, backend) {}
  FakeHidBackend backend;
  Peer peer;
  bool opened = false;
  UsbPort port;
};

TEST(UsbPort, OpensTheFirstFreeMatchingDeviceInEnumerationOrder) {
  FakeHidBackend backend;
  std::vector<int> ends;
  ends.push_back(backend.addDevice("/dev/hidraw0", 0x0471, 0x7002));
  ends.push_back(backend.addDevice("/dev/hidraw1", 0x0471, 0xA112));
  ends.push_back(backend.addDevice("/dev/hidraw2", 0x0471, 0xA112));
  ends.push_back(backend.addDevice("/dev/hidraw3", 0x0471, 0xA112));
  backend.setOpenable("/dev/hidraw1", false);  // held by another program
  {
    bool a = false, b = false, c = true;
    UsbPort first(m6_usb_params(), &a, backend);
    UsbPort second(m6_usb_params(), &b, backend);
    UsbPort third(m6_usb_params(), &c, backend);
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_FALSE(c);
    EXPECT_EQ(first.path(), "/dev/hidraw2");
    EXPECT_EQ(second.path(), "/dev/hidraw3");
    EXPECT_TRUE(hid_path_held("/dev/hidraw2"));
    EXPECT_EQ(backend.openHandles(), 2);

    // Letting one go makes it reachable again.
    first.close();
    EXPECT_FALSE(first.isOpen());
    EXPECT_FALSE(hid_path_held("/dev/hidraw2"));
    EXPECT_TRUE(third.reopen());
    EXPECT_EQ(third.path(), "/dev/hidraw2");

    // Identifiers are compared as upper-case text.
    bool lower = true;
    UsbPort l(usb_params("0471", "a112", "control", "control", "32", "32"), &lower, backend);
    EXPECT_FALSE(lower);
  }
  EXPECT_FALSE(hid_path_held("/dev/hidraw2"));
  EXPECT_FALSE(hid_path_held("/dev/hidraw3"));
  EXPECT_EQ(backend.openHandles(), 0);
  for (int fd : ends) close(fd);
}

TEST(UsbPort, ANodeLockedByAnotherProcessIsSkipped) {
  FakeHidBackend backend;
  const int ends[] = {backend.addDevice("/dev/hidraw0", 0x0471, 0xA112),
                      backend.addDevice("/dev/hidraw1", 0x0471, 0xA112)};
  int ready[2], done[2];
  ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(done, O_CLOEXEC), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Another program using this library: it takes the first reader and
    // keeps it until told to end.
    bool opened = false;
    UsbPort port(m6_usb_params(), &opened, backend);
    char said = opened && port.path() == "/dev/hidraw0" ? 'y' : 'n';
    if (write(ready[1], &said, 1) != 1 || read(done[0], &said, 1) < 0) _exit(1);
    _exit(0);
  }
  char said = 0;
  ASSERT_EQ(read(ready[0], &said, 1), 1);
  EXPECT_EQ(said, 'y');
  EXPECT_FALSE(hid_path_held("/dev/hidraw0"));  // nothing in this process knows

  const int opens = backend.opens();
  bool opened = false;
  UsbPort port(m6_usb_params(), &opened, backend);
  EXPECT_TRUE(opened);
  EXPECT_EQ(port.path(), "/dev/hidraw1");
  bool second = true;
  UsbPort none(m6_usb_params(), &second, backend);
  EXPECT_FALSE(second);
  EXPECT_EQ(backend.opens(), opens + 1);  // a locked node is never opened

  // The lock lives exactly as long as the port holds the device.
  EXPECT_EQ(backend.lockNode("/dev/hidraw1"), -1);
  port.close();
  const int lock = backend.lockNode("/dev/hidraw1");
  EXPECT_GE(lock, 0);
  close(lock);

  // When the other program ends, its reader is free.
  ASSERT_EQ(write(done[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(none.reopen());
  EXPECT_EQ(none.path(), "/dev/hidraw0");
  for (int fd : {ready[0], ready[1], done[0], done[1], ends[0], ends[1]}) close(fd);
}

TEST(UsbPort, BlockLengthsOutOfRangeNeverOpen) {
  FakeHidBackend backend;
  int end = backend.addDevice("/dev/hidraw0", 0x0471, 0xA112);
  for (const char* len : {"0", "", "abc", "4097", "99999999999999999999", "-32"}) {
    bool opened = true;
    UsbPort r(usb_params("0471", "A112", "control", "control", len, "32"), &opened, backend);
    EXPECT_FALSE(opened) << len;
    UsbPort w(usb_params("0471", "A112", "control", "control", "32", len), &opened, backend);
    EXPECT_FALSE(opened) << len;
  }
  EXPECT_EQ(backend.opens(), 0);
  for (const char* len : {"1", "4096"}) {
    bool opened = false;
    UsbPort p(usb_params("0471", "A112", "control", "control", len, len), &opened, backend);
    EXPECT_TRUE(opened) << len;
  }
  close(end);
}

TEST(UsbPort, WritesArePaddedReportsOfTheBlockLength) {
  FeatureDevice device;
  ASSERT_TRUE(device.opened);
  UsbPort& port = device.port;
  Peer& peer = device.peer;
  Bytes data(65);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i + 1);
  ASSERT_TRUE(port.write(data.data(), 9, 500));
  EXPECT_EQ(peer.count(Kind::kSetFeature), 1);
  ASSERT_TRUE(port.write(data.data(), 64, 500));
  EXPECT_EQ(peer.count(Kind::kSetFeature), 3);
  ASSERT_TRUE(port.write(data.data(), 65, 500));
  EXPECT_EQ(peer.count(Kind::kSetFeature), 6);

  std::vector<Request> log = peer.log();
  Bytes first = report_of(32, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(log[0].report, first);
  EXPECT_EQ(log.back().report, report_of(32, {65}));
  for (const Request& r : log) EXPECT_EQ(r.report.size(), 33u);
}

TEST(UsbPort, GetVersionFrameIsOneFeatureReport) {
  FeatureDevice device({report_of(32, {0x02, 0x02, 0x00, 0x02, 0x01, 0x02, 0x03})});
  ASSERT_TRUE(device.opened);
  HidStxProtocol stx(&device.port);
  uint8_t buf[2048] = {0x80};
  ASSERT_EQ(stx.transceive(buf, 1, 2048, 1000), 3);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0x00, 0x01, 0x02}));
  std::vector<Request> log = device.peer.log();
  ASSERT_EQ(log[0].kind, Kind::kSetFeature);
  EXPECT_EQ(log[0].report, report_of(32, {0x02, 0x02, 0x80, 0x00, 0x82}));
}

TEST(UsbPort, BlockPaddingStaysUntilPurged) {
  FakeHidBackend backend;
  Peer peer(backend.addDevice("/dev/hidraw0", 0x0471, 0x7002),
            std::vector<Bytes>{report_of(64, {1, 2, 3, 4, 5, 6})});
  bool opened = false;
  UsbPort port(usb_params("0471", "7002", "control", "control", "64", "64"), &opened, backend);
  ASSERT_TRUE(opened);
  uint8_t buf[8];
  ASSERT_TRUE(port.read(buf, 5, 500));
  EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(port.available(), 59);
  port.purge();
  EXPECT_EQ(port.available(), 0);
  EXPECT_EQ(peer.count(Kind::kGetFeature), 1);
}

TEST(UsbPort, ShortReportsAreZeroFilledAndNeverJoined) {
  FakeHidBackend backend;
  {
    // A feature report of 9 data bytes where 32 were asked for.
    FeatureDevice device({{0x00, 9, 8, 7, 6, 5, 4, 3, 2, 1}, report_of(32, {0x77})});
    ASSERT_TRUE(device.opened);
    uint8_t buf[64];
    ASSERT_TRUE(device.port.read(buf, 33, 500));
    Bytes expect = {9, 8, 7, 6, 5, 4, 3, 2, 1};
    expect.resize(32, 0);
    expect.push_back(0x77);
    EXPECT_EQ(Bytes(buf, buf + 33), expect);
  }
  {
    // Two short input reports: each is a block of its own.
    auto serve = [](FakeHidEndpoint& ep, const Request& r) {
      if (r.kind != Kind::kSetFeature) return;
      ep.answerSet(true);
      uint8_t a[5] = {1, 2, 3, 4, 5}, b[5] = {6, 7, 8, 9, 10};
      ep.sendInput(a, 5);
      ep.sendInput(b, 5);
    };
    Peer peer(backend.addDevice("/dev/hidraw1", 0x0471, 0x7002), serve);
    bool opened = false;
    UsbPort port(usb_params("0471", "7002", "interrupt", "control", "64", "64"), &opened,
                 backend);
    ASSERT_TRUE(opened);
    uint8_t cmd = 0x42;
    ASSERT_TRUE(port.write(&cmd, 1, 500));
    uint8_t buf[70];
    ASSERT_TRUE(port.read(buf, 10, 500));
    EXPECT_EQ(Bytes(buf, buf + 10), (Bytes{1, 2, 3, 4, 5, 0, 0, 0, 0, 0}));
    EXPECT_EQ(port.available(), 54);
    ASSERT_TRUE(port.read(buf, 54 + 6, 500));
    EXPECT_EQ(Bytes(buf + 54, buf + 60), (Bytes{6, 7, 8, 9, 10, 0}));
  }
}

TEST(UsbPort, BusyDeviceIsRetriedWithPausesWithinTheBudget) {
  FeatureDevice device;
  ASSERT_TRUE(device.opened);
  UsbPort& port = device.port;
  Peer& peer = device.peer;
  const double cpu0 = thread_cpu_ms();
  const Stopwatch start;
  uint8_t buf[4];
  EXPECT_FALSE(port.read(buf, 4, 200));
  long long ms = start.ms();
  double cpu_ms = thread_cpu_ms() - cpu0;
  EXPECT_GE(ms, 195);
  EXPECT_LT(ms, 600);
  // A pause after each refusal: about one request per millisecond at most.
  EXPECT_LE(peer.count(Kind::kGetFeature), 210);
  EXPECT_LT(cpu_ms, 120.0);
  // A zero budget makes no request at all.
  int before = peer.count(Kind::kGetFeature);
  EXPECT_FALSE(port.read(buf, 4, 0));
  EXPECT_EQ(peer.count(Kind::kGetFeature), before);
  // A budget of 1 ms is a whole millisecond, wherever the clock stands.
  for (int i = 0; i < 20; ++i) {
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.read(buf, 4, 1));
    EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(1));
  }
}

TEST(UsbPort, BlockThatCompletesTheTransferCountsEvenWhenLate) {
  FakeHidBackend backend;
  std::atomic<int> sets{0};
  auto slow = [&](FakeHidEndpoint& ep, const Request& r) {
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    if (r.kind == Kind::kSetFeature) {
      ++sets;
      ep.answerSet(true);
    }
    if (r.kind == Kind::kGetFeature) {
      Bytes rep = report_of(32, {0xAB, 0xCD});
      ep.replyFeature(rep.data(), rep.size());
    }
  };
  Peer peer(backend.addDevice("/dev/hidraw0", 0x0471, 0xA112), slow);
  bool opened = false;
  UsbPort port(m6_usb_params(), &opened, backend);
  ASSERT_TRUE(opened);
  uint8_t buf[64] = {0x11};
  EXPECT_TRUE(port.read(buf, 2, 50));
  EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{0xAB, 0xCD}));
  EXPECT_TRUE(port.write(buf, 32, 50));
  EXPECT_EQ(sets.load(), 1);
  // Two blocks: the budget ran out after the first, so the second never goes.
  EXPECT_FALSE(port.write(buf, 33, 50));
  EXPECT_EQ(sets.load(), 2);
  // Two blocks to read: the same.
  port.purge();
  EXPECT_FALSE(port.read(buf, 40, 50));
  EXPECT_EQ(port.available(), 32);
}

TEST(UsbPort, UnpluggedDeviceFailsPromptly) {
  FakeHidBackend backend;
  int end = backend.addDevice("/dev/hidraw0", 0x0471, 0x7002);
  bool opened = false;
  UsbPort port(usb_params("0471", "7002", "interrupt", "control", "64", "64"), &opened, backend);
  ASSERT_TRUE(opened);
  close(end);
  const Stopwatch start;
  uint8_t buf[8] = {1};
  EXPECT_FALSE(port.read(buf, 8, 3000));
  EXPECT_FALSE(port.write(buf, 8, 300));
  EXPECT_LT(start.ms(), 1500);
  EXPECT_TRUE(port.isOpen());  // until closed
}

TEST(UsbPort, StxEtxOverInterruptInAndOutputReports) {
  FakeHidBackend backend;
  // An r42-style reader: commands arrive as output reports, replies leave
  // as 64-byte input reports.
  auto serve = [](FakeHidEndpoint& ep, const Request& r) {
    if (r.kind != Kind::kOutput) return;
    Bytes reply = {0x02, 0x00, 0x00, 0x00, 0x02, 0x90, 0x00, 0x90, 0x03};
    reply.resize(64, 0);
    ep.sendInput(reply.data(), reply.size());
  };
  Peer peer(backend.addDevice("/dev/hidraw0", 0x257B, 0x3010), serve);
  bool opened = false;
  UsbPort port(usb_params("257B", "3010", "interrupt", "interrupt", "64", "64"), &opened,
               backend);
  ASSERT_TRUE(opened);
  StxEtxProtocol proto(&port);
  uint8_t buf[2048] = {0x01, 0x02};
  ASSERT_EQ(proto.transceive(buf, 2, 2048, 1000), 2);
  EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{0x90, 0x00}));
  Bytes sent = report_of(64, {0x02, 0x00, 0x00, 0x00, 0x02, 0x01, 0x02, 0x03, 0x03});
  ASSERT_EQ(peer.log().size(), 1u);
  EXPECT_EQ(peer.log()[0].report, sent);
  EXPECT_EQ(port.available(), 64 - 9);  // the report's padding
}

TEST(UsbPort, R42ReaderOverInterruptInAndFeatureOut) {
  FakeHidBackend backend;
  int stream[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stream), 0);
  R42SerialSim sim(stream[1], R42SerialSim::Framing::kStxEtx);
  sim.onCommand(0x0F10, [](const std::vector<uint8_t>&) {
    return Bytes{0x00, 0x00, 0x00, 'V', '5', '.', '1', '2'};
  });
  sim.start();
  FakeHidStreamBridge bridge(backend.addDevice("/dev/hidraw0", 0x0471, 0x7002), stream[0], 64);
  bool opened = false;
  UsbPort port(usb_params("0471", "7002", "interrupt", "control", "64", "64"), &opened, backend);
  ASSERT_TRUE(opened);
  StxEtxProtocol proto(&port);
  for (int i = 0; i < 3; ++i) {
    port.purge();
    uint8_t buf[2048] = {0x0F, 0x10, 0x00};
    ASSERT_EQ(proto.transceive(buf, 3, 2048, 1000), 8) << i;
    EXPECT_EQ(Bytes(buf + 3, buf + 8), (Bytes{'V', '5', '.', '1', '2'}));
  }
  // A reply longer than one report spans several input reports.
  sim.onCommand(0x0F11, [](const std::vector<uint8_t>&) {
    Bytes reply{0x00, 0x00, 0x00};
    reply.resize(300, 0x5A);
    return reply;
  });
  port.purge();
  uint8_t buf[2048] = {0x0F, 0x11, 0x00};
  ASSERT_EQ(proto.transceive(buf, 3, 2048, 1000), 300);
  EXPECT_EQ(buf[299], 0x5A);
  EXPECT_EQ(sim.requestCount(), 4u);  // the padding after each command is skipped
}

TEST(UsbPort, OtherEndpointTypesOpenButNeverTransfer) {
  FakeHidBackend backend;
  Peer peer(backend.addDevice("/dev/hidraw0", 0x257B, 0xA001));
  bool opened = false;
  UsbPort port(usb_params("257B", "A001", "bulk", "bulk", "64", "64"), &opened, backend);
  EXPECT_TRUE(opened);
  uint8_t buf[4] = {};
  EXPECT_FALSE(port.write(buf, 4, 100));
  EXPECT_FALSE(port.read(buf, 4, 100));
  EXPECT_TRUE(peer.log().empty());
}

TEST(UsbPort, HidrawStackFindsNoSuchReaderHere) {
  // No reader is attached to the build machines: the real stack enumerates,
  // matches nothing and leaves nothing open.
  EXPECT_EQ(hidapi_backend().open("/dev/no-such-hidraw"), nullptr);
  EXPECT_EQ(hidapi_backend().lockNode("/dev/no-such-hidraw"), -1);
  bool opened = true;
  UsbPort port(usb_params("0471", "A1FF", "control", "control", "32", "32"), &opened);
  EXPECT_FALSE(opened);
  EXPECT_FALSE(port.isOpen());
}

}  // namespace
