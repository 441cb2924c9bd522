// The reader's own barcode module: each command goes as report frames over
// the device's port, and the entry's own framing stays usable after it.
#include <gtest/gtest.h>

#include <vector>

#include "connection/hid_stx_protocol.h"
#include "connection/m6_port_helpers.h"
#include "family_m6/m6_device.h"
#include "fuzz/memory_port.h"
#include "sim/wire_table.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(M6Barcode, StartGoesAsOneReportFrame) {
  MemoryPort port(as_reports({0xAA, 0x00, 0x01, 0x00, 0xAB, 0x55}));
  HidStxProtocol stx(&port);
  M6Device device("m6-u", &port, &stx);
  EXPECT_EQ(device.Scan2DBarcodeStart(kIcdev, 1), 0);
  EXPECT_EQ(spaced_hex(port.written), "02 AA 00 03 DA 00 01 72 55");
}

TEST(M6Barcode, FetchesThenAnOrdinaryCommand) {
  M6OverUsb usb(M6Reader::Framing::kHidStx);
  ASSERT_TRUE(usb.opened);
  HidStxProtocol stx(&usb.port);
  M6Device m6("m6-u", &usb.port, &stx);
  ReaderDevice& device = m6;
  Bytes data(4096, 0xCC);
  int32_t length = -1;
  usb.reader.pushReply({0x00});
  EXPECT_EQ(device.Scan2DBarcodeGetData(kIcdev, &length, data.data()), 0);
  EXPECT_EQ(length, 0);
  // The most that report frames bring back: 66 reports of 31 frame bytes.
  const Bytes code = wire_pattern(2040, 9);
  usb.reader.pushReply(WireBytes({"00", code}).bytes);
  EXPECT_EQ(device.Scan2DBarcodeGetData(kIcdev, &length, data.data()), 0);
  ASSERT_EQ(length, 2040);
  EXPECT_EQ(wire_slice(data, 0, 2041), WireBytes({code, "CC"}).bytes);
  EXPECT_EQ(device.Scan2DBarcodeExit(kIcdev), 0);
  EXPECT_EQ(device.beep(kIcdev, 1), 0);
  const std::vector<Bytes> sent = {{0xDA, 0x01}, {0xDA, 0x01}, {0xDA, 0x02}, {0x57, 0x01, 0x00}};
  EXPECT_EQ(usb.reader.commands(), sent);
}

}  // namespace
