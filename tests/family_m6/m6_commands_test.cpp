// m6 reader commands against the reader model in memory: the exchange and
// its reply shapes, the memories and the reader's own facilities.
// Null arguments of every m6 call that checks its own are one table here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection/hid_stx_protocol.h"
#include "connection/m6_port_helpers.h"
#include "family_m6/m6_device.h"
#include "fuzz/memory_port.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;
using Bytes = std::vector<uint8_t>;

const Bytes kData = wire_pattern(400, 3);

// [status 00][the bytes].
WireBytes ok(const Bytes& data) { return {"00", data}; }
Row::Call read_block(uint8_t adr) {
  return [adr](Call& c) { return c.d.read(kIcdev, adr, c.bytes()); };
}

const Row kExchange[] = {
    Row("status_kept_through_a_later_failure",
        [](Call& c) {
          EXPECT_EQ(c.d.read(kIcdev, 4, c.bytes()), -2);
          return c.d.read(kIcdev, 4, c.bytes());
        })
        .sends("46 04").answer("04")
        .sends("46 04").fails()
        .gives(-1).status(4),
    Row("answer_one_byte_short_writes_nothing", read_block(4))
        .sends("46 04").answer(ok(wire_pattern(15, 1)))
        .gives(-1),
    Row("long_version_waits_five_seconds",
        [](Call& c) { return c.d.getlongver(kIcdev, c.text()); })
        .sends("80", 5000).answer(ok(Bytes(16, 'V')))
        .gives(0).text(std::string(16, 'V')),
    Row("field_reset_waits_its_time", [](Call& c) { return c.d.reset(kIcdev, 100); })
        .sends("4E 64 00", 6000).answer("00")
        .gives(0),
    Row("beep_waits_its_time", [](Call& c) { return c.d.beep(kIcdev, 10); })
        .sends("57 0A 00", 5100).answer("00")
        .gives(0),
    Row("update_awaits_no_reply", [](Call& c) { return c.d.update(kIcdev); })
        .sends("FE 00 00", 5000).capacity(0).answer("")
        .gives(0),
    Row("reader_serial_is_the_second_half", [](Call& c) { return c.d.readreadersnr(kIcdev, c.text()); })
        .given([](M6ReaderModel::State& s) { s.serial = "0123456789ABCDEFGHIJKLMNOPQRSTUV"; })
        .sends("FC")
        .gives(0).text("GHIJKLMNOPQRSTUV"),
    Row("reader_serial_status_is_minus_one", [](Call& c) { return c.d.readreadersnr(kIcdev, c.text()); })
        .sends("FC").answer("07")
        .gives(-1).status(7),
    Row("last_response_code", [](Call& c) {
          c.d.resetdevice(kIcdev);
          return c.d.GetLastResponseCode(kIcdev, reinterpret_cast<int32_t*>(c.bytes()));
        })
        .sends("FB 00 01").answer("9C")
        .gives(0).out("9C 00 00 00"),
};
WIRE_TABLE(M6Exchange, M6MemoryReader, kExchange);

TEST(M6ExchangeEnds, WithoutPortNothingGoesOut) {
  RecordingProtocol wire(nullptr, [](const Bytes&) { return Bytes{0x00}; });
  M6Device device("m6-u", nullptr, &wire);
  uint8_t block[16];
  EXPECT_EQ(device.read(kIcdev, 4, block), -1);
  M6Request request(0x7D);
  EXPECT_EQ(device.long_exchange(request, 100, 0), -1);
  EXPECT_TRUE(wire.calls.empty());
}

