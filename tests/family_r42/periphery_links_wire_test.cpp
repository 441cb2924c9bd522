// Thin reader commands of the self-service card device, the RF settings,
// NFC, the cpy channel and the modules behind the reader, one row each: the
// request as the command set gives it, the reader's reply, the result and
// the outputs. Per reply shape a few rows also take a reply one byte short
// and a reader status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "family_r42/processor_card_rows.h"

namespace {

const Bytes kData = hx("D1 D2 D3");
const Bytes kApdu = hx("00 84 00 00 08");

// A 32-bit output printed as 8 hex digits (only on success).
template <typename T, typename F>
Row::Call printed(F f) {
  return [=](Call& c) {
    T value = T(-1);
    const int16_t r = f(c, &value);
    if (r == 0) c.print("%08X", uint32_t(value));
    return r;
  };
}

// A count and its data.
template <typename F>
Row::Call counted(F f) {
  return [=](Call& c) { return with_length32(c, [&](int32_t* n, uint8_t* out) { return f(c, n, out); }); };
}

int32_t card_position(Call& c) { return c.d.SelfServiceDeviceCardStatus(kIcdev, c.bytes()); }
int32_t chip_registers(Call& c) { return c.d.RfReadChipRegister(kIcdev, c.bytes()); }
int32_t antenna_mask(Call& c) {
  uint32_t mask = 0x0000000F;
  const int16_t r = c.d.MultiAntennaStartOrStop(kIcdev, 1, &mask);
  if (r == 0) c.print("%08X", mask);
  return r;
}
int32_t nfc_receive(Call& c) {
  int32_t n = -7;
  const int16_t r = c.d.NfcDataReceiver(kIcdev, 2500, c.bytes(), c.bytes() + 2, &n);
  if (r == 0) c.out[1] = uint8_t(n);
  return r;
}
int32_t signal(Call& c) {
  int16_t value = 0;
  const int16_t r = c.d.BtSignalStrength(kIcdev, c.bytes(), &value);
  if (r == 0) std::memcpy(c.bytes() + 1, &value, 2);
  return r;
}
Row::Call anticollision = printed<int32_t>([](Call& c, int32_t* snr) {
  return c.d.anticoll_mode(kIcdev, 0x52, 9, snr);
});

const Row kRows[] = {
    // Self-service card device.
    Row("card_position", card_position).sends("09 00 00").answer("00 00 00 02").gives(0).out("02"),
    Row("card_position_reply_short", card_position).sends("09 00 00").answer("00 00 00").gives(-1),
    Row("card_position_status", card_position).sends("09 00 00").answer("6A 82").gives(-2).status(0x6A82),
    Row("device_config", [](Call& c) { return c.d.SelfServiceDeviceConfig(kIcdev, 0x11); })
        .sends("09 05 00 11", 5000).answer("00 00").gives(0),
    Row("device_config_front", [](Call& c) { return c.d.SelfServiceDeviceConfigFront(kIcdev, 0x12); })
        .sends("09 06 00 12").answer("00 00").gives(0),
    Row("device_config_back", [](Call& c) { return c.d.SelfServiceDeviceConfigBack(kIcdev, 0x13); })
        .sends("09 07 00 13").answer("00 00").gives(0),
    Row("device_config_place", [](Call& c) { return c.d.SelfServiceDeviceConfigPlace(kIcdev, 0x14); })
        .sends("09 08 00 14").answer("00 00").gives(0),
    Row("device_config_status", [](Call& c) { return c.d.SelfServiceDeviceConfigPlace(kIcdev, 0x14); })
        .sends("09 08 00 14").answer("09 01 00").gives(-2).status(0x0901),
    Row("device_reset", [](Call& c) { return c.d.SelfServiceDeviceReset(kIcdev); })
        .sends("09 0A 00").answer("00 00").gives(0),
    Row("device_stripe_config", [](Call& c) { return c.d.SelfServiceDeviceWriteMagConfig(kIcdev, 0x21); })
        .sends("07 15 00 21").answer("00 00").gives(0),
    Row("device_shake", [](Call& c) { return c.d.SelfServiceDeviceShakeConfig(kIcdev, 0x22); })
        .sends("09 0B 00 22").answer("00 00").gives(0),
    Row("device_front_switch", [](Call& c) { return c.d.SelfServiceDeviceGetFrontSwitch(kIcdev, c.bytes()); })
        .sends("09 0D 00").answer("00 00 00 01").gives(0).out("01"),
    Row("device_recover", [](Call& c) { return c.d.SelfServiceDeviceRecoverError(kIcdev, 3); })
        .sends("09 0E 00 03", 10000).answer("00 00").gives(0),
    // Contactless extras.
    Row("rf_wave", [](Call& c) { return c.d.RfWaveControl(kIcdev, 1); })
        .sends("04 47 00 01").answer("00 00").gives(0),
    Row("chip_registers", chip_registers)
        .sends("04 48 00").answer({"00 00 00", wire_pattern(11, 1)}).gives(0).out(wire_pattern(11, 1)),
    Row("chip_registers_reply_short", chip_registers)
        .sends("04 48 00").answer({"00 00 00", wire_pattern(10, 1)}).gives(-1),
    Row("chip_register_set", [](Call& c) { return c.d.RfSetChipRegister(kIcdev, 5, 0x80); })
        .sends("04 49 00 05 80").answer("00 00").gives(0),
    Row("rf_config_read_full_width",
        printed<int32_t>([](Call& c, int32_t* v) { return c.d.ReadRfCfgReg(kIcdev, 1, 2, v); }))
        .sends("04 27 00 01 02").answer("00 00 00 80").gives(0).text("00000080"),
    Row("rf_config_write", [](Call& c) { return c.d.WriteRfCfgReg(kIcdev, 3, 4, 255); })
        .sends("04 28 00 03 04 FF").answer("00 00").gives(0),
    Row("rf_crc", [](Call& c) { return c.d.RfCrcModeConfig(kIcdev, 1, 0); })
        .sends("04 55 00 01 00").answer("00 00").gives(0),
    Row("rf_format", [](Call& c) { return c.d.RfFormatConfig(kIcdev, 1, 2, 3, 4); })
        .sends("07 20 00 01 02 03 04").answer("00 00").gives(0),
    Row("rf_march", [](Call& c) { return c.d.RfMarch(kIcdev); }).sends("05 0E 00").answer("00 00").gives(0),
    Row("ats", counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.ReadRfTypeABATS(kIcdev, n, o); }))
        .sends("04 3B 00").answer("00 00 00 05 78 80").gives(0).out("03 00 00 00 05 78 80"),
    Row("ats_empty", counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.ReadRfTypeABATS(kIcdev, n, o); }))
        .sends("04 3B 00").answer("00 00 00").gives(0).out("00 00 00 00"),
    Row("ats_reply_without_head", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.ReadRfTypeABATS(kIcdev, n, o);
        }))
        .sends("04 3B 00").answer("00 00").gives(-1),
    Row("ats_hex",
        [](Call& c) {
          int32_t n = 0;
          return c.d.ReadRfTypeABATS_hex(kIcdev, &n, c.text());
        })
        .sends("04 3B 00").answer("00 00 00 05 78 80").gives(0).text("057880"),
    Row("anticollision_with_mode", anticollision)
        .sends("04 34 00 52").answer("00 00 00 00 11 22 33 44").gives(0).text("44332211"),
    Row("anticollision_reply_short", anticollision).sends("04 34 00 52").answer("00 00 00 00 11 22 33").gives(-1),
    Row("select_with_mode", [](Call& c) { return c.d.select_mode(kIcdev, 0x52, 0x44332211, c.bytes()); })
        .sends("04 35 00 52 04 11 22 33 44").answer("00 00 00 08").gives(0).out("08"),
    Row("activate_card", [](Call& c) { return c.d.ActivateCard(kIcdev, 4, hx("11 22 33 44").data()); })
        .sends("04 4D 00 04 11 22 33 44").answer("00 00").gives(0),
    Row("antenna_mask_before_flag", antenna_mask)
        .sends("04 2B 00 00 00 00 0F 01").answer("00 00 00 00 00 00 05").gives(0).text("00000005"),
    Row("antenna_mask_reply_short", antenna_mask)
        .sends("04 2B 00 00 00 00 0F 01").answer("00 00 00 00 00 05").gives(-1),
    Row("antenna_cards",
        counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.MultiAntennaGetCardStatus(kIcdev, n, o); }))
        .sends("04 2C 00").answer("00 00 00 01 02").gives(0).out("02 00 00 00 01 02"),
    Row("antenna_select", [](Call& c) { return c.d.SelectAntenna(kIcdev, 2); })
        .sends("AF 00 00 02").answer("00 00").gives(0),
    Row("id_raw_read",
        counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.ReadIdCardInfo(kIcdev, 3000, n, o); }))
        .sends("04 29 00 0B B8", 8000).answer("00 00 00 AA").gives(0).out("01 00 00 00 AA"),
    Row("attrib_does_nothing", [](Call& c) { return c.d.attribInt(kIcdev, kData.data(), 1); }).gives(0),
    // NFC.
    Row("nfc_init", [](Call& c) { return c.d.NfcInit(kIcdev); }).sends("04 50 00").answer("00 00").gives(0),
    Row("nfc_activate", counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.NfcActivate(kIcdev, o, n); }))
        .sends("04 51 00").answer("00 00 00 3B 8F").gives(0).out("02 00 00 00 3B 8F"),
    Row("nfc_deactivate", [](Call& c) { return c.d.NfcDeactivate(kIcdev); }).sends("04 52 00").answer("00 00").gives(0),
    Row("nfc_push", [](Call& c) { return c.d.NfcPush(kIcdev, kData.data(), 3); })
        .sends("04 53 00 D1 D2 D3").answer("00 00").gives(0),
    Row("nfc_service", [](Call& c) { return c.d.NfcService(kIcdev, 1); }).sends("04 54 00 01").answer("00 00").gives(0),
    Row("nfc_receive", nfc_receive).sends("04 56 00", 2500).answer("00 00 00 01 AA BB").gives(0).out("01 02 AA BB"),
    Row("nfc_receive_reply_short", nfc_receive).sends("04 56 00").answer("00 00 00").gives(-1),
    Row("nfc_card_emulation", [](Call& c) { return c.d.NfcSimulateCardConfig(kIcdev, 2); })
        .sends("04 60 00 02").answer("00 00").gives(0),
    // The cpy channel and the pass-throughs.
    Row("cpy_key", counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.cpy_getkey(kIcdev, o, n); }))
        .sends("D0 10 00 00").answer("00 00 00 0A 0B").gives(0).out("02 00 00 00 0A 0B"),
    Row("cpy_key_set_padded", [](Call& c) { return c.d.cpy_setkey(kIcdev, kData.data(), 3); })
        .sends({"D0 10 00 10 D1 D2 D3", repeated(13, 0)}).answer("00 00").gives(0),
    Row("cpy_contactless", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.cpy_procommandInt(kIcdev, 5, kApdu.data(), n, o, 7);
        }))
        .sends("D0 12 00 00 05 00 84 00 00 08", 6750).answer("00 00 00 00 02 90 00").gives(0).out("02 00 00 00 90 00"),
    Row("link_through_procommand", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.procommandInt(kIcdev, 5, kApdu.data(), n, o, 0);
        }))
        .sends("04 11 00 00 05 00 84 00 00 08", 5000).answer("00 00 00 00 02 90 00").gives(0).out("02 00 00 00 90 00"),
    Row("link_through_gly_hex", [](Call& c) {
          int32_t n = 0;
          return c.d.GlyProCommand_hex(kIcdev, 5, "0084000008", &n, c.text(), 7);
        })
        .sends("04 11 00 00 05 00 84 00 00 08", 6750).answer("00 00 00 00 02 90 00").gives(0).text("9000"),
    // Contact-card states and type codes as results.
    Row("card_position_two", [](Call& c) { return c.d.card_status2(kIcdev, c.bytes()); })
        .sends("03 05 00").answer("00 00 00 01").gives(0).out("01"),
    Row("card_lock", [](Call& c) { return c.d.card_make_and_lock(kIcdev, 1); })
        .sends("03 06 00 01").answer("00 00").gives(0),
    Row("rf_card_type", [](Call& c) { return c.d.RfGetCardType(kIcdev); })
        .sends("04 42 00").answer("00 00 00 C8").gives(200),
    Row("rf_card_type_reply_short", [](Call& c) { return c.d.RfGetCardType(kIcdev); })
        .sends("04 42 00").answer("00 00 00").gives(-1),
    Row("device_card_type", [](Call& c) { return c.d.SelfServiceDeviceCheckCardType(kIcdev); })
        .sends("09 09 00").answer("00 00 00 FF").gives(255),
    // Bluetooth module.
    Row("bt_mode", [](Call& c) { return c.d.BtModeControl(kIcdev, 2); }).sends("20 00 00 02").answer("00 00").gives(0),
    Row("bt_reset", [](Call& c) { return c.d.BtReset(kIcdev); }).sends("20 06 00").answer("00 00").gives(0),
    Row("bt_loop_test", [](Call& c) { return c.d.BtCommunicationTest(kIcdev, 3, kData.data()); })
        .sends("20 07 00 03 D1 D2 D3").answer("00 00").gives(0),
    Row("bt_received", counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.BtDataResponse(kIcdev, n, o); }))
        .sends("20 0C 00").answer("00 00 00 44").gives(0).out("01 00 00 00 44"),
    Row("bt_transmit", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.BtDataTransmit(kIcdev, 3, kData.data(), n, o);
        }))
        .sends("20 0D 00 D1 D2 D3").answer("00 00 00 55").gives(0).out("01 00 00 00 55"),
    Row("bt_command", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.BtCommand(kIcdev, 3, kData.data(), n, o);
        }))
        .sends("20 09 00 00 03 D1 D2 D3").answer("00 00 00 00 02 90 00 EE").gives(0).out("02 00 00 00 90 00"),
    Row("bt_command_length_past_the_reply", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.BtCommand(kIcdev, 3, kData.data(), n, o);
        }))
        .sends("20 09 00 00 03 D1 D2 D3").answer("00 00 00 00 03 90 00").gives(-1),
    Row("module_mac", [](Call& c) { return c.d.ReadModuleMacAddress(kIcdev, 2, c.text()); })
        .sends("20 0A 00 00 02").answer("00 00 00 41 42").gives(0).text("AB"),
    Row("module_mac_status", [](Call& c) { return c.d.ReadModuleMacAddress(kIcdev, 2, c.text()); })
        .sends("20 0A 00 00 02").answer("6A 82").gives(-2).status(0x6A82),
    Row("module_mac_write", [](Call& c) { return c.d.WriteModuleMacAddress(kIcdev, 1, "AB"); })
        .sends("20 0A 00 01 01 02 41 42").answer("00 00").gives(0),
    Row("bt_signal", signal).sends("20 0B 00").answer("00 00 00 01 FF 9C").gives(0).out("01 9C FF"),
    Row("bt_signal_without_its_low_byte", signal).sends("20 0B 00").answer("00 00 00 01 FF").gives(-1),
    Row("rest", [](Call& c) { return c.d.RestDevice(kIcdev); }).sends("20 0E 00 00").answer("00 00").gives(0),
    Row("battery", [](Call& c) { return c.d.GetBatteryValue(kIcdev, c.bytes()); })
        .sends("20 0F 00").answer("00 00 00 64").gives(0).out("64"),
    // Wireless module and GPS.
    Row("wireless_power", [](Call& c) { return c.d.WirelessPowerControl(kIcdev, 1); })
        .sends("26 00 00 01").answer("00 00").gives(0),
    Row("tcp_open", [](Call& c) { return c.d.WirelessTcpOpen(kIcdev, 1, "1.2.3.4", "80"); })
        .sends("26 01 00 01 07 31 2E 32 2E 33 2E 34 02 38 30", 180000).answer("00 00").gives(0),
    Row("tcp_close", [](Call& c) { return c.d.WirelessTcpClose(kIcdev); }).sends("26 02 00").answer("00 00").gives(0),
    Row("wireless_status", [](Call& c) { return c.d.WirelessGetStatus(kIcdev, c.bytes()); })
        .sends("26 03 00").answer("00 00 00 03").gives(0).out("03"),
    Row("wireless_send", [](Call& c) { return c.d.WirelessSend(kIcdev, 2, kData.data(), 3); })
        .sends("26 04 00 02 D1 D2 D3").answer("00 00").gives(0),
    Row("wireless_receive_waits_for_the_module",
        counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.WirelessRecv(kIcdev, 1, 0, 255, o, n); }))
        .sends("26 05 00 01 00 FF", 30500).answer("00 00 00 77").gives(0).out("01 00 00 00 77"),
    Row("wifi", [](Call& c) { return c.d.WirelessWifiConfig(kIcdev, 1, "ab", "xyz"); })
        .sends("26 10 00 01 02 61 62 03 78 79 7A").answer("00 00").gives(0),
    Row("tcp_info", counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.TcpGetInfo(kIcdev, 3, o, n); }))
        .sends("26 1F 00 03").answer("00 00 00 0A").gives(0).out("01 00 00 00 0A"),
    Row("gps", counted([](Call& c, int32_t* n, uint8_t* o) { return c.d.GpsGetInfo(kIcdev, 3000, o, n); }))
        .sends("28 00 00 0B B8", 8000).answer("00 00 00 47").gives(0).out("01 00 00 00 47"),
    // Fingerprint module.
    Row("fingerprint_module", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.fingerprint_io_control(kIcdev, 10, kData.data(), 3, o, n);
        }))
        .sends("25 01 00 0A 00 03 D1 D2 D3", 15000).capacity(8192).answer("00 00 00 00 01 42")
        .gives(0).out("01 00 00 00 42"),
    Row("fingerprint_module_length_past_the_reply", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.fingerprint_io_control(kIcdev, 10, kData.data(), 3, o, n);
        }))
        .sends("25 01 00 0A 00 03 D1 D2 D3").capacity(8192).answer("00 00 00 FF FF 42").gives(-1),
};

