// The trace forms of the reader operations past the sector cards: values
// read through pointers, computed and conditional counts, in-out
// parameters, untraced arguments, the identity card's results, and null
// arguments in every form.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "family_m6/m6_device.h"

namespace {

using Lines = std::vector<std::string>;

using namespace trace_lines;

const std::string kIcdev = in("icdev", "0x00000050");

// A trace at level 2 and a recording device at handle 80 that leaves its
// outputs as the test preset them, unless told to write.
struct Traced {
  TraceDir dir;
  InstalledDevice device;
  Traced() {
    set_trace_level(2);
    device->write_outputs = false;
  }
  int32_t h() const { return device.handle(); }
  Lines lines() {
    set_trace_level(0);
    return dir.lines();
  }
};

TEST(CoreTrace, ValuesThroughPointers) {
  Traced t;
  int16_t rlen = 4;
  uint8_t reply[8] = {0x90, 0x00, 0x61, 0x10};
  const uint8_t apdu[] = {0x00, 0x84, 0x00};
  ASSERT_EQ(kx_cpuapduEXT(t.h(), 3, apdu, &rlen, reply), 0);
  rlen = -2;  // a negative reply length counts no bytes
  ASSERT_EQ(kx_cpuapdusourceEXT(t.h(), 3, apdu, &rlen, reply), 0);
  uint8_t length = 3, type = 'B';
  uint8_t answer[3] = {0x50, 0x00, 0x01};
  ASSERT_EQ(kx_cardAB(t.h(), &length, answer, &type), 0);
  uint16_t flag = 0x0102;
  ASSERT_EQ(kx_card_exist(t.h(), &flag), 0);
  int32_t snr = static_cast<int32_t>(0x8A2B3C4Du);
  ASSERT_EQ(kx_anticoll_mode(t.h(), 0x26, 0, &snr), 0);
  uint8_t size = 8;
  ASSERT_EQ(kx_select_mode(t.h(), 0x26, snr, &size), 0);
  uint32_t mask = 0x0000000F;
  t.device->write_outputs = true;
  t.device->out_value = 0x80000003;
  ASSERT_EQ(kx_MultiAntennaStartOrStop(t.h(), 1, &mask), 0);
  EXPECT_EQ(mask, 0x80000003u);
  uint8_t state = 0;
  int16_t strength = 0;
  t.device->out_value = 0xFFC4;  // -60 as a 16-bit value
  ASSERT_EQ(kx_BtSignalStrength(t.h(), &state, &strength), 0);
  const Lines expected = {
      fn("kx_cpuapduEXT"), kIcdev, in("slen", "3"), in_hex("sendbuffer", "008400"),
      out("rlen", "4"), out_hex("databuffer", "90006110"), ret("0"),
      fn("kx_cpuapdusourceEXT"), kIcdev, in("slen", "3"), in_hex("sendbuffer", "008400"),
      out("rlen", "-2"), out_hex("databuffer", ""), ret("0"),
      fn("kx_cardAB"), kIcdev, out("rlen", "3"), out_hex("rbuf", "500001"), out("type", "'B'"),
      ret("0"),
      fn("kx_card_exist"), kIcdev, out_hex("flag", "0201"), ret("0"),
      fn("kx_anticoll_mode"), kIcdev, in("mode", "38"), in("_Bcnt", "0"),
      out("_Snr", "0x8A2B3C4D"), ret("0"),
      fn("kx_select_mode"), kIcdev, in("mode", "38"), in("_Snr", "0x8A2B3C4D"), out("_Size", "8"),
      ret("0"),
      fn("kx_MultiAntennaStartOrStop"), kIcdev, in("flag", "1"), in("mask", "0x0000000F"),
      out("mask", "0x80000003"), ret("0"),
      fn("kx_BtSignalStrength"), kIcdev, out("state", "196"), out("value", "-60"), ret("0"),
  };
  EXPECT_EQ(t.lines(), expected);
}

TEST(CoreTrace, ImagesAndLengthPrefixedData) {
  Traced t;
  const uint8_t image[] = {0x00, 0x00, 0x00, 0x02, 0xFF, 0xFF};
  ASSERT_EQ(kx_ScreenDisplayImage(t.h(), 1, 2, 30, 40, -1, image), 0);
  ASSERT_EQ(kx_ScreenLoadBgImage(t.h(), 9, nullptr), 0);  // never read
  uint8_t config[8] = {2, 0xAA, 0xBB, 0xCC};
  ASSERT_EQ(kx_ScreenDisplayGetConfig(t.h(), 3, config), 0);
  const uint8_t setting[] = {1, 0x7F, 0xEE};
  ASSERT_EQ(kx_ScreenDisplaySetConfig(t.h(), 4, setting), 0);
  const Lines expected = {
      fn("kx_ScreenDisplayImage"), kIcdev, in("x", "1"), in("y", "2"), in("w", "30"),
      in("h", "40"), in("time_s", "-1"), in("image_data", "<<image_data>>"), ret("0"),
      fn("kx_ScreenLoadBgImage"), kIcdev, in("number", "9"), in("image_data", "<<image_data>>"),
      ret("0"),
      fn("kx_ScreenDisplayGetConfig"), kIcdev, in("tag", "3"), out_hex("config_data", "02AABB"),
      ret("0"),
      fn("kx_ScreenDisplaySetConfig"), kIcdev, in("tag", "4"), in_hex("config_data", "017F"),
      ret("0"),
  };
  EXPECT_EQ(t.lines(), expected);
}

TEST(CoreTrace, LcdTextCountedByCharset) {
  Traced t;
  const uint8_t narrow[] = {'H', 'I', 0, 'X'};
  ASSERT_EQ(kx_LcdDisplayText(t.h(), 1, 2, 0, 0, narrow), 0);
  // Two-byte units at an odd address, read as byte pairs.
  const uint8_t storage[] = {0xEE, 'A', 0, 'B', 0, 0, 0, 0xFF};
  ASSERT_EQ(kx_LcdDisplayText(t.h(), 1, 2, 0, 5, storage + 1), 0);
  ASSERT_EQ(kx_LcdDisplayText(t.h(), 1, 2, 0, 7, narrow), 0);
  const uint8_t font[] = {0x11, 0x22};
  ASSERT_EQ(kx_LcdDisplayTextFromData(t.h(), 0, 0, 1, 6, storage + 1, font, 2), 0);
  const Lines expected = {
      fn("kx_LcdDisplayText"), kIcdev, in("line", "1"), in("offset", "2"), in("mode", "0"),
      in("charset", "0"), in_hex("text", "484900"), ret("0"),
      fn("kx_LcdDisplayText"), kIcdev, in("line", "1"), in("offset", "2"), in("mode", "0"),
      in("charset", "5"), in_hex("text", "410042000000"), ret("0"),
      fn("kx_LcdDisplayText"), kIcdev, in("line", "1"), in("offset", "2"), in("mode", "0"),
      in("charset", "7"), in_hex("text", ""), ret("0"),
      fn("kx_LcdDisplayTextFromData"), kIcdev, in("line", "0"), in("offset", "0"),
      in("mode", "1"), in("charset", "6"), in_hex("text", "410042000000"),
      in_hex("data", "1122"), in("data_len", "2"), ret("0"),
  };
  EXPECT_EQ(t.lines(), expected);
}

// `n` bytes of 'A', no terminator among them, ending where the caller's
// readable memory ends.
class TextAtPageEdge {
 public:
  explicit TextAtPageEdge(size_t n) : page_(size_t(sysconf(_SC_PAGESIZE))) {
    area_ = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area_ == MAP_FAILED) return;
    uint8_t* end = static_cast<uint8_t*>(area_) + page_;
    if (mprotect(end, page_, PROT_NONE) != 0) return;
    text_ = end - std::min(n, page_);
    std::memset(text_, 'A', std::min(n, page_));
  }
  ~TextAtPageEdge() {
    if (area_ != MAP_FAILED) munmap(area_, 2 * page_);
  }
  const uint8_t* text() const { return text_; }

