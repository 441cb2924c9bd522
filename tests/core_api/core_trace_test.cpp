// The per-day call trace: which lines each level writes, their forms and
// order, file modes, and what the frame does with odd values.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "core_api/call_frame.h"
#include "core_test_support.h"

namespace {

using Lines = std::vector<std::string>;

const char* const kReadData = "A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5";

Lines read_lines(TraceDir& dir, int level, int32_t icdev, int16_t answer, int16_t* result = nullptr) {
  set_trace_level(level);
  InstalledDevice device;
  device->answer = answer;
  uint8_t data[16] = {};
  const int16_t r = kx_read(icdev, 4, data);
  if (result) *result = r;
  set_trace_level(0);
  return dir.lines();
}

TEST(CoreTrace, ReadAtEachLevel) {
  {
    TraceDir dir;
    int16_t result = 1;
    const Lines lines = read_lines(dir, 2, 80, 0, &result);
    EXPECT_EQ(result, 0);
    const Lines expected = {
        "function:[len:7]kx_read",
        "  parameter:[icdev[in]][len:10]0x00000050",
        "  parameter:[_Adr[in]][len:1]4",
        std::string("  parameter:[_Data[out]][len:16]") + std::string(kReadData, 32),
        "  return:[len:1]0",
    };
    EXPECT_EQ(lines, expected);
  }
  {
    TraceDir dir;
    EXPECT_EQ(read_lines(dir, 3, 80, 0).size(), 5u);
  }
  {
    TraceDir dir;
    const Lines expected = {"function:[len:7]kx_read", "  return:[len:1]0"};
    EXPECT_EQ(read_lines(dir, 1, 80, 0), expected);
  }
  for (int level : {0, -1}) {
    TraceDir dir;
    EXPECT_TRUE(read_lines(dir, level, 80, 0).empty());
    EXPECT_FALSE(std::filesystem::exists(dir.logDir())) << level;
  }
  {
    // Level 4: the folder and the file are made, nothing is written.
    TraceDir dir;
    EXPECT_TRUE(read_lines(dir, 4, 80, 0).empty());
    EXPECT_TRUE(dir.exists());
    EXPECT_EQ(std::filesystem::file_size(dir.dayFile("func")), 0u);
  }
}

TEST(CoreTrace, BadHandleShowsInputsAndMinusOne) {
  TraceDir dir;
  int16_t result = 0;
  const Lines lines = read_lines(dir, 2, 79, 0, &result);
  EXPECT_EQ(result, -1);
  const Lines expected = {
      "function:[len:7]kx_read",
      "  parameter:[icdev[in]][len:10]0x0000004F",
      "  parameter:[_Adr[in]][len:1]4",
      "  return:[len:2]-1",
  };
  EXPECT_EQ(lines, expected);
}

TEST(CoreTrace, FailedOrPositiveResultsTraceNoOutputs) {
  for (int16_t answer : {-2, 1}) {
    TraceDir dir;
    int16_t result = 0;
    const Lines lines = read_lines(dir, 2, 80, answer, &result);
    EXPECT_EQ(result, answer);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines.back(), "  return:[len:" + std::to_string(answer < 0 ? 2 : 1) + "]" +
                                std::to_string(answer));
  }
}

TEST(CoreTrace, OutputsAfterInputsCountedByOutputLength) {
  TraceDir dir;
  set_trace_level(2);
  InstalledDevice device;
  device->out_value = 3;
  const uint8_t apdu[] = {0x00, 0xA4, 0x04, 0x00, 0x02};
  uint8_t rlen = 0;
  uint8_t reply[300] = {};
  ASSERT_EQ(kx_pro_command(device.handle(), 5, apdu, &rlen, reply, 7), 0);
  const Lines expected = {
      "function:[len:14]kx_pro_command",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[slen[in]][len:1]5",
      "  parameter:[sendbuffer[in]][len:5]00A4040002",
      "  parameter:[timeout[in]][len:1]7",
      "  parameter:[rlen[out]][len:1]3",
      "  parameter:[databuffer[out]][len:3]A5A5A5",
      "  return:[len:1]0",
  };
  EXPECT_EQ(dir.lines(), expected);
}

