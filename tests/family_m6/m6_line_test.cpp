// The m6 device end to end where real waits matter: a serial port on a
// pseudo-terminal, the DLE framing, and a simulated m6 reader on the far end.
// Reply shapes are tested in memory (m6_probe_test.cpp), the framing on
// bytes, and the open over this line in the core's main road.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "connection/com_port.h"
#include "connection/dle_protocol.h"
#include "family_m6/m6_device.h"
#include "sim/m6_reader.h"
#include "sim/process_probe.h"
#include "sim/pty_pair.h"

namespace {

struct M6Line {
  M6Line() {
    reader = std::make_unique<M6Reader>(pty.releaseMaster(), M6Reader::Framing::kDle);
    bool opened = false;
    port = std::make_unique<ComPort>(
        ParamMap{{"mode", "direct"}, {"name", pty.slavePath()}, {"baud", "9600"}}, &opened);
    EXPECT_TRUE(opened);
    protocol = std::make_unique<DleProtocol>(port.get());
    device = std::make_unique<M6Device>("m6-s9600", port.get(), protocol.get());
  }
  // Destroyed in the reverse of this order: the device before its port,
  // the reader before its pseudo-terminal.
  PtyPair pty;
  std::unique_ptr<M6Reader> reader;
  std::unique_ptr<ComPort> port;
  std::unique_ptr<DleProtocol> protocol;
  std::unique_ptr<M6Device> device;
};

TEST(M6Probe, OverTheLineSilentReaderCostsTwoShortWaits) {
  M6Line line;
  line.reader->pushSilence();
  line.reader->pushSilence();
  char version[3] = {};
  Stopwatch watch;
  const double cpu_before = process_cpu_ms();
  EXPECT_EQ(line.device->getver(0, version), -1);
  int64_t elapsed = watch.ms();
  EXPECT_GE(elapsed, 2 * 200 - 20);
  EXPECT_LT(elapsed, 2 * 200 + 600) << "the probe gives up after its 200 ms, twice";
  EXPECT_LT(process_cpu_ms() - cpu_before, 200.0) << "waiting does not spin";
}

// The pass-through gives the microcontroller (ctimeout + 5) x 1120 ms in all
// to answer, however each attempt to receive ends, and waits without
// spinning.
void expect_mcu_gives_up(M6Line& line) {
  const uint8_t command[1] = {0x55};
  uint8_t rlen = 0, data[256];
  Stopwatch watch;
  const double cpu_before = thread_cpu_ms();
  EXPECT_EQ(line.device->KXDEV_CommandMcu(80, 0, 1, command, &rlen, data), -1);
  const int64_t elapsed = watch.ms();
  EXPECT_GE(elapsed, 5600 - 20);
  EXPECT_LT(elapsed, 5600 + 1500);
  EXPECT_LT(thread_cpu_ms() - cpu_before, 50.0) << "waiting does not spin";
}

TEST(M6Line, SilentMcuEndsAtTheDeadline) {
  M6Line line;
  line.reader->setReplyDelay(30000);
  expect_mcu_gives_up(line);
}

TEST(M6Line, HangUpDuringTheWaitEndsByTheDeadline) {
  M6Line line;
  line.reader->setReplyDelay(30000);
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    line.reader.reset();
  });
  expect_mcu_gives_up(line);
  unplug.join();
}

}  // namespace
