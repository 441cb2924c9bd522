// The demo's text conversions and the acknowledgement filter, as tables of
// input and expected output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo/ack_filter.h"
#include "demo/text_codec.h"

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

struct GbkRow {
  const char* name;
  std::string bytes;  // the whole buffer, NUL included where there is one
  std::string utf8;
};

TEST(DemoTexts, GbkToUtf8) {
  const GbkRow rows[] = {
      {"name_zhang_san", std::string("\xD5\xC5\xC8\xFD\0\xB0\xA1", 7), "\xE5\xBC\xA0\xE4\xB8\x89"},
      {"lone_0x81_at_the_end", std::string("A\x81\0", 3), "A" + kFffd},
      {"0x81_before_a_blank", "\x81 B", kFffd + " B"},
      {"no_nul_in_the_buffer", "AB", "AB"},
      {"undefined_0xFF_inside", "a\xFF" "b", "a" + kFffd + "b"},
      {"empty", std::string("\0", 1), ""},
  };
  for (const GbkRow& row : rows) {
    EXPECT_EQ(gbk_to_utf8(row.bytes.data(), row.bytes.size()), row.utf8) << row.name;
  }
  EXPECT_EQ(gbk_to_utf8(nullptr, 4), "");
}

TEST(DemoTexts, ScanTextForPane) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string zhong = "\xE4\xB8\xAD";
  struct Row {
    const char* name;
    std::string bytes;
    std::string shown;
  } rows[] = {
      {"with_bom", bom + "hello", "hello"},
      {"without_bom", "hello", "hello"},
      {"bom_only_at_the_start", "a" + bom, "a" + bom},
      {"invalid_bytes", "a\xC0\xAF" "b\xFF", "a" + kFffd + kFffd + "b" + kFffd},
      {"surrogate", "\xED\xA0\x80", kFffd + kFffd + kFffd},
      {"cut_inside_a_character", std::string(249, 'a') + zhong + "tail", std::string(249, 'a')},
      {"cut_after_a_character", std::string(247, 'a') + zhong + "tail", std::string(247, 'a') + zhong},
      {"250_after_the_bom", bom + std::string(250, 'a') + "b", std::string(250, 'a')},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(scan_text_for_pane(row.bytes.data(), row.bytes.size() + 1), row.shown) << row.name;
  }
  // A full buffer without a NUL ends at its size.
  const std::string full(1024, 'x');
  EXPECT_EQ(scan_text_for_pane(full.data(), full.size()), std::string(250, 'x'));
}

TEST(DemoAckFilter, HeldBytesAndPrintables) {
  struct Row {
    const char* name;
    std::vector<uint8_t> in;
    std::string out;
  } rows[] = {
      {"acknowledgement_dropped", {0x22, 0x00, 0x05, 0x41, 0x61}, ""},
      {"quoted_word", {'"', 'A', 'p', 'p', 'l', 'e', '"'}, "\"Apple"},
      {"quote_restarts", {0x22, 0x22, 0x41, 0x62}, "\"\"Ab"},
      {"controls_dropped", {'A', 0x0D, 0x0A, 0x7F, 0x00, 'B'}, "AB"},
      {"held_controls_dropped", {0x22, 0x05, 0x0A, 'x'}, "\"x"},
      {"text_after_an_acknowledgement", {0x22, 0x61, 0x61, 0x61, 0x61, 'o', 'k'}, "ok"},
  };
  for (const Row& row : rows) {
    AckFilter filter;
    std::string out;
    for (uint8_t b : row.in) out += filter.feed(b);
    EXPECT_EQ(out, row.out) << row.name;
  }
}

}  // namespace
