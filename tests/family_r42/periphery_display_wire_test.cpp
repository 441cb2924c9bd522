// Thin reader commands of the display, voice, printer and terminal modules,
// one row each: the request as the command set gives it, the reader's
// reply, the result and the outputs. For each reply shape a few rows also
// show the shortest reply taken, one byte less (-1, outputs untouched) and
// a reader status (-2, kept for GetLastResponseCode).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using Bytes = std::vector<uint8_t>;

const Bytes kData = hx("D1 D2 D3");
const Bytes kRed = hx("FF 00 00");
const Bytes kBlue = hx("00 00 FF");

int32_t led_control(Call& c) { return c.d.LedControl(kIcdev, 7); }
int32_t screen_clear(Call& c) { return c.d.ScreenClearDisplay(kIcdev, 0x12345, -1, 320, 240, 30); }
int32_t barcode_scan(Call& c) { return c.d.Scan2DBarcode(kIcdev, 3000, c.text()); }
int32_t printer_settings(Call& c) {
  uint8_t* o = c.bytes();
  return c.d.checkprint(kIcdev, o, o + 1, o + 2, o + 3, o + 4, o + 5);
}
int32_t printer_status(Call& c) {
  uint8_t* o = c.bytes();
  return c.d.printstatus(kIcdev, o, o + 1, o + 2);
}
int32_t radio_baud(Call& c) { return c.d.check2dot4Gbaund(kIcdev, c.bytes()); }
int32_t screen_text(Call& c, const std::string& text) {
  return c.d.ScreenDisplayText(kIcdev, 2, kRed.data(), kBlue.data(), 10, 20, 5, 1, 0,
                               text.c_str());
}
int32_t byte_as_result(Call& c) {
  R42Request request(0x1234);
  return c.reader.device.byte_result(request);
}

