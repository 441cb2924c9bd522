#include "connection/stx_etx_protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <memory>
#include <thread>
#include <vector>

#include "connection/com_port.h"
#include "fuzz/memory_port.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"
#include "sim/r42_serial_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Fault = R42SerialSim::Fault;

ParamMap params_for(const std::string& path) {
  return {{"mode", "direct"}, {"name", path}, {"baud", "115200"}};
}

// One exchange with a heap buffer of exactly max(send, capacity) bytes, so
// the address sanitizer sees any write past what the caller gave.
struct Exchange {
  int32_t result;
  Bytes reply;
};
Exchange run(TransportProtocol& protocol, const Bytes& send, int32_t capacity,
             int32_t timeout_ms = 1000) {
  size_t size = std::max(send.size(), size_t(capacity));
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size ? size : 1]);
  std::copy(send.begin(), send.end(), buffer.get());
  int32_t result = protocol.transceive(buffer.get(), int32_t(send.size()), capacity, timeout_ms);
  Bytes reply;
  if (result > 0) reply.assign(buffer.get(), buffer.get() + result);
  return {result, reply};
}

const Bytes kGetver = {0x0F, 0x10, 0x00};
const Bytes kVersion = {0x00, 0x00, 0x00, 0x56, 0x35, 0x2E, 0x31, 0x32};

// The wire images, written out as the reader sends and expects them.
class StxEtxProtocolWire : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    bool opened = false;
    port_ = std::make_unique<ComPort>(params_for(pty_.slavePath()), &opened);
    ASSERT_TRUE(opened);
  }
  PtyPair pty_;
  std::unique_ptr<ComPort> port_;
};

// Against the simulated reader, with its faults.
class StxEtxProtocolSim : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = R42SerialSim::withPty(R42SerialSim::Framing::kStxEtx);
    ASSERT_TRUE(sim_);
    sim_->onCommand(0x0F10, [](const Bytes&) { return kVersion; });
    sim_->start();
    bool opened = false;
    port_ = std::make_unique<ComPort>(params_for(sim_->slavePath()), &opened);
    ASSERT_TRUE(opened);
  }
  std::unique_ptr<R42SerialSim> sim_;
  std::unique_ptr<ComPort> port_;
};

}  // namespace