// The long exchange takes report frames on the same USB device as the
// ordinary one, and carries what one HidStx frame cannot: a 402-byte
// request, the barcode module's largest code (66 reports of 31 frame bytes).
TEST(M6ExchangeEnds, LongExchangeOverReportFrames) {
  M6OverUsb usb(M6Reader::Framing::kHidStx);
  ASSERT_TRUE(usb.opened);
  HidStxProtocol stx(&usb.port);
  M6Device device("m6-u", &usb.port, &stx);
  M6Request request(0x7D, 3000);
  request.bytes(kData.data(), kData.size()).bytes(kData.data(), 2);
  ByteCursor answer(nullptr, 0);
  ASSERT_EQ(device.long_exchange(request, 1000, kData.size() + 2, &answer), 0);
  EXPECT_EQ(Bytes(answer.here(), answer.here() + 4), wire_slice(kData, 0, 4)) << "echoed";
  EXPECT_EQ(device.exchange(request, 1000, 0), -1) << "402 bytes are past one HidStx frame";

  Bytes data(4096, 0xCC);
  int32_t length = -1;
  usb.reader.pushReply({0x00});
  EXPECT_EQ(device.Scan2DBarcodeGetData(kIcdev, &length, data.data()), 0);
  EXPECT_EQ(length, 0);
  const Bytes code = wire_pattern(2040, 9);
  usb.reader.pushReply(WireBytes({"00", code}).bytes);
  EXPECT_EQ(device.Scan2DBarcodeGetData(kIcdev, &length, data.data()), 0);
  ASSERT_EQ(length, 2040);
  EXPECT_EQ(wire_slice(data, 0, 2041), WireBytes({code, "CC"}).bytes);
  EXPECT_EQ(device.Scan2DBarcodeExit(kIcdev), 0);
  EXPECT_EQ(device.status_command(0x45), 0) << "the ordinary framing after them";
  const auto commands = usb.reader.commands();
  ASSERT_EQ(commands.size(), 5u);
  EXPECT_EQ(commands[0].size(), 403u);
  const std::vector<Bytes> rest = {{0xDA, 0x01}, {0xDA, 0x01}, {0xDA, 0x02}, {0x45}};
  EXPECT_EQ(std::vector<Bytes>(commands.begin() + 1, commands.end()), rest);
}

TEST(M6ExchangeEnds, BarcodeStartGoesAsOneReportFrame) {
  MemoryPort port(as_reports({0xAA, 0x00, 0x01, 0x00, 0xAB, 0x55}));
  HidStxProtocol stx(&port);
  M6Device device("m6-u", &port, &stx);
  EXPECT_EQ(device.Scan2DBarcodeStart(kIcdev, 1), 0);
  EXPECT_EQ(spaced_hex(port.written), "02 AA 00 03 DA 00 01 72 55");
}

// --- memories ---

