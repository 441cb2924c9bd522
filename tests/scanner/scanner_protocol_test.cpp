#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "scanner/environment.h"
#include "scanner/kovra_api.h"
#include "scanner/receive_ring.h"
#include "sim/process_probe.h"
#include "sim/scanner_sim.h"
#include "sim/wire_table.h"

namespace {

using Row = StreamRow<ScannerMemoryReader>;
using Call = StreamCall<ScannerMemoryReader>;

const WireBytes kDigits = "31 32 33 34 35 36 37 38 39";

// A call that reports its reply length as text, for rows about the length.
int32_t command21(Call& c, std::vector<uint8_t> payload, int32_t capacity) {
  std::vector<uint8_t> reply(size_t(std::max(capacity, 1)));
  int32_t length = -99;
  const int32_t r = KOVRA_Command21(payload.data(), int32_t(payload.size()), reply.data(),
                                    capacity, &length);
  std::snprintf(c.text(), 16, "%d", length);
  return r;
}

int32_t read_block(Call& c, uint8_t block, int32_t capacity) {
  int32_t length = 0;
  const int32_t r = KOVRA_ReadDataBlock(block, c.bytes(), capacity, &length);
  return r == 1 ? length : r;
}

int32_t bulk(Call& c, int32_t capacity) {
  int32_t first = 0, second = 0;
  const int32_t r = KOVRA_ReadBulkData(c.bytes(), &capacity, &first, &second);
  return r == 1 ? capacity << 16 | first << 8 | second : r;
}

std::vector<uint8_t> big_set_reply() {
  std::vector<uint8_t> reply = wire_pattern(5000, 9);
  reply[0] = 0x22, reply[1] = 0x01, reply[2] = 0x02;
  return reply;
}

const Row kRows[] = {
    // Settings, scanning and the echoed classes.
    Row("set_mode", [](Call&) { return KOVRA_SetMode(0); })
        .sends("21 61 41 00 00").answer("22 61 41 00 00").gives(1),
    Row("set_b", [](Call&) { return KOVRA_Set_bA(3) + KOVRA_Set_bB(4); })
        .sends("21 62 41 03 00").answer("22").sends("21 62 42 04 00").answer("22").gives(2),
    Row("start_then_stop_scan", [](Call&) { return KOVRA_StartScan() + 2 * KOVRA_StopScan(); })
        .sends("32 75 01").sends("32 75 02").answer("33 75 02 00 00").gives(3),
    Row("serial_number_query",
        [](Call& c) {
          int32_t n = 0;
          const uint8_t payload[] = {0x04, 0xC5};
          return KOVRA_Command43(payload, 2, c.bytes(), 40, &n) == 1 ? n : -99;
        })
        .sends("43 04 C5").answer("44 04 C5 00 0A 53 4E 32 30 32 36 31 32 30 38")
        .gives(14).out("04 C5 00 0A 53 4E 32 30 32 36 31 32 30 38"),
    Row("echo_mismatch", [](Call& c) { return command21(c, {0x04, 0xC5}, 40); })
        .sends("21 04 C5").answer("22 04 C6 00").gives(-7).text("-99"),
    Row("silence_is_no_reply", [](Call& c) { return command21(c, {0x04, 0xC5}, 40); })
        .sends("21 04 C5").gives(-2).text("-99"),
    Row("unexamined_reply", [](Call& c) { return command21(c, {0x04}, 0); })
        .sends("21 04").gives(1).text("-99"),
    Row("payload_too_short_to_echo", [](Call& c) { return command21(c, {0x04}, 40); })
        .gives(-11).text("-99"),
    Row("set_reads_at_most_4096", [](Call& c) { return command21(c, {0x01, 0x02}, 5000); })
        .sends("21 01 02").answer(big_set_reply()).gives(1).text("4095"),
    Row("control_reply_cut_to_capacity",
        [](Call& c) {
          int32_t n = 0;
          const uint8_t payload[] = {0x77, 0x01};
          return KOVRA_Command32(payload, 2, c.bytes(), 2, &n) == 1 ? n : -99;
        })
        .sends("32 77 01").answer("33 77 01 AA BB CC").gives(2).out("77 01"),
    Row("image_capacity", [](Call&) { return KOVRA_GetImageCapacity(); })
        .sends("43 02 C3").answer("44 02 C3 00 00 00 40 00 20").gives(2048),
    Row("image_capacity_past_int32", [](Call&) { return KOVRA_GetImageCapacity(); })
        .sends("43 02 C3").answer("44 02 C3 00 00 FF FF FF FF").gives(-1),
    Row("write_failure", [](Call&) { return KOVRA_SetMode(0); }).sends("21 61 41 00 00").fails()
        .gives(-1),
    Row("closed_no_io", [](Call&) { return KOVRA_Close() + KOVRA_SetMode(0); }).gives(0),
    // Parameters.
    Row("get_param", [](Call&) {
          uint16_t v = 0;
          return KOVRA_GetParam(0x3041, &v) * 100 + v;
        })
        .sends("23 30 41").answer("24 30 41 07").gives(107),
    Row("get_device_param_short", [](Call&) {
          uint16_t v = 0;
          return KOVRA_GetParam(0x0281, &v);
        })
        .sends("43 02 81").answer("44 02 81 00").gives(-7),
    Row("set_param", [](Call&) { return KOVRA_SetParam(0x3041, 7); })
        .sends("21 30 41 07").answer("22 30 41 00 00").gives(1),
    Row("set_param_short_reply", [](Call&) { return KOVRA_SetParam(0x3082, 0x1234); })
        .sends("21 30 82 12 34").answer("22 30 82 00").gives(0),
    Row("set_param_refused", [](Call&) { return KOVRA_SetParam(0x7541, 1) * 10 + KOVRA_SetParam(0x3001, 1); })
        .gives(-11),
    Row("param_block_count_over_100", [](Call& c) {
          int32_t n = 0;
          return KOVRA_GetParamBlock(0x30C1, c.bytes(), &n);
        })
        .sends("23 30 C1").answer("24 30 C1 00 65").gives(-9),
    Row("param_block_count_beyond_data", [](Call& c) {
          int32_t n = 0;
          return KOVRA_GetParamBlock(0x30C1, c.bytes(), &n);
        })
        .sends("23 30 C1").answer("24 30 C1 00 03 AA BB").gives(-7),
    Row("config_command", [](Call&) {
          const uint8_t one = 1;
          return KOVRA_ConfigCommand(0xC4, &one, 1);
        })
        .sends("16 10 C4 00 01 01").answer("17 10 C4 00 00").gives(1),
    Row("config_reply_not_five", [](Call&) { return KOVRA_ConfigCommand(0xC8, nullptr, 0); })
        .sends("16 10 C8 00 00").answer("17 10 C8 00").gives(-7),
    // Data blocks.
    Row("write_block", [](Call&) {
          return KOVRA_WriteDataBlock(0, reinterpret_cast<const uint8_t*>("123456789"), 9);
        })
        .sends({"55 57 00 00 09", kDigits, "FE E8"}).answer("56 57 00 00 00").gives(1),
    Row("write_empty_block", [](Call&) { return KOVRA_WriteDataBlock(2, nullptr, 0); })
        .sends("55 57 02 00 00").answer("56 57 02 00 01").gives(0),
    Row("write_block_refused", [](Call&) {
          std::vector<uint8_t> big(2049);
          return KOVRA_WriteDataBlock(0, big.data(), 2049) * 10 +
                 KOVRA_WriteDataBlock(3, big.data(), 1);
        })
        .gives(-121),
    Row("read_block", [](Call& c) { return read_block(c, 1, 9); })
        .sends("55 52 01").answer({"56 52 01 00 09", kDigits, "FE E8"}).gives(9).out(kDigits),
    Row("read_block_bad_crc", [](Call& c) { return read_block(c, 1, 9); })
        .sends("55 52 01").answer({"56 52 01 00 09", kDigits, "FE E9"}).gives(-14),
    Row("read_block_truncated", [](Call& c) { return read_block(c, 1, 9); })
        .sends("55 52 01").answer({"56 52 01 00 09", kDigits}).gives(-7),
    Row("read_block_length_ffff", [](Call& c) { return read_block(c, 1, 9); })
        .sends("55 52 01").answer({"56 52 01 FF FF", kDigits, "FE E8"}).gives(-7),
    Row("read_block_over_capacity", [](Call& c) { return read_block(c, 1, 8); })
        .sends("55 52 01").answer({"56 52 01 00 09", kDigits, "FE E8"}).gives(-9),
    Row("read_block_wrong_header", [](Call& c) { return read_block(c, 1, 9); })
        .sends("55 52 01").answer("56 52 02 00 00").gives(0),
    Row("read_block_no_buffer", [](Call&) { return KOVRA_ReadDataBlock(0, nullptr, 9, nullptr); })
        .gives(-10),
    // Bulk read.
    Row("bulk", [](Call& c) { return bulk(c, 3); })
        .sends("60 02 F0 01 E0 00 00").answer("61 00 40 00 20 00 00 00 00 00 03 AA BB CC")
        .gives(3 << 16 | 0x40 << 8 | 0x20).out("AA BB CC"),
    Row("bulk_count_mismatch", [](Call& c) { return bulk(c, 3); })
        .sends("60 02 F0 01 E0 00 00").answer("61 00 40 00 20 00 00 00 00 00 04 AA BB CC")
        .gives(-7),
    Row("bulk_small_capacity", [](Call& c) { return bulk(c, 2); })
        .sends("60 02 F0 01 E0 00 00").answer("61 00 40 00 20 00 00 00 00 00 03 AA BB CC")
        .gives(-9),
    // The scan buffer.
    Row("scan_data_times_out",
        [](Call& c) {
          int32_t n = 0;
          Stopwatch watch;
          const int32_t r = KOVRA_ReadScanData(0, c.bytes(), 10, &n);
          return watch.ms() >= 200 && watch.ms() < 1000 ? r : -99;
        })
        .gives(0),
    Row("scan_data_fills_exactly",
        [](Call& c) {
          scanner_ring().push(reinterpret_cast<const uint8_t*>("0123456789"), 10);
          int32_t n = 0;
          return KOVRA_ReadScanData(5, c.bytes(), 10, &n) == 1 ? n : -99;
        })
        .gives(10).out("30 31 32 33 34 35 36 37 38 39"),
};
STREAM_TABLE(ScannerProtocol, ScannerMemoryReader, kRows);

// --- downloads ----------------------------------------------------------------

bool sixteen_by_eight(const char*, GreyImage* image) {
  *image = GreyImage{16, 8, wire_pattern(128, 5)};
  return true;
}
bool absent(const char*, GreyImage*) { return false; }

int32_t send_image(bool (*loader)(const char*, GreyImage*)) {
  scanner_environment().load_image = loader;
  const int32_t r = KOVRA_SendImage("any.bmp");
  scanner_environment().load_image = nullptr;
  return r;
}

const WireBytes kLimits = "44 02 CB 00 00 00 40 00 20";  // 64 x 32

const Row kDownloads[] = {
    Row("image", [](Call&) { return send_image(sixteen_by_eight); })
        .sends("43 02 CB").answer(kLimits).sends("32 77 09").answer("33 77 09 00 00")
        .sends("00 10 00 08 00 00 00 00").sends(wire_pattern(128, 5)).answer("33 77 09 09 00")
        .gives(1),
    Row("image_bad_final_reply", [](Call&) { return send_image(sixteen_by_eight); })
        .sends("43 02 CB").answer(kLimits).sends("32 77 09").answer("33 77 09 00 00")
        .sends("00 10 00 08 00 00 00 00").sends(wire_pattern(128, 5)).answer("33 77 09 01 00")
        .gives(-7),
    Row("image_too_wide", [](Call&) { return send_image(sixteen_by_eight); })
        .sends("43 02 CB").answer("44 02 CB 00 00 00 0F 00 20").gives(-12),
    Row("image_loader_absent", [](Call&) { return send_image(absent); })
        .sends("43 02 CB").answer(kLimits).gives(0),
    Row("file",
        [](Call&) {
          const std::string path = testing::TempDir() + "scanner_file.bin";
          std::ofstream(path, std::ios::binary) << std::string(3000, 'F');
          const int32_t r = KOVRA_SendFile(path.c_str());
          std::remove(path.c_str());
          return r;
        })
        .sends("32 77 03").answer("33 77 03 00 00").sends(std::vector<uint8_t>(2048, 'F'))
        .sends(std::vector<uint8_t>(952, 'F')).answer("38").gives(1),
    Row("file_missing", [](Call&) { return KOVRA_SendFile("/nonexistent/scanner.bin"); })
        .gives(-13),
};
STREAM_TABLE(ScannerDownload, ScannerMemoryReader, kDownloads);

}  // namespace