const Row kRows[] = {
    // Status only.
    Row("led_control", led_control)
        .sends("02 03 00 07", 5000).answer("00 00")
        .gives(0),
    Row("led_control_reply_one_byte", led_control)
        .sends("02 03 00 07").answer("00")
        .gives(-1),
    Row("led_control_status", led_control)
        .sends("02 03 00 07").answer("6A 82")
        .gives(-2).status(0x6A82),
    Row("screen_clear_low_16_bits", screen_clear)
        .sends("08 08 00 23 45 FF FF 01 40 00 F0 00 00 00 1E").answer("00 00 00")
        .gives(0),
    Row("screen_clear_status", screen_clear)
        .sends("08 08 00 23 45 FF FF 01 40 00 F0 00 00 00 1E").answer("6A 82 00")
        .gives(-2).status(0x6A82),
    Row("led_display", [](Call& c) { return c.d.LedDisplay(kIcdev, 1, 2, 3); })
        .sends("02 02 00 01 02 03").answer("00 00 00")
        .gives(0),
    Row("buzzer_pattern", [](Call& c) { return c.d.BuzzerBeep(kIcdev, 300, 0x1234, 3); })
        .sends("01 02 00 01 2C 12 34 00 03").answer("00 00 00")
        .gives(0),
    Row("main_screen", [](Call& c) { return c.d.RefreshAndDisplayMainUI(kIcdev); })
        .sends("08 06 00").answer("00 00 00")
        .gives(0),
    Row("screen_background", [](Call& c) { return c.d.ScreenDisplayBgImage(kIcdev, 7, 1, 2, 3, 4); })
        .sends("08 0A 00 07 00 01 00 02 00 03 00 04").answer("00 00 00")
        .gives(0),
    Row("screen_background_number_past_its_byte",
        [](Call& c) { return c.d.ScreenDisplayBgImage(kIcdev, 256, 1, 2, 3, 4); })
        .gives(-1),
    Row("screen_background_number_negative",
        [](Call& c) { return c.d.ScreenDisplayBgImage(kIcdev, -1, 1, 2, 3, 4); })
        .gives(-1),
    Row("screen_fill",
        [](Call& c) { return c.d.ScreenDisplayBgImageByColor(kIcdev, kData.data(), 5, 6, 7, 8); })
        .sends("08 0D 00 D1 D2 D3 00 05 00 06 00 07 00 08").answer("00 00 00")
        .gives(0),
    Row("screen_setting",
        [](Call& c) { return c.d.ScreenDisplaySetConfig(kIcdev, 3, hx("02 AA BB 99").data()); })
        .sends("08 0B 00 00 03 02 AA BB").answer("00 00 00")
        .gives(0),
    Row("screen_text", [](Call& c) { return screen_text(c, "Hi"); })
        .sends("08 0C 00 02 FF 00 00 00 00 FF 00 0A 00 14 00 00 00 05 01 00 48 69")
        .answer("00 00 00")
        .gives(0),
    Row("screen_text_longest", [](Call& c) { return screen_text(c, std::string(2028, 'x')); })
        .sends({"08 0C 00 02 FF 00 00 00 00 FF 00 0A 00 14 00 00 00 05 01 00", Bytes(2028, 'x')})
        .answer("00 00 00")
        .gives(0),
    Row("screen_text_one_past_the_request",
        [](Call& c) { return screen_text(c, std::string(2029, 'x')); })
        .gives(-1),
    Row("speech", [](Call& c) { return c.d.TtsVoicePlay(kIcdev, 1, kData.data(), 3); })
        .sends("17 10 00 01 D1 D2 D3").answer("00 00 00")
        .gives(0),
    Row("speech_longest", [](Call& c) { return c.d.TtsVoicePlay(kIcdev, 1, Bytes(2044, 7).data(), 2044); })
        .sends({"17 10 00 01", Bytes(2044, 7)}).answer("00 00 00")
        .gives(0),
    Row("speech_one_past_the_request",
        [](Call& c) { return c.d.TtsVoicePlay(kIcdev, 1, Bytes(2045, 7).data(), 2045); })
        .gives(-1),
    Row("speech_negative_length", [](Call& c) { return c.d.TtsVoicePlay(kIcdev, 1, kData.data(), -1); })
        .gives(-1),
    Row("speech_setting", [](Call& c) { return c.d.TtsVoiceConfig(kIcdev, 2, 9); })
        .sends("17 11 00 02 09").answer("00 00 00")
        .gives(0),
    Row("voice_and_display", [](Call& c) { return c.d.VoicePlayAndDisplay(kIcdev, 4, 5); })
        .sends("17 02 00 04 05").answer("00 00 00")
        .gives(0),
    Row("barcode_setting", [](Call& c) { return c.d.Config2DBarcode(kIcdev, kData.data(), 3); })
        .sends("27 00 00 D1 D2 D3").answer("00 00 00")
        .gives(0),
    Row("barcode_start", [](Call& c) { return c.d.Scan2DBarcodeStart(kIcdev, 1); })
        .sends("27 02 00 00 01").answer("00 00 00")
        .gives(0),
    Row("barcode_exit", [](Call& c) { return c.d.Scan2DBarcodeExit(kIcdev); })
        .sends("27 02 00 02").answer("00 00 00")
        .gives(0),
    Row("code_on_screen", [](Call& c) { return c.d.display_2dbarcode(kIcdev, 10, 255, "QR"); })
        .sends("08 03 00 0A FF 00 02 51 52").capacity(8192).answer("00 00 00")
        .gives(0),
    Row("code_point_past_its_byte", [](Call& c) { return c.d.display_2dbarcode(kIcdev, 256, 0, "QR"); })
        .gives(-1),
    Row("code_point_negative", [](Call& c) { return c.d.display_2dbarcode(kIcdev, 0, -1, "QR"); })
        .gives(-1),
    Row("lcd_line", [](Call& c) { return c.d.dispinfo(kIcdev, 3, 4, "Hi"); })
        .sends("08 01 00 03 04 00 48 69").answer("00 00 00")
        .gives(0),
    Row("lcd_clear", [](Call& c) { return c.d.lcdclrscrn(kIcdev, 4); })
        .sends("08 00 00 04").answer("00 00 00")
        .gives(0),
    Row("v7_line", [](Call& c) { return c.d.dispinfo_V7(kIcdev, 1, 2, "AB"); })
        .sends("08 01 00 01 02 00 41 42").answer("00 00 00")
        .gives(0),
    Row("v7_flowing_text", [](Call& c) { return c.d.dispinfo_pro_V7(kIcdev, 0x0E, "ABC"); })
        .sends("08 01 00 00 0E 00 41 42").answer("00 00 00")
        .sends("08 01 00 01 00 00 43").answer("00 00 00")
        .gives(0),
    Row("v7_clear", [](Call& c) { return c.d.clearlcd_V7(kIcdev, 3); })
        .sends("08 00 00 03").answer("00 00 00")
        .gives(0),
    Row("v7_led", [](Call& c) { return c.d.led_V7(kIcdev, 2, 1); })
        .sends("02 00 00 02 01").answer("00 00 00")
        .gives(0),
    Row("pad_start_forwarded", [](Call& c) { return c.d.PassIn(kIcdev, 20); })
        .sends("C0 10 00 14 01").answer("00 00 00")
        .gives(0),
    Row("pad_cancel", [](Call& c) { return c.d.PassCancel(kIcdev); })
        .sends("C0 12 00").answer("00 00")
        .gives(0),
    Row("voice", [](Call& c) { return c.d.play_voice(kIcdev, 4); })
        .sends("17 00 00 04").answer("00 00 00")
        .gives(0),
    Row("voice_forwarded", [](Call& c) { return c.d.playvoice(kIcdev, 5); })
        .sends("17 00 00 05").answer("00 00 00")
        .gives(0),
    Row("stripe_setup", [](Call& c) { return c.d.setmag(kIcdev, 1, 0, 1, 1); })
        .sends("07 10 00 01 00 01 01").answer("00 00 00")
        .gives(0),
    Row("stripe_start", [](Call& c) { return c.d.startreadmag(kIcdev); })
        .sends("07 01 00").answer("00 00 00")
        .gives(0),
    Row("stripe_stop", [](Call& c) { return c.d.stopreadmag(kIcdev); })
        .sends("07 02 00").answer("00 00 00")
        .gives(0),
    Row("print_text", [](Call& c) { return c.d.printcharacter(kIcdev, 3, kData.data()); })
        .sends("24 01 00 D1 D2 D3").answer("00 00 00")
        .gives(0),
    Row("print_text_longest", [](Call& c) { return c.d.printcharacter(kIcdev, 2045, Bytes(2045, 1).data()); })
        .sends({"24 01 00", Bytes(2045, 1)}).answer("00 00 00")
        .gives(0),
    Row("print_text_one_past_the_request",
        [](Call& c) { return c.d.printcharacter(kIcdev, 2046, Bytes(2046, 1).data()); })
        .gives(-1),
    Row("print_barcode",
        [](Call& c) { return c.d.printOnedimensional(kIcdev, 50, 1, 2, 3, kData.data()); })
        .sends("24 02 00 32 01 02 D1 D2 D3").answer("00 00 00")
        .gives(0),
    Row("print_picture",
        [](Call& c) { return c.d.printPicture(kIcdev, 8, 16, 1, 2, 3, 3, kData.data()); })
        .sends("24 03 00 08 10 01 02 03 D1 D2 D3").answer("00 00 00")
        .gives(0),
    Row("paper_feed", [](Call& c) { return c.d.printenter(kIcdev, 24); })
        .sends("24 05 00 18").answer("00 00 00")
        .gives(0),
    Row("radio_baud_set", [](Call& c) { return c.d.set2dot4Gbaund(kIcdev, 4); })
        .sends("21 00 00 01 04").answer("00 00 00")
        .gives(0),
    Row("usb_mode", [](Call& c) { return c.d.SetUsbMode(kIcdev, 2); })
        .sends("0F 25 00 02").answer("00 00 00")
        .gives(0),
    // Bytes from reply byte 3 to one-byte outputs.
    Row("printer_settings", printer_settings)
        .sends("24 00 00 00").answer("00 00 00 01 02 03 04 05 06")
        .gives(0).out("01 02 03 04 05 06"),
    Row("printer_settings_reply_short", printer_settings)
        .sends("24 00 00 00").answer("00 00 00 01 02 03 04 05")
        .gives(-1),
    Row("printer_status", printer_status)
        .sends("24 04 00").answer("00 00 00 01 00 02")
        .gives(0).out("01 00 02"),
    Row("printer_status_reply_short", printer_status)
        .sends("24 04 00").answer("00 00 00 01 00")
        .gives(-1),
    Row("radio_baud", radio_baud)
        .sends("21 00 00 00").answer("00 00 00 04")
        .gives(0).out("04"),
    Row("radio_baud_status", radio_baud)
        .sends("21 00 00 00").answer("6A 82")
        .gives(-2).status(0x6A82),
    // Reply data and a NUL.
    Row("barcode_scan", barcode_scan)
        .sends("27 01 00 0B B8", 8000).answer("00 00 00 41 42")
        .gives(0).text("AB"),
    Row("barcode_scan_nothing_read", barcode_scan)
        .sends("27 01 00 0B B8").answer("00 00 00")
        .gives(0).text(""),
    Row("barcode_scan_reply_short", barcode_scan)
        .sends("27 01 00 0B B8").answer("00 00")
        .gives(-1),
    Row("barcode_scan_status", barcode_scan)
        .sends("27 01 00 0B B8").answer("6A 82 00")
        .gives(-2).status(0x6A82),
    // Reply byte 3 as the result.
    Row("byte_as_result", byte_as_result)
        .sends("12 34 00").answer("00 00 00 C8")
        .gives(200),
    Row("byte_as_result_reply_short", byte_as_result)
        .sends("12 34 00").answer("00 00 00")
        .gives(-1),
    // A null buffer or text where the call needs one: -1 before any I/O.
    Row("null_lcd_text", [](Call& c) { return c.d.LcdDisplay(kIcdev, 0, 0, 0, nullptr); }).gives(-1),
    Row("null_lcd_line", [](Call& c) { return c.d.dispinfo(kIcdev, 0, 0, nullptr); }).gives(-1),
    Row("null_flowing_text", [](Call& c) { return c.d.dispinfo_pro_V7(kIcdev, 0, nullptr); })
        .gives(-1),
    Row("null_code_text", [](Call& c) { return c.d.display_2dbarcode(kIcdev, 0, 0, nullptr); })
        .gives(-1),
    Row("null_screen_setting", [](Call& c) { return c.d.ScreenDisplaySetConfig(kIcdev, 1, nullptr); })
        .gives(-1),
    Row("null_screen_text_colour",
        [](Call& c) {
          return c.d.ScreenDisplayText(kIcdev, 1, kRed.data(), nullptr, 0, 0, 0, 0, 0, "A");
        })
        .gives(-1),
    Row("null_screen_text",
        [](Call& c) {
          return c.d.ScreenDisplayText(kIcdev, 1, kRed.data(), kBlue.data(), 0, 0, 0, 0, 0, nullptr);
        })
        .gives(-1),
    Row("null_screen_fill_colour",
        [](Call& c) { return c.d.ScreenDisplayBgImageByColor(kIcdev, nullptr, 0, 0, 1, 1); })
        .gives(-1),
    Row("null_speech", [](Call& c) { return c.d.TtsVoicePlay(kIcdev, 1, nullptr, 3); }).gives(-1),
    Row("null_barcode_setting", [](Call& c) { return c.d.Config2DBarcode(kIcdev, nullptr, 3); })
        .gives(-1),
    Row("null_barcode_text", [](Call& c) { return c.d.Scan2DBarcode(kIcdev, 0, nullptr); })
        .gives(-1),
    Row("null_printer_setting",
        [](Call& c) {
          uint8_t* o = c.bytes();
          return c.d.checkprint(kIcdev, o, o, o, nullptr, o, o);
        })
        .gives(-1),
    Row("null_printer_status",
        [](Call& c) { return c.d.printstatus(kIcdev, c.bytes(), nullptr, c.bytes()); })
        .gives(-1),
    Row("null_print_text", [](Call& c) { return c.d.printcharacter(kIcdev, 3, nullptr); }).gives(-1),
    Row("null_print_barcode",
        [](Call& c) { return c.d.printOnedimensional(kIcdev, 1, 1, 1, 3, nullptr); })
        .gives(-1),
    Row("null_print_picture",
        [](Call& c) { return c.d.printPicture(kIcdev, 1, 1, 1, 1, 1, 3, nullptr); })
        .gives(-1),
    Row("null_radio_baud", [](Call& c) { return c.d.check2dot4Gbaund(kIcdev, nullptr); }).gives(-1),
};

WIRE_TABLE(R42PeripheryWireDisplay, R42MemoryReader, kRows);

}  // namespace