std::vector<Row> memory_rows() {
  std::vector<Row> rows = {
      Row("eeprom_read_in_chunks_of_40",
          [](Call& c) { return c.d.ReadEepromRaw(kIcdev, 8000, 100, c.bytes()); })
          .sends("37 40 1F 28").answer(ok(wire_slice(kData, 0, 40)))
          .sends("37 68 1F 28").answer(ok(wire_slice(kData, 40, 40)))
          .sends("37 90 1F 14").answer(ok(wire_slice(kData, 80, 20)))
          .gives(0).out(wire_slice(kData, 0, 100)),
      Row("eeprom_failing_chunk_keeps_the_first",
          [](Call& c) { return c.d.ReadEepromRaw(kIcdev, 8000, 100, c.bytes()); })
          .sends("37 40 1F 28").answer(ok(wire_slice(kData, 0, 40)))
          .sends("37 68 1F 28").answer("05")
          .gives(-2).out(wire_slice(kData, 0, 40)),
      Row("eeprom_chunk_answer_one_short",
          [](Call& c) { return c.d.ReadEepromRaw(kIcdev, 0, 40, c.bytes()); })
          .sends("37 00 00 28").answer(ok(wire_slice(kData, 0, 39)))
          .gives(-1),
      Row("eeprom_past_its_end", [](Call& c) { return c.d.ReadEepromRaw(kIcdev, 8150, 100, c.bytes()); })
          .gives(-1),
      Row("eeprom_nothing_to_read", [](Call& c) { return c.d.ReadEepromRaw(kIcdev, 8150, 0, c.bytes()); })
          .gives(0),
      Row("user_area_starts_at_400", [](Call& c) { return c.d.srd_eeprom(kIcdev, 0, 16, c.bytes()); })
          .sends("37 90 01 10").answer(ok(wire_slice(kData, 0, 16)))
          .gives(0).out(wire_slice(kData, 0, 16)),
      Row("user_area_text_past_the_eeprom",
          [](Call& c) { return c.d.srd_eepromhex(kIcdev, 7700, 100, c.text()); })
          .gives(-1),
      Row("data_memory_write_in_chunks_of_192",
          [](Call& c) { return c.d.write1024(kIcdev, 0, 400, kData.data()); })
          .sends({"BF 00 00 00 00 C0", wire_slice(kData, 0, 192)}).answer("00")
          .sends({"BF C0 00 00 00 C0", wire_slice(kData, 192, 192)}).answer("00")
          .sends({"BF 80 01 00 00 10", wire_slice(kData, 384, 16)}).answer("00")
          .gives(0),
      Row("data_memory_text_write",
          [](Call& c) { return c.d.write1024_hex(kIcdev, 131070, 2, "a1B2"); })
          .sends("BF FE FF 01 00 02 A1 B2").answer("00")
          .gives(0),
      Row("data_memory_text_read", [](Call& c) { return c.d.read1024_hex(kIcdev, 5, 2, c.text()); })
          .sends("BE 05 00 00 00 02").answer("00 0A FF")
          .gives(0).text("0AFF"),
      Row("device_uid_padded_with_spaces", [](Call& c) { return c.d.SetDeviceUid(kIcdev, "AB12"); })
          .sends({"38 64 00 20 41 42 31 32", Bytes(28, ' ')}).answer("00")
          .gives(0),
      Row("type_name_behind_its_marker", [](Call& c) { return c.d.ReadDeviceTypeName(kIcdev, c.text()); })
          .sends("37 CC 00 02").answer("00 AA 55")
          .sends("37 CE 00 20").answer({"00 4D 36", Bytes(30, ' ')})
          .gives(0).text("M6"),
      Row("type_name_marker_then_text", [](Call& c) { return c.d.WriteDeviceTypeName(kIcdev, "M6"); })
          .sends("38 CC 00 02 AA 55").answer("00")
          .sends({"38 CE 00 20 4D 36", Bytes(30, ' ')}).answer("00")
          .gives(0),
      Row("switch_linux_mark", [](Call& c) { return c.d.switch_linux(kIcdev); })
          .sends("38 00 00 03 AA 00 55").answer("00")
          .gives(0),
  };
  // 130000 + 1072 is the last byte; one more, a negative number, or a sum
  // that wraps 32 bits is refused before anything goes out.
  Row last(Row("data_memory_up_to_its_end",
               [](Call& c) { return c.d.read1024(kIcdev, 130000, 1072, c.bytes()); }));
  Bytes all;
  for (uint32_t at = 0; at < 1072; at += 192) {
    const uint32_t n = std::min<uint32_t>(192, 1072 - at), offset = 130000 + at;
    const Bytes part = wire_pattern(n, uint8_t(at));
    last.sends(Bytes{0xBE, uint8_t(offset), uint8_t(offset >> 8), uint8_t(offset >> 16), 0,
                     uint8_t(n)})
        .answer(ok(part));
    all.insert(all.end(), part.begin(), part.end());
  }
  rows.push_back(last.gives(0).out(all));
  const struct {
    const char* name;
    int32_t offset, length;
  } refused[] = {{"one_past_the_end", 130000, 1073}, {"sum_wraps", 0x7FFFFFF0, 0x20},
                 {"negative_offset", -1, 10},        {"negative_length", 0, -1}};
  for (const auto& r : refused) {
    rows.push_back(Row(std::string("data_memory_") + r.name,
                       [r](Call& c) { return c.d.read1024(kIcdev, r.offset, r.length, c.bytes()); })
                       .gives(-1));
    // The text twins check the range before they read text or take memory.
    rows.push_back(Row(std::string("data_memory_text_") + r.name,
                       [r](Call& c) { return c.d.write1024_hex(kIcdev, r.offset, r.length, "00"); })
                       .gives(-1));
  }
  return rows;
}
WIRE_TABLE(M6Memories, M6MemoryReader, memory_rows());

// --- the reader's own facilities ---

Row::Call display(const std::string& text) {
  return [text](Call& c) { return c.d.disp_str(kIcdev, text.c_str()); };
}
Row::Call mcu(uint8_t slen) {
  return [slen](Call& c) {
    return c.d.KXDEV_CommandMcu(kIcdev, 0, slen, kData.data(), c.bytes(), c.bytes() + 1);
  };
}

