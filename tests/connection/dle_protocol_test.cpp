#include "connection/dle_protocol.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <vector>

#include "connection/adapter_port.h"
#include "connection/com_port.h"
#include "fuzz/memory_port.h"
#include "sim/m6_reader.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"
#include "sim/socket_transport.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Everything a well-behaved reader sends for one exchange whose reply frame
// (raw, stuffed) is `reply`: 10 after STX, 10 02 after the frame, then it.
Bytes reader_side(const Bytes& reply) { return concat({{0x10}, {0x10, 0x02}, reply}); }

TEST(Dle, CommandFramesAreStuffedAndHandshaken) {
  MemoryPort port(reader_side({0x00, 0x00, 0x00, 0x00, 0x10, 0x03}));
  DleProtocol dle(&port);
  uint8_t buf[16] = {0x41, 0x01};
  EXPECT_EQ(dle.transceive(buf, 2, 16, 100), 1);
  EXPECT_EQ(port.written, (Bytes{0x02, 0x00, 0x41, 0x01, 0x01, 0x41, 0x10, 0x03, 0x10, 0x10}));

  // The command and the check byte are 0x10: doubled; the closing DLE not.
  MemoryPort port2(reader_side({0x00, 0x00, 0x00, 0x00, 0x10, 0x03}));
  DleProtocol dle2(&port2);
  buf[0] = 0x10;
  EXPECT_EQ(dle2.transceive(buf, 1, 16, 100), 1);
  EXPECT_EQ(Bytes(port2.written.begin() + 1, port2.written.begin() + 9),
            (Bytes{0x00, 0x10, 0x10, 0x00, 0x10, 0x10, 0x10, 0x03}));
}

TEST(Dle, EveryWrongHandshakeByteFailsAndKeepsTheSequence) {
  const Bytes good = reader_side({0x00, 0x00, 0x00, 0x00, 0x10, 0x03});
  for (size_t i = 0; i < 3; ++i) {
    Bytes wrong = good;
    wrong[i] ^= 0x40;
    MemoryPort port(wrong);
    DleProtocol dle(&port);
    uint8_t buf[8] = {0x80};
    EXPECT_EQ(dle.transceive(buf, 1, 8, 50), -1) << "handshake byte " << i;
    EXPECT_EQ(dle.sequence(), 0);
  }
  // A failed acknowledgement (the fourth write) fails and keeps it too.
  MemoryPort port(good);
  port.fail_from_write = 3;
  DleProtocol dle(&port);
  uint8_t buf[8] = {0x80};
  EXPECT_EQ(dle.transceive(buf, 1, 8, 50), -1);
  EXPECT_EQ(dle.sequence(), 0);
  // Send only: nothing is read back and the sequence stays.
  MemoryPort port2(good);
  DleProtocol dle2(&port2);
  EXPECT_EQ(dle2.transceive(buf, 1, 0, 50), 0);
  EXPECT_EQ(port2.consumed(), 3u);
  EXPECT_EQ(dle2.sequence(), 0);
}

TEST(Dle, StuffedDataThatLooksLikeTheEndIsData) {
  // Status 00, data 10 10 10 03: the raw frame holds 10 03 well before its end.
  Bytes raw = {0x00, 0x00, 0x04, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x03, 0x17, 0x10, 0x03};
  MemoryPort port(reader_side(raw));
  DleProtocol dle(&port);
  uint8_t buf[16] = {0x80};
  ASSERT_EQ(dle.transceive(buf, 1, 16, 50), 5);
  EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{0x00, 0x10, 0x10, 0x10, 0x03}));
  EXPECT_EQ(port.consumed(), port.input.size());
  EXPECT_EQ(port.written.back(), 0x10);  // acknowledged
  EXPECT_EQ(dle.sequence(), 1);
}

