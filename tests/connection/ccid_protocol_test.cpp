#include "connection/ccid_protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <memory>
#include <thread>
#include <vector>

#include "connection/com_port.h"
#include "fuzz/memory_port.h"
#include "sim/pty_pair.h"
#include "sim/r42_serial_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Fault = R42SerialSim::Fault;

const Bytes kGetver = {0x0F, 0x10, 0x00};
const Bytes kVersion = {0x00, 0x00, 0x00, 0x56, 0x35, 0x2E, 0x31, 0x32};

int32_t run(TransportProtocol& protocol, const Bytes& send, int32_t capacity, Bytes* reply,
            int32_t timeout_ms = 1000) {
  size_t size = std::max(send.size(), size_t(capacity));
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size ? size : 1]);
  std::copy(send.begin(), send.end(), buffer.get());
  int32_t result = protocol.transceive(buffer.get(), int32_t(send.size()), capacity, timeout_ms);
  if (reply) reply->assign(buffer.get(), buffer.get() + (result > 0 ? result : 0));
  return result;
}

}  // namespace

TEST(CcidProtocol, WrapsRequestsAndUnwrapsRepliesOnTheWire) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  bool opened = false;
  ComPort port({{"mode", "direct"}, {"name", pty.slavePath()}, {"baud", "115200"}}, &opened);
  ASSERT_TRUE(opened);
  CcidProtocol protocol(&port);

  ASSERT_TRUE(pty.writeAll({0x80, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 0x08, 0, 0, 0,
                            0x56, 0x35, 0x2E, 0x31, 0x32, 0x44, 0x03}));
  Bytes reply;
  EXPECT_EQ(run(protocol, kGetver, 2048, &reply), 8);
  EXPECT_EQ(reply, kVersion);
  EXPECT_EQ(pty.readExact(20, 1000), (Bytes{0x6F, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0,
                                            0x03, 0x0F, 0x10, 0x00, 0x1E, 0x03}));

  EXPECT_EQ(run(protocol, {0x01, 0x02}, 0, &reply), 0);
  EXPECT_EQ(pty.readExact(19, 1000), (Bytes{0x6F, 0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0,
                                            0x02, 0x01, 0x02, 0x03, 0x03}));

  uint8_t buffer[8] = {};
  EXPECT_EQ(protocol.transceive(buffer, -1, 8, 100), -1);
  EXPECT_EQ(protocol.transceive(buffer, 2, -1, 100), -1);
  EXPECT_EQ(protocol.transceive(nullptr, 2, 0, 100), -1);
  EXPECT_EQ(protocol.transceive(buffer, INT32_MAX - 16, 0, 100), -1);
  EXPECT_TRUE(pty.drain(30).empty());
}

TEST(CcidProtocol, ChecksOnlyTheHeaderTypeThenTheInnerFrame) {
  Bytes frame = R42SerialSim::ccidReply({0x90, 0x00});
  // Header length, slot, sequence and status bytes are not looked at.
  for (size_t i = 1; i < 10; ++i) frame[i] = 0xEE;
  MemoryPort port(frame);
  CcidProtocol protocol(&port);
  Bytes reply;
  EXPECT_EQ(run(protocol, {}, 2, &reply), 2);
  EXPECT_EQ(reply, (Bytes{0x90, 0x00}));
  EXPECT_EQ(port.reads, (std::vector<int32_t>{10, 1, 4, 4}));

  Bytes wrong = R42SerialSim::ccidReply({0x90, 0x00});
  wrong[0] = 0x81;
  MemoryPort wrong_port(wrong);
  CcidProtocol p2(&wrong_port);
  EXPECT_EQ(run(p2, {}, 2, &reply), -1);
  EXPECT_EQ(wrong_port.reads, (std::vector<int32_t>{10}));

  Bytes bad_stx = R42SerialSim::ccidReply({0x90, 0x00});
  bad_stx[10] = 0x12;
  MemoryPort stx_port(bad_stx);
  CcidProtocol p3(&stx_port);
  EXPECT_EQ(run(p3, {}, 2, &reply), -1);

  Bytes long_reply = R42SerialSim::ccidReply(Bytes(10, 1));
  MemoryPort long_port(long_reply);
  CcidProtocol p4(&long_port);
  EXPECT_EQ(run(p4, {}, 8, &reply), -1);
  EXPECT_EQ(long_port.consumed(), long_reply.size());
}

TEST(CcidProtocol, WorksAgainstTheSimulatedReaderWithFaults) {
  auto sim = R42SerialSim::withPty(R42SerialSim::Framing::kCcid);
  ASSERT_TRUE(sim);
  sim->onCommand(0x0F10, [](const Bytes&) { return kVersion; });
  sim->start();
  bool opened = false;
  ComPort port({{"mode", "direct"}, {"name", sim->slavePath()}, {"baud", "115200"}}, &opened);
  ASSERT_TRUE(opened);
  CcidProtocol protocol(&port);

  Bytes reply;
  EXPECT_EQ(run(protocol, kGetver, 2048, &reply), 8);
  EXPECT_EQ(reply, kVersion);
  EXPECT_EQ(sim->requests().back(), kGetver);

  for (Fault kind : {Fault::kWrongFirstByte, Fault::kBadXor, Fault::kMissingEtx, Fault::kPartial,
                     Fault::kHugeLength}) {
    R42SerialSim::FaultPlan fault;
    fault.kind = kind;
    sim->injectFault(fault);
    EXPECT_EQ(run(protocol, kGetver, 2048, &reply, 200), -1) << int(kind);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.purge();
  }
  R42SerialSim::FaultPlan oversize;
  oversize.kind = Fault::kOversize;
  oversize.length = 9;
  sim->injectFault(oversize);
  EXPECT_EQ(run(protocol, kGetver, 8, &reply), -1);
  EXPECT_EQ(run(protocol, kGetver, 8, &reply), 8);
}