std::vector<Row> peripheral_rows() {
  std::vector<Row> rows = {
      Row("display_digits_and_a_point", display("12.5"))
          .sends("7F 06 03 01 82 05").answer("00")
          .gives(0),
      Row("display_negative_lower_case", [](Call& c) { return c.d.disp_neg(kIcdev, "a.f"); })
          .sends("8F 07 02 8A 0F").answer("00")
          .gives(0),
      Row("brightness_in_the_eeprom", [](Call& c) { return c.d.setbright(kIcdev, 5); })
          .sends("38 89 01 01 05").answer("00")
          .gives(0),
      Row("light_above_a_byte", [](Call& c) { return c.d.light(kIcdev, 256); }).gives(-1),
      Row("reader_info_skips_three_bytes", [](Call& c) { return c.d.getrcinfo_hex(kIcdev, c.text()); })
          .sends("FD 00 00 12").answer("00 01 02 03 04 05 06 07 08 09 0A 0B 0C")
          .gives(0).text("01020304050" "90A0B0C"),
      Row("reader_info_one_byte_short", [](Call& c) { return c.d.getrcinfo(kIcdev, c.bytes()); })
          .sends("FD 00 00 12").answer("00 01 02 03 04 05 06 07 08 09 0A 0B")
          .gives(-1),
      Row("clock_set_from_text", [](Call& c) { return c.d.settime_hex(kIcdev, "24010203040506"); })
          .sends("39 24 01 02 03 04 05 06").answer("00")
          .gives(0),
      Row("clock_read_as_text", [](Call& c) { return c.d.gettime_hex(kIcdev, c.text()); })
          .sends("3A").answer("00 24 01 02 03 04 05 06")
          .gives(0).text("24010203040506"),
      Row("rf_register_read_sends_zero",
          [](Call& c) { return c.d.rw_rfreg_hex(kIcdev, 1, 5, c.text()); })
          .sends("F9 01 05 00").answer("00 3C")
          .gives(0).text("3C"),
      Row("display_bytes_over_one_frame",
          [](Call& c) { return c.d.high_disp(kIcdev, 0, 254, kData.data()); })
          .gives(-1),
      Row("mcu_reply", mcu(2))
          .sends("FA 00 02 03 0A").capacity(0).answer("")
          .sends("").answer("00 02 AA BB")
          .gives(0).out("02 AA BB"),
      Row("mcu_length_past_the_data", mcu(2))
          .sends("FA 00 02 03 0A").capacity(0).answer("")
          .sends("").answer("00 03 AA BB")
          .gives(-1),
      Row("mcu_data_over_one_frame", mcu(254)).gives(-1),
  };
  // Texts the display cannot show are refused before anything goes out.
  const char* const bad[] = {"1G", ".5", "1..2", "1234567890", "12345678901234567", "1\xC8"};
  for (size_t i = 0; i < std::size(bad); ++i)
    rows.push_back(Row("display_refuses_" + std::to_string(i), display(bad[i])).gives(-1));
  return rows;
}
WIRE_TABLE(M6Peripherals, M6MemoryReader, peripheral_rows());