TEST(Dle, MalformedRepliesFailWithoutTouchingTheBuffer) {
  struct Case {
    const char* what;
    Bytes raw;
  };
  const Case cases[] = {
      {"unpaired DLE before another byte", {0x00, 0x00, 0x01, 0x10, 0x41, 0x50, 0x10, 0x03}},
      {"bad check byte", {0x00, 0x00, 0x01, 0x41, 0x00, 0x10, 0x03}},
      {"end before the length says", {0x00, 0x00, 0x02, 0x41, 0x43, 0x10, 0x03}},
      {"longer than the length says", {0x00, 0x00, 0x00, 0x41, 0x41, 0x10, 0x03}},
      {"DLE followed by something else at the end", {0x00, 0x00, 0x00, 0x00, 0x10, 0x04}},
      {"end inside the header", {0x00, 0x10, 0x03}},
  };
  for (const Case& c : cases) {
    MemoryPort port(reader_side(c.raw));
    DleProtocol dle(&port);
    uint8_t buf[16];
    std::fill(buf, buf + 16, 0xEE);
    buf[0] = 0x80;
    EXPECT_EQ(dle.transceive(buf, 1, 16, 50), -1) << c.what;
    EXPECT_EQ(buf[1], 0xEE) << c.what;
    EXPECT_EQ(dle.sequence(), 0) << c.what;
  }
}

TEST(Dle, ReplyOverCapacityFails) {
  MemoryPort port(reader_side({0x00, 0x00, 0x02, 0x01, 0x02, 0x01, 0x10, 0x03}));
  DleProtocol dle(&port);
  uint8_t buf[8] = {0x80};
  EXPECT_EQ(dle.transceive(buf, 1, 2, 50), -1);
  EXPECT_EQ(dle.sequence(), 0);
}

TEST(Dle, StreamingPeerIsReadOnlyAsFarAsTheFrameCanReach) {
  // Length 5 and then DLE DLE forever: at most 2 * (5 + 6) raw bytes are
  // ever asked for.
  Bytes raw = {0x00, 0x00, 0x05};
  raw.resize(4000, 0x10);
  MemoryPort port(reader_side(raw));
  DleProtocol dle(&port);
  uint8_t buf[300] = {0x80};
  EXPECT_EQ(dle.transceive(buf, 1, 300, 50), -1);
  EXPECT_LE(port.consumed(), 3u + 2 * (5 + 6));

  // A peer sending plain bytes without an end: one byte past the body.
  Bytes plain = {0x00, 0x00, 0x05};
  plain.resize(4000, 0x41);
  MemoryPort port2(reader_side(plain));
  DleProtocol dle2(&port2);
  EXPECT_EQ(dle2.transceive(buf, 1, 300, 50), -1);
  EXPECT_LE(port2.consumed(), 3u + 2 * (5 + 6));
}

TEST(Dle, BadArgumentsFailBeforeAnyIo) {
  MemoryPort port;
  DleProtocol dle(&port);
  std::vector<uint8_t> big(300, 0x01);
  EXPECT_EQ(dle.transceive(big.data(), 257, 16, 50), -1);
  EXPECT_EQ(dle.transceive(big.data(), -1, 16, 50), -1);
  EXPECT_EQ(dle.transceive(big.data(), 1, -1, 50), -1);
  EXPECT_EQ(dle.transceive(nullptr, 1, 16, 50), -1);
  EXPECT_EQ(port.writes, 0);
  EXPECT_TRUE(port.reads.empty());
  DleProtocol none(nullptr);
  EXPECT_EQ(none.transceive(big.data(), 1, 16, 50), -1);
}

// The m6 reader simulator on the far end of an application-supplied socket
// transport, as a "vnet" row would reach it.
class DleOverSocket : public ::testing::Test {
 protected:
  void SetUp() override {
    PortProvider provider;
    socket_transport_provider(&provider, nullptr);
    ProvidedTransport provided{nullptr, provider};
    provider.create("vnet", &provided.transport);
    ASSERT_NE(provided.transport, nullptr);
    reader_ = std::make_unique<M6Reader>(socket_transport_peer(provided.transport),
                                         M6Reader::Framing::kDle);
    bool opened = false;
    port_ = std::make_unique<AdapterPort>(provided, ParamMap{{"name", "127.0.0.1:7001"}}, &opened);
    ASSERT_TRUE(opened);
    dle_ = std::make_unique<DleProtocol>(port_.get());
  }
  std::unique_ptr<M6Reader> reader_;
  std::unique_ptr<AdapterPort> port_;
  std::unique_ptr<DleProtocol> dle_;
};

