#include "connection/hid_report_protocol.h"

#include <gtest/gtest.h>

#include <vector>

#include "fuzz/memory_port.h"
#include "m6_port_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes aa_frame(const Bytes& payload) {
  Bytes f{0xAA, uint8_t(payload.size() >> 8), uint8_t(payload.size())};
  for (uint8_t b : payload) f.push_back(b);
  uint8_t x = 0;
  for (uint8_t b : f) x ^= b;
  f.push_back(x);
  f.push_back(0x55);
  return f;
}

TEST(HidReport, PayloadIsFramedAndCut) {
  MemoryPort port(as_reports(aa_frame({0x90, 0x00})));
  HidReportProtocol proto(&port);
  uint8_t buf[64] = {0x01, 0x02};
  ASSERT_EQ(proto.transceive(buf, 2, 64, 100), 2);
  EXPECT_EQ(port.written, (Bytes{0x02, 0xAA, 0x00, 0x02, 0x01, 0x02, 0xAB, 0x55}));
  EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{0x90, 0x00}));
}

TEST(HidReport, RepliesAreCheckedBeforeTheyAreCopied) {
  Bytes good = as_reports(aa_frame({0x10, 0x20, 0x30}));
  Bytes bad_head = good;
  bad_head[1] = 0xAB;
  Bytes bad_xor = good;
  bad_xor[7] ^= 1;
  Bytes bad_tail = good;
  bad_tail[8] = 0x56;
  Bytes huge = good;  // n = 0xFFFF: never there, never allocated
  huge[2] = 0xFF;
  huge[3] = 0xFF;
  struct Case {
    const char* what;
    Bytes input;
    int32_t capacity;
    int32_t result;
  } const cases[] = {
      {"good", good, 64, 3},       {"over capacity", good, 2, -1},
      {"head", bad_head, 64, -1},  {"xor", bad_xor, 64, -1},
      {"tail", bad_tail, 64, -1},  {"n = 0xFFFF", huge, 2048, -1},
  };
  for (const Case& c : cases) {
    MemoryPort port(c.input);
    HidReportProtocol proto(&port);
    uint8_t buf[64];
    std::fill(buf, buf + 64, 0xCC);
    EXPECT_EQ(proto.transceive(buf, 0, c.capacity, 100), c.result) << c.what;
    EXPECT_EQ(buf[0], c.result == 3 ? 0x10 : 0xCC) << c.what;
  }
  // 81 60 is an ordinary (malformed) report here.
  Bytes busy(32, 0);
  busy[0] = 0x81;
  busy[1] = 0x60;
  MemoryPort port(busy);
  HidReportProtocol proto(&port);
  uint8_t buf[64];
  EXPECT_EQ(proto.transceive(buf, 0, 64, 100), -1);
}

TEST(HidReport, PayloadLimits) {
  MemoryPort port;
  HidReportProtocol proto(&port);
  Bytes big(65536, 0x5A);
  EXPECT_EQ(proto.transceive(big.data(), 65536, 0, 100), -1);
  EXPECT_EQ(port.writes, 0);
  EXPECT_EQ(proto.transceive(big.data(), 65535, 0, 100), 0);
  ASSERT_EQ(port.written.size(), size_t(65540) + (65540 + 30) / 31);
  EXPECT_EQ(port.written[1], 0xAA);
  EXPECT_EQ(port.written[2], 0xFF);
  EXPECT_EQ(port.written[3], 0xFF);
  EXPECT_EQ(proto.transceive(nullptr, 1, 0, 100), -1);
}

TEST(HidReport, LongExchangeThroughUsbFeatureReports) {
  M6OverUsb m6(M6Reader::Framing::kHidReport);
  ASSERT_TRUE(m6.opened);
  UsbPort& port = m6.port;
  M6Reader& reader = m6.reader;
  HidReportProtocol proto(&port);
  // A command beyond what the one-byte framings carry: 1500 bytes out,
  // status and 1499 bytes back.
  Bytes command(1500);
  for (size_t i = 0; i < command.size(); ++i) command[i] = uint8_t(i ^ 0x5A);
  command[0] = 0xD0;
  std::vector<uint8_t> buf(2048);
  std::copy(command.begin(), command.end(), buf.begin());
  ASSERT_EQ(proto.transceive(buf.data(), 1500, 2048, 2000), 1500);
  EXPECT_EQ(buf[0], 0x00);
  EXPECT_EQ(Bytes(buf.begin() + 1, buf.begin() + 1500), Bytes(command.begin() + 1, command.end()));
  EXPECT_EQ(reader.commands().back(), command);
}

}  // namespace
