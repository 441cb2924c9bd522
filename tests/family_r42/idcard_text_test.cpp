// The card-text parsers and the code tables: the three card kinds in both
// character sets, the refusals, and the sex, nation and country words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "family_r42/idcard_codes.h"
#include "family_r42/idcard_support.h"
#include "platform/os.h"
#include "sim/id_card_module.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kOutSize = 160;
constexpr uint8_t kFill = 0xCC;

enum class Kind { kResident, kForeigner, kHkMoTw };

// One output buffer per field, filled with kFill.
struct Outputs {
  explicit Outputs(size_t n) : buffers(n, Bytes(kOutSize, kFill)) {
    for (Bytes& b : buffers) pointers.push_back(reinterpret_cast<char*>(b.data()));
  }
  bool untouched() const {
    return std::all_of(buffers.begin(), buffers.end(), [](const Bytes& b) {
      return std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == kFill; });
    });
  }
  std::vector<Bytes> buffers;
  std::vector<char*> pointers;
};

size_t field_count(Kind kind) {
  return kind == Kind::kResident ? 10 : kind == Kind::kForeigner ? 12 : 14;
}

int16_t parse(Kind kind, int32_t charset, int32_t info_len, const uint8_t* info, char** o) {
  R42MemoryReader reader;
  ReaderDevice& d = reader.device;
  int16_t result = -9;
  switch (kind) {
    case Kind::kResident:
      result = d.ParseTextInfo(kIcdev, charset, info_len, info, o[0], o[1], o[2], o[3], o[4], o[5],
                               o[6], o[7], o[8], o[9]);
      break;
    case Kind::kForeigner:
      result = d.ParseTextInfoForForeigner(kIcdev, charset, info_len, info, o[0], o[1], o[2], o[3],
                                           o[4], o[5], o[6], o[7], o[8], o[9], o[10], o[11]);
      break;
    case Kind::kHkMoTw:
      result =
          d.ParseTextInfoForHkMoTw(kIcdev, charset, info_len, info, o[0], o[1], o[2], o[3], o[4],
                                   o[5], o[6], o[7], o[8], o[9], o[10], o[11], o[12], o[13]);
      break;
  }
  EXPECT_TRUE(reader.wire.calls.empty()) << "a parser does no I/O";
  return result;
}

// The bytes a field must come out as, and the buffer's rest untouched.
void expect_field(const Bytes& buffer, const Bytes& expected, size_t index) {
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + long(expected.size())), expected)
      << "field " << index;
  EXPECT_TRUE(std::all_of(buffer.begin() + long(expected.size()), buffer.end(),
                          [](uint8_t b) { return b == kFill; }))
      << "field " << index << " written past its end";
}

