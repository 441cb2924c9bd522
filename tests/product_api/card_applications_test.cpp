// The social-security and health card readers as rows: canned card answers
// on the wire, every output at its own offset. The step rule is shown once,
// on EF06.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "product_api/product_rows.h"
#include "qm_reader.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;

// Contact seat: power-up at voltage code 0 or 1, the answer to reset, and
// an APDU with its answer.
const char* const kPowerUp0 = "03 01 00 00 00 00";
const char* const kPowerUp1 = "03 01 00 00 00 01";
const char* const kAtr = "00 00 00 00 3B 6D 00 00";
const char* const kNoCardStatus = "6A 82 00";
const char* const kSelectApp =
    "03 04 00 00 00 A4 04 00 0F 73 78 31 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF";
const char* const kOk = "00 00 00 90 00";
WireBytes contact(const std::string& apdu) { return WireBytes("03 04 00 00 " + apdu); }
WireBytes answer(const WireBytes& data, const char* sw = "90 00") {
  return {WireBytes("00 00 00"), data, WireBytes(sw)};
}
std::string raw(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::string hex(const std::vector<uint8_t>& bytes) {
  std::string out = spaced_hex(bytes);
  std::erase(out, ' ');
  return out;
}

using SevenOutputs = int32_t (*)(int32_t, char*, char*, char*, char*, char*, char*, char*);
Row::Call seven(SevenOutputs read, std::vector<std::string> messages) {
  return product<R42MemoryReader>(
      [read](Call& c) {
        return read(kProductHandle, field_at(c, 0), field_at(c, 1), field_at(c, 2),
                    field_at(c, 3), field_at(c, 4), field_at(c, 5), field_at(c, 6));
      },
      messages);
}
Row::Call ef05(std::vector<std::string> messages = {}) { return seven(qm_ReadMFEF05, messages); }
Row::Call ef06(std::vector<std::string> messages = {}) { return seven(qm_ReadMFEF06, messages); }

// The seven EF05 records, each as long as its Le.
const uint8_t kEf05Le[] = {0x12, 0x03, 0x06, 0x0E, 0x06, 0x06, 0x0E};
std::vector<uint8_t> ef05_record(int i) { return wire_pattern(kEf05Le[i], uint8_t(0x10 * i)); }
WireBytes ef05_read(int i) {
  char apdu[32];
  std::snprintf(apdu, sizeof apdu, "00 B2 %02X 00 %02X", i + 1, kEf05Le[i]);
  return contact(apdu);
}

// Every record at its cap, but the third: 6A 83, its output left.
Row ef05_one_missing() {
  Row row = Row("ef05_missing_record_read_past", ef05({"卡规范读取失败\n"}))
                .sends(kPowerUp0).answer(kAtr)
                .sends(kSelectApp).answer(kOk)
                .sends(contact("00 A4 02 00 02 EF 05")).answer(kOk);
  std::vector<std::string> out;
  for (int i = 0; i < 7; ++i) {
    row.sends(ef05_read(i)).answer(i == 2 ? "00 00 00 6A 83" : answer(ef05_record(i)));
    out.push_back(i == 2 ? "" : with_nul(hex(ef05_record(i))));
  }
  return row.gives(0).out(fields({out[0], out[1], out[2], out[3], out[4], out[5], out[6]}));
}

std::vector<Row> ef05_rows() {
  return {
      ef05_one_missing(),
      Row("ef05_no_card_at_either_voltage", ef05({"复位失败无卡\n"}))
          .sends(kPowerUp0).answer(kNoCardStatus)
          .sends(kPowerUp1).answer(kNoCardStatus)
          .gives(-2),
      Row("ef05_no_application", ef05({"社保环境应用失败\n", "05文件打开失败\n"}))
          .sends(kPowerUp0).answer(kAtr)
          .sends(kSelectApp).answer("00 00 00 6A 82")
          .sends(contact("00 A4 02 00 02 EF 05")).answer("00 00 00 6A 82")
          .gives(-12),
  };
}
WIRE_TABLE(SocialSecurityCardEf05, R42MemoryReader, ef05_rows());

// EF06 of the holder of card A, read at voltage 1: each record's APDU and
// the card's answer without its status word.
const std::string kNumber = "110101198001011232";
const std::vector<std::pair<const char*, WireBytes>> kEf06 = {
    {"00 A4 02 00 02 EF 06", ""},
    {"00 B2 08 00 14", {WireBytes("08 12"), WireBytes(std::vector<uint8_t>(kNumber.begin(), kNumber.end()))}},
    {"00 B2 09 00 20", {WireBytes("09 1E D5 C5 C8 FD"), WireBytes(std::vector<uint8_t>(26, 0))}},
    {"00 B2 4E 00 16", {WireBytes("4E 14"), WireBytes(wire_pattern(20, 0x41))}},
    {"00 B2 0A 00 03", "0A 01 31"},
    {"00 B2 0B 00 03", "0B 01 01"},
    {"00 B2 0C 00 05", "0C 03 12 34 56"},
    {"00 B2 0D 00 06", "0D 04 19 80 01 01"},
};
const std::string kName = gbk("张三") + std::string(27, '\0');
const std::string kExtension = with_nul("4E14" + hex(wire_pattern(20, 0x41)));
const std::vector<uint8_t> kEf06Out =
    fields({with_nul(kNumber), kName, kExtension, gbk("男"), gbk("汉族"), with_nul("0C03123456"),
            with_nul("19800101")});

// The EF06 road up to record `last`, with `replies` in place of the card's
// answers.
Row ef06_road(const char* name, std::vector<std::string> messages,
              std::map<size_t, WireBytes> replies = {}, size_t last = kEf06.size() - 1) {
  Row row = Row(name, ef06(messages))
                .sends(kPowerUp0).answer(kNoCardStatus)
                .sends(kPowerUp1).answer(kAtr)
                .sends(kSelectApp).answer(kOk);
  for (size_t i = 0; i <= last; ++i) {
    const auto changed = replies.find(i);
    row.sends(contact(kEf06[i].first))
        .answer(changed != replies.end() ? changed->second : answer(kEf06[i].second));
  }
  return row;
}

std::vector<Row> ef06_rows() {
  return {
      ef06_road("ef06_main_road", {}).gives(0).out(kEf06Out),
      // Steps fail on another status word (-2), on data past Le or short of
      // what the step reads (-1); a SELECT also takes 61 xx.
      ef06_road("ef06_file_missing", {"06文件打开失败\n"}, {{0, answer("", "6A 82")}}, 0)
          .gives(-2),
      ef06_road("ef06_number_past_le", {"社会保障号码读取失败\n"},
                {{1, answer({WireBytes("08 13"), WireBytes(wire_pattern(19, 0x30))})}}, 1)
          .gives(-1),
      ef06_road("ef06_sex_record_short", {"性别读取失败\n"}, {{4, answer("0A 00")}}, 4)
          .gives(-1).out(fields({with_nul(kNumber), kName, kExtension})),
      ef06_road("ef06_select_takes_61", {}, {{0, answer("", "61 10")}}).gives(0).out(kEf06Out),
      // Lengths that do not fit their record.
      ef06_road("ef06_number_length_0", {"社会保障号码长度错误\n"}, {{1, answer("08 00")}}, 1)
          .gives(-5),
      ef06_road("ef06_name_length_past_value", {"姓名读取失败\n"},
                {{2, answer("09 05 D5 C5")}}, 2)
          .gives(-5).out(fields({with_nul(kNumber)})),
      // Sex code '9' leaves its output; nation 58 is "错误".
      ef06_road("ef06_unknown_codes", {}, {{4, answer("0A 01 39")}, {5, answer("0B 01 3A")}})
          .gives(0)
          .out(fields({with_nul(kNumber), kName, kExtension, "", gbk("错误"),
                       with_nul("0C03123456"), with_nul("19800101")})),
  };
}
WIRE_TABLE(SocialSecurityCardEf06, R42MemoryReader, ef06_rows());

// The health card behind the contactless interface: an APDU in a block
// command, its answer with a 16-bit length.
WireBytes rf(const WireBytes& apdu) {
  return {WireBytes("04 11 00 00"), WireBytes(std::vector<uint8_t>{uint8_t(apdu.bytes.size())}),
          apdu};
}
WireBytes rf_answer(const WireBytes& data) {
  return {WireBytes("00 00 00 00"), WireBytes(std::vector<uint8_t>{uint8_t(data.bytes.size() + 2)}),
          data, WireBytes("90 00")};
}

Row health(const char* name, std::vector<std::string> messages = {}) {
  return Row(name, product<R42MemoryReader>(
                       [](Call& c) {
                         return qm_ReadQMEF05(kProductHandle, field_at(c, 0), field_at(c, 1),
                                              field_at(c, 2));
                       },
                       messages));
}
Row health_opened(const char* name, WireBytes version) {
  return health(name)
      .sends("04 43 00").answer("00 00 00 0A 04 11 22 33 44 05 75 77 81 02 80")
      .sends(rf("00 A4 04 00 0C 57 53 2E 53 59 53 2E 44 44 46 30 31")).answer(rf_answer(""))
      .sends(rf("00 A4 02 00 02 EF 05")).answer(rf_answer(""))
      .sends(rf("00 B2 02 04 06")).answer(rf_answer(version))
      .sends(rf("00 B2 03 04 20")).answer(rf_answer({WireBytes("03 1E"), wire_pattern(30, 1)}))
      .sends(rf("00 B2 07 04 14")).answer(rf_answer({WireBytes("07 12"), wire_pattern(18, 2)}));
}

const Row kHealthRows[] = {
    health_opened("main_road", "02 04 56 31 2E 30")
        .gives(0)
        .out(fields({"V1.0", raw(wire_pattern(30, 1)),
                     raw(wire_pattern(18, 2))})),
    // A version record of another length is no version; the others are read.
    health_opened("version_of_7_bytes_left", "02 03 56 31 2E")
        .gives(0)
        .out(fields({"", raw(wire_pattern(30, 1)),
                     raw(wire_pattern(18, 2))})),
    health("no_card", {"复位失败无卡\n"}).sends("04 43 00").fails().gives(-1),
};
WIRE_TABLE(HealthCard, R42MemoryReader, kHealthRows);

}  // namespace
