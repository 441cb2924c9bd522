// An RF setting read through the core on a simulated r42 reader behind a
// pseudo-terminal: the frames on the line, the value written whole and its
// trace line.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "r42_serial_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(CoreOpsR42Rf, ConfigRegisterReadByteForByteWithItsTrace) {
  TraceDir dir;
  SerialReader reader;
  ASSERT_OPEN(reader);
  // The reader answers 02 00 00 00 04 00 00 00 80 86 03.
  reader.model.scriptReply(0x0427, hx("00 00 00 80"));
  int32_t value = int32_t(0xA5A5A5A5);
  set_trace_level(2);
  EXPECT_EQ(kx_ReadRfCfgReg(kHandle, 1, 2, &value), 0);
  set_trace_level(0);
  EXPECT_EQ(value, 128);
  ASSERT_EQ(reader.requests().size(), 1u);
  EXPECT_EQ(R42SerialSim::stxFrame(reader.requests()[0]), hx("02 00 00 00 05 04 27 00 01 02 27 03"));
  const std::vector<std::string> lines = dir.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), trace_lines::fn("kx_ReadRfCfgReg"));
  EXPECT_EQ(lines.back(), "  return:[len:1]0");
  EXPECT_EQ(lines[lines.size() - 2], "  parameter:[value[out]][len:3]128");

  // A kind past its byte never reaches the line, and the value stays.
  value = int32_t(0xA5A5A5A5);
  EXPECT_EQ(kx_ReadRfCfgReg(kHandle, 256, 2, &value), -1);
  EXPECT_EQ(value, int32_t(0xA5A5A5A5));
  EXPECT_EQ(reader.requests().size(), 1u);
}

}  // namespace