TEST_F(StxEtxProtocolWire, FramesRequestsAndUnframesReplies) {
  StxEtxProtocol protocol(port_.get());
  struct Case {
    Bytes send, request_wire, reply_wire;
    int32_t capacity, result;
    Bytes reply;
  } cases[] = {
      {kGetver,
       {0x02, 0, 0, 0, 0x03, 0x0F, 0x10, 0x00, 0x1E, 0x03},
       {0x02, 0, 0, 0, 0x08, 0, 0, 0, 0x56, 0x35, 0x2E, 0x31, 0x32, 0x44, 0x03},
       2048, 8, kVersion},
      {kGetver,
       {0x02, 0, 0, 0, 0x03, 0x0F, 0x10, 0x00, 0x1E, 0x03},
       {0x02, 0, 0, 0, 0x03, 0x6A, 0x82, 0x00, 0xE9, 0x03},
       2048, 3, {0x6A, 0x82, 0x00}},
      {{0x01, 0x02}, {0x02, 0, 0, 0, 0x02, 0x01, 0x02, 0x03, 0x03}, {0x02, 0, 0, 0, 0, 0x02, 0x03},
       2048, 0, {}},
      // Send only: a capacity of 0 reads nothing.
      {{0x01, 0x01, 0x00, 0x00, 0x64},
       {0x02, 0, 0, 0, 0x05, 0x01, 0x01, 0x00, 0x00, 0x64, 0x63, 0x03}, {}, 0, 0, {}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(pty_.writeAll(c.reply_wire));
    Exchange e = run(protocol, c.send, c.capacity);
    EXPECT_EQ(e.result, c.result);
    EXPECT_EQ(e.reply, c.reply);
    EXPECT_EQ(pty_.readExact(c.request_wire.size(), 1000), c.request_wire);
    EXPECT_TRUE(pty_.drain(10).empty());
  }
}

TEST_F(StxEtxProtocolWire, ReceiveOnlyAndRefusedArgumentsSendNothing) {
  StxEtxProtocol protocol(port_.get());
  ASSERT_TRUE(pty_.writeAll({0x02, 0, 0, 0, 0x02, 0x90, 0x00, 0x90, 0x03}));
  Exchange e = run(protocol, {}, 8);
  EXPECT_EQ(e.result, 2);
  EXPECT_EQ(e.reply, (Bytes{0x90, 0x00}));

  uint8_t buffer[16] = {1, 2, 3};
  EXPECT_EQ(protocol.transceive(buffer, -1, 8, 100), -1);
  EXPECT_EQ(protocol.transceive(buffer, 3, -1, 100), -1);
  EXPECT_EQ(protocol.transceive(nullptr, 3, 0, 100), -1);
  EXPECT_EQ(protocol.transceive(nullptr, 0, 8, 100), -1);
  EXPECT_EQ(protocol.transceive(nullptr, 0, 0, 100), 0);
  // The frame length would not fit a port length.
  EXPECT_EQ(protocol.transceive(buffer, INT32_MAX - 6, 0, 100), -1);
  EXPECT_EQ(protocol.transceive(buffer, INT32_MAX, 0, 100), -1);
  EXPECT_TRUE(pty_.drain(30).empty());

  StxEtxProtocol unbound(nullptr);
  EXPECT_EQ(unbound.transceive(buffer, 3, 8, 100), -1);
}

TEST(StxEtxProtocol, ReadsStxThenLengthThenRestAndChecksInOrder) {
  MemoryPort port(R42SerialSim::stxFrame({0xAB, 0xCD}));
  StxEtxProtocol protocol(&port);
  uint8_t buffer[2];
  EXPECT_EQ(protocol.transceive(buffer, 0, 2, 100), 2);
  EXPECT_EQ(port.reads, (std::vector<int32_t>{1, 4, 4}));

  // A wrong first byte fails after one read: no search for a later STX.
  MemoryPort wrong({0x03, 0x02, 0, 0, 0, 0, 0x02, 0x03});
  StxEtxProtocol p2(&wrong);
  EXPECT_EQ(p2.transceive(buffer, 0, 2, 100), -1);
  EXPECT_EQ(wrong.reads, (std::vector<int32_t>{1}));

  // A short reply fails before any check reads bytes that never came.
  Bytes frame = R42SerialSim::stxFrame({0xAB, 0xCD});
  frame.pop_back();
  MemoryPort short_port(frame);
  StxEtxProtocol p3(&short_port);
  EXPECT_EQ(p3.transceive(buffer, 0, 2, 100), -1);

  Bytes bad_xor = R42SerialSim::stxFrame({0xAB, 0xCD});
  bad_xor[bad_xor.size() - 2] ^= 1;
  MemoryPort xor_port(bad_xor);
  StxEtxProtocol p4(&xor_port);
  EXPECT_EQ(p4.transceive(buffer, 0, 2, 100), -1);

  Bytes no_etx = R42SerialSim::stxFrame({0xAB, 0xCD});
  no_etx.back() = 0x04;
  MemoryPort etx_port(no_etx);
  StxEtxProtocol p5(&etx_port);
  EXPECT_EQ(p5.transceive(buffer, 0, 2, 100), -1);

  MemoryPort failing;
  failing.fail_from_write = 0;
  StxEtxProtocol p6(&failing);
  EXPECT_EQ(p6.transceive(buffer, 2, 2, 100), -1);
  EXPECT_TRUE(failing.reads.empty());
}

TEST(StxEtxProtocol, OverlongReplyIsDrainedInSmallPiecesThenRefused) {
  // Length 10 with capacity 8: read in full, then -1.
  Bytes long_frame = R42SerialSim::stxFrame(Bytes(10, 0x77));
  MemoryPort port(long_frame);
  StxEtxProtocol protocol(&port);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[8]);
  EXPECT_EQ(protocol.transceive(buffer.get(), 0, 8, 100), -1);
  EXPECT_EQ(port.consumed(), long_frame.size());

  // A length near 4 GiB from a peer that then goes quiet: nothing is sized
  // by it, and the drain stops at the first failed read.
  MemoryPort huge({0x02, 0xFF, 0xFF, 0xFF, 0xF0, 1, 2, 3});
  StxEtxProtocol p2(&huge);
  EXPECT_EQ(p2.transceive(buffer.get(), 0, 8, 100), -1);
  for (size_t i = 2; i < huge.reads.size(); ++i) EXPECT_LE(huge.reads[i], 256);
  EXPECT_LE(huge.reads.size(), 4u);

  // A length field with the top bit set is not a negative port length.
  MemoryPort negative({0x02, 0x80, 0x00, 0x00, 0x01});
  StxEtxProtocol p3(&negative);
  EXPECT_EQ(p3.transceive(buffer.get(), 0, 8, 100), -1);
  for (int32_t length : negative.reads) EXPECT_GE(length, 0);
}

TEST_F(StxEtxProtocolSim, AnswersTheMainRoadAndRecordsRequests) {
  StxEtxProtocol protocol(port_.get());
  Exchange e = run(protocol, kGetver, 2048);
  EXPECT_EQ(e.result, 8);
  EXPECT_EQ(e.reply, kVersion);
  ASSERT_EQ(sim_->requests().size(), 1u);
  EXPECT_EQ(sim_->requests()[0], kGetver);
}

