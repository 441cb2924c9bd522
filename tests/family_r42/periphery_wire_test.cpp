// Thin reader commands of the periphery, one row each: the request as the
// command set gives it, the reader's reply, the result and the outputs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using Bytes = std::vector<uint8_t>;

const Bytes kData = hx("D1 D2 D3");

// A count and its data, as [count][data] in the output.
template <typename F>
Row::Call counted(F f) {
  return [=](Call& c) {
    int32_t n = -7;
    const int16_t r = f(c, &n);
    c.out[0] = uint8_t(n);
    return r;
  };
}

int32_t issuer_script(Call& c) {
  return c.d.CardIssuingScript(kIcdev, 3, kData.data(), c.bytes(), c.bytes() + 1);
}

int32_t stripe_settings(Call& c) {
  uint8_t* o = c.bytes();
  return c.d.GetMag(kIcdev, o, o + 1, o + 2, o + 3);
}

const Row kRows[] = {
    // Reader settings.
    Row("616C_set", [](Call& c) { return c.d.SetCpuCard616C(kIcdev, 0x5A); })
        .sends("0F 26 00 5A", 5000).answer("00 00 00")
        .gives(0),
    Row("616C_get", [](Call& c) { return c.d.GetCpuCard616C(kIcdev, c.bytes()); })
        .sends("0F 27 00").answer("00 00 00 5A")
        .gives(0).out("5A"),
    Row("616C_get_reply_short", [](Call& c) { return c.d.GetCpuCard616C(kIcdev, c.bytes()); })
        .sends("0F 27 00").answer("00 00 00")
        .gives(-1),
    Row("616C_get_status", [](Call& c) { return c.d.GetCpuCard616C(kIcdev, c.bytes()); })
        .sends("0F 27 00").answer("6A 82")
        .gives(-2).status(0x6A82),
    Row("pps_get", [](Call& c) { return c.d.GetCpuCardPps(kIcdev, c.bytes()); })
        .sends("0F 32 00").answer("00 00 00 02")
        .gives(0).out("02"),
    Row("device_baud", [](Call& c) { return c.d.GetDeviceBaud(kIcdev, c.bytes()); })
        .sends("0F 28 00").answer("00 00 00 04")
        .gives(0).out("04"),
    Row("usb_mode", [](Call& c) { return c.d.GetUsbMode(kIcdev, c.bytes()); })
        .sends("0F 29 00").answer("00 00 00 01 FF")
        .gives(0).out("01"),
    Row("clear_config", [](Call& c) { return c.d.ClearDeviceConfig(kIcdev); })
        .sends({"0F 18 00", Bytes(68, 0xFF)}, 60000).answer("00 00 00")
        .gives(0),
    Row("stripe_format_set", [](Call& c) { return c.d.MagFormatConfig(kIcdev, 255); })
        .sends("07 12 00 FF").answer("00 00 00")
        .gives(0),
    Row("stripe_format_past_its_byte", [](Call& c) { return c.d.MagFormatConfig(kIcdev, 256); })
        .gives(-1),
    Row("stripe_format_negative", [](Call& c) { return c.d.MagFormatConfig(kIcdev, -1); })
        .gives(-1),
    Row("stripe_format_get_full_width",
        [](Call& c) {
          int32_t mode = -1;
          const int16_t r = c.d.GetMagFormat(kIcdev, &mode);
          c.print("%08X", uint32_t(mode));
          return r;
        })
        .sends("07 13 00").answer("00 00 00 83")
        .gives(0).text("00000083"),
    Row("stripe_settings", stripe_settings)
        .sends("07 14 00").answer("00 00 00 01 02 03 04")
        .gives(0).out("01 02 03 04"),
    Row("stripe_settings_reply_short", stripe_settings)
        .sends("07 14 00").answer("00 00 00 01 02 03")
        .gives(-1),
    Row("stripe_settings_without_an_output",
        [](Call& c) {
          uint8_t* o = c.bytes();
          return c.d.GetMag(kIcdev, o, o + 1, nullptr, o + 3);
        })
        .gives(-1),
    // Diagnostics.
    Row("nic_address", counted([](Call& c, int32_t* n) {
          return c.d.ReadNicMacAddress(kIcdev, c.bytes() + 1, n);
        }))
        .sends("AF 01 00").answer("00 00 00 00 1A 2B 3C 4D 5E")
        .gives(0).out("06 00 1A 2B 3C 4D 5E"),
    Row("nic_address_write",
        [](Call& c) { return c.d.WriteNicMacAddress(kIcdev, kData.data(), 3); })
        .sends("AF 02 00 D1 D2 D3").answer("00 00 00")
        .gives(0),
    Row("nic_address_write_past_the_request",
        [](Call& c) { return c.d.WriteNicMacAddress(kIcdev, Bytes(2046).data(), 2046); })
        .gives(-1),
    Row("nic_test", [](Call& c) { return c.d.TestNic(kIcdev, kData.data(), 3); })
        .sends("AF 03 00 D1 D2 D3", 20000).answer("00 00 00")
        .gives(0),
    Row("nic_test_negative_length", [](Call& c) { return c.d.TestNic(kIcdev, kData.data(), -1); })
        .gives(-1),
    Row("usb_test", [](Call& c) { return c.d.TestUsb(kIcdev, nullptr, 0); })
        .sends("AF 04 00", 20000).answer("00 00 00")
        .gives(0),
    Row("usb_test_without_data", [](Call& c) { return c.d.TestUsb(kIcdev, nullptr, 2); })
        .gives(-1),
    Row("temporary_ip", [](Call& c) { return c.d.ConfigTempIpAddress(kIcdev, kData.data(), 3); })
        .sends("AF 06 00 D1 D2 D3", 5000).answer("00 00 00")
        .gives(0),
    // Keypad keys, EMV and the reader's cipher commands.
    Row("keypad_key", [](Call& c) { return c.d.InstallKbKey(kIcdev, 1, 3, kData.data(), 2); })
        .sends("C0 02 00 01 02 03 D1 D2 D3").answer("00 00 00")
        .gives(0),
    Row("keypad_key_id", [](Call& c) { return c.d.SetKbKeyID(kIcdev, 9); })
        .sends("C0 01 00 09").answer("00 00 00")
        .gives(0),
    Row("tag_55_data",
        [](Call& c) {
          int32_t n = -7;
          const int16_t r = c.d.get55data(kIcdev, 3, kData.data(), c.bytes(), &n, c.bytes() + 2);
          c.out[1] = uint8_t(n);
          return r;
        })
        .sends("A2 01 00 D1 D2 D3").answer("00 00 00 07 55 01")
        .gives(0).out("07 02 55 01"),
    Row("tag_55_data_without_packet_type",
        [](Call& c) {
          int32_t n = -7;
          return c.d.get55data(kIcdev, 3, kData.data(), c.bytes(), &n, c.bytes() + 2);
        })
        .sends("A2 01 00 D1 D2 D3").answer("00 00 00")
        .gives(-1),
    Row("tag_55_data_past_the_request",
        [](Call& c) {
          int32_t n = 0;
          return c.d.get55data(kIcdev, 2046, Bytes(2046).data(), c.bytes(), &n, c.bytes());
        })
        .gives(-1),
    Row("issuer_script", issuer_script)
        .sends("A2 02 00 D1 D2 D3").answer("00 00 00 00 01")
        .gives(0).out("00 01"),
    Row("issuer_script_reply_short", issuer_script)
        .sends("A2 02 00 D1 D2 D3").answer("00 00 00 00")
        .gives(-1),
    Row("emv_parameters", [](Call& c) { return c.d.SetEMVPara(kIcdev, 3, kData.data()); })
        .sends("A0 09 00 00 03 D1 D2 D3").answer("00 00 00")
        .gives(0),
    Row("emv_parameters_past_the_request",
        [](Call& c) { return c.d.SetEMVPara(kIcdev, 2044, Bytes(2044).data()); })
        .gives(-1),
    Row("mac_check",
        [](Call& c) { return c.d.CalculateMACCheck(kIcdev, 4, 1, 3, kData.data(), c.bytes()); })
        .sends("A3 06 00 04 01 00 00 00 03 D1 D2 D3").answer("00 00 00 01 02 03 04 05 06 07 08")
        .gives(0).out("01 02 03 04 05 06 07 08"),
    Row("mac_check_reply_short",
        [](Call& c) { return c.d.CalculateMACCheck(kIcdev, 4, 1, 3, kData.data(), c.bytes()); })
        .sends("A3 06 00 04 01 00 00 00 03 D1 D2 D3").answer("00 00 00 01 02 03 04 05 06 07")
        .gives(-1),
    Row("mac_check_negative_length",
        [](Call& c) { return c.d.CalculateMACCheck(kIcdev, 4, 1, -1, kData.data(), c.bytes()); })
        .gives(-1),
    Row("des_calculation",
        [](Call& c) { return c.d.CalculateDes(kIcdev, 4, 0, 3, kData.data(), c.bytes()); })
        .sends("A3 07 00 04 00 00 03 D1 D2 D3").answer("00 00 00 01 02 03 04 05 06 07 08 09")
        .gives(0).out("01 02 03 04 05 06 07 08"),
    Row("des_calculation_past_the_request",
        [](Call& c) { return c.d.CalculateDes(kIcdev, 4, 0, 2042, Bytes(2042).data(), c.bytes()); })
        .gives(-1),
    Row("sm4_block",
        [](Call& c) { return c.d.CreatSm4Data(kIcdev, 1, 0, Bytes(16, 0x10).data(), c.bytes()); })
        .sends({"C0 04 00 01 00", Bytes(16, 0x10)}).answer({"00 00 00", Bytes(16, 0x61)})
        .gives(0).out(Bytes(16, 0x61)),
    Row("des_block_reply_short",
        [](Call& c) { return c.d.CreatDesData(kIcdev, 1, 0, Bytes(8, 0x10).data(), c.bytes()); })
        .sends({"C0 04 00 01 00", Bytes(8, 0x10)}).answer({"00 00 00", Bytes(7, 0x61)})
        .gives(-1),
};
// A null buffer or text where the call needs one: -1 before any I/O.
std::vector<Row> null_rows() {
  const uint8_t* in = kData.data();
  uint8_t b = 0;
  int32_t n = 0;
  return Row::null_rows({
      {"balance_text", [](Call& c) { return c.d.read_walletbalance(kIcdev, nullptr); }},
      {"terminal_number", [](Call& c) { return c.d.get_terminalnumber(kIcdev, 4, nullptr); }},
      {"trade_key", [](Call& c) { return c.d.set_tradesecretkey(kIcdev, nullptr); }},
      {"authentication", [=](Call& c) { return c.d.authentication_key(kIcdev, in, nullptr); }},
      {"record_data", [=](Call& c) mutable { return c.d.get_record(kIcdev, 0, 0, &b, nullptr); }},
      {"transaction_type", [](Call& c) { return c.d.get_transactiontype(kIcdev, nullptr); }},
      {"relay_answer_count",
       [=](Call& c) { return c.d.SD_InstallKey(kIcdev, 0, 3, in, nullptr, c.bytes()); }},
      {"relay_answer",
       [=](Call& c) mutable { return c.d.SD_InstallKey(kIcdev, 0, 3, in, &b, nullptr); }},
      {"relay_frame",
       [=](Call& c) mutable { return c.d.SD_InstallKey(kIcdev, 0, 3, nullptr, &b, c.bytes()); }},
      {"pad_version", [](Call& c) { return c.d.SD_IFD_GetVersion(kIcdev, nullptr); }},
      {"pad_pin", [](Call& c) { return c.d.SD_IFD_GetEnPINPro(kIcdev, nullptr, 0, 0, 5); }},
      {"pad_card_number",
       [](Call& c) { return c.d.SD_IFD_GetEnPINBlock(kIcdev, c.text(), 0, 0, nullptr, 5); }},
      {"pad_display_text",
       [](Call& c) { return c.d.SD_IFD_LEDDisplay(kIcdev, 0, 0, nullptr, 5); }},
      {"pad_mac", [=](Call& c) { return c.d.SD_IFD_CreateMac(kIcdev, 3, in, nullptr); }},
      {"pad_main_key", [=](Call& c) { return c.d.SD_IFD_SetMainKey(kIcdev, 0, in, nullptr); }},
      {"pad_scanner_count",
       [](Call& c) { return c.d.SD_IFD_Scan2DBarcodeGetData(kIcdev, nullptr, c.bytes()); }},
      {"enciphered_pass",
       [](Call& c) { return c.d.GetEnPass(kIcdev, 0, 2, nullptr, nullptr, c.bytes()); }},
      {"ecb_result",
       [=](Call& c) mutable { return c.d.CreatDesDataECB(kIcdev, 1, 0, 3, in, &n, nullptr); }},
      {"mac_source",
       [=](Call& c) mutable {
         return c.d.CreatMacDataECB(kIcdev, 1, 3, 3, nullptr, &n, c.bytes());
       }},
      {"tunnel_response_count",
       [=](Call& c) { return c.d.keypad_io_control(kIcdev, 0, in, 3, c.bytes(), nullptr); }},
      {"pressed_value", [](Call& c) { return c.d.keypad_GetPressed(kIcdev, 10, nullptr); }},
      {"keypad_version", [](Call& c) { return c.d.KeypadOpen(kIcdev, 1, nullptr); }},
      {"keypad_extra_length",
       [](Call& c) {
         return c.d.KeypadLoadKey(kIcdev, 1, 1, 1, 1, 1, nullptr, 0, 1, c.bytes(), nullptr);
       }},
      {"keypad_output_count",
       [](Call& c) { return c.d.KeypadExitAndGetInput(kIcdev, 1, 0, c.bytes(), nullptr); }},
      {"reader_pin_text",
       [=](Call& c) mutable { return c.d.pass_key_value2(kIcdev, 0, &b, nullptr); }},
      {"loop_back_name",
       [=](Call& c) mutable { return c.d.TestCom(kIcdev, 0, nullptr, c.bytes(), &n); }},
      {"nic_address_length",
       [](Call& c) { return c.d.ReadNicMacAddress(kIcdev, c.bytes(), nullptr); }},
      {"stripe_format", [](Call& c) { return c.d.GetMagFormat(kIcdev, nullptr); }},
  });
}

const std::vector<Row> kAllRows = [] {
  std::vector<Row> rows(std::begin(kRows), std::end(kRows));
  const std::vector<Row> nulls = null_rows();
  rows.insert(rows.end(), nulls.begin(), nulls.end());
  return rows;
}();
WIRE_TABLE(R42PeripheryWire, R42MemoryReader, kAllRows);

}  // namespace
