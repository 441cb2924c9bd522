// The LCD and colour screen with their texts by charset, images sent in one
// request sized for them, screen settings, the barcode scanner's fetch and
// the file download. Inputs are exact-size heap buffers, so a read past one
// is caught by AddressSanitizer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/front_panel.h"
#include "sim/process_probe.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;
using State = R42ReaderModel::State;
using Bytes = std::vector<uint8_t>;

// An image blob: its BE32 count, then the bytes.
Bytes blob(uint32_t count, size_t present) {
  Bytes out = {uint8_t(count >> 24), uint8_t(count >> 16), uint8_t(count >> 8), uint8_t(count)};
  const Bytes image = wire_pattern(present, 0x10);
  out.insert(out.end(), image.begin(), image.end());
  return out;
}

Row::Call charset_text(uint8_t charset, WireBytes wire, size_t at = 0) {
  return [=, text = wire.bytes](Call& c) {
    // Exactly the text's bytes, `at` bytes into the buffer (an odd address
    // for at = 1).
    Bytes heap(at + text.size());
    std::copy(text.begin(), text.end(), heap.begin() + long(at));
    return c.d.LcdDisplayText(kIcdev, 1, 0, 0, charset, heap.data() + at);
  };
}

Row::Call show_image(Bytes image) {
  return [=](Call& c) { return c.d.ScreenDisplayImage(kIcdev, 10, 20, 100, 50, 5, image.data()); };
}

Row::Call get_config(uint8_t tag) {
  return [=](Call& c) { return c.d.ScreenDisplayGetConfig(kIcdev, tag, c.bytes()); };
}

Row::Call download(int32_t flag, Bytes data, int32_t size) {
  return [=](Call& c) {
    int32_t n = size;
    const int16_t r = c.d.DownloadFileData(kIcdev, 1, 4096, flag, data.data(), &n);
    if (n != size) c.print("%08X", uint32_t(n));
    return r;
  };
}

std::shared_ptr<FrontPanelSim> panel_with(uint8_t tag, WireBytes value) {
  auto panel = std::make_shared<FrontPanelSim>();
  panel->config[tag] = std::move(value.bytes);
  return panel;
}

const Bytes kWide = hx("2D 4E 87 65 00 00");  // 中文 and the zero unit

