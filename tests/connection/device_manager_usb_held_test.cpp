// USB rows: a reader that does not answer stays held while the row is tried
// again, so the next attempt reaches another reader with the same
// identifiers; held readers are let go once the row ends or succeeds.
#include "device_manager_fixture_test.h"
#include "family_m6/m6_device.h"
#include "sim/fake_hid.h"
#include "sim/m6_reader.h"

namespace {

constexpr uint16_t kM6Vendor = 0x0471;
constexpr uint16_t kM6Product = 0xA112;  // the "m6-u" row

class DeviceManagerUsbHeld : public ::testing::Test {
 protected:
  void SetUp() override {
    PortStacks stacks;
    stacks.hid = &backend;
    manager->setPortStacksForTest(stacks);
  }
  void TearDown() override {
    manager.reset();
    EXPECT_EQ(backend.openHandles(), 0) << "every USB port was closed";
  }
  // An m6 reader on a new fake device; `silent_commands` commands go
  // unanswered first.
  M6Reader& addReader(const std::string& path, int silent_commands = 0) {
    readers.push_back(std::make_unique<M6Reader>(
        backend.addDevice(path, kM6Vendor, kM6Product), M6Reader::Framing::kHidStx));
    for (int i = 0; i < silent_commands; ++i) readers.back()->pushSilence();
    return *readers.back();
  }

  FakeHidBackend backend;
  std::vector<std::unique_ptr<M6Reader>> readers;
  std::unique_ptr<DeviceManager> manager = std::make_unique<DeviceManager>(reader_device_makers());
};

TEST_F(DeviceManagerUsbHeld, SilentReaderIsHeldAndTheNextOneWins) {
  addReader("/fake/hid0", 2);  // misses both version probes
  M6Reader& second = addReader("/fake/hid1");
  second.setVersion('A', '1');

  Stopwatch watch;
  ASSERT_EQ(manager->openByPort(100, 0), 100);
  EXPECT_LT(watch.ms(), 2 * 200 + 2 * 200 + 5000 + 3000);
  auto* device = dynamic_cast<M6Device*>(manager->deviceAt(100));
  ASSERT_NE(device, nullptr);
  EXPECT_STREQ(device->name(), "m6-u");
  EXPECT_STREQ(device->versionText(), "A1");
  EXPECT_EQ(backend.openHandles(), 1) << "the held first reader was let go";
  EXPECT_EQ(second.commands().size(), 3u) << "probe, then init's version and serial";

  // The first reader now answers, and is the only one free.
  ASSERT_EQ(manager->openByPort(199, 0), 199);
  EXPECT_EQ(backend.openHandles(), 2);
  EXPECT_EQ(manager->openByPort(150, 0), -1) << "both readers are held by open entries";
  EXPECT_EQ(backend.openHandles(), 2);
  manager->close(100);
  manager->close(199);
  EXPECT_EQ(backend.openHandles(), 0);
}

TEST_F(DeviceManagerUsbHeld, ReadersThatNeverAnswerAreAllReleased) {
  for (int i = 0; i < 3; ++i) addReader("/fake/silent" + std::to_string(i), 1000);
  Stopwatch watch;
  EXPECT_EQ(manager->openByPort(120, 0), -1);
  // m6-u holds all three readers (two probes each), then its fourth port
  // finds none free; the other rows find no device with their identifiers.
  EXPECT_LT(watch.ms(), 3 * 2 * 200 + 3000);
  EXPECT_EQ(backend.openHandles(), 0);
  EXPECT_EQ(backend.opens(), 3);
}

TEST_F(DeviceManagerUsbHeld, NoReaderAtAllEndsEveryRowAtOnce) {
  Stopwatch watch;
  EXPECT_EQ(manager->openByPort(100, 0), -1);
  EXPECT_EQ(manager->openByName(100, 0, "r42-x2"), -1);
  EXPECT_EQ(manager->openByName(100, 0, "m6-s9600"), -1) << "a serial row on a USB port";
  EXPECT_LT(watch.ms(), 1000);
  EXPECT_EQ(backend.opens(), 0);
}

TEST_F(DeviceManagerUsbHeld, OpenByNameSkipsTheOtherRows) {
  // A reader of the "m6-u2" row, opened by that name: init_name reads what
  // the device keeps.
  readers.push_back(std::make_unique<M6Reader>(backend.addDevice("/fake/u2", kM6Vendor, 0xA12A),
                                               M6Reader::Framing::kHidStx));
  ASSERT_EQ(manager->openByName(101, 0, "m6-u2"), 101);
  auto* device = dynamic_cast<M6Device*>(manager->deviceAt(101));
  ASSERT_NE(device, nullptr);
  EXPECT_STREQ(device->name(), "m6-u2");
  EXPECT_TRUE(device->sp0()) << "init_name read the serial";
}

}  // namespace
