// The PIN pad behind an m6 reader, on canned replies: each pad command is
// one send (FB) and one collection (FA). The pad's frames, answer
// decoders and the barcode's 4096-byte bound are shared with r42 and tested
// there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/process_probe.h"
#include "sim/wire_table.h"

namespace {

using Row = WireRow<M6MemoryReader>;
using Call = WireCall<M6MemoryReader>;
using Bytes = std::vector<uint8_t>;

// `frame` goes to the pad, then its answer is collected for `ctime` seconds.
Row relay(Row row, const WireBytes& frame, uint8_t ctime, WireBytes answer) {
  row.sends({Bytes{0xFB, uint8_t(frame.bytes.size())}, frame}, 5000).answer("00");
  row.sends(Bytes{0xFA, uint8_t(ctime * 4)}, (ctime + 5) * 1000).answer(std::move(answer));
  return row;
}
// The scanner's data: the count in the first 4 bytes, the code after them.
int32_t barcode(Call& c) {
  return c.d.SD_IFD_Scan2DBarcodeGetData(kIcdev, reinterpret_cast<int32_t*>(c.bytes()),
                                         c.bytes() + 4);
}
constexpr const char* kBarcodeFetch = "1B DA 01 0D 0A";

std::vector<Row> pad_rows() {
  std::vector<Row> rows = {
      relay(Row("work_key_after_the_pause",
                [](Call& c) {
                  const Stopwatch watch;
                  const int32_t result = c.d.SD_IFD_ActWorkKey(kIcdev, 1, 2);
                  EXPECT_GE(watch.ms(), 50);
                  return result;
                }),
            "1B 41 30 31 30 32 0D 0A", 2, "00").gives(0),
      relay(Row("plain_pin_one_byte", [](Call& c) { return c.d.SD_IFD_GetPIN(kIcdev, c.text()); }),
            "82", 20, "00 31 32 33 34").gives(0).text("1234"),
      relay(Row("plain_pin_own_prompt_longest_wait",
                [](Call& c) { return c.d.SD_IFD_GetPINPro(kIcdev, c.text(), 0x85, 63); }),
            "85", 63, "00 35").gives(0).text("5"),
      Row("collection_time_past_a_byte",
          [](Call& c) { return c.d.SD_IFD_GetPINPro(kIcdev, c.text(), 0x85, 64); }).gives(-1),
      relay(Row("pin_gives_the_status_byte",
                [](Call& c) { return c.d.SD_IFD_GetEnPINPro(kIcdev, c.text(), 0x31, 0x20, 5); }),
            "1B 46 31 30 0D 0A", 5, "6F").gives(0x6F).status(0x6F),
      relay(Row("des_in_the_pad",
                [](Call& c) { return c.d.SD_IFD_DES(kIcdev, 1, "0123456789abcdef", c.text()); }),
            "1B 48 31 01 23 45 67 89 AB CD EF 0D 0A", 2, "00 11 22 33 44 55 66 77 88 99").gives(0)
          .text("1122334455667788"),
      relay(Row("display_line_CF",
                [](Call& c) { return c.d.SD_IFD_LEDDisplay(kIcdev, 0xCF, 3, "12", 1); }),
            "1B 44 FF 31 32 0D 0A", 1, "00").gives(0),
      Row("display_line_D0",
          [](Call& c) { return c.d.SD_IFD_LEDDisplay(kIcdev, 0xD0, 3, "12", 1); }).gives(-1),
      Row("mac_frame_past_a_request",
          [](Call& c) { return c.d.SD_IFD_CreateMac(kIcdev, 251, Bytes(251, 1).data(), c.text()); })
          .gives(-1),
      relay(Row("answer_past_a_byte",
                [](Call& c) {
                  return c.d.SD_InstallKey(kIcdev, 0, 1, c.bytes() + 1, c.bytes(), c.bytes() + 1);
                }),
            "CC", 0, {"00", Bytes(256, 0x41)}).gives(-1),
      relay(relay(relay(Row("barcode_in_pieces", barcode), kBarcodeFetch, 2,
                        {"00", wire_pattern(127, 1)}),
                  kBarcodeFetch, 2, {"00", wire_pattern(127, 2)}),
            kBarcodeFetch, 2, {"00", wire_pattern(46, 3)}).gives(0)
          .out({"2C 01 00 00", wire_pattern(127, 1), wire_pattern(127, 2), wire_pattern(46, 3)}),
  };
  Row busy("scanner_busy_ten_times", [](Call& c) { return c.d.SD_IFD_Scan2DBarcodeExit(kIcdev); });
  for (int i = 0; i < 10; ++i) busy.sends("FB 05 1B DA 02 0D 0A").answer("BB");
  rows.push_back(busy.gives(-2).status(0xBB));
  return rows;
}
WIRE_TABLE(M6PinPad, M6MemoryReader, pad_rows());

}  // namespace
