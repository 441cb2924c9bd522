// The device-information area (05 02/03: UID at 0, trade number at 32,
// terminal number at 64, custom bytes at 96, AA 55 at 104, type name at
// 106), the custom serial numbers, the chip id and the 0F01/0F13 commands,
// one row per call.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using State = R42ReaderModel::State;
using Bytes = std::vector<uint8_t>;

std::string info_text(const State& s, size_t at, size_t width) {
  return std::string(s.info.begin() + long(at), s.info.begin() + long(at + width));
}

void put_text(State& s, size_t at, const std::string& text) {
  std::copy(text.begin(), text.end(), s.info.begin() + long(at));
}

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

int32_t uid(Call& c) { return c.d.GetDeviceUid(kIcdev, c.text()); }
int32_t type_name(Call& c) { return c.d.ReadDeviceTypeName(kIcdev, c.text()); }
int32_t chip_id(Call& c) { return c.d.GetChipIdNumber(kIcdev, c.text()); }
int32_t query_0f13(Call& c) { return c.d.DeviceQuery0F13(kIcdev, c.bytes()); }
int32_t command_0f01(Call& c) { return c.d.DeviceCommand0F01(kIcdev); }

const Bytes kFresh = {0xA0, 0x00, 0xFF, 0x20, 0x01, 0x02, 0x03, 0x04};

const Row kTextFields[] = {
    Row("uid", uid).sends("05 02 00 00 00 00 00 00 00 00 20").gives(0).text("SIM-UID-0001"),
    Row("trade_number", [](Call& c) { return c.d.GetDeviceTradeNumber(kIcdev, c.text()); })
        .sends("05 02 00 00 00 00 20 00 00 00 20")
        .gives(0).text("TRADE-7"),
    Row("terminal_number", [](Call& c) { return c.d.GetDeviceTerminalNumber(kIcdev, c.text()); })
        .sends("05 02 00 00 00 00 40 00 00 00 20")
        .gives(0).text("TERM-42"),
    Row("set_uid_of_32_unpadded",
        [](Call& c) { return c.d.SetDeviceUid(kIcdev, std::string(32, 'U').c_str()); })
        .sends({"05 03 00 00 00 00 00 00 00 00 20", text_bytes(std::string(32, 'U'))})
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(info_text(s, 0, 32), std::string(32, 'U')); }),
    Row("uid_of_32", uid)
        .given([](State& s) { put_text(s, 0, std::string(32, 'U')); })
        .sends("05 02 00 00 00 00 00 00 00 00 20")
        .gives(0).text(std::string(32, 'U')),
    Row("set_uid_of_33_refused",
        [](Call& c) { return c.d.SetDeviceUid(kIcdev, std::string(33, 'U').c_str()); })
        .gives(-1),
    Row("set_trade_number_of_40_refused",
        [](Call& c) { return c.d.SetDeviceTradeNumber(kIcdev, std::string(40, 'T').c_str()); })
        .gives(-1),
    Row("write_type_name_of_33_refused",
        [](Call& c) { return c.d.WriteDeviceTypeName(kIcdev, std::string(33, 'N').c_str()); })
        .gives(-1),
    Row("set_empty_uid_writes_spaces", [](Call& c) { return c.d.SetDeviceUid(kIcdev, ""); })
        .sends({"05 03 00 00 00 00 00 00 00 00 20", text_bytes(std::string(32, ' '))})
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(info_text(s, 0, 32), std::string(32, ' ')); }),
    Row("blank_uid_reads_empty", uid)
        .given([](State& s) { put_text(s, 0, std::string(32, ' ')); })
        .sends("05 02 00 00 00 00 00 00 00 00 20")
        .gives(0).text(""),
    Row("set_trade_number_keeps_leading_spaces",
        [](Call& c) { return c.d.SetDeviceTradeNumber(kIcdev, "  ab c"); })
        .sends({"05 03 00 00 00 00 20 00 00 00 20", text_bytes("  ab c" + std::string(26, ' '))})
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(info_text(s, 32, 32), "  ab c" + std::string(26, ' '));
        }),
    Row("set_terminal_number", [](Call& c) { return c.d.SetDeviceTerminalNumber(kIcdev, "T9"); })
        .sends({"05 03 00 00 00 00 40 00 00 00 20", text_bytes("T9" + std::string(30, ' '))})
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(info_text(s, 64, 32), "T9" + std::string(30, ' ')); }),
    Row("trade_number_trimmed", [](Call& c) { return c.d.GetDeviceTradeNumber(kIcdev, c.text()); })
        .given([](State& s) { put_text(s, 32, "  ab c" + std::string(26, ' ')); })
        .sends("05 02 00 00 00 00 20 00 00 00 20")
        .gives(0).text("ab c"),
    Row("terminal_number_trimmed",
        [](Call& c) { return c.d.GetDeviceTerminalNumber(kIcdev, c.text()); })
        .given([](State& s) { put_text(s, 64, "T9" + std::string(30, ' ')); })
        .sends("05 02 00 00 00 00 40 00 00 00 20")
        .gives(0).text("T9"),
    Row("failed_read_leaves_the_output", uid)
        .sends("05 02 00 00 00 00 00 00 00 00 20").answer("6A 82 00")
        .gives(-2),
};
WIRE_TABLE(R42DeviceInfoTexts, R42MemoryReader, kTextFields);