TEST_F(StxEtxProtocolSim, RejectsDamagedRepliesPromptly) {
  StxEtxProtocol protocol(port_.get());
  for (Fault kind : {Fault::kWrongFirstByte, Fault::kBadXor, Fault::kMissingEtx}) {
    R42SerialSim::FaultPlan fault;
    fault.kind = kind;
    sim_->injectFault(fault);
    const Stopwatch start;
    EXPECT_EQ(run(protocol, kGetver, 2048, 3000).result, -1) << int(kind);
    EXPECT_LT(start.ms(), 2500);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port_->purge();
  }
  EXPECT_EQ(run(protocol, kGetver, 2048).result, 8);
}

TEST_F(StxEtxProtocolSim, CapacityBoundaryLeavesTheLineCleanForTheNextCommand) {
  StxEtxProtocol protocol(port_.get());
  R42SerialSim::FaultPlan fault;
  fault.kind = Fault::kOversize;
  fault.length = 64;
  fault.repeat = true;
  sim_->injectFault(fault);
  EXPECT_EQ(run(protocol, kGetver, 64).result, 64);
  Exchange over = run(protocol, kGetver, 63);
  EXPECT_EQ(over.result, -1);
  // No purge in between: the refused body was consumed.
  sim_->clearFaults();
  Exchange next = run(protocol, kGetver, 63);
  EXPECT_EQ(next.result, 8);
  EXPECT_EQ(next.reply, kVersion);
}

TEST_F(StxEtxProtocolSim, SilenceAndTruncationFailAtTheTimeOut) {
  StxEtxProtocol protocol(port_.get());
  for (Fault kind : {Fault::kHugeLength, Fault::kPartial, Fault::kSilence}) {
    R42SerialSim::FaultPlan fault;
    fault.kind = kind;
    sim_->injectFault(fault);
    const Stopwatch start;
    EXPECT_EQ(run(protocol, kGetver, 2048, 150).result, -1) << int(kind);
    const long elapsed = start.ms();
    EXPECT_GE(elapsed, 150) << int(kind);
    // The huge length is drained under one more time-out at most.
    EXPECT_LT(elapsed, 2000) << int(kind);
    port_->purge();
  }
}

TEST_F(StxEtxProtocolSim, WaitsThroughDelaysAndBursts) {
  StxEtxProtocol protocol(port_.get());
  R42SerialSim::FaultPlan late;
  late.kind = Fault::kNone;
  late.delay_ms = 50;
  sim_->injectFault(late);
  EXPECT_EQ(run(protocol, kGetver, 2048).result, 8);

  R42SerialSim::FaultPlan bursts;
  bursts.kind = Fault::kBursts;
  bursts.length = 2;
  bursts.gap_ms = 15;
  sim_->injectFault(bursts);
  Exchange e = run(protocol, kGetver, 2048);
  EXPECT_EQ(e.result, 8);
  EXPECT_EQ(e.reply, kVersion);
}

TEST_F(StxEtxProtocolSim, PurgeDropsAStaleDuplicateReply) {
  int counter = 0;
  sim_->onCommand(0x0F10, [&](const Bytes&) { return Bytes{0x00, 0x00, uint8_t(++counter)}; });
  StxEtxProtocol protocol(port_.get());
  R42SerialSim::FaultPlan stale;
  stale.kind = Fault::kStaleBytes;
  sim_->injectFault(stale);
  EXPECT_EQ(run(protocol, kGetver, 2048).reply, (Bytes{0, 0, 1}));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  port_->purge();
  EXPECT_EQ(run(protocol, kGetver, 2048).reply, (Bytes{0, 0, 2}));
}

TEST_F(StxEtxProtocolSim, HangUpFailsLongBeforeTheTimeOut) {
  StxEtxProtocol protocol(port_.get());
  R42SerialSim::FaultPlan fault;
  fault.kind = Fault::kHangUp;
  sim_->injectFault(fault);
  const Stopwatch start;
  EXPECT_EQ(run(protocol, kGetver, 2048, 30000).result, -1);
  EXPECT_LT(start.ms(), 5000);
}

TEST_F(StxEtxProtocolSim, ReaderForgetsACutOffRequestAfterQuiet) {
  // A request cut short (a write that timed out) must not swallow the next.
  const Bytes cut = {0x02, 0x00, 0x00, 0x00, 0x03, 0x0F};
  ASSERT_TRUE(port_->write(cut.data(), int32_t(cut.size()), 1000));
  // The reader drops the fragment after 50 ms of quiet, counted from when
  // its thread got to read it.
  ASSERT_TRUE(wait_until([&] { return sim_->badFrames() >= 1; }));
  StxEtxProtocol protocol(port_.get());
  EXPECT_EQ(run(protocol, kGetver, 2048).result, 8);
  EXPECT_EQ(sim_->requestCount(), 1u);
}