const Row kRows[] = {
    Row("lcd_text", [](Call& c) { return c.d.LcdDisplay(kIcdev, 2, 3, 1, "Hi"); })
        .sends("08 01 00 02 03 01 48 69", 5000).answer("00 00 00")
        .gives(0),
    Row("lcd_text_empty", [](Call& c) { return c.d.LcdDisplay(kIcdev, 2, 3, 1, ""); }).gives(0),
    Row("lcd_text_longest",
        [](Call& c) { return c.d.LcdDisplay(kIcdev, 0, 0, 0, std::string(2042, 'L').c_str()); })
        .sends({"08 01 00 00 00 00", Bytes(2042, 'L')}).answer("00 00 00")
        .gives(0),
    Row("lcd_text_one_past_the_request",
        [](Call& c) { return c.d.LcdDisplay(kIcdev, 0, 0, 0, std::string(2043, 'L').c_str()); })
        .gives(-1),
    Row("charset_2", charset_text(2, hx("41 42 00")))
        .sends("08 10 00 01 00 00 02 41 42 00").answer("00 00 00")
        .gives(0),
    Row("charset_5", charset_text(5, kWide))
        .sends("08 10 00 01 00 00 05 2D 4E 87 65 00 00").answer("00 00 00")
        .gives(0),
    Row("charset_6_at_an_odd_address", charset_text(6, kWide, 1))
        .sends("08 10 00 01 00 00 06 2D 4E 87 65 00 00").answer("00 00 00")
        .gives(0),
    Row("charset_5_zero_byte_inside_a_unit", charset_text(5, hx("41 00 00 42 00 00")))
        .sends("08 10 00 01 00 00 05 41 00 00 42 00 00").answer("00 00 00")
        .gives(0),
    Row("charset_9_sends_no_text",
        [](Call& c) { return c.d.LcdDisplayText(kIcdev, 1, 0, 0, 9, nullptr); })
        .sends("08 10 00 01 00 00 09").answer("00 00 00")
        .gives(0),
    Row("charset_4_longest", charset_text(4, {Bytes(2040, 'a'), "00"}))
        .sends({"08 10 00 01 00 00 04", Bytes(2040, 'a'), "00"}).answer("00 00 00")
        .gives(0),
    Row("charset_4_one_past_the_request", charset_text(4, {Bytes(2041, 'a'), "00"})).gives(-1),
    Row("charset_0_unterminated", charset_text(0, Bytes(2041, 'a'))).gives(-1),
    Row("charset_6_longest", charset_text(6, {Bytes(2038, 0x11), "00 00"}))
        .sends({"08 10 00 01 00 00 06", Bytes(2038, 0x11), "00 00"}).answer("00 00 00")
        .gives(0),
    Row("charset_6_one_past_the_request", charset_text(6, {Bytes(2040, 0x11), "00 00"}))
        .gives(-1),
    Row("charset_5_unterminated", charset_text(5, Bytes(2041, 0x11))).gives(-1),
    Row("charset_5_unterminated_at_an_odd_address", charset_text(5, Bytes(2041, 0x11), 1))
        .gives(-1),
    Row("charset_1_without_text",
        [](Call& c) { return c.d.LcdDisplayText(kIcdev, 1, 0, 0, 1, nullptr); })
        .gives(-1),
    Row("charset_text_from_data",
        [](Call& c) {
          return c.d.LcdDisplayTextFromData(kIcdev, 3, 4, 5, 6, kWide.data(), nullptr, -1);
        })
        .sends("08 10 00 03 04 05 06 2D 4E 87 65 00 00").answer("00 00 00")
        .gives(0),
    Row("code_longest",
        [](Call& c) { return c.d.display_2dbarcode(kIcdev, 1, 2, std::string(8185, 'q').c_str()); })
        .sends({"08 03 00 01 02 1F F9", Bytes(8185, 'q')}).capacity(8192).answer("00 00 00")
        .gives(0),
    Row("code_one_past_the_request",
        [](Call& c) { return c.d.display_2dbarcode(kIcdev, 1, 2, std::string(8186, 'q').c_str()); })
        .gives(-1),
    Row("image", show_image(blob(100, 100)))
        .sends({"08 07 00 00 0A 00 14 00 64 00 32 00 00 00 05 FF FF FF FF", wire_pattern(100, 0x10)},
               1800000)
        .capacity(4).answer("00 00 00")
        .gives(0),
    Row("image_status", show_image(blob(0, 0)))
        .sends("08 07 00 00 0A 00 14 00 64 00 32 00 00 00 05 FF FF FF FF").capacity(4)
        .answer("6A 82 00 00")
        .gives(-2).status(0x6A82),
    Row("image_reply_over_4_bytes", show_image(blob(0, 0)))
        .sends("08 07 00 00 0A 00 14 00 64 00 32 00 00 00 05 FF FF FF FF").capacity(4)
        .answer("00 00 00 00 00")
        .gives(-1),
    // The count and the header wrap 32 bits, or pass what a frame carries:
    // refused before anything is allocated or read.
    Row("image_count_wraps", show_image(blob(0xFFFFFFF0, 0))).gives(-1),
    Row("image_past_a_frame", show_image(blob(0x7FFFFFFF - 17 - 19 + 1, 0))).gives(-1),
    Row("image_missing",
        [](Call& c) { return c.d.ScreenDisplayImage(kIcdev, 0, 0, 1, 1, 1, nullptr); })
        .gives(-1),
    Row("background_image",
        [](Call& c) { return c.d.ScreenLoadBgImage(kIcdev, 3, blob(2, 2).data()); })
        .sends("08 09 00 03 FF FF FF FF 10 17", 1800000).capacity(4).answer("00 00 00")
        .gives(0),
    Row("background_number_past_its_byte",
        [](Call& c) { return c.d.ScreenLoadBgImage(kIcdev, 256, blob(2, 2).data()); })
        .gives(-1),
    Row("setting", get_config(7))
        .given([](State& s) { s.attachments.push_back(panel_with(7, hx("02 AA BB"))); })
        .sends("08 0B 00 01 07").gives(0).out("02 AA BB"),
    Row("setting_of_256_bytes", get_config(7))
        .given([](State& s) { s.attachments.push_back(panel_with(7, {"FF", Bytes(255, 0x5A)})); })
        .sends("08 0B 00 01 07").gives(0).out({"FF", Bytes(255, 0x5A)}),
    Row("setting_unknown", get_config(8))
        .given([](State& s) { s.attachments.push_back(panel_with(7, hx("00"))); })
        .sends("08 0B 00 01 08").gives(-2).status(0x6A88),
    Row("setting_reply_of_4_bytes", get_config(7))
        .sends("08 0B 00 01 07").answer("00 00 00 07")
        .gives(-1),
    Row("setting_length_past_the_data", get_config(7))
        .sends("08 0B 00 01 07").answer("00 00 00 07 03 AA BB")
        .gives(-1),
    Row("setting_over_256_bytes", get_config(7))
        .sends("08 0B 00 01 07").answer({"00 00 00 07 FF", Bytes(256, 0x5A)})
        .gives(-1),
    Row("setting_round_trip",
        [](Call& c) {
          const Bytes value = hx("03 01 02 03");
          const int16_t r = c.d.ScreenDisplaySetConfig(kIcdev, 9, value.data());
          return r != 0 ? r : c.d.ScreenDisplayGetConfig(kIcdev, 9, c.bytes());
        })
        .given([](State& s) { s.attachments.push_back(std::make_shared<FrontPanelSim>()); })
        .sends("08 0B 00 00 09 03 01 02 03").sends("08 0B 00 01 09")
        .gives(0).out("03 01 02 03"),
    Row("download_header_alone", download(0, {}, -7))
        .sends("1A 00 00 00 00 00 01 00 00 10 00 00 00 00 00").capacity(8192)
        .answer("00 00 00 00 00 10 00")
        .gives(0).text("00001000"),
    Row("download_header_reply_short", download(0, {}, -7))
        .sends("1A 00 00 00 00 00 01 00 00 10 00 00 00 00 00").capacity(8192)
        .answer("00 00 00 00 00 10")
        .gives(-1),
    Row("download_block", download(1, hx("D1 D2 D3"), 3))
        .sends("1A 00 00 00 00 00 01 00 00 10 00 00 00 00 01 D1 D2 D3").capacity(8192)
        .answer("00 00")
        .gives(0),
    Row("download_block_status", download(-1, hx("D1"), 1))
        .sends("1A 00 00 00 00 00 01 00 00 10 00 FF FF FF FF D1").capacity(8192)
        .answer("6A 82")
        .gives(-2).status(0x6A82),
    Row("download_block_longest", download(1, Bytes(8177, 0x44), 8177))
        .sends({"1A 00 00 00 00 00 01 00 00 10 00 00 00 00 01", Bytes(8177, 0x44)}).capacity(8192)
        .answer("00 00")
        .gives(0),
    Row("download_block_one_past_the_request", download(1, Bytes(8178, 0x44), 8178)).gives(-1),
    Row("download_block_negative", download(1, hx("D1"), -1)).gives(-1),
    Row("download_without_count",
        [](Call& c) { return c.d.DownloadFileData(kIcdev, 1, 1, 0, nullptr, nullptr); })
        .gives(-1),
    Row("barcode_data",
        [](Call& c) {
          int32_t n = -7;
          const int16_t r = c.d.Scan2DBarcodeGetData(kIcdev, &n, c.bytes() + 1);
          c.out[0] = uint8_t(n);
          return r;
        })
        .sends("27 02 00 01").answer("00 00 00 51 52")
        .gives(0).out("02 51 52"),
    Row("barcode_data_without_count",
        [](Call& c) { return c.d.Scan2DBarcodeGetData(kIcdev, nullptr, c.bytes()); })
        .gives(-1),
};
WIRE_TABLE(R42DisplayVoice, R42MemoryReader, kRows);

// The scanner's data is fetched 200 ms after the call, however soon the
// caller asks.
TEST(R42DisplayVoiceScanner, FetchWaits200Milliseconds) {
  R42MemoryReader reader;
  reader.wire.scriptReply({0x00, 0x00, 0x00, 0x41});
  int32_t n = 0;
  uint8_t data[8] = {};
  Stopwatch clock;
  EXPECT_EQ(static_cast<ReaderDevice&>(reader.device).Scan2DBarcodeGetData(kIcdev, &n, data), 0);
  EXPECT_GE(clock.ms(), 200);
  EXPECT_EQ(n, 1);
}

}  // namespace
