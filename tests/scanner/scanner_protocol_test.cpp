#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "scanner/kovra_api.h"
#include "scanner/receive_ring.h"
#include "sim/process_probe.h"
#include "sim/scanner_sim.h"
#include "sim/wire_table.h"

namespace {

using Row = StreamRow<ScannerMemoryReader>;
using Call = StreamCall<ScannerMemoryReader>;

const WireBytes kDigits = "31 32 33 34 35 36 37 38 39";
const uint8_t kOne = 0x01;

// "!" with a reply buffer of `capacity`: the reply length as text.
Row::Call command21(std::vector<uint8_t> payload, int32_t capacity) {
  return [=](Call& c) {
    std::vector<uint8_t> reply(size_t(std::max(capacity, 1)));
    int32_t length = -99;
    const int32_t r = KOVRA_Command21(payload.data(), int32_t(payload.size()), reply.data(),
                                      capacity, &length);
    std::snprintf(c.text(), 16, "%d", length);
    return r;
  };
}

// The block's length, or the failure.
Row::Call read_block(int32_t capacity) {
  return [=](Call& c) {
    int32_t length = 0;
    const int32_t r = KOVRA_ReadDataBlock(1, c.bytes(), capacity, &length);
    return r == 1 ? length : r;
  };
}

// Count, first and second number in one, or the failure.
Row::Call bulk(int32_t capacity) {
  return [=](Call& c) mutable {
    int32_t first = 0, second = 0;
    const int32_t r = KOVRA_ReadBulkData(c.bytes(), &capacity, &first, &second);
    return r == 1 ? capacity << 16 | first << 8 | second : r;
  };
}

// The value, or the failure.
Row::Call get_param(uint16_t code) {
  return [=](Call&) {
    uint16_t value = 0;
    const int32_t r = KOVRA_GetParam(code, &value);
    return r == 1 ? value : r;
  };
}

int32_t get_param_block(Call& c) {
  int32_t n = 0;
  return KOVRA_GetParamBlock(0x30C1, c.bytes(), &n);
}

const WireBytes kBlock = {"56 52 01 00 09", kDigits, "FE E8"};
const WireBytes kBulkRequest = "60 02 F0 01 E0 00 00";
const WireBytes kBulkReply = "61 00 40 00 20 00 00 00 00 00 03 AA BB CC";

const Row kRows[] = {
    // The echoed classes and settings.
    Row("echo_mismatch", command21({0x04, 0xC5}, 40))
        .sends("21 04 C5").answer("22 04 C6 00").gives(-7).text("-99"),
    Row("silence_is_no_reply", command21({0x04, 0xC5}, 40)).sends("21 04 C5").gives(-2).text("-99"),
    Row("unexamined_reply", command21({0x04}, 0)).sends("21 04").gives(1).text("-99"),
    Row("payload_too_short_to_echo", command21({0x04}, 40)).gives(-11).text("-99"),
    Row("set_reads_at_most_4096", command21({0x01, 0x02}, 5000))
        .sends("21 01 02").answer({"22 01 02", wire_pattern(4997, 9)}).gives(1).text("4095"),
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
    Row("write_failure", [](Call&) { return KOVRA_SetMode(0); })
        .sends("21 61 41 00 00").fails().gives(-1),
    Row("closed_no_io", [](Call&) { return KOVRA_Close() + KOVRA_SetMode(0); }).gives(0),
    // Parameters.
    Row("get_param", get_param(0x3041)).sends("23 30 41").answer("24 30 41 07").gives(7),
    Row("get_device_param_short", get_param(0x0281))
        .sends("43 02 81").answer("44 02 81 00").gives(-7),
    Row("set_param", [](Call&) { return KOVRA_SetParam(0x3041, 7); })
        .sends("21 30 41 07").answer("22 30 41 00 00").gives(1),
    Row("set_param_short_reply", [](Call&) { return KOVRA_SetParam(0x3082, 0x1234); })
        .sends("21 30 82 12 34").answer("22 30 82 00").gives(0),
    Row("set_param_refused",
        [](Call&) { return KOVRA_SetParam(0x7541, 1) * 10 + KOVRA_SetParam(0x3001, 1); })
        .gives(-11),
    Row("param_block_of_100", get_param_block)
        .sends("23 30 C1").answer({"24 30 C1 00 64", wire_pattern(100, 3)})
        .gives(1).out(wire_pattern(100, 3)),
    Row("param_block_count_over_100", get_param_block)
        .sends("23 30 C1").answer("24 30 C1 00 65").gives(-9),
    Row("param_block_count_beyond_data", get_param_block)
        .sends("23 30 C1").answer("24 30 C1 00 03 AA BB").gives(-7),
    Row("config_command", [](Call&) { return KOVRA_ConfigCommand(0xC4, &kOne, 1); })
        .sends("16 10 C4 00 01 01").answer("17 10 C4 00 00").gives(1),
    Row("config_reply_not_five", [](Call&) { return KOVRA_ConfigCommand(0xC8, nullptr, 0); })
        .sends("16 10 C8 00 00").answer("17 10 C8 00").gives(-7),
    // Data blocks.
    Row("write_block", [](Call&) { return KOVRA_WriteDataBlock(0, kDigits.bytes.data(), 9); })
        .sends({"55 57 00 00 09", kDigits, "FE E8"}).answer("56 57 00 00 00").gives(1),
    Row("write_empty_block", [](Call&) { return KOVRA_WriteDataBlock(2, nullptr, 0); })
        .sends("55 57 02 00 00").answer("56 57 02 00 01").gives(0),
    Row("write_block_refused",  // 2049 bytes; block 3
        [](Call& c) {
          return KOVRA_WriteDataBlock(0, c.bytes(), 2049) * 10 +
                 KOVRA_WriteDataBlock(3, c.bytes(), 1);
        })
        .gives(-121),
    Row("read_block", read_block(9)).sends("55 52 01").answer(kBlock).gives(9).out(kDigits),
    Row("read_block_bad_crc", read_block(9))
        .sends("55 52 01").answer({"56 52 01 00 09", kDigits, "FE E9"}).gives(-14),
    Row("read_block_length_ffff", read_block(9))
        .sends("55 52 01").answer({"56 52 01 FF FF", kDigits, "FE E8"}).gives(-7),
    Row("read_block_over_capacity", read_block(8)).sends("55 52 01").answer(kBlock).gives(-9),
    Row("read_block_wrong_header", read_block(9))
        .sends("55 52 01").answer("56 52 02 00 00").gives(0),
    Row("read_block_no_buffer", [](Call&) { return KOVRA_ReadDataBlock(0, nullptr, 9, nullptr); })
        .gives(-10),
    // Bulk read.
    Row("bulk", bulk(3)).sends(kBulkRequest).answer(kBulkReply)
        .gives(3 << 16 | 0x40 << 8 | 0x20).out("AA BB CC"),
    Row("bulk_count_mismatch", bulk(3))
        .sends(kBulkRequest).answer("61 00 40 00 20 00 00 00 00 00 04 AA BB CC").gives(-7),
    Row("bulk_small_capacity", bulk(2)).sends(kBulkRequest).answer(kBulkReply).gives(-9),
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

// Calls `send` with the path of a file that holds `bytes`.
int32_t with_file(const std::vector<uint8_t>& bytes, int32_t (*send)(const char*)) {
  const std::string path = testing::TempDir() + "scanner_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
  const int32_t r = send(path.c_str());
  std::remove(path.c_str());
  return r;
}

// A 3 x 2 grey 24-bit BMP (rows bottom up, each pixel B G R) whose pixels,
// top row first, are 10 20 30 / 40 50 60.
int32_t send_grey_bmp(Call&) {
  std::vector<uint8_t> file = {'B', 'M', 54 + 24, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,
                               40,  0,   0,       0, 3, 0, 0, 0, 2, 0, 0,  0, 1, 0, 24, 0};
  file.resize(54 + 24);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      std::fill_n(file.begin() + 54 + (1 - y) * 12 + x * 3, 3, 10 * (3 * y + x + 1));
  return with_file(file, KOVRA_SendImage);
}

// The whole image download; the scanner's verdict is `verdict`.
Row image(const char* name, WireBytes verdict, int32_t gives) {
  return Row(name, send_grey_bmp)
      .sends("43 02 CB").answer("44 02 CB 00 00 00 40 00 20")  // at most 64 x 32
      .sends("32 77 09").answer("33 77 09 00 00")
      .sends("00 03 00 02 00 00 00 00").sends("0A 14 1E 28 32 3C").answer(verdict).gives(gives);
}

const Row kDownloads[] = {
    image("image", "33 77 09 09 00", 1),
    image("image_bad_final_reply", "33 77 09 01 00", -7),
    Row("image_too_wide", send_grey_bmp)
        .sends("43 02 CB").answer("44 02 CB 00 00 00 02 00 20").gives(-12),
    Row("image_not_an_image",
        [](Call&) { return with_file(std::vector<uint8_t>(100, 'x'), KOVRA_SendImage); })
        .sends("43 02 CB").answer("44 02 CB 00 00 00 40 00 20").gives(0),
    Row("file", [](Call&) { return with_file(std::vector<uint8_t>(3000, 'F'), KOVRA_SendFile); })
        .sends("32 77 03").answer("33 77 03 00 00").sends(std::vector<uint8_t>(2048, 'F'))
        .sends(std::vector<uint8_t>(952, 'F')).answer("38").gives(1),
    Row("file_missing", [](Call&) { return KOVRA_SendFile("/nonexistent/scanner.bin"); })
        .gives(-13),
};
STREAM_TABLE(ScannerDownload, ScannerMemoryReader, kDownloads);

}  // namespace
