#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tool.h"
#include "tool_test_support.h"

namespace {

struct HexCase {
  const char* text;
  int len;
  std::vector<uint8_t> bytes;
};

class ToolTextHex : public ::testing::TestWithParam<HexCase> {};

TEST_P(ToolTextHex, TextToBytesWritesOnlyItsBytes) {
  const HexCase& c = GetParam();
  std::vector<uint8_t> out(c.bytes.size() + 4, 0xEE);
  ASSERT_EQ(0, Tool_AsciiStrToHex(c.text, c.len, out.data()));
  EXPECT_EQ(c.bytes, std::vector<uint8_t>(out.begin(), out.begin() + long(c.bytes.size())));
  EXPECT_EQ(std::vector<uint8_t>(4, 0xEE), std::vector<uint8_t>(out.end() - 4, out.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolTextHex,
    ::testing::Values(HexCase{"ABC", 3, {0xAB, 0xC0}}, HexCase{"0fA0", 4, {0x0F, 0xA0}},
                      HexCase{"0A1B", 2, {0x0A}}, HexCase{"", 0, {}}, HexCase{"12", 0, {}},
                      // A text shorter than len ends at its NUL.
                      HexCase{"0A", 8, {0x0A}}, HexCase{"ABC", 9, {0xAB, 0xC0}},
                      // Unchecked characters count as code - 87: "g" 16, "!" -54.
                      HexCase{"g0", 2, {0x00}}, HexCase{"!1", 2, {uint8_t(-54 * 16 + 1)}},
                      HexCase{"\xFF\xFF", 2, {uint8_t(168 * 16 + 168)}}),
    RowName());

TEST(ToolText, TextToBytesStopsAtTheCallersText) {
  // Exactly three bytes on the heap: a read past the NUL would be caught.
  std::unique_ptr<char[]> text(new char[3]{'0', 'A', '\0'});
  uint8_t out[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(0, Tool_AsciiStrToHex(text.get(), 8, out));
  EXPECT_EQ(0x0A, out[0]);
  EXPECT_EQ(0xEE, out[1]);
}

TEST(ToolText, BytesToTextAndXor) {
  const uint8_t bytes[] = {0x0F, 0xA0, 0x3C};
  std::vector<char> out = guarded(10);
  EXPECT_EQ(0, Tool_HexToAsciiStr(bytes, 2, out.data()));
  EXPECT_STREQ("0FA0", out.data());
  EXPECT_EQ(kGuard, out[5]);
  uint8_t x = 0xEE;
  EXPECT_EQ(0, Tool_GetXOR(bytes, 3, &x));
  EXPECT_EQ(0x0F ^ 0xA0 ^ 0x3C, x);
  EXPECT_EQ(0, Tool_GetXOR(bytes, 0, &x));
  EXPECT_EQ(0, x);
  x = 0xEE;
  EXPECT_EQ(0, Tool_GetXOR(bytes, -3, &x));
  EXPECT_EQ(0, x);
  EXPECT_EQ(-1, Tool_HexToAsciiStr(bytes, INT_MAX / 2 + 1, out.data()));
}

struct FieldCase {
  std::string text;
  std::string sep;
  int index;
  const char* field;  // null: out untouched
};

class ToolTextField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ToolTextField, IndexOfStr) {
  const FieldCase& c = GetParam();
  std::vector<char> out = guarded(c.text.size() + 2);
  ASSERT_EQ(0, Tool_GetIndexOfStr(c.text.c_str(), c.sep.c_str(), c.index, out.data()));
  EXPECT_EQ(c.field ? c.field : "", written(out));
}

std::string separated(int count) {
  std::string text = "f0";
  for (int i = 1; i <= count; ++i) text += ",f" + std::to_string(i);
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolTextField,
    ::testing::Values(FieldCase{"a,b,c", ",", 0, "a"}, FieldCase{"a,b,c", ",", 1, "b"},
                      FieldCase{"a,b,c", ",", 2, "c"}, FieldCase{"a,b,c", ",", 3, nullptr},
                      FieldCase{"a::b::", "::", 2, ""}, FieldCase{"abc", ";", 0, "abc"},
                      FieldCase{"abc", ";", 1, nullptr}, FieldCase{"aaaa", "aa", 1, ""},
                      // An empty separator splits nothing.
                      FieldCase{"a,b", "", 0, "a,b"}, FieldCase{"a,b", "", 1, nullptr},
                      // More separators than a byte counts, on a text past 2047.
                      FieldCase{separated(300), ",", 299, "f299"},
                      FieldCase{separated(300), ",", 300, "f300"},
                      FieldCase{separated(300), ",", 301, nullptr},
                      FieldCase{std::string(5000, 'x') + "|y", "|", 1, "y"}),
    RowName());

TEST(ToolText, IndexOfStrMayWriteOverItsText) {
  char text[] = "first,second";
  ASSERT_EQ(0, Tool_GetIndexOfStr(text, ",", 1, text));
  // No NUL follows the field.
  EXPECT_STREQ("secondsecond", text);
}

struct ReplaceCase {
  std::string text;
  std::string find;
  std::string repl;
  int result;
  std::string out;
};

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

class ToolTextReplace : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ToolTextReplace, StringReplace) {
  const ReplaceCase& c = GetParam();
  std::vector<char> out = guarded(c.out.size() + c.text.size() + 2);
  ASSERT_EQ(c.result,
            Tool_StringReplace(c.text.c_str(), c.find.c_str(), c.repl.c_str(), out.data()));
  if (c.result == 0) {
    EXPECT_EQ(c.out, std::string(out.data()));
  } else {
    EXPECT_EQ("", written(out));
  }
  // The result may go over the text itself when the buffer holds it.
  std::vector<char> same(c.text.begin(), c.text.end());
  same.resize(c.out.size() + c.text.size() + 1);
  ASSERT_EQ(c.result, Tool_StringReplace(same.data(), c.find.c_str(), c.repl.c_str(), same.data()));
  if (c.result == 0) {
    EXPECT_EQ(c.out, std::string(same.data()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolTextReplace,
    ::testing::Values(
        ReplaceCase{"aaa", "a", "aa", 0, "aaaaaa"}, ReplaceCase{"a.b.c", ".", "::", 0, "a::b::c"},
        ReplaceCase{"abcabc", "bc", "", 0, "abcabc"}, ReplaceCase{"xyz", "q", "r", 0, "xyz"},
        ReplaceCase{"", "a", "b", -1, ""}, ReplaceCase{"abc", "", "b", -1, ""},
        // Texts and results past the old 4096-byte buffers.
        ReplaceCase{std::string(3000, 'a'), "a", "bc", 0, repeat("bc", 3000)},
        ReplaceCase{std::string(5000, 'a'), "aa", "bbbb", 0, std::string(10000, 'b')}),
    RowName());

struct MaskCase {
  std::string card;
  int head;  // head/tail < -1000: Tool_CardNoHandle
  int tail;
  int result;
  std::string out;
};

class ToolTextMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(ToolTextMask, CardNumbers) {
  const MaskCase& c = GetParam();
  std::vector<char> out = guarded(c.card.size() + 4);
  const bool plain = c.head < -1000;
  const int result = plain ? Tool_CardNoHandle(c.card.c_str(), out.data())
                           : Tool_CardNoHandleNew(c.card.c_str(), c.head, c.tail, out.data());
  EXPECT_EQ(c.result, result);
  if (plain && result != 0) {
    EXPECT_EQ("", written(out));
  } else {
    EXPECT_EQ(c.out, std::string(out.data()));
  }
}

constexpr int kPlain = -9999;

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolTextMask,
    ::testing::Values(
        MaskCase{"123456789012", kPlain, 0, -1, ""},
        MaskCase{"1234567890123", kPlain, 0, 0, "123456***0123"},
        MaskCase{"6222021234567890", kPlain, 0, 0, "622202******7890"},
        MaskCase{"1234567890123456789", kPlain, 0, 0, "123456*********6789"},
        MaskCase{"12345678901234567890", kPlain, 0, -1, ""},
        MaskCase{"12345678", 4, 4, -1, "12345678"}, MaskCase{"12345678", 4, 3, 0, "1234*678"},
        MaskCase{"12345678", 0, 0, 0, "********"}, MaskCase{"", 0, 0, -1, ""},
        // Negative or overflowing head and tail copy the number unchanged.
        MaskCase{"12345678", -2, 3, -1, "12345678"}, MaskCase{"12345678", 2, -3, -1, "12345678"},
        MaskCase{"12345678", INT_MAX, INT_MAX, -1, "12345678"},
        MaskCase{"12345678", INT_MAX, 2, -1, "12345678"},
        MaskCase{std::string(150, '9'), 10, 10, 0,
                 std::string(10, '9') + std::string(130, '*') + std::string(10, '9')}),
    RowName());

}  // namespace