 private:
  size_t page_;
  void* area_ = MAP_FAILED;
  uint8_t* text_ = nullptr;
};

Lines text_lines(const Lines& lines) {
  Lines texts;
  for (const std::string& line : lines)
    if (line.rfind("  parameter:[text[in]]", 0) == 0) texts.push_back(line);
  return texts;
}

// A text without its terminator that ends where the caller's memory ends:
// the trace looks no further than a reader does and shows what it looked at.
TEST(CoreTrace, LcdTextWithoutTerminatorIsReadNoFurtherThanTheReader) {
  const TextAtPageEdge edge(3000);
  ASSERT_TRUE(edge.text());
  Traced t;
  ASSERT_EQ(kx_LcdDisplayText(t.h(), 1, 2, 0, 5, edge.text()), 0);
  ASSERT_EQ(kx_LcdDisplayTextFromData(t.h(), 1, 2, 0, 0, edge.text(), nullptr, 0), 0);
  // The 1020 units and the 2041 bytes a reader looks at, none a terminator.
  const Lines expected = {in_hex("text", repeat("41", 2040)), in_hex("text", repeat("41", 2041))};
  EXPECT_EQ(text_lines(t.lines()), expected);
}

// An m6 reader reads 9 units and refuses the text: so does its trace.
TEST(CoreTrace, LcdTextBehindAnM6ReaderIsReadNoFurtherThanItsNineUnits) {
  const TextAtPageEdge edge(18);
  ASSERT_TRUE(edge.text());
  TraceDir dir;
  device_manager.installForTest(1, nullptr, nullptr, new M6Device("m6-test", nullptr, nullptr));
  set_trace_level(2);
  EXPECT_EQ(kx_LcdDisplayText(81, 1, 0, 0, 5, edge.text()), -1);
  set_trace_level(0);
  device_manager.close(1);
  EXPECT_EQ(text_lines(dir.lines()), Lines{in_hex("text", repeat("41", 18))});
}

