// Whatever an open builds is gone again after a failed search, a close, or
// the end of the manager: descriptors, HID handles and application
// transports are all counted back.
#include "connection/port_provider.h"
#include "device_manager_fixture_test.h"
#include "sim/fake_hid.h"
#include "sim/m6_reader.h"
#include "sim/pty_pair.h"
#include "sim/socket_transport.h"

namespace {

class DeviceManagerNoLeak : public ::testing::Test {
 protected:
  void SetUp() override {
    PortStacks stacks;
    stacks.hid = &hid;
    manager->setPortStacksForTest(stacks);
  }
  void TearDown() override {
    manager.reset();
    set_port_provider(nullptr);
    EXPECT_EQ(hid.openHandles(), 0);
  }

  // Each test counts descriptors once its simulated readers exist: the
  // fake HID stack keeps its devices' ends until it goes. The readers'
  // threads run meanwhile, so the counts are settled ones.
  FakeHidBackend hid;
  std::unique_ptr<DeviceManager> manager = std::make_unique<DeviceManager>(reader_device_makers());
  PortNames names;
};

TEST_F(DeviceManagerNoLeak, FailedSerialSearchOnASilentLine) {
  PtyPair silent;
  names.set(*manager, 0, silent.slavePath());
  const int with_line = open_fd_count();
  Stopwatch watch;
  EXPECT_EQ(manager->openByPort(0, 9600), -1);
  EXPECT_LT(watch.ms(), 2 * 200 + 2000 + 3000);
  EXPECT_EQ(open_fd_count(), with_line);
}

TEST_F(DeviceManagerNoLeak, PathThatDoesNotExistFailsAtOnce) {
  names.set(*manager, 9, "/nonexistent/dm-line");
  const int fds = open_fd_count();
  Stopwatch watch;
  EXPECT_EQ(manager->openByPort(9, 115200), -1);
  EXPECT_LT(watch.ms(), 200);
  EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(DeviceManagerNoLeak, OpenAndCloseOfSerialAndUsbReaders) {
  {
    R42OnPty serial;
    names.set(*manager, 1, serial.path());
    auto usb = std::make_unique<M6Reader>(hid.addDevice("/fake/nl0", 0x0471, 0xA112),
                                          M6Reader::Framing::kHidStx);
    const int with_readers = settled_fd_count();

    ASSERT_EQ(manager->openByName(1, 9600, "r42-s9600"), 1);
    ASSERT_EQ(manager->openByPort(100, 0), 100);
    EXPECT_EQ(hid.openHandles(), 1);
    manager->close(1);
    manager->close(100);
    EXPECT_EQ(hid.openHandles(), 0);
    EXPECT_EQ(fd_count_settling_to(with_readers), with_readers);

    // Left open: the manager's end releases them.
    ASSERT_EQ(manager->openByName(1, 9600, "r42-s9600"), 1);
    ASSERT_EQ(manager->openByPort(100, 0), 100);
    manager.reset();
    EXPECT_EQ(hid.openHandles(), 0);
    EXPECT_EQ(fd_count_settling_to(with_readers), with_readers);
  }
  manager = std::make_unique<DeviceManager>(reader_device_makers());
}

TEST_F(DeviceManagerNoLeak, TransportsThatDoNotOpenAreAllHandedBack) {
  PortProvider provider;
  socket_transport_provider(&provider, nullptr);
  socket_transport_reset_counts();
  socket_transport_set_open_result(0);
  set_port_provider(&provider);
  const int fds = open_fd_count();
  EXPECT_EQ(manager->openByPort(400, 0), -1);
  EXPECT_EQ(manager->openByPort(100, 0), -1);
  EXPECT_EQ(manager->openByPort(201, 0), -1);
  SocketTransportCounts counts = socket_transport_counts();
  EXPECT_EQ(counts.creates, 3 + 13 + 2 * 32 * 3);
  EXPECT_EQ(counts.destroys, counts.creates);
  EXPECT_EQ(open_fd_count(), fds);
  socket_transport_set_open_result(1);
}

TEST_F(DeviceManagerNoLeak, HeldUsbReadersAreAllReleased) {
  std::vector<std::unique_ptr<M6Reader>> readers;
  for (int i = 0; i < 4; ++i) {
    readers.push_back(std::make_unique<M6Reader>(
        hid.addDevice("/fake/held" + std::to_string(i), 0x0471, 0xA112),
        M6Reader::Framing::kHidStx));
    if (i < 3) {
      readers.back()->pushSilence();
      readers.back()->pushSilence();
    }
  }
  const int with_readers = settled_fd_count();
  ASSERT_EQ(manager->openByPort(110, 0), 110);
  EXPECT_EQ(hid.openHandles(), 1) << "three held readers were let go";
  manager->close(110);
  EXPECT_EQ(fd_count_settling_to(with_readers), with_readers);
}

}  // namespace
