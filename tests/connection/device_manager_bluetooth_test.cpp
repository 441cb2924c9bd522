// Bluetooth rows: the name looked up (configured or the row's), the wake-up
// test of the "r42-db" row, and the bound on a row whose reader keeps
// connecting but is refused.
#include <mutex>

#include "device_manager_fixture_test.h"
#include "sim/fake_bluetooth.h"

namespace {

constexpr int32_t kBudgetMs = 3000;

class DeviceManagerBluetooth : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(bluez.start(&error)) << error;
    backend = std::make_shared<FakeBluetoothBackend>(bluez.address());
    // Every connection reaches a fresh r42 reader with the shared state.
    backend->setDeviceEnd([this](const std::string&, int fd) {
      auto sim = std::make_unique<R42SerialSim>(fd, R42SerialSim::Framing::kStxEtx);
      sim->setHandler(model.handler());
      sim->start();
      std::lock_guard<std::mutex> lock(mutex);
      sims.push_back(std::move(sim));
    });
    PortStacks stacks;
    stacks.bluetooth = backend;
    stacks.bluetooth_budget_ms = kBudgetMs;
    manager->setPortStacksForTest(stacks);
  }
  void TearDown() override {
    manager.reset();
    EXPECT_EQ(backend->connectsInProgress(), 0u);
    std::lock_guard<std::mutex> lock(mutex);
    sims.clear();
  }

  FakeBluez bluez;
  std::shared_ptr<FakeBluetoothBackend> backend;
  R42ReaderModel model;
  std::mutex mutex;
  std::vector<std::unique_ptr<R42SerialSim>> sims;
  std::unique_ptr<DeviceManager> manager = std::make_unique<DeviceManager>(reader_device_makers());
  PortNames names;
};

TEST_F(DeviceManagerBluetooth, ReaderIsFoundByTheRowName) {
  bluez.setDevices({{"00:11:22:33:44:55", "HN01-12345999"}});
  Stopwatch watch;
  ASSERT_EQ(manager->openByPort(300, 0), 300);
  EXPECT_LT(watch.ms(), kBudgetMs + 5000);
  EXPECT_EQ(device_name(manager->deviceAt(300)), "r42-hn");
  EXPECT_EQ(device_version(manager->deviceAt(300)), "R42 SIM 1.0");
  EXPECT_EQ(backend->connectsSucceeded(), 1u) << "the r42-db row finds no device of its name";
}

TEST_F(DeviceManagerBluetooth, ConfiguredNameIsTheNameLookedUp) {
  bluez.setDevices({{"00:11:22:33:44:55", "HN01-12345999"}, {"00:11:22:33:44:66", "MY.READER"}});
  names.set(*manager, 350, "MY.READER");
  // The wake-up test refuses the reader on the "r42-db" row (the reader
  // answers the wake-up with an error status); the "r42-hn" row, under the
  // same configured name, takes it.
  ASSERT_EQ(manager->openByPort(350, 0), 350);
  EXPECT_EQ(device_name(manager->deviceAt(350)), "r42-hn");
  names.set(*manager, 350, "NOBODY");
  EXPECT_EQ(manager->openByPort(350, 0), -1);
}

TEST_F(DeviceManagerBluetooth, RefusedReaderEndsItsRowAfterSixteenConnections) {
  bluez.setDevices({{"00:11:22:33:44:77", "VANTOR.DB.SPP"}});
  const int fds = settled_fd_count();
  Stopwatch watch;
  EXPECT_EQ(manager->openByPort(301, 0), -1);
  // "r42-db": the reader connects every time and refuses the wake-up every
  // time, until the bound; "r42-hn" finds no device.
  EXPECT_EQ(backend->connectsSucceeded(), 16u);
  EXPECT_LT(watch.ms(), 16 * 1000 + kBudgetMs);
  EXPECT_EQ(model.count(0x0F10), 0u) << "a reader that did not wake is never probed";
  {
    std::lock_guard<std::mutex> lock(mutex);
    sims.clear();  // the readers' ends of the 16 connections
  }
  EXPECT_EQ(fd_count_settling_to(fds), fds) << "every held connection was closed";
}

TEST_F(DeviceManagerBluetooth, WokenReaderIsAcceptedOnTheDbRow) {
  bluez.setDevices({{"00:11:22:33:44:77", "VANTOR.DB.SPP"}});
  model.addCommand(0x200E, [](const R42ReaderModel::Bytes&) {
    return R42ReaderModel::Bytes{0x00, 0x00, 0x00};
  });
  ASSERT_EQ(manager->openByPort(301, 0), 301);
  EXPECT_EQ(device_name(manager->deviceAt(301)), "r42-db");
  EXPECT_EQ(model.count(0x200E), 1u);
}

TEST_F(DeviceManagerBluetooth, WakeStatusTenPassesAsAwake) {
  bluez.setDevices({{"00:11:22:33:44:77", "VANTOR.DB.SPP"}});
  model.addCommand(0x200E, [](const R42ReaderModel::Bytes&) {
    return R42ReaderModel::Bytes{0x00, 0x10, 0x00};
  });
  ASSERT_EQ(manager->openByPort(301, 0), 301);
  EXPECT_EQ(device_name(manager->deviceAt(301)), "r42-db");
  EXPECT_EQ(backend->connectsSucceeded(), 1u);
}

}  // namespace