// Values that do not fit their field on the wire, texts whose one-byte
// length would wrap and requests past their buffer: -1 and nothing sent.
const Row kRefused[] = {
    Row("rf_config_kind_past_its_byte", [](Call& c) {
      int32_t v = 0;
      return c.d.ReadRfCfgReg(kIcdev, 256, 0, &v);
    }).gives(-1),
    Row("rf_config_value_negative", [](Call& c) { return c.d.WriteRfCfgReg(kIcdev, 0, 0, -1); }).gives(-1),
    Row("rf_format_offset_past_its_byte", [](Call& c) { return c.d.RfFormatConfig(kIcdev, 0, 0, 256, 0); }).gives(-1),
    Row("nfc_service_flag_past_its_byte", [](Call& c) { return c.d.NfcService(kIcdev, 256); }).gives(-1),
    Row("nfc_emulation_mode_negative", [](Call& c) { return c.d.NfcSimulateCardConfig(kIcdev, -1); }).gives(-1),
    Row("nfc_receive_time_negative", [](Call& c) {
      int32_t n = 0;
      return c.d.NfcDataReceiver(kIcdev, -1, c.bytes(), c.bytes(), &n);
    }).gives(-1),
    Row("id_raw_read_time_past_16_bits", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.ReadIdCardInfo(kIcdev, 65536, n, o);
        })).gives(-1),
    Row("gps_time_negative", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.GpsGetInfo(kIcdev, -1, o, n);
        })).gives(-1),
    Row("module_mac_type_past_its_byte", [](Call& c) { return c.d.WriteModuleMacAddress(kIcdev, 256, "AB"); }).gives(-1),
    Row("module_mac_256_characters", [](Call& c) {
      return c.d.WriteModuleMacAddress(kIcdev, 1, std::string(256, 'A').c_str());
    }).gives(-1),
    Row("tcp_port_256_characters", [](Call& c) {
      return c.d.WirelessTcpOpen(kIcdev, 1, "1.2.3.4", std::string(256, '8').c_str());
    }).gives(-1),
    Row("wifi_password_256_characters", [](Call& c) {
      return c.d.WirelessWifiConfig(kIcdev, 1, "ab", std::string(256, 'x').c_str());
    }).gives(-1),
    Row("bt_loop_test_256_bytes", [](Call& c) { return c.d.BtCommunicationTest(kIcdev, 256, Bytes(256).data()); }).gives(-1),
    Row("bt_user_area_offset_past_its_byte", [](Call& c) {
      return c.d.BtUserControl(kIcdev, 1, 256, 1, c.bytes());
    }).gives(-1),
    Row("cpy_key_of_17_bytes", [](Call& c) { return c.d.cpy_setkey(kIcdev, Bytes(17).data(), 17); }).gives(-1),
    Row("cpy_contactless_past_the_request", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.cpy_procommandInt(kIcdev, 2044, Bytes(2044).data(), n, o, 7);
        })).gives(-1),
    Row("cpy_contact_past_the_request", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.cpy_cpuapduInt(kIcdev, 2045, Bytes(2045).data(), n, o);
        })).gives(-1),
    Row("bt_command_past_the_request", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.BtCommand(kIcdev, 2044, Bytes(2044).data(), n, o);
        })).gives(-1),
    Row("fingerprint_request_past_the_buffer", counted([](Call& c, int32_t* n, uint8_t* o) {
          return c.d.fingerprint_io_control(kIcdev, 1, Bytes(8187).data(), 8187, o, n);
        })).gives(-1),
    Row("nfc_push_negative_length", [](Call& c) { return c.d.NfcPush(kIcdev, kData.data(), -1); }).gives(-1),
};

