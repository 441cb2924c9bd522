#include <climits>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "platform/text_helpers.h"

using Pieces = std::vector<std::string>;

TEST(TextHelpers, SplitKeepsEmptyPieces) {
  EXPECT_EQ(Pieces({"0471", "7002", "interrupt", "control", "64", "64"}),
            split("0471:7002:interrupt:control:64:64", ":"));
  EXPECT_EQ(Pieces({"a", "", "b"}), split("a::b", ":"));
  EXPECT_EQ(Pieces({"a", ""}), split("a:", ":"));
  EXPECT_EQ(Pieces({""}), split("", ":"));
  EXPECT_EQ(Pieces({"a", "b"}), split("a<>b", "<>"));
}

TEST(TextHelpers, SplitWithAnEmptyDelimiterGivesTheWholeText) {
  EXPECT_EQ(Pieces({"a:b"}), split("a:b", ""));
  EXPECT_EQ(Pieces({""}), split("", ""));
}

TEST(TextHelpers, TrimRemovesOnlyOuterSpaces) {
  std::string text = "  ab c  ";
  trim(text);
  EXPECT_EQ("ab c", text);
  text = "   ";
  trim(text);
  EXPECT_EQ("", text);
  text = "";
  trim(text);
  EXPECT_EQ("", text);
  text = "\tab ";
  trim(text);
  EXPECT_EQ("\tab", text);

  std::u16string wide = u"  \u5f20 \u4e09  ";
  trim_wide(wide);
  EXPECT_EQ(u"\u5f20 \u4e09", wide);
  wide = u"  ";
  trim_wide(wide);
  EXPECT_EQ(u"", wide);
  wide = u"\tx";
  trim_wide(wide);
  EXPECT_EQ(u"\tx", wide);
}

TEST(TextHelpers, GetParamNeverInserts) {
  ParamMap params{{"name", "COM3"}, {"baud", "115200"}};
  EXPECT_EQ("COM3", get_param(params, "name"));
  EXPECT_EQ("", get_param(params, "vid"));
  EXPECT_EQ(2u, params.size());
  IntParamMap numbers{{"timeout", 500}};
  EXPECT_EQ(500, get_int_param(numbers, "timeout"));
  EXPECT_EQ(0, get_int_param(numbers, "missing"));
}

TEST(TextHelpers, CaseChangesOnlyAsciiLetters) {
  // C4 D0 is a GBK character: its bytes are negative as plain char.
  char text[] = "ab\xC4\xD0z9-Q";
  EXPECT_EQ(text, str_upper(text));
  EXPECT_STREQ("AB\xC4\xD0Z9-Q", text);
  EXPECT_STREQ("ab\xC4\xD0z9-q", str_lower(text));
  EXPECT_EQ(nullptr, str_upper(nullptr));
}

TEST(TextHelpers, IntToTextCoversTheWholeRange) {
  EXPECT_EQ("-2147483648", int_to_text(INT_MIN));
  EXPECT_EQ("2147483647", int_to_text(INT_MAX));
  EXPECT_EQ("0", int_to_text(0));
  EXPECT_EQ("115200", int_to_text(115200));
}

// A twin's text shorter than it should be is refused without a byte read
// past its terminator: the text sits in a buffer of exactly its size.
TEST(TextHelpers, HexTwinInputStopsAtAShortTextsEnd) {
  const char digits[] = "0a1B";
  std::unique_ptr<char[]> text(new char[sizeof digits]);
  std::memcpy(text.get(), digits, sizeof digits);
  uint8_t out[6] = {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
  EXPECT_EQ(hex_twin_input(text.get(), 6, out), -1);
  EXPECT_EQ(hex_twin_input(text.get(), 3, out), -1);
  EXPECT_EQ(hex_twin_input("0a1G", 2, out), -1);
  ASSERT_EQ(hex_twin_input(text.get(), 2, out), 0);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0x1B);
  char back[5];
  hex_twin_output(out, 2, back);
  EXPECT_STREQ(back, "0A1B");
}