// Every buffer the m6 calls check themselves refused null before any I/O
// (the shared sector-card flows check theirs, tested through r42).
std::vector<Row> null_rows() {
  uint8_t b[16] = {};
  uint32_t n = 0;
  int32_t i32 = 0;
  return Row::null_rows({
      {"request", [](Call& c) { return c.d.request(kIcdev, 1, nullptr); }},
      {"anticoll", [](Call& c) { return c.d.anticoll(kIcdev, 0, nullptr); }},
      {"select", [](Call& c) { return c.d.select(kIcdev, 1, nullptr); }},
      {"read", [](Call& c) { return c.d.read(kIcdev, 4, nullptr); }},
      {"write", [](Call& c) { return c.d.write(kIcdev, 4, nullptr); }},
      {"load_key", [](Call& c) { return c.d.load_key(kIcdev, 0, 1, nullptr); }},
      {"readval", [](Call& c) { return c.d.readval(kIcdev, 4, nullptr); }},
      {"hl_write_serial", [=](Call& c) { return c.d.HL_write(kIcdev, 0, 4, nullptr, b); }},
      {"hl_write_data", [=](Call& c) mutable { return c.d.HL_write(kIcdev, 0, 4, &n, nullptr); }},
      {"hl_read_data", [=](Call& c) mutable { return c.d.HL_read(kIcdev, 0, 4, 0, nullptr, &n); }},
      {"hl_read_serial", [](Call& c) { return c.d.HL_read(kIcdev, 0, 4, 0, c.bytes(), nullptr); }},
      {"eeprom_read", [](Call& c) { return c.d.ReadEepromRaw(kIcdev, 0, 1, nullptr); }},
      {"eeprom_write", [](Call& c) { return c.d.WriteEepromRaw(kIcdev, 0, 1, nullptr); }},
      {"data_read", [](Call& c) { return c.d.read1024(kIcdev, 0, 1, nullptr); }},
      {"uid_get", [](Call& c) { return c.d.GetDeviceUid(kIcdev, nullptr); }},
      {"trade_set", [](Call& c) { return c.d.SetDeviceTradeNumber(kIcdev, nullptr); }},
      {"type_name", [](Call& c) { return c.d.ReadDeviceTypeName(kIcdev, nullptr); }},
      {"type_name_write", [](Call& c) { return c.d.WriteDeviceTypeName(kIcdev, nullptr); }},
      {"disp_str", [](Call& c) { return c.d.disp_str(kIcdev, nullptr); }},
      {"rcinfo_hex", [](Call& c) { return c.d.getrcinfo_hex(kIcdev, nullptr); }},
      {"rfreg", [](Call& c) { return c.d.rw_rfreg(kIcdev, 0, 0, nullptr); }},
      {"mcu_length", [](Call& c) { return c.d.KXDEV_CommandMcu(kIcdev, 0, 1, c.bytes(), nullptr, c.bytes()); }},
      {"mcu_hex", [](Call& c) { return c.d.KXDEV_CommandMcu_Hex(kIcdev, 0, 1, nullptr, c.bytes(), c.text()); }},
      {"name", [](Call& c) { return c.d.getname(kIcdev, nullptr); }},
      {"reader_serial", [](Call& c) { return c.d.readreadersnr(kIcdev, nullptr); }},
      {"last_code", [](Call& c) { return c.d.GetLastResponseCode(kIcdev, nullptr); }},
      // The POS terminal, keypad and stripe; the PIN pad, barcode module and
      // LCD text; MIFARE Plus and Ultralight C.
      {"getinputpass", [](Call& c) { return c.d.getinputpass(kIcdev, 1, nullptr, c.text()); }},
      {"passget", [](Call& c) { return c.d.passget(kIcdev, c.bytes(), nullptr); }},
      {"getinputkey", [](Call& c) { return c.d.getinputkey(kIcdev, 0, 0, 1, nullptr, c.text()); }},
      {"getdevicetime", [](Call& c) {
         uint8_t* v = c.bytes();
         return c.d.getdevicetime(kIcdev, v, v, v, v, v, nullptr);
       }},
      {"readmagcard",
       [](Call& c) { return c.d.readmagcard(kIcdev, 1, c.text(), nullptr, c.text(), nullptr); }},
      {"readmagcardall", [=](Call& c) mutable {
         return c.d.readmagcardall(kIcdev, 1, c.text(), &i32, nullptr, &i32, c.text(), &i32);
       }},
      {"install_key",
       [](Call& c) { return c.d.SD_InstallKey(kIcdev, 1, 1, c.bytes(), nullptr, c.bytes()); }},
      {"pin", [](Call& c) { return c.d.SD_IFD_GetPIN(kIcdev, nullptr); }},
      {"display", [](Call& c) { return c.d.SD_IFD_LEDDisplay(kIcdev, 0, 0, nullptr, 1); }},
      {"scanner_data", [](Call& c) { return c.d.Scan2DBarcodeGetData(kIcdev, nullptr, c.bytes()); }},
      {"lcd_text", [](Call& c) { return c.d.LcdDisplayText(kIcdev, 0, 0, 0, 0, nullptr); }},
      {"mfp_key", [](Call& c) { return c.d.MFPL3_authl3key(kIcdev, 0x4000, nullptr); }},
      {"mfp_data", [](Call& c) { return c.d.MFPL3_writeinplain(kIcdev, 4, 1, nullptr); }},
      {"mfp_out", [](Call& c) { return c.d.MFPL3_readencrypted(kIcdev, 4, 1, nullptr, 0); }},
      {"ulc_key_text", [](Call& c) { return c.d.changekey_ulc_hex(kIcdev, nullptr); }},
  });
}
WIRE_TABLE(M6NullArguments, M6MemoryReader, null_rows());

}  // namespace
