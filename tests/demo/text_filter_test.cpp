// The demo's text conversions and the acknowledgement filter, as tables of
// input and expected output.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "demo/ack_filter.h"
#include "demo/text_codec.h"

namespace {

const std::string kFffd = "\xEF\xBF\xBD";
using Texts = std::pair<std::string, std::string>;  // in, out

TEST(DemoTexts, GbkToUtf8) {
  const Texts rows[] = {  // the whole buffer, NUL included where there is one
      {std::string("\xD5\xC5\xC8\xFD\0\xB0\xA1", 7), "\xE5\xBC\xA0\xE4\xB8\x89"},  // 张三
      {std::string("A\x81\0", 3), "A" + kFffd},  // a lone lead byte at the end
      {"a\xFF" "b", "a" + kFffd + "b"},  // no NUL: its size ends it
  };
  for (const auto& [gbk, utf8] : rows) EXPECT_EQ(gbk_to_utf8(gbk.data(), gbk.size()), utf8);
  EXPECT_EQ(gbk_to_utf8(nullptr, 4), "");
}

TEST(DemoTexts, ScanTextForPane) {
  const std::string bom = "\xEF\xBB\xBF", zhong = "\xE4\xB8\xAD", a247(247, 'a');
  const Texts rows[] = {
      {bom + "hello", "hello"},
      {"a" + bom, "a" + bom},  // a BOM only counts at the start
      {"a\xC0\xAF" "b\xFF", "a" + kFffd + kFffd + "b" + kFffd},
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},  // a surrogate
      {"aa" + a247 + zhong + "tail", "aa" + a247},  // byte 250 cuts a character: dropped
      {a247 + zhong + "tail", a247 + zhong},
      {bom + std::string(250, 'a') + "b", std::string(250, 'a')},
  };
  for (const auto& [in, shown] : rows) EXPECT_EQ(scan_text_for_pane(in.data(), in.size() + 1), shown);
  // A full buffer without a NUL ends at its size.
  const std::string full(1024, 'x');
  EXPECT_EQ(scan_text_for_pane(full.data(), full.size()), std::string(250, 'x'));
}

TEST(DemoAckFilter, HeldBytesAndPrintables) {
  const std::pair<std::vector<uint8_t>, std::string> rows[] = {
      {{0x22, 0x00, 0x05, 0x41, 0x61}, ""},  // an acknowledgement
      {{0x22, 0x22, 0x41, 0x62}, "\"\"Ab"},
      {{'A', 0x0D, 0x0A, 0x7F, 0x00, 'B'}, "AB"},
      {{0x22, 0x05, 0x0A, 'x'}, "\"x"},
      {{0x22, 0x61, 0x61, 0x61, 0x61, 'o', 'k'}, "ok"},
  };
  for (const auto& [in, out] : rows) {
    AckFilter filter;
    std::string got;
    for (uint8_t b : in) got += filter.feed(b);
    EXPECT_EQ(got, out);
  }
}

}  // namespace
