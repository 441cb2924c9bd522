// Port numbers and entry indexes outside the table, null names and port
// names on port numbers that have none.
#include <climits>

#include "device_manager_fixture_test.h"
#include "family_r42/r42_device.h"

namespace {

TEST(DeviceManagerBadInput, PortNumbersOutsideTheTableOpenNothing) {
  DeviceManager manager(reader_device_makers());
  const int fds = open_fd_count();
  for (int32_t port : {-1, 500, 501, INT_MIN, INT_MAX}) {
    EXPECT_EQ(manager.openByPort(port, 9600), -1) << port;
    EXPECT_EQ(manager.openByName(port, 9600, "r42-s9600"), -1) << port;
    EXPECT_EQ(manager.openByName(port, 9600, nullptr), -1) << port;
  }
  EXPECT_EQ(open_fd_count(), fds);
}

TEST(DeviceManagerBadInput, CloseAndLookUpOutsideTheTableDoNothing) {
  DeviceManager manager(reader_device_makers());
  for (int32_t index : {-5, -1, 500, INT_MIN, INT_MAX}) {
    manager.close(index);
    EXPECT_EQ(manager.deviceAt(index), nullptr) << index;
  }
  // Entries that were never opened.
  manager.close(0);
  manager.close(499);
  EXPECT_EQ(manager.deviceAt(0), nullptr);
  EXPECT_EQ(manager.deviceAt(499), nullptr);
}

TEST(DeviceManagerBadInput, PortNamesOnlyWhereAPortTypeUsesThem) {
  DeviceManager manager(reader_device_makers());
  PortNames names;
  names.set(manager, 350, "VANTOR.DB.SPP");
  EXPECT_EQ(port_name(350), "VANTOR.DB.SPP");
  names.set(manager, 3, "/dev/null");
  manager.configPortName(3, nullptr);
  EXPECT_EQ(port_name(3), "/dev/null") << "a null name changes nothing";
  manager.configPortName(3, "");
  EXPECT_EQ(port_name(3), "") << "an empty name removes it";
  for (int32_t port : {100, 150, 199, 200, 299, -1, 500}) {
    manager.configPortName(port, "unused");
    EXPECT_EQ(port_name(port), "") << port;
  }
}

TEST(DeviceManagerBadInput, TestInstallOutsideTheTableTakesNothing) {
  DeviceManager manager(reader_device_makers());
  manager.installForTest(500, nullptr, nullptr, new R42Device("r42-u", nullptr, nullptr));
  EXPECT_EQ(manager.deviceAt(500), nullptr);  // and ASan sees no leak
}

}  // namespace