// The loader the image download uses: SOIL, opened at the first image.
TEST(ScannerImage, SoilLoadsAGreyBmpByteForByte) {
  const std::string path = testing::TempDir() + "grey.bmp";
  const int w = 3, h = 2, stride = 12;
  std::vector<uint8_t> file = {'B', 'M', 54 + stride * h, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,
                               40, 0, 0, 0, w, 0, 0, 0, h, 0, 0, 0, 1, 0, 24, 0};
  file.resize(54 + stride * h);
  const uint8_t rows[2][3] = {{10, 20, 30}, {40, 50, 60}};  // top row first
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)  // BMP rows run bottom up, each pixel B G R
      std::fill_n(file.begin() + 54 + (h - 1 - y) * stride + x * 3, 3, rows[y][x]);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(file.data()), long(file.size()));

  ScannerMemoryReader reader;
  reader.script(0, WireBytes("44 02 CB 00 00 00 40 00 20").bytes);
  reader.script(1, WireBytes("33 77 09 00 00").bytes);
  reader.script(3, WireBytes("33 77 09 09 00").bytes);
  reader.script(4, WireBytes("44 02 CB 00 00 00 40 00 20").bytes);
  ASSERT_EQ(1, KOVRA_SendImage(path.c_str()));
  ASSERT_EQ(4u, reader.sent().size());
  EXPECT_EQ("00 03 00 02 00 00 00 00", spaced_hex(reader.sent()[2]));
  EXPECT_EQ("0A 14 1E 28 32 3C", spaced_hex(reader.sent()[3]));
  std::ofstream(path) << "not an image";
  EXPECT_EQ(0, KOVRA_SendImage(path.c_str()));
  std::remove(path.c_str());
}