TEST(CoreTrace, ComputedCounts) {
  Traced t;
  uint8_t cardnum = 2;
  std::vector<uint8_t> atqb(24, 0x50);
  ASSERT_EQ(kx_mulrequest_b(t.h(), 0, 0, &cardnum, atqb.data()), 0);
  std::vector<uint8_t> blocks(4096, 0x3C);
  ASSERT_EQ(kx_MFPL3_readinplain(t.h(), 0x4000, 2, blocks.data()), 0);
  ASSERT_EQ(kx_MFPL3_writeencrypted(t.h(), -5, 1, blocks.data(), 1), 0);
  ASSERT_EQ(kx_MultiFlashRead(t.h(), 1, 0, 0, 0, 4096, blocks.data()), 0);
  t.device->answer = 5;
  ASSERT_EQ(kx_rf_poweron(t.h(), 0, blocks.data()), 5);
  t.device->answer = -1;
  ASSERT_EQ(kx_rf_poweron(t.h(), 0, blocks.data()), -1);
  t.device->answer = 0;
  const uint8_t secret[] = {'A', 'B', '1', '2', 0, 'Z', 'Z'};
  ASSERT_EQ(kx_consume_wallet(t.h(), "100", secret), 0);
  const uint8_t long_secret[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
  ASSERT_EQ(kx_consume_wallet(t.h(), "1", long_secret), 0);
  const Lines expected = {
      fn("kx_mulrequest_b"), kIcdev, in("_Mode", "0"), in("AFI", "0"), out("cardnum", "2"),
      out_hex("mulATQB", repeat("50", 24)), ret("0"),
      fn("kx_MFPL3_readinplain"), kIcdev, in("BNr", "16384"), in("Numblock", "2"),
      out_hex("readdata", repeat("3C", 32)), ret("0"),
      fn("kx_MFPL3_writeencrypted"), kIcdev, in("BNr", "-5"), in("Numblock", "1"),
      in_hex("writedata", repeat("3C", 16)), in("flag", "1"), ret("0"),
      fn("kx_MultiFlashRead"), kIcdev, in("type", "1"), in("offset_h", "0"), in("offset_l", "0"),
      in("length_h", "0"), in("length_l", "4096"), out_hex("data_buffer", repeat("3C", 2048)),
      ret("0"),
      fn("kx_rf_poweron"), kIcdev, in("icc_slot_no", "0"), out_hex("response", "3C3C3C3C3C"),
      ret("5"),
      fn("kx_rf_poweron"), kIcdev, in("icc_slot_no", "0"), ret("-1"),
      fn("kx_consume_wallet"), kIcdev, in("walletvalue", "100"), in_hex("secret", "41423132"),
      ret("0"),
      fn("kx_consume_wallet"), kIcdev, in("walletvalue", "1"), in_hex("secret", "313233343536"),
      ret("0"),
  };
  EXPECT_EQ(t.lines(), expected);
}

TEST(CoreTrace, UntracedArgumentsStillReachTheDevice) {
  Traced t;
  const uint8_t pan[] = {0x62, 0x28};
  uint8_t rlen = 1;
  uint8_t cpass[4] = {0xC0};
  ASSERT_EQ(kx_GetEnPass(t.h(), 30, 2, pan, &rlen, cpass), 0);
  std::vector<uint8_t> record(256, 0x20);
  char f[10][12] = {"NAME", "1", "01", "19800101", "ADDR", "ID", "DEPT", "2020", "2030", "R"};
  ASSERT_EQ(kx_ParseTextInfo(t.h(), 0, 2, record.data(), f[0], f[1], f[2], f[3], f[4], f[5], f[6],
                             f[7], f[8], f[9]),
            0);
  ASSERT_EQ(t.device->calls.size(), 2u);
  EXPECT_EQ(t.device->calls[0].args[1], 30u);
  EXPECT_EQ(t.device->calls[1].args.size(), 14u);
  EXPECT_EQ(t.device->calls[1].args[13], reinterpret_cast<uintptr_t>(f[9]));
  const Lines expected = {
      fn("kx_GetEnPass"), kIcdev, in("panlen", "2"), in_hex("pandata", "6228"), out("rlen", "1"),
      out_hex("cpass", "C0"), ret("0"),
      fn("kx_ParseTextInfo"), kIcdev, in("charset", "0"), in("info_len", "2"),
      in_hex("info", "2020"), out("name", "NAME"), out("sex", "1"), out("nation", "01"),
      out("birth_day", "19800101"), out("address", "ADDR"), out("id_number", "ID"),
      out("department", "DEPT"), out("expire_start_day", "2020"), out("expire_end_day", "2030"),
      ret("0"),
  };
  EXPECT_EQ(t.lines(), expected);
}

TEST(CoreTrace, PasswordAndRecordLinesByZoneAndTable) {
  Traced t;
  const uint8_t code[] = {1, 2, 3, 4, 5, 6};
  for (int16_t zone : {0, 11, 12, 5}) ASSERT_EQ(kx_checkpass_102(t.h(), zone, code), 0);
  ASSERT_EQ(kx_changepass_102(t.h(), 12, code), 0);
  uint8_t quantity = 9;
  std::vector<uint8_t> record(64, 0x77);
  for (uint8_t table : {0, 1, 2}) {
    ASSERT_EQ(kx_get_record(t.h(), table, 4, &quantity, record.data()), 0);
  }
  const Lines expected = {
      fn("kx_checkpass_102"), kIcdev, in("zone", "0"), in_hex("password", "0102"),
      in_hex("password", "0102"), ret("0"),
      fn("kx_checkpass_102"), kIcdev, in("zone", "11"), in_hex("password", "0102"),
      in_hex("password", "010203040506"), ret("0"),
      fn("kx_checkpass_102"), kIcdev, in("zone", "12"), in_hex("password", "0102"),
      in_hex("password", "01020304"), ret("0"),
      fn("kx_checkpass_102"), kIcdev, in("zone", "5"), in_hex("password", "0102"), ret("0"),
      fn("kx_changepass_102"), kIcdev, in("zone", "12"), in_hex("password", "0102"),
      in_hex("password", "01020304"), ret("0"),
      fn("kx_get_record"), kIcdev, in("tablenumber", "0"), in("recordnumber", "4"),
      out("recordquantity", "9"), out_hex("recorddata", repeat("77", 64)), ret("0"),
      fn("kx_get_record"), kIcdev, in("tablenumber", "1"), in("recordnumber", "4"),
      out("recordquantity", "9"), out_hex("recorddata", "77777777"), ret("0"),
      fn("kx_get_record"), kIcdev, in("tablenumber", "2"), in("recordnumber", "4"),
      out("recordquantity", "9"), ret("0"),
  };
  EXPECT_EQ(t.lines(), expected);
}

TEST(CoreTrace, BluetoothValuesByFlag) {
  Traced t;
  uint8_t baud = 4;
  // Flag 1 sends, flag 0 reads back after a success, other flags neither.
  for (uint8_t flag : {1, 0, 2}) {
    for (int16_t answer : {0, -2}) {
      t.device->answer = answer;
      kx_BtBaudrateControl(t.h(), flag, &baud);
    }
  }
  t.device->answer = 0;
  uint8_t length = 2;
  uint8_t address[6] = {0xAB, 0xCD, 0xEF};
  ASSERT_EQ(kx_BtAddressControl(t.h(), 1, &length, address), 0);
  ASSERT_EQ(kx_BtAddressControl(t.h(), 0, &length, address), 0);
  uint8_t area[4] = {9, 8, 7, 6};
  ASSERT_EQ(kx_BtUserControl(t.h(), 1, 16, 3, area), 0);
  ASSERT_EQ(kx_BtUserControl(t.h(), 0, 16, 2, area), 0);
  char name[] = "PAD";
  ASSERT_EQ(kx_BtNameControl(t.h(), 2, name), 0);
  const std::string in_baud = in("value", "4"), out_baud = out("value", "4");
  const Lines expected = {
      fn("kx_BtBaudrateControl"), kIcdev, in("flag", "1"), in_baud, ret("0"),
      fn("kx_BtBaudrateControl"), kIcdev, in("flag", "1"), in_baud, ret("-2"),
      fn("kx_BtBaudrateControl"), kIcdev, in("flag", "0"), out_baud, ret("0"),
      fn("kx_BtBaudrateControl"), kIcdev, in("flag", "0"), ret("-2"),
      fn("kx_BtBaudrateControl"), kIcdev, in("flag", "2"), ret("0"),
      fn("kx_BtBaudrateControl"), kIcdev, in("flag", "2"), ret("-2"),
      fn("kx_BtAddressControl"), kIcdev, in("flag", "1"), in("length", "2"),
      in_hex("value", "ABCD"), ret("0"),
      fn("kx_BtAddressControl"), kIcdev, in("flag", "0"), out("length", "2"),
      out_hex("value", "ABCD"), ret("0"),
      fn("kx_BtUserControl"), kIcdev, in("flag", "1"), in("offset", "16"), in("length", "3"),
      in_hex("value", "090807"), ret("0"),
      fn("kx_BtUserControl"), kIcdev, in("flag", "0"), in("offset", "16"), in("length", "2"),
      out_hex("value", "0908"), ret("0"),
      fn("kx_BtNameControl"), kIcdev, in("flag", "2"), ret("0"),
  };
  EXPECT_EQ(t.lines(), expected);
}

TEST(CoreTrace, PhotoLinesByType) {
  Traced t;
  const uint8_t info[] = {0x57, 0x4C};
  int32_t capacity = 3;
  char photo[8] = "pic.bmp";
  for (int32_t type : {0, 1, 2, 7}) {
    ASSERT_EQ(kx_ParsePhotoInfo(t.h(), type, 2, info, &capacity, photo), 0);
  }
  t.device->answer = -1;
  ASSERT_EQ(kx_ParsePhotoInfo(t.h(), 1, 2, info, &capacity, photo), -1);
  const std::string length = in("info_len", "2"), record = in_hex("info", "574C");
  const Lines expected = {
      fn("kx_ParsePhotoInfo"), kIcdev, in("type", "0"), length, record, in("photo", "pic.bmp"),
      ret("0"),
      fn("kx_ParsePhotoInfo"), kIcdev, in("type", "1"), length, record, in("photo_len", "3"),
      out("photo_len", "3"), out_hex("photo", "706963"), ret("0"),
      fn("kx_ParsePhotoInfo"), kIcdev, in("type", "2"), length, record, in("photo_len", "3"),
      out("photo_len", "3"), out("photo", "pic.bmp"), ret("0"),
      fn("kx_ParsePhotoInfo"), kIcdev, in("type", "7"), length, record, ret("0"),
      fn("kx_ParsePhotoInfo"), kIcdev, in("type", "1"), length, record, in("photo_len", "3"),
      ret("-1"),
  };
  EXPECT_EQ(t.lines(), expected);
}

TEST(CoreTrace, KeyExtrasAndFileBlocksByFlag) {
  Traced t;
  const uint8_t key[] = {0x11, 0x22};
  uint8_t extra[4] = {0xE1, 0xE2, 0xE3};
  int32_t extra_len = 3;
  for (int32_t flag : {2, 1, 0}) {
    ASSERT_EQ(kx_KeypadLoadKey(t.h(), 1, 2, 3, 4, 5, key, 2, flag, extra, &extra_len), 0);
  }
  const uint8_t block[] = {0xD0, 0xD1};
  int32_t size = 2;
  ASSERT_EQ(kx_DownloadFileData(t.h(), 1, 1000, 1, block, &size), 0);
  // Flag 0 sends no block: the size is an output of any value.
  size = 0x7FFFFFFF;
  ASSERT_EQ(kx_DownloadFileData(t.h(), 1, 1000, 0, block, &size), 0);
  const std::string keys[] = {in("number", "1"), in("set_index", "2"), in("sub_index", "3"),
                              in("type", "4"),   in("mode", "5"),      in_hex("key_data", "1122"),
                              in("key_len", "2")};
  Lines expected;
  for (int32_t flag : {2, 1, 0}) {
    expected.push_back(fn("kx_KeypadLoadKey"));
    expected.push_back(kIcdev);
    expected.insert(expected.end(), std::begin(keys), std::end(keys));
    expected.push_back(in("flag", std::to_string(flag)));
    if (flag == 2) {
      expected.push_back(in_hex("ex_data", "E1E2E3"));
      expected.push_back(in("ex_len", "3"));
    }
    if (flag == 1) {
      expected.push_back(out_hex("ex_data", "E1E2E3"));
      expected.push_back(out("ex_len", "3"));
    }
    expected.push_back(ret("0"));
  }
  const Lines download = {
      fn("kx_DownloadFileData"), kIcdev, in("file_type", "1"), in("file_size", "1000"),
      in("flag", "1"), in_hex("data", "D0D1"), in("data_size", "2"), out("data_size", "2"),
      ret("0"),
      fn("kx_DownloadFileData"), kIcdev, in("file_type", "1"), in("file_size", "1000"),
      in("flag", "0"), in_hex("data", ""), in("data_size", "2147483647"),
      out("data_size", "2147483647"), ret("0"),
  };
  expected.insert(expected.end(), download.begin(), download.end());
  EXPECT_EQ(t.lines(), expected);
}

TEST(CoreTrace, InOutParametersAroundTheCall) {
  TraceDir dir;
  set_trace_level(2);
  InstalledDevice device(3);
  const int32_t h = device.handle();
  const std::string icdev = in("icdev", "0x00000053");
  device->fill = 0x56;
  device->fill_size = 1;
  uint8_t reg = 0x34;
  ASSERT_EQ(kx_rw_rfreg(h, 1, 0x12, &reg), 0);
  char reg_text[8] = "34";
  device->out_text = "56";
  ASSERT_EQ(kx_rw_rfreg_hex(h, 0, 0x12, reg_text), 0);
  device->fill = 0xA5;
  device->fill_size = 3;
  device->out_value = 3;
  uint8_t bmp[128] = {};
  int32_t bmp_len = 100;
  ASSERT_EQ(kx_i_d_query_photo_bmp_buffer(h, bmp, &bmp_len), 0);
  uint8_t data[8] = {1, 2};
  int32_t data_len = 2;
  ASSERT_EQ(kx_TestCom(h, 2, "ttyS1", data, &data_len), 0);
  data_len = 2;
  device->answer = -2;
  ASSERT_EQ(kx_TestCom(h, 2, "ttyS1", data, &data_len), -2);
  device->answer = 0;
  device->out_value = 128;
  int32_t v = static_cast<int32_t>(0xA5A5A5A5u);
  ASSERT_EQ(kx_ReadRfCfgReg(h, 1, 2, &v), 0);
  EXPECT_EQ(v, 128);
  set_trace_level(0);
  const Lines expected = {
      fn("kx_rw_rfreg"), icdev, in("flag", "1"), in("_Adr", "18"), in_hex("_Data", "34"),
      out_hex("_Data", "56"), ret("0"),
      fn("kx_rw_rfreg_hex"), icdev, in("flag", "0"), in("_Adr", "18"), in("_Data", "34"),
      out("_Data", "56"), ret("0"),
      fn("kx_i_d_query_photo_bmp_buffer"), in("idhandle", "0x00000053"), in("BmpLength", "100"),
      out_hex("BmpBuffer", "A5A5A5"), out("BmpLength", "3"), ret("0"),
      fn("kx_TestCom"), icdev, in("number", "2"), in("name", "ttyS1"),
      in_hex("data_buffer", "0102"), in("data_len", "2"), out_hex("data_buffer", "A5A5A5"),
      out("data_len", "3"), ret("0"),
      fn("kx_TestCom"), icdev, in("number", "2"), in("name", "ttyS1"),
      in_hex("data_buffer", "A5A5"), in("data_len", "2"), ret("-2"),
      fn("kx_ReadRfCfgReg"), icdev, in("type", "1"), in("number", "2"), out("value", "128"),
      ret("0"),
  };
  EXPECT_EQ(dir.lines(), expected);
}

TEST(CoreTrace, IdentityCardResults) {
  TraceDir dir;
  set_trace_level(2);
  InstalledDevice device(3);
  const int32_t h = device.handle();
  const std::string idhandle = in("idhandle", "0x00000053");
  device->answer_i32 = 83;
  EXPECT_EQ(kx_start_i_d(h), 83);
  EXPECT_EQ(kx_start_i_d(79), -1);
  char name[] = "\xD5\xC5\xC8\xFD";
  device->answer_text = name;
  EXPECT_EQ(kx_i_d_query_name(h), name);
  EXPECT_EQ(kx_i_d_query_sex(79), nullptr);
  std::vector<unsigned char> photo(4096, 0x3E);
  device->answer_bytes = photo.data();
  EXPECT_EQ(kx_i_d_query_photo(h), photo.data());
  device->answer_length = 600;
  EXPECT_EQ(kx_i_d_query_photo_len(h), 600);
  EXPECT_EQ(kx_i_d_query_finger_len(79), 0);
  // The copies are traced as far as the device's length goes, at most 1024
  // bytes: the fingerprint of a card read without it has length 0.
  device->fill = 0x61;
  device->fill_size = 1024;
  std::vector<unsigned char> copy(1024);
  ASSERT_EQ(kx_i_d_query_photo_2(h, copy.data()), 0);
  device->answer_length = 0;
  ASSERT_EQ(kx_i_d_query_finger_2(h, copy.data()), 0);
  device->answer_length = 5000;
  ASSERT_EQ(kx_i_d_query_photo_2(h, copy.data()), 0);
  kx_end_i_d(h);
  kx_end_i_d(79);
  set_trace_level(0);
  const Lines expected = {
      fn("kx_start_i_d"), in("icdev", "0x00000053"), ret("0x00000053"),
      fn("kx_start_i_d"), in("icdev", "0x0000004F"), ret("0xFFFFFFFF"),
      fn("kx_i_d_query_name"), idhandle, ret("\xD5\xC5\xC8\xFD"),
      fn("kx_i_d_query_sex"), in("idhandle", "0x0000004F"), ret("(null)"),
      fn("kx_i_d_query_photo"), idhandle, hex_line("  return:", repeat("3E", 1024)),
      fn("kx_i_d_query_photo_len"), idhandle, ret("600"),
      fn("kx_i_d_query_finger_len"), in("idhandle", "0x0000004F"), ret("0"),
      fn("kx_i_d_query_photo_2"), idhandle, out_hex("photo", repeat("61", 600)), ret("0"),
      fn("kx_i_d_query_finger_2"), idhandle, out_hex("finger", ""), ret("0"),
      fn("kx_i_d_query_photo_2"), idhandle, out_hex("photo", repeat("61", 1024)), ret("0"),
      fn("kx_end_i_d"), idhandle,
      fn("kx_end_i_d"), in("idhandle", "0x0000004F"),
  };
  EXPECT_EQ(dir.lines(), expected);
  // The length queries ran only for the three copies.
  std::vector<int> slots;
  for (const auto& call : device->calls) slots.push_back(call.slot);
  EXPECT_EQ(slots, (std::vector<int>{428, 430, 446, 448, 447, 448, 452, 453, 447, 448, 456}));
}

TEST(CoreTrace, EmptyReplyOfThePinPad) {
  Traced t;
  const uint8_t command[] = {0x1B, 0x49};
  uint8_t reclen = 0;
  uint8_t reply[4] = {};
  ASSERT_EQ(SD_InstallKey(t.h(), 5, 2, command, &reclen, reply), 0);
  const Lines expected = {
      fn("SD_InstallKey"), kIcdev, in("ctime", "5"), in("senlen", "2"), in_hex("source", "1B49"),
      out("reclen", "0"), out_hex("rdata", ""), ret("0"),
  };
  EXPECT_EQ(t.lines(), expected);
}

TEST(CoreTrace, LevelOneWritesFunctionAndReturnLines) {
  TraceDir dir;
  set_trace_level(1);
  InstalledDevice device;
  char sex[] = "\xC4\xD0";
  device->answer_text = sex;
  device->answer_i32 = 80;
  device->answer_length = 3;
  unsigned char photo[1024] = {};
  device->answer_bytes = photo;
  uint8_t length = 0;
  uint8_t reply[64] = {};
  device->answer = 161;
  EXPECT_EQ(kx_GetEnPass(80, 30, 0, nullptr, &length, reply), 161);
  EXPECT_EQ(kx_start_i_d_2(80), 80);
  EXPECT_EQ(kx_i_d_query_sex(80), sex);
  EXPECT_EQ(kx_i_d_query_finger(80), photo);
  EXPECT_EQ(kx_i_d_query_finger_len(80), 3);
  kx_end_i_d(80);
  set_trace_level(0);
  const Lines expected = {
      fn("kx_GetEnPass"), ret("161"),
      fn("kx_start_i_d_2"), ret("0x00000050"),
      fn("kx_i_d_query_sex"), ret("\xC4\xD0"),
      fn("kx_i_d_query_finger"), hex_line("  return:", repeat("00", 1024)),
      fn("kx_i_d_query_finger_len"), ret("3"),
      fn("kx_end_i_d"),
  };
  EXPECT_EQ(dir.lines(), expected);
}

// Calls every member with one integer for every whole-number argument and
// null for every pointer.
struct NullProbe {
  int32_t icdev = 80;
  int32_t number = 0;
  size_t calls = 0;
  int32_t handle() { return icdev; }
  template <typename T>
  T value() {
    return static_cast<T>(number);
  }
  template <typename T>
  T* pointer() {
    return nullptr;
  }
  template <typename R>
  void result(int, const char*, const std::vector<uint64_t>&, R) {
    ++calls;
  }
  void no_result(int, const char*, const std::vector<uint64_t>&) { ++calls; }
};

// Every form meets null: texts, buffers, values through pointers, counts
// held by pointers, conditional and computed lines. The integers pick each
// branch (flags and types 0-2, charsets 0 and 5, table 0, zone 11, counts
// of 16); the device reports success, or a count for the members whose
// result counts their output, and writes nothing.
TEST(CoreTrace, NullArgumentsAreNeverRead) {
  static const std::regex payload(
      R"(^\[len:\d+\](-?\d+|0x[0-9A-F]{8}|\(null\)|<<image_data>>|)$)");
  for (int level : {2, 3}) {
    for (int16_t answer : {0, 5}) {
      TraceDir dir;
      set_trace_level(level);
      InstalledDevice device;
      device->write_outputs = false;
      device->answer = answer;
      NullProbe probe;
      for (int32_t number : {0, 1, 2, 5, 11, 16}) {
        probe.number = number;
        call_every_core_member(probe);
      }
      set_trace_level(0);
      EXPECT_EQ(probe.calls, 6u * 684u);
      size_t null_inputs = 0, outputs = 0;
      for (const std::string& line : dir.lines()) {
        if (line.rfind("  parameter:[", 0) != 0) continue;
        const std::string value = line.substr(line.find("]]") + 2);
        EXPECT_TRUE(std::regex_match(value, payload)) << line;
        if (line.find("[out]]") != std::string::npos) {
          ++outputs;
          EXPECT_EQ(value, "[len:6](null)") << line;
        } else {
          null_inputs += value == "[len:6](null)";
        }
      }
      EXPECT_GT(null_inputs, 1000u);
      // A count of 5 is traced by the two members whose result counts their
      // output, once per integer.
      if (answer == 5) {
        EXPECT_EQ(outputs, 12u);
      } else {
        EXPECT_GT(outputs, 1000u);
      }
    }
  }
}

}  // namespace