TEST(CoreTrace, IrregularMembers) {
  TraceDir dir;
  set_trace_level(2);
  InstalledDevice device;
  const uint8_t t1[] = {1, 2}, t2[] = {3}, t3[] = {9, 9, 9};
  ASSERT_EQ(kx_writemagcard(device.handle(), 5, t1, 2, t2, 1, t3, 3), 0);
  ASSERT_EQ(device->calls.size(), 1u);
  EXPECT_EQ(device->calls[0].args.size(), 8u);  // track 3 still reaches the device
  ASSERT_EQ(kx_initval_ml(device.handle(), 0x1234), 0);
  device->out_value = 0xBEEF;
  uint16_t value = 0;
  ASSERT_EQ(kx_readval_ml(device.handle(), &value), 0);
  uint8_t buffer[16] = {};
  ASSERT_EQ(swr_alleeprom(device.handle(), 0, 2, buffer), 0);
  ASSERT_EQ(kx_srd_eeprom(device.handle(), 0, 0, buffer), 0);
  ASSERT_EQ(kx_srd_eeprom(device.handle(), 0, -5, buffer), 0);
  const Lines expected = {
      "function:[len:15]kx_writemagcard",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[ctime[in]][len:1]5",
      "  parameter:[pTrack1Data[in]][len:2]0102",
      "  parameter:[pTrack1Len[in]][len:1]2",
      "  parameter:[pTrack2Data[in]][len:1]03",
      "  parameter:[pTrack2Len[in]][len:1]1",
      "  return:[len:1]0",
      "function:[len:13]kx_initval_ml",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[_Value[in]][len:10]0x00001234",
      "  return:[len:1]0",
      "function:[len:13]kx_readval_ml",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[_Value[out]][len:10]0x0000BEEF",
      "  return:[len:1]0",
      "function:[len:13]swr_alleeprom",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[offset[in]][len:1]0",
      "  parameter:[length[in]][len:1]2",
      "  parameter:[snd_buffer[in]][len:2]0000",
      "  return:[len:1]0",
      "function:[len:13]kx_srd_eeprom",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[offset[in]][len:1]0",
      "  parameter:[length[in]][len:1]0",
      "  parameter:[rec_buffer[out]][len:0]",
      "  return:[len:1]0",
      "function:[len:13]kx_srd_eeprom",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[offset[in]][len:1]0",
      "  parameter:[length[in]][len:2]-5",
      "  parameter:[rec_buffer[out]][len:0]",
      "  return:[len:1]0",
  };
  EXPECT_EQ(dir.lines(), expected);
}

TEST(CoreTrace, NullValuesAreNeverDereferenced) {
  TraceDir dir;
  set_trace_level(2);
  InstalledDevice device;
  device->write_outputs = false;
  // A device that reports success without touching null outputs.
  ASSERT_EQ(kx_pro_command(device.handle(), 3, nullptr, nullptr, nullptr, 1), 0);
  ASSERT_EQ(kx_disp_str(device.handle(), nullptr), 0);
  ASSERT_EQ(kx_getname(device.handle(), nullptr), 0);
  const Lines expected = {
      "function:[len:14]kx_pro_command",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[slen[in]][len:1]3",
      "  parameter:[sendbuffer[in]][len:6](null)",
      "  parameter:[timeout[in]][len:1]1",
      "  parameter:[rlen[out]][len:6](null)",
      "  parameter:[databuffer[out]][len:6](null)",
      "  return:[len:1]0",
      "function:[len:11]kx_disp_str",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[dispstr[in]][len:6](null)",
      "  return:[len:1]0",
      "function:[len:10]kx_getname",
      "  parameter:[icdev[in]][len:10]0x00000050",
      "  parameter:[name[out]][len:6](null)",
      "  return:[len:1]0",
  };
  EXPECT_EQ(dir.lines(), expected);
}

