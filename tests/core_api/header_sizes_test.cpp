// The public header says how large each output buffer must be. For a few
// declarations, the r42 device is given the longest reply its command can
// bring, and what it writes must end exactly where the header says, or
// where r42's own figure says when another family writes more.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "connection/hid_stx_protocol.h"
#include "connection/m6_port_helpers.h"
#include "sim/memory_readers.h"
#include "sim/wire_table.h"

namespace {

// The number the header's "Writes at most" comment gives for `buffer` of
// `function`; -1 when the comment or the buffer is missing or not a number.
long header_size(const std::string& function, const std::string& buffer) {
  std::ifstream in(std::string(QM_TEST_SOURCE_DIR) + "/include/kx_core.h");
  const std::regex comment(R"(^/\* Writes at most: (.*)\. \*/$)");
  const std::regex declaration("^QM_API [^(]*[ *]" + function + R"(\()");
  std::string line, sizes;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, comment)) {
      sizes = m[1];
      continue;
    }
    if (std::regex_search(line, declaration)) {
      const std::regex entry("(^|; )" + buffer + R"( (\d+) bytes)");
      return std::regex_search(sizes, m, entry) ? std::atol(m[2].str().c_str()) : -1;
    }
    sizes.clear();
  }
  return -1;
}

// Bytes written into a buffer that held kWireFill throughout.
size_t written(const std::vector<uint8_t>& out) {
  size_t end = out.size();
  while (end > 0 && out[end - 1] == kWireFill) --end;
  return end;
}

// A success reply of `size` bytes (by default one that fills the 2048-byte
// buffer): status word and spare byte, `head`, then data.
std::vector<uint8_t> reply_of(std::vector<uint8_t> head = {}, size_t size = 2048) {
  std::vector<uint8_t> reply = wire_pattern(size, 0x41);
  reply[0] = reply[1] = reply[2] = 0x00;
  std::copy(head.begin(), head.end(), reply.begin() + 3);
  return reply;
}
char* text(uint8_t* out) { return reinterpret_cast<char*>(out); }

struct Case {
  const char* function;
  const char* buffer;
  std::vector<uint8_t> reply;
  std::function<int32_t(ReaderDevice&, uint8_t*)> call;
  // r42's most, below the header's; 0: the header's figure.
  long r42_most = 0;
};

TEST(HeaderSizes, TheLongestReplyFillsWhatTheHeaderSaysAndNoMore) {
  int32_t length = 0;
  uint8_t short_length = 0;
  const uint8_t apdu[] = {0x00, 0x84, 0x00, 0x00, 0x08};
  const std::vector<Case> cases = {
      {"kx_getver", "sver", reply_of(),
       [](ReaderDevice& d, uint8_t* out) { return d.getver(kIcdev, text(out)); }},
      {"kx_ReadRfTypeABATS", "ats", reply_of(),
       [&](ReaderDevice& d, uint8_t* out) { return d.ReadRfTypeABATS(kIcdev, &length, out); }},
      {"kx_ReadRfTypeABATS_hex", "ats", reply_of(),
       [&](ReaderDevice& d, uint8_t* out) {
         return d.ReadRfTypeABATS_hex(kIcdev, &length, text(out));
       }},
      // A BE16 count, then that many bytes.
      {"kx_pro_commandlinkInt", "databuffer", reply_of({0x07, 0xFB}),
       [&](ReaderDevice& d, uint8_t* out) {
         return d.pro_commandlinkInt(kIcdev, sizeof apdu, apdu, &length, out, 7);
       },
       // m6 runs the block protocol on the host: up to 65538 bytes.
       2043},
      // A module status, a BE16 count and that many bytes.
      {"kx_KeypadOpen", "version", reply_of({0x00, 0x00}),
       [](ReaderDevice& d, uint8_t* out) { return d.KeypadOpen(kIcdev, 1, text(out)); }},
      {"kx_pass_key_value2", "cpass", reply_of({}, 3 + 255),
       [&](ReaderDevice& d, uint8_t* out) {
         return d.pass_key_value2(kIcdev, 5, &short_length, text(out));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    const long size = header_size(c.function, c.buffer);
    ASSERT_GT(size, 0) << "no size in the header";
    R42MemoryReader reader;
    reader.wire.scriptReply(c.reply);
    std::vector<uint8_t> out(kWireOutSize, kWireFill);
    ASSERT_EQ(c.call(reader.device, out.data()), 0);
    EXPECT_LE(c.r42_most, size);
    EXPECT_EQ(long(written(out)), c.r42_most ? c.r42_most : size);
  }
}

// An m6 reader's longest report frame: its status and 2040 bytes.
TEST(HeaderSizes, TheLongestReportFrameOfAnM6Reader) {
  M6OverUsb usb(M6Reader::Framing::kHidStx);
  ASSERT_TRUE(usb.opened);
  HidStxProtocol stx(&usb.port);
  M6Device device("m6-u", &usb.port, &stx);
  std::vector<uint8_t> reply = wire_pattern(2041, 0x41);
  reply[0] = 0x00;
  usb.reader.model().scriptReply(0xDB, reply);
  std::vector<uint8_t> out(kWireOutSize, kWireFill);
  int32_t length = 0;
  ASSERT_EQ(device.op_2dot4_command(kIcdev, 0, nullptr, &length, out.data(), 5), 0);
  EXPECT_EQ(long(written(out)), header_size("kx_2dot4_command", "recvbuffer"));
}

}  // namespace