// A null buffer or text where the call needs one: -1 before any I/O.
std::vector<Row> null_rows() {
  int32_t n = 0;
  return Row::null_rows({
      {"rf_config_value", [](Call& c) { return c.d.ReadRfCfgReg(kIcdev, 1, 2, nullptr); }},
      {"chip_registers", [](Call& c) { return c.d.RfReadChipRegister(kIcdev, nullptr); }},
      {"multi_card_type", [](Call& c) { return c.d.MulticardStatus(kIcdev, nullptr); }},
      {"multi_card_record", [](Call& c) { return c.d.RequestMultiCard(kIcdev, nullptr); }},
      {"activate_uid", [](Call& c) { return c.d.ActivateCard(kIcdev, 4, nullptr); }},
      {"antenna_mask", [](Call& c) { return c.d.MultiAntennaStartOrStop(kIcdev, 1, nullptr); }},
      {"anticollision_serial", [](Call& c) { return c.d.anticoll_mode(kIcdev, 0x52, 0, nullptr); }},
      {"uid_hex", [](Call& c) { return c.d.get_idsnr_hex(kIcdev, nullptr); }},
      {"nfc_fetch_length", [](Call& c) { return c.d.NfcFetch(kIcdev, c.bytes(), nullptr, 10); }},
      {"nfc_receive_flag", [=](Call& c) mutable { return c.d.NfcDataReceiver(kIcdev, 10, nullptr, c.bytes(), &n); }},
      {"nfc_push_data", [](Call& c) { return c.d.NfcPush(kIcdev, nullptr, 3); }},
      {"cpy_key", [](Call& c) { return c.d.cpy_setkey(kIcdev, nullptr, 3); }},
      {"cpy_apdu", [=](Call& c) mutable { return c.d.cpy_cpuapduInt(kIcdev, 5, nullptr, &n, c.bytes()); }},
      {"cpy_response", [=](Call& c) mutable { return c.d.cpy_procommandInt(kIcdev, 5, kApdu.data(), &n, nullptr, 7); }},
      {"cpy_narrow_length", [](Call& c) { return c.d.cpy_cpuapdu(kIcdev, 5, kApdu.data(), nullptr, c.bytes()); }},
      {"follow_up_length", [](Call& c) { return c.d.cpuapduresponInt(kIcdev, 5, kApdu.data(), nullptr, c.bytes()); }},
      {"bt_baud", [](Call& c) { return c.d.BtBaudrateControl(kIcdev, 0, nullptr); }},
      {"bt_name", [](Call& c) { return c.d.BtNameControl(kIcdev, 1, nullptr); }},
      {"bt_address_length", [](Call& c) { return c.d.BtAddressControl(kIcdev, 0, nullptr, c.bytes()); }},
      {"bt_user_area", [](Call& c) { return c.d.BtUserControl(kIcdev, 0, 0, 4, nullptr); }},
      {"bt_signal_value", [](Call& c) { return c.d.BtSignalStrength(kIcdev, c.bytes(), nullptr); }},
      {"module_mac_text", [](Call& c) { return c.d.WriteModuleMacAddress(kIcdev, 1, nullptr); }},
      {"tcp_address", [](Call& c) { return c.d.WirelessTcpOpen(kIcdev, 1, nullptr, "80"); }},
      {"wifi_ssid", [](Call& c) { return c.d.WirelessWifiConfig(kIcdev, 1, nullptr, "x"); }},
      {"wireless_data", [](Call& c) { return c.d.WirelessSend(kIcdev, 1, nullptr, 3); }},
      {"gps_length", [](Call& c) { return c.d.GpsGetInfo(kIcdev, 0, c.bytes(), nullptr); }},
      {"sms_text", [](Call& c) { return c.d.send_sms(kIcdev, "1", nullptr); }},
      {"fingerprint_request", [=](Call& c) mutable {
         return c.d.fingerprint_io_control(kIcdev, 1, nullptr, 3, c.bytes(), &n);
       }},
      {"finger_text", [=](Call& c) mutable { return c.d.getfingerdata(kIcdev, &n, nullptr); }},
      {"module_serial", [](Call& c) { return c.d.SamAReadSerialNumber(kIcdev, nullptr); }},
      {"radio_apdu_length", [](Call& c) { return c.d.op_2dot4Apdu(kIcdev, 5, kApdu.data(), nullptr, c.bytes()); }},
      {"card_parts_photo", [=](Call& c) mutable {
         uint8_t* o = c.bytes();
         return c.d.IdCardReadCardInfo(kIcdev, 0, 1, &n, o, &n, nullptr, &n, o, &n, o);
       }},
      {"card_position", [](Call& c) { return c.d.card_status2(kIcdev, nullptr); }},
  });
}

const std::vector<Row> kAllRows = [] {
  std::vector<Row> rows(std::begin(kRows), std::end(kRows));
  rows.insert(rows.end(), std::begin(kRefused), std::end(kRefused));
  const std::vector<Row> nulls = null_rows();
  rows.insert(rows.end(), nulls.begin(), nulls.end());
  return rows;
}();
WIRE_TABLE(R42PeripheryWireLinks, R42MemoryReader, kAllRows);

}  // namespace