const Row kCustomInfoAndTypeName[] = {
    Row("read_custom_info", [](Call& c) { return c.d.ReadDeviceCustomInfo(kIcdev, c.bytes()); })
        .sends("05 02 00 00 00 00 60 00 00 00 08")
        .gives(0).out("01 02 03 04 05 06 07 08"),
    Row("write_custom_info",
        [](Call& c) { return c.d.WriteDeviceCustomInfo(kIcdev, kFresh.data()); })
        .sends("05 03 00 00 00 00 60 00 00 00 08 A0 00 FF 20 01 02 03 04")
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(Bytes(s.info.begin() + 96, s.info.begin() + 104), kFresh);
        }),
    Row("read_type_name", type_name)
        .sends("05 02 00 00 00 00 68 00 00 00 02")
        .sends("05 02 00 00 00 00 6A 00 00 00 20")
        .gives(0).text("R42 SIMULATOR"),
    // Without the marker there is no name, and no second read.
    Row("type_name_without_marker", type_name)
        .given([](State& s) { s.info[104] = 0xFF; })
        .sends("05 02 00 00 00 00 68 00 00 00 02")
        .gives(0).text(""),
    // The marker goes first, then the padded name.
    Row("write_type_name", [](Call& c) { return c.d.WriteDeviceTypeName(kIcdev, "Desk R42"); })
        .sends("05 03 00 00 00 00 68 00 00 00 02 AA 55")
        .sends({"05 03 00 00 00 00 6A 00 00 00 20", text_bytes("Desk R42" + std::string(24, ' '))})
        .gives(0)
        .then([](const State& s) {
          EXPECT_EQ(info_text(s, 106, 32), "Desk R42" + std::string(24, ' '));
        }),
    Row("failing_marker_write_stops_before_the_name",
        [](Call& c) { return c.d.WriteDeviceTypeName(kIcdev, "Other"); })
        .sends("05 03 00 00 00 00 68 00 00 00 02 AA 55").answer("65 81 00")
        .gives(-2)
        .then([](const State& s) { EXPECT_EQ(info_text(s, 106, 13), "R42 SIMULATOR"); }),
    // A failing marker read gives its result with the name emptied.
    Row("failing_marker_read_empties_the_name", type_name)
        .sends("05 02 00 00 00 00 68 00 00 00 02").answer("6A 82 00")
        .gives(-2).text(""),
};
WIRE_TABLE(R42DeviceInfoCustomAndTypeName, R42MemoryReader, kCustomInfoAndTypeName);

const Row kSerialsChipIdAndQueries[] = {
    Row("write_custom_serial",
        [](Call& c) { return c.d.WriteDeviceCustomSerialNumber(kIcdev, 3, "SN-0003"); })
        .sends("05 1B 00 03 53 4E 2D 30 30 30 33")
        .gives(0)
        .then([](const State& s) { EXPECT_EQ(s.custom_serials.at(3), "SN-0003"); }),
    Row("read_custom_serial",
        [](Call& c) { return c.d.ReadDeviceCustomSerialNumber(kIcdev, 3, c.text()); })
        .given([](State& s) { s.custom_serials[3] = "SN-0003"; })
        .sends("05 1A 00 03")
        .gives(0).text("SN-0003"),
    Row("custom_serial_never_written",
        [](Call& c) { return c.d.ReadDeviceCustomSerialNumber(kIcdev, 4, c.text()); })
        .sends("05 1A 00 04")
        .gives(-2),
    Row("chip_id_as_hex", chip_id).sends("0F 40 00").gives(0).text("123456789ABCDEF0"),
    Row("command_0f01", command_0f01).sends("0F 01 00").gives(0).then([](const State& s) {
      EXPECT_EQ(s.commands_0f01, 1);
    }),
    Row("query_0f13", query_0f13).sends("0F 13 00").gives(0).text("Q13"),
    // Status only, no data: an empty text.
    Row("chip_id_without_data", chip_id).sends("0F 40 00").answer("00 00 00").gives(0).text(""),
    // Replies under 3 bytes carry no data at all.
    Row("custom_serial_two_byte_reply",
        [](Call& c) { return c.d.ReadDeviceCustomSerialNumber(kIcdev, 3, c.text()); })
        .sends("05 1A 00 03").answer("00 00")
        .gives(-1),
    Row("chip_id_two_byte_reply", chip_id).sends("0F 40 00").answer("00 00").gives(-1),
    Row("query_0f13_two_byte_reply", query_0f13).sends("0F 13 00").answer("00 00").gives(-1),
    Row("command_0f01_two_byte_reply", command_0f01).sends("0F 01 00").answer("00 00").gives(0),
    // The largest reply fills the documented bounds exactly.
    Row("chip_id_largest", chip_id)
        .sends("0F 40 00").answer({"00 00 00", Bytes(2045, 0xAB)})
        .gives(0)
        .text([] {
          std::string hex;
          for (int i = 0; i < 2045; ++i) hex += "AB";
          return hex;
        }()),
    Row("query_0f13_largest", query_0f13)
        .sends("0F 13 00").answer({"00 00 00", Bytes(2045, 'q')})
        .gives(0).text(std::string(2045, 'q')),
    Row("command_0f01_status_kept", command_0f01)
        .sends("0F 01 00").answer("07 01 00")
        .gives(-2).status(0x0701),
};
WIRE_TABLE(R42DeviceInfoSerialsAndQueries, R42MemoryReader, kSerialsChipIdAndQueries);

}  // namespace