TEST(CoreTrace, UntracedEntriesLeaveTheFileAlone) {
  for (int level : {1, 2, 3, 4}) {
    TraceDir dir;
    set_trace_level(level);
    InstalledDevice device;
    uint8_t buffer[64] = {};
    EXPECT_EQ(kx_DeviceCommand0F01(device.handle()), 0);
    EXPECT_EQ(kx_DeviceQuery0F13(device.handle(), buffer), 0);
    EXPECT_EQ(kx_ReadEepromRaw(device.handle(), 0, 4, buffer), 0);
    EXPECT_EQ(kx_WriteEepromRaw(device.handle(), 0, 4, buffer), 0);
    EXPECT_EQ(kx_SetDeviceUid(device.handle(), "u"), 0);
    EXPECT_EQ(kx_SetDeviceTradeNumber(device.handle(), "t"), 0);
    EXPECT_EQ(kx_SetDeviceTerminalNumber(device.handle(), "n"), 0);
    EXPECT_EQ(kx_not_supported_1(80), -1);
    EXPECT_EQ(kx_not_supported_2(80), -1);
    EXPECT_EQ(bytes_to_hex_text(buffer, reinterpret_cast<char*>(buffer + 8), 2), 0);
    EXPECT_FALSE(dir.exists()) << level;
    EXPECT_EQ(device->calls.size(), 7u);
  }
}

TEST(CoreTrace, FileAndFolderModes) {
  TraceDir dir;
  const mode_t old = umask(0);
  read_lines(dir, 2, 80, 0);
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat(dir.logDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(dir.dayFile("func").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(CoreTrace, LineHelpersFollowTheLevel) {
  TraceDir dir;
  const uint8_t bytes[] = {0x0A, 0x1B, 0xFF};
  for (int level : {0, 1, 2, 4}) {
    set_trace_level(level);
    TraceFile file(BuildTraceLogPath().c_str());
    TraceLine(file, kTraceFunction, "f", "function:", "");
    TraceLine(file, kTraceParameter, nullptr, "  parameter:[p[in]]", "");
    TraceData(file, kTraceParameter, bytes, 3, "  parameter:[b[in]]", "");
    TraceData(file, kTraceParameter, bytes, -4, "  parameter:[n[in]]", "");
    TraceData(file, kTraceParameter, nullptr, 3, "  parameter:[z[in]]", "");
    TraceData(file, kTraceReturn, bytes, 1, "  return:", "");
  }
  set_trace_level(0);
  const Lines expected = {
      // level 1
      "function:[len:1]f",
      "  return:[len:1]0A",
      // level 2
      "function:[len:1]f",
      "  parameter:[p[in]][len:6](null)",
      "  parameter:[b[in]][len:3]0A1BFF",
      "  parameter:[n[in]][len:0]",
      "  parameter:[z[in]][len:6](null)",
      "  return:[len:1]0A",
  };
  EXPECT_EQ(dir.lines(), expected);
}

// An existing directory prefix of exactly `total` characters, ending in '/',
// made of components short enough for the file system.
std::string nested_prefix(const std::string& root, size_t total) {
  const size_t remaining = total - root.size();
  const size_t parts = (remaining + 200) / 201;
  std::string prefix = root;
  for (size_t i = 0; i < parts; ++i) {
    const size_t length = remaining / parts + (i == 0 ? remaining % parts : 0);
    prefix += std::string(length - 1, 'd') + "/";
  }
  std::filesystem::create_directories(prefix);
  return prefix;
}

TEST(CoreTrace, OverlongDirectorySkipsTheTraceNotTheCall) {
  TraceDir dir;
  // 2030 characters: the day's path would not fit its field.
  std::string prefix = nested_prefix(dir.root(), 2030);
  ASSERT_EQ(prefix.size(), 2030u);
  CoreConfigure(KX_CFG_DIRECTORY, prefix.data());
  set_trace_level(2);
  InstalledDevice device;
  uint8_t data[16];
  EXPECT_EQ(kx_read(device.handle(), 4, data), 0);
  EXPECT_EQ(device->calls.size(), 1u);
  set_trace_level(0);
  EXPECT_FALSE(std::filesystem::exists(prefix + "kxrf32log"));

  // The longest directory that still fits traces as usual.
  std::string fits = nested_prefix(dir.root() + "f/", 2021);
  ASSERT_EQ(fits.size(), 2021u);
  CoreConfigure(KX_CFG_DIRECTORY, fits.data());
  set_trace_level(1);
  EXPECT_EQ(kx_read(device.handle(), 4, data), 0);
  set_trace_level(0);
  EXPECT_TRUE(std::filesystem::exists(fits + "kxrf32log"));
}

}  // namespace
