#include "connection/hid_stx_protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "fuzz/memory_port.h"
#include "m6_port_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes stx_frame(uint8_t status, const Bytes& data) {
  Bytes f{0x02, status, uint8_t(data.size())};
  for (uint8_t b : data) f.push_back(b);
  uint8_t x = 0;
  for (uint8_t b : f) x ^= b;
  f.push_back(x);
  return f;
}

TEST(HidStx, CommandsBecomeReportPieces) {
  MemoryPort port(as_reports(stx_frame(0, {})));
  HidStxProtocol stx(&port);
  uint8_t buf[64] = {0x41, 0x01};
  EXPECT_EQ(stx.transceive(buf, 2, 64, 100), 1);
  EXPECT_EQ(port.written, (Bytes{0x02, 0x02, 0x41, 0x01, 0x01, 0x43}));

  // 60 bytes: a 63-byte frame in three pieces, the last holding one byte.
  MemoryPort port2;
  HidStxProtocol stx2(&port2);
  Bytes command(60, 0x11);
  std::copy(command.begin(), command.end(), buf);
  EXPECT_EQ(stx2.transceive(buf, 60, 0, 100), 0);
  ASSERT_EQ(port2.written.size(), 66u);
  EXPECT_EQ(port2.written[0], 0x82);
  EXPECT_EQ(port2.written[32], 0x82);
  EXPECT_EQ(port2.written[64], 0x02);
  EXPECT_TRUE(port2.reads.empty());
}

TEST(HidStx, RepliesAreCheckedBeforeTheyAreCopied) {
  struct Case {
    const char* what;
    Bytes input;
    int32_t capacity;
    int32_t result;
  };
  Bytes good = as_reports(stx_frame(0x00, {0x01, 0x02}));
  Bytes bad_stx = good;
  bad_stx[1] = 0x03;
  Bytes bad_xor = good;
  bad_xor[6] ^= 0xFF;
  // Length 40 in a one-report reply: the check byte never arrived.
  Bytes short_frame = good;
  short_frame[3] = 40;
  Bytes busy(32, 0xEE);
  busy[0] = 0x81;
  busy[1] = 0x60;
  const Case cases[] = {
      {"good", good, 64, 3},
      {"exact capacity", good, 3, 3},
      {"over capacity", good, 2, -1},
      {"wrong STX", bad_stx, 64, -1},
      {"wrong XOR", bad_xor, 64, -1},
      {"length past what was collected", short_frame, 64, -1},
      {"busy", busy, 64, 1},
      {"silent", {}, 64, -1},
  };
  for (const Case& c : cases) {
    MemoryPort port(c.input);
    HidStxProtocol stx(&port);
    uint8_t buf[64];
    std::fill(buf, buf + 64, 0xCC);
    buf[0] = 0x80;
    EXPECT_EQ(stx.transceive(buf, 1, c.capacity, 100), c.result) << c.what;
    if (c.result == 3) {
      EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0x00, 0x01, 0x02, 0xCC})) << c.what;
    }
    if (c.result == 1) {
      EXPECT_EQ(buf[0], 0x60);
    }
    if (c.result == -1) {
      EXPECT_EQ(buf[1], 0xCC) << c.what;
    }
  }
}

TEST(HidStx, BadArgumentsFailBeforeAnyIo) {
  MemoryPort port;
  HidStxProtocol stx(&port);
  Bytes big(300, 1);
  EXPECT_EQ(stx.transceive(big.data(), 257, 64, 100), -1);
  EXPECT_EQ(stx.transceive(big.data(), -1, 64, 100), -1);
  EXPECT_EQ(stx.transceive(big.data(), 1, -5, 100), -1);
  EXPECT_EQ(stx.transceive(nullptr, 1, 64, 100), -1);
  EXPECT_TRUE(port.reads.empty());
  EXPECT_EQ(port.writes, 0);
  // 256 is the largest command and still goes out.
  EXPECT_EQ(stx.transceive(big.data(), 256, 0, 100), 0);
  EXPECT_EQ(port.written[3], 255);
}

TEST(HidStx, GetVersionThroughUsbFeatureReports) {
  M6OverUsb m6(M6Reader::Framing::kHidStx);
  ASSERT_TRUE(m6.opened);
  UsbPort& port = m6.port;
  M6Reader& reader = m6.reader;
  HidStxProtocol stx(&port);
  uint8_t buf[2048] = {0x80};
  ASSERT_EQ(stx.transceive(buf, 1, 2048, 1000), 3);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0x00, 0x01, 0x02}));
  ASSERT_EQ(reader.commands().size(), 1u);
  EXPECT_EQ(reader.commands()[0], Bytes{0x80});

  // A 200-byte command and its echo span several reports both ways.
  Bytes command(200);
  for (size_t i = 0; i < command.size(); ++i) command[i] = uint8_t(i * 7);
  command[0] = 0x41;
  std::copy(command.begin(), command.end(), buf);
  ASSERT_EQ(stx.transceive(buf, 200, 2048, 1000), 200);
  EXPECT_EQ(buf[0], 0x00);
  EXPECT_EQ(Bytes(buf + 1, buf + 200), Bytes(command.begin() + 1, command.end()));

  // A busy reader answers 81 60 whatever was asked.
  Bytes busy(32, 0);
  busy[0] = 0x81;
  busy[1] = 0x60;
  reader.pushRaw(busy);
  buf[0] = 0x80;
  EXPECT_EQ(stx.transceive(buf, 1, 2048, 1000), 1);
  EXPECT_EQ(buf[0], 0x60);

  // A reader that never answers: -1 within the write's and the read's
  // time-outs.
  port.purge();
  reader.pushSilence();
  buf[0] = 0x80;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(stx.transceive(buf, 1, 2048, 100), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * 100 + 150));
}

}  // namespace