TEST_F(DleOverSocket, GetVersionAndTheSequenceWrapsAfter255) {
  uint8_t buf[2048];
  for (int i = 0; i < 257; ++i) {
    buf[0] = 0x80;
    ASSERT_EQ(dle_->transceive(buf, 1, 2048, 1000), 3) << i;
    ASSERT_EQ(Bytes(buf, buf + 3), (Bytes{0x00, 0x01, 0x02}));
  }
  Bytes seq = reader_->sequences();
  ASSERT_EQ(seq.size(), 257u);
  EXPECT_EQ(seq[0], 0);
  EXPECT_EQ(seq[255], 255);
  EXPECT_EQ(seq[256], 0);
  EXPECT_EQ(dle_->sequence(), 1);
  EXPECT_TRUE(reader_->waitForAcks(257, 2000));
}

TEST_F(DleOverSocket, DleInEveryField) {
  uint8_t buf[2048];
  // Bring the sequence to 0x10, then send command 0x10 with sixteen data
  // bytes (length 0x10) of 0x10: the reply echoes them.
  for (int i = 0; i < 0x10; ++i) {
    buf[0] = 0x80;
    ASSERT_EQ(dle_->transceive(buf, 1, 2048, 1000), 3);
  }
  Bytes command(17, 0x10);
  std::copy(command.begin(), command.end(), buf);
  ASSERT_EQ(dle_->transceive(buf, 17, 2048, 1000), 17);
  EXPECT_EQ(buf[0], 0x00);
  EXPECT_EQ(Bytes(buf + 1, buf + 17), Bytes(16, 0x10));
  EXPECT_EQ(reader_->sequences().back(), 0x10);
  EXPECT_EQ(reader_->badFrames(), 0);

  // The largest command: 255 data bytes.
  Bytes big(256);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i);
  std::copy(big.begin(), big.end(), buf);
  ASSERT_EQ(dle_->transceive(buf, 256, 2048, 1000), 256);
  EXPECT_EQ(Bytes(buf + 1, buf + 256), Bytes(big.begin() + 1, big.end()));
}

TEST_F(DleOverSocket, SilentReaderFailsWithinTheTimeOut) {
  reader_->pushSilence();
  uint8_t buf[16] = {0x80};
  const Stopwatch start;
  EXPECT_EQ(dle_->transceive(buf, 1, 16, 100), -1);
  auto ms = start.ms();
  EXPECT_LT(ms, 5 * 100);  // at most a few port calls of 100 ms each
  EXPECT_EQ(dle_->sequence(), 0);
}

TEST_F(DleOverSocket, RejectedReplyIsNotAcknowledged) {
  reader_->pushRaw({0x00, 0x00, 0x01, 0x41, 0x00, 0x10, 0x03});  // bad check byte
  uint8_t buf[16] = {0x80};
  EXPECT_EQ(dle_->transceive(buf, 1, 16, 200), -1);
  buf[0] = 0x80;
  EXPECT_EQ(dle_->transceive(buf, 1, 16, 1000), 3);
  EXPECT_EQ(reader_->sequences(), (Bytes{0x00, 0x00}));  // repeated after the failure
  EXPECT_TRUE(reader_->waitForAcks(1, 2000));
  EXPECT_EQ(reader_->acks(), 1);
}

TEST(Dle, OverASerialLine) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  M6Reader reader(pty.releaseMaster(), M6Reader::Framing::kDle);
  bool opened = false;
  ComPort port({{"mode", "direct"}, {"name", pty.slavePath()}, {"baud", "115200"}}, &opened);
  ASSERT_TRUE(opened);
  DleProtocol dle(&port);
  uint8_t buf[2048];
  for (int i = 0; i < 3; ++i) {
    port.purge();
    buf[0] = 0x80;
    ASSERT_EQ(dle.transceive(buf, 1, 2048, 1000), 3) << i;
    EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0x00, 0x01, 0x02}));
  }
  EXPECT_EQ(reader.sequences(), (Bytes{0, 1, 2}));
}

}  // namespace