Bytes narrow_form(const std::u16string& field) {
  const std::string text = gbk(field);
  Bytes out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

Bytes wide_form(const std::u16string& field) {
  Bytes out = ucs2(field);
  out.insert(out.end(), {0, 0});
  return out;
}

struct KindCase {
  const char* name;
  Kind kind;
  IdCard card;
  int32_t charset;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class IdCardTextKinds : public ::testing::TestWithParam<KindCase> {};

// Every field of every kind comes out trimmed in the asked form; the
// cards carry different content in every field, so a field read from the
// wrong place shows.
TEST_P(IdCardTextKinds, EveryFieldInItsForm) {
  const KindCase& c = GetParam();
  const size_t n = field_count(c.kind);
  ASSERT_EQ(c.card.fields.size(), n);
  Outputs out(n);
  ASSERT_EQ(parse(c.kind, c.charset, 256, c.card.text.data(), out.pointers.data()), 0);
  for (size_t i = 0; i < n; ++i) {
    const std::u16string& field = c.card.fields[i];
    expect_field(out.buffers[i], c.charset == 0 ? narrow_form(field) : wide_form(field), i);
  }
}

std::vector<KindCase> kind_cases() {
  std::vector<KindCase> cases;
  for (int32_t charset : {0, 1}) {
    const bool wide = charset == 1;
    cases.push_back(
        {wide ? "resident_a_ucs2" : "resident_a_gbk", Kind::kResident, IdCard::a(), charset});
    cases.push_back(
        {wide ? "resident_b_ucs2" : "resident_b_gbk", Kind::kResident, IdCard::b(), charset});
    cases.push_back({wide ? "foreigner_ucs2" : "foreigner_gbk", Kind::kForeigner,
                     IdCard::foreigner(), charset});
    cases.push_back(
        {wide ? "hk_mo_tw_ucs2" : "hk_mo_tw_gbk", Kind::kHkMoTw, IdCard::hkMoTw(), charset});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(, IdCardTextKinds, ::testing::ValuesIn(kind_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A card text with `chars` at character `at` over the spaces of card A.
Bytes with_chars(size_t at, const std::u16string& chars) {
  Bytes text = IdCard::a().text;
  const Bytes bytes = ucs2(chars);
  std::copy(bytes.begin(), bytes.end(), text.begin() + long(2 * at));
  return text;
}

TEST(IdCardTextEdges, SpacesNulsAndTheLongestField) {
  // Card A's reserved area is spaces only: empty in both forms.
  for (int32_t charset : {0, 1}) {
    Outputs out(10);
    ASSERT_EQ(parse(Kind::kResident, charset, 256, IdCard::a().text.data(), out.pointers.data()),
              0);
    expect_field(out.buffers[9], charset == 0 ? Bytes{0} : Bytes{0, 0}, 9);
  }
  // An embedded U+0000 ends the GBK text; the UCS-2 form keeps every
  // character up to the last non-space.
  const Bytes cut = with_chars(0, std::u16string(u"张\0三", 3));
  Outputs gbk_out(10), wide_out(10);
  ASSERT_EQ(parse(Kind::kResident, 0, 256, cut.data(), gbk_out.pointers.data()), 0);
  ASSERT_EQ(parse(Kind::kResident, 1, 256, cut.data(), wide_out.pointers.data()), 0);
  expect_field(gbk_out.buffers[0], narrow_form(u"张"), 0);
  expect_field(wide_out.buffers[0], wide_form(std::u16string(u"张\0三", 3)), 0);
  // 35 Chinese characters of address: 70 bytes and the NUL.
  const std::u16string address(35, u'路');
  const Bytes full = with_chars(26, address);
  Outputs out(10);
  ASSERT_EQ(parse(Kind::kResident, 0, 300, full.data(), out.pointers.data()), 0);
  expect_field(out.buffers[4], narrow_form(address), 4);
  EXPECT_EQ(narrow_form(address).size(), 71u);
  // Leading spaces go too; a space inside stays.
  const Bytes spaced = with_chars(0, u"  A B");
  Outputs name(10);
  ASSERT_EQ(parse(Kind::kResident, 1, 256, spaced.data(), name.pointers.data()), 0);
  expect_field(name.buffers[0], wide_form(u"A B"), 0);
}

struct Refusal {
  const char* name;
  int32_t charset;
  int32_t info_len;
  bool null_info;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class IdCardTextRefused : public ::testing::TestWithParam<Refusal> {};

// Refused before anything is written, for each kind; so is a null output in
// any position.
TEST_P(IdCardTextRefused, NothingWritten) {
  const Refusal& r = GetParam();
  const Bytes text = IdCard::a().text;
  for (Kind kind : {Kind::kResident, Kind::kForeigner, Kind::kHkMoTw}) {
    Outputs out(field_count(kind));
    EXPECT_EQ(parse(kind, r.charset, r.info_len, r.null_info ? nullptr : text.data(),
                    out.pointers.data()),
              -1);
    EXPECT_TRUE(out.untouched());
  }
}

const Refusal kRefusals[] = {
    {"charset_2", 2, 256, false},    {"charset_negative", -1, 256, false},
    {"info_len_255", 0, 255, false}, {"info_len_negative", 1, -256, false},
    {"null_info", 0, 256, true},
};
INSTANTIATE_TEST_SUITE_P(, IdCardTextRefused, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IdCardTextRefusedOutputs, AnyNullOutputRefusesBeforeTheFirstWrite) {
  const Bytes text = IdCard::a().text;
  for (Kind kind : {Kind::kResident, Kind::kForeigner, Kind::kHkMoTw}) {
    for (size_t missing = 0; missing < field_count(kind); ++missing) {
      Outputs out(field_count(kind));
      out.pointers[missing] = nullptr;
      EXPECT_EQ(parse(kind, 0, 256, text.data(), out.pointers.data()), -1) << missing;
      EXPECT_TRUE(out.untouched()) << missing;
    }
  }
}

// ParseOtherInfo: flag, code, the word it gives (UTF-8 here), or -1.
struct OtherCase {
  int32_t flag;
  const char* code;
  const char* word;  // null: -1 and nothing written
};

const OtherCase kOther[] = {
    {0, "1", "男"},       {0, "2", "女"},         {0, "0", "女"},
    {0, "9", "女"},       {0, "", "女"},          {0, " 1", "女"},
    {1, "01", "汉"},      {1, "56", "基诺"},      {1, "57", "其他"},
    {1, "59", "穿青人"},  {1, "97", "其他"},      {1, "98", "外国血统中国籍人士"},
    {1, "99", "无"},      {1, "60", "无"},        {1, "1", "无"},
    {1, "001", "无"},     {1, "01 ", "无"},       {2, "ABW", "阿鲁巴"},
    {2, "CHN", "中国"},   {2, "HKG", "香港"},     {2, "MAC", "澳门"},
    {2, "TWN", "台湾"},   {2, "PRK", "朝鲜"},     {2, "KOR", "韩国"},
    {2, "RUS", "俄罗斯"}, {2, "USA", "美国"},     {2, "GBR", "英国"},
    {2, "JPN", "日本"},   {2, "ZWE", "津巴布韦"}, {2, "KHM", "柬埔寨"},
    {2, "VAT", "梵蒂冈"}, {2, "chn", "无"},       {2, "CH", "无"},
    {2, "CHNA", "无"},    {2, "", "无"},          {3, "1", nullptr},
    {-1, "1", nullptr},
};

TEST(IdCardCodes, ParseOtherInfoWords) {
  R42MemoryReader reader;
  ReaderDevice& d = reader.device;
  for (const OtherCase& c : kOther) {
    char out[64];
    std::memset(out, kFill, sizeof out);
    const int16_t result = d.ParseOtherInfo(kIcdev, c.flag, c.code, out);
    if (c.word == nullptr) {
      EXPECT_EQ(result, -1) << c.flag << " " << c.code;
      EXPECT_EQ(uint8_t(out[0]), kFill);
      continue;
    }
    ASSERT_EQ(result, 0) << c.flag << " " << c.code;
    const std::string expected = gbk(c.word);
    EXPECT_EQ(std::string(out), expected) << c.flag << " '" << c.code << "'";
    EXPECT_EQ(uint8_t(out[expected.size() + 1]), kFill) << "written past the NUL";
  }
  char out[8] = {};
  EXPECT_EQ(d.ParseOtherInfo(kIcdev, 0, nullptr, out), -1);
  EXPECT_EQ(d.ParseOtherInfo(kIcdev, 2, "CHN", nullptr), -1);
  EXPECT_TRUE(reader.wire.calls.empty());
}

// Both tables are in code order with each code once, and every name is
// GBK text that converts to UTF-16 and back unchanged, without a
// replacement character.
TEST(IdCardCodes, TablesSortedUniqueAndGbk) {
  const IdCodeTable nations = id_nation_table();
  const IdCodeTable countries = id_country_table();
  EXPECT_EQ(nations.count, 61u);
  EXPECT_EQ(countries.count, 249u);
  for (const IdCodeTable& table : {nations, countries}) {
    for (size_t i = 0; i < table.count; ++i) {
      const IdCodeName& row = table.rows[i];
      if (i > 0) {
        EXPECT_LT(std::strcmp(table.rows[i - 1].code, row.code), 0) << row.code;
      }
      const std::u16string wide = os_to_wide(row.name);
      EXPECT_FALSE(wide.empty()) << row.code;
      EXPECT_EQ(wide.find(u'\uFFFD'), std::u16string::npos) << row.code;
      EXPECT_EQ(os_to_narrow(wide), row.name) << row.code;
      EXPECT_EQ(gbk(wide), row.name) << row.code;
    }
  }
  for (size_t i = 0; i < countries.count; ++i) {
    const std::string code = countries.rows[i].code;
    EXPECT_EQ(code.size(), 3u);
    EXPECT_TRUE(std::all_of(code.begin(), code.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        << code;
  }
}

}  // namespace
