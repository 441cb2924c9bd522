// The one-call card readers as rows: the social-security and health cards
// with canned answers, the identity card over the simulated module, and a
// MIFARE block over the card field. Every output has its own offset. The
// step rule is shown once, on EF06.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/settings.h"
#include "product_api/product_rows.h"
#include "qm_reader.h"
#include "sim/card_field.h"
#include "sim/id_card_module.h"
#include "sim/mifare_card.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;

// The contact seat: power-up at voltage code 0 or 1, and an APDU with the
// card's answer.
const char* const kPowerUp0 = "03 01 00 00 00 00";
const char* const kPowerUp1 = "03 01 00 00 00 01";
const char* const kAtr = "00 00 00 00 3B 6D 00 00";
const char* const kNoCard = "6A 82 00";
const char* const kSelectApp =
    "03 04 00 00 00 A4 04 00 0F 73 78 31 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF";
WireBytes contact(const WireBytes& apdu) { return {WireBytes("03 04 00 00"), apdu}; }
WireBytes answer(const WireBytes& data, const char* sw = "90 00") {
  return {WireBytes("00 00 00"), data, WireBytes(sw)};
}
std::string hex(const std::vector<uint8_t>& bytes) {
  std::string out = spaced_hex(bytes);
  std::erase(out, ' ');
  return out;
}

// qm_ReadMFEF05 or qm_ReadMFEF06.
using SevenOutputs = int32_t (*)(int32_t, char*, char*, char*, char*, char*, char*, char*);
Row::Call seven(SevenOutputs read, std::vector<std::string> messages = {}) {
  return product<R42MemoryReader>(
      [read](Call& c) {
        const auto f = [&c](size_t i) { return field_at(c, i); };
        return read(kProductHandle, f(0), f(1), f(2), f(3), f(4), f(5), f(6));
      },
      std::move(messages));
}

// Every EF05 record as long as its Le, but the third: 6A 83, its output
// left as it was.
Row ef05_main_road() {
  Row row = Row("ef05_missing_record_read_past", seven(qm_ReadMFEF05, {"卡规范读取失败\n"}))
                .sends(kPowerUp0).answer(kAtr)
                .sends(kSelectApp).answer(answer(""))
                .sends(contact("00 A4 02 00 02 EF 05")).answer(answer(""));
  const uint8_t le[] = {0x12, 0x03, 0x06, 0x0E, 0x06, 0x06, 0x0E};
  std::vector<std::string> out(7);
  for (uint8_t i = 0; i < 7; ++i) {
    const std::vector<uint8_t> record = wire_pattern(le[i], uint8_t(0x10 * i));
    row.sends(contact(std::vector<uint8_t>{0x00, 0xB2, uint8_t(i + 1), 0x00, le[i]}))
        .answer(i == 2 ? answer("", "6A 83") : answer(record));
    if (i != 2) out[i] = with_nul(hex(record));
  }
  return row.gives(0).out(fields(out));
}

// EF06 of card A's holder, read at voltage 1: each record's APDU and the
// card's answer without its status word.
const std::string kNumber = "110101198001011232";
const std::vector<std::pair<const char*, WireBytes>> kEf06 = {
    {"00 A4 02 00 02 EF 06", ""},
    {"00 B2 08 00 14", {WireBytes("08 12"), std::vector<uint8_t>(kNumber.begin(), kNumber.end())}},
    {"00 B2 09 00 20", {WireBytes("09 1E D5 C5 C8 FD"), std::vector<uint8_t>(26, 0)}},
    {"00 B2 4E 00 16", {WireBytes("4E 14"), wire_pattern(20, 0x41)}},
    {"00 B2 0A 00 03", "0A 01 31"},
    {"00 B2 0B 00 03", "0B 01 01"},
    {"00 B2 0C 00 05", "0C 03 12 34 56"},
    {"00 B2 0D 00 06", "0D 04 19 80 01 01"},
};
const std::string kName = gbk("张三") + std::string(27, '\0');
const std::string kExtension = with_nul("4E14" + hex(wire_pattern(20, 0x41)));
const std::vector<uint8_t> kEf06Out = fields({with_nul(kNumber), kName, kExtension, gbk("男"),
                                              gbk("汉族"), with_nul("0C03123456"),
                                              with_nul("19800101")});

// The EF06 road up to record `last`, with `replies` in place of the card's.
Row ef06(const char* name, std::vector<std::string> messages,
         std::map<size_t, WireBytes> replies = {}, size_t last = kEf06.size() - 1) {
  Row row = Row(name, seven(qm_ReadMFEF06, std::move(messages)))
                .sends(kPowerUp0).answer(kNoCard)
                .sends(kPowerUp1).answer(kAtr)
                .sends(kSelectApp).answer(answer(""));
  for (size_t i = 0; i <= last; ++i) {
    const auto changed = replies.find(i);
    row.sends(contact(kEf06[i].first))
        .answer(changed != replies.end() ? changed->second : answer(kEf06[i].second));
  }
  return row;
}

std::vector<Row> social_security_rows() {
  return {
      ef05_main_road(),
      Row("ef05_no_card_at_either_voltage", seven(qm_ReadMFEF05, {"复位失败无卡\n"}))
          .sends(kPowerUp0).answer(kNoCard)
          .sends(kPowerUp1).answer(kNoCard)
          .gives(-2),
      Row("ef05_no_application", seven(qm_ReadMFEF05, {"社保环境应用失败\n", "05文件打开失败\n"}))
          .sends(kPowerUp0).answer(kAtr)
          .sends(kSelectApp).answer(answer("", "6A 82"))
          .sends(contact("00 A4 02 00 02 EF 05")).answer(answer("", "6A 82"))
          .gives(-12),
      ef06("ef06_main_road", {}).gives(0).out(kEf06Out),
      // A step fails on another status word (-2), on data past Le or short
      // of what it reads (-1). A SELECT also takes 61 xx, here after a reply
      // longer than 127 bytes.
      ef06("ef06_file_missing", {"06文件打开失败\n"}, {{0, answer("", "6A 82")}}, 0)
          .gives(-2),
      ef06("ef06_number_past_le", {"社会保障号码读取失败\n"},
           {{1, answer({WireBytes("08 13"), wire_pattern(19, 0x30)})}}, 1)
          .gives(-1),
      ef06("ef06_sex_record_short", {"性别读取失败\n"}, {{4, answer("0A 00")}}, 4)
          .gives(-1).out(fields({with_nul(kNumber), kName, kExtension})),
      ef06("ef06_long_select_reply_takes_61", {}, {{0, answer(wire_pattern(130, 1), "61 10")}})
          .gives(0).out(kEf06Out),
      // Lengths that do not fit their record.
      ef06("ef06_number_length_0", {"社会保障号码长度错误\n"}, {{1, answer("08 00")}}, 1)
          .gives(-5),
      ef06("ef06_name_length_past_value", {"姓名读取失败\n"}, {{2, answer("09 05 D5 C5")}}, 2)
          .gives(-5).out(fields({with_nul(kNumber)})),
      // Sex code '9' leaves its output; nation 58 is "错误".
      ef06("ef06_unknown_codes", {}, {{4, answer("0A 01 39")}, {5, answer("0B 01 3A")}})
          .gives(0)
          .out(fields({with_nul(kNumber), kName, kExtension, "", gbk("错误"),
                       with_nul("0C03123456"), with_nul("19800101")})),
  };
}
WIRE_TABLE(SocialSecurityCard, R42MemoryReader, social_security_rows());

// The health card behind the contactless interface: an APDU in a block
// command, its answer with a 16-bit length.
WireBytes rf(const WireBytes& apdu) {
  return {WireBytes("04 11 00 00"), std::vector<uint8_t>{uint8_t(apdu.bytes.size())}, apdu};
}
WireBytes rf_answer(const WireBytes& data) {
  return {WireBytes("00 00 00 00"), std::vector<uint8_t>{uint8_t(data.bytes.size() + 2)}, data,
          WireBytes("90 00")};
}

int32_t health_call(Call& c) {
  return qm_ReadQMEF05(kProductHandle, field_at(c, 0), field_at(c, 1), field_at(c, 2));
}
Row health(const char* name, std::vector<std::string> messages = {}) {
  return Row(name, product<R42MemoryReader>(health_call, std::move(messages)));
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
std::string raw(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

const Row kHealthRows[] = {
    health_opened("main_road", "02 04 56 31 2E 30")
        .gives(0).out(fields({"V1.0", raw(wire_pattern(30, 1)), raw(wire_pattern(18, 2))})),
    // A version record of another length is no version; the others are read.
    health_opened("version_of_7_bytes_left", "02 03 56 31 2E")
        .gives(0).out(fields({"", raw(wire_pattern(30, 1)), raw(wire_pattern(18, 2))})),
    health("no_card", {"复位失败无卡\n"}).sends("04 43 00").fails().gives(-1),
};
WIRE_TABLE(HealthCard, R42MemoryReader, kHealthRows);

// Identity cards through the reader's module.
using IdRow = WireRow<IdCardMemoryReader>;
using IdCall = WireCall<IdCardMemoryReader>;

constexpr int32_t kRead = 10240;   // reply capacity of the module's record read
constexpr int32_t kTunnel = 8192;  // and of its security-module tunnel
const char* const kRecord = "04 20 00";
const char* const kPhoto = "qm_getidinfo_photo.bmp";

// qm_GetIDInfo, its eight texts without NUL at their offsets, beside an
// earlier card's photo file (a relative path, in this call's directory),
// which must be gone after a success: there is no decoder here.
int32_t get_id_info_call(IdCall& c) {
  const std::filesystem::path back = std::filesystem::current_path();
  std::filesystem::current_path(library_directory());
  std::ofstream(kPhoto) << "earlier card";
  const auto f = [&c](size_t i) { return field_at(c, i); };
  const int32_t result =
      qm_GetIDInfo(kProductHandle, f(0), f(1), f(2), f(3), f(4), f(5), f(6), f(7), kPhoto);
  EXPECT_EQ(std::remove(kPhoto) == 0, result != 0) << "photo file of an earlier card";
  std::filesystem::current_path(back);
  return result;
}
IdRow get_id_info(const char* name, std::vector<std::string> messages) {
  return IdRow(name, product<IdCardMemoryReader>(get_id_info_call, std::move(messages)))
      .sends(kRecord).capacity(kRead);
}

// qm_ReadIDInfor with its ten texts at their offsets (qm_ReadIDInforHKMOTW
// with its fourteen, for `permit`), after the module's search, and select
// and read when `found`; the photo and fingerprint lengths must be these.
IdRow sam_read(const char* name, int32_t photo, int32_t finger, bool found = true,
               bool permit = false) {
  IdRow row = IdRow(name, product<IdCardMemoryReader>([=](IdCall& c) {
                const auto f = [&c](size_t i) { return field_at(c, i); };
                int32_t photo_len = -1, finger_len = -1;
                std::vector<unsigned char> p(4096), fp(4096);
                const int32_t result =
                    permit ? qm_ReadIDInforHKMOTW(kProductHandle, f(0), f(1), f(2), f(3), f(4),
                                                  f(5), f(6), f(7), f(8), f(9), f(10), f(11),
                                                  f(12), &photo_len, p.data(), &finger_len,
                                                  fp.data(), f(13))
                           : qm_ReadIDInfor(kProductHandle, f(0), f(1), f(2), f(3), f(4), f(5),
                                            f(6), f(7), f(8), &photo_len, p.data(), &finger_len,
                                            fp.data(), f(9));
                if (result >= 0) {
                  EXPECT_EQ(photo_len, photo);
                  EXPECT_EQ(finger_len, finger);
                }
                return result;
              })).sends("04 24 00 AA AA AA 96 69 00 03 20 01 22").capacity(kTunnel);
  if (found)
    row.sends("04 24 00 AA AA AA 96 69 00 03 20 02 21").capacity(kTunnel)
        .sends("04 24 00 AA AA AA 96 69 00 03 30 10 23").capacity(kTunnel);
  return row;
}
std::vector<uint8_t> permit_fields() {
  std::vector<std::string> out;
  for (const std::u16string& field : IdCard::hkMoTw().fields) out.push_back(with_nul(gbk(field)));
  return fields(out);
}

const IdRow kIdRows[] = {
    get_id_info("step_by_step_no_decoder", {"kx_start photo\n" + std::string(kPhoto)})
        .sends(kRecord).capacity(kRead)
        .gives(0)
        .out(fields({gbk("张三"), gbk("男"), gbk("汉"), "19800101", gbk("测试省样例市示范路8号"),
                     "110101198001011232", gbk("样例市公安局"), "2015010120350101"})),
    get_id_info("step_by_step_no_card", {"kx_find_i_d fail\n"})
        .given([](IdCardModule::State& s) { s.card.reset(); })
        .gives(-1),
    get_id_info("step_by_step_second_read_fails", {"kx_start_i_d fail\n"})
        .sends(kRecord).capacity(kRead).answer("6A 82 00")
        .gives(-2),
    sam_read("sam_resident_card", 1024, 1024)
        .gives(0)
        .out(fields({with_nul(gbk("张三")), with_nul(gbk("男")), with_nul(gbk("汉")),
                     with_nul("19800101"), with_nul(gbk("测试省样例市示范路8号")),
                     with_nul("110101198001011232"), with_nul(gbk("样例市公安局")),
                     with_nul("20150101"), with_nul("20350101"), with_nul("")})),
    sam_read("sam_residence_permit", 1024, 512, true, true)
        .given([](IdCardModule::State& s) { s.card = IdCard::hkMoTw(); })
        .gives(0).out(permit_fields()),
    // A foreigner's card: photo only, no text parsed.
    sam_read("sam_foreigner_card", 1024, 0)
        .given([](IdCardModule::State& s) { s.card = IdCard::foreigner(); })
        .sends("04 24 00 AA AA AA 96 69 00 03 30 01 32").capacity(kTunnel)
        .gives(1),
    sam_read("sam_text_too_short", 1024, 1024)
        .given([](IdCardModule::State& s) { s.card->text.resize(200); })
        .gives(-2),
    // One byte is not a foreigner's text, capital letter or not.
    sam_read("sam_one_byte_text_not_foreign", 1024, 1024)
        .given([](IdCardModule::State& s) { s.card->text = {'Z'}; })
        .gives(-2),
    sam_read("sam_no_card", 0, 0, false)
        .given([](IdCardModule::State& s) { s.card.reset(); })
        .gives(-1),
};
WIRE_TABLE(IdCardComposite, IdCardMemoryReader, kIdRows);

// A card whose blocks 1 and 9 hold their number in every byte.
void card_in_field(R42ReaderModel::State& s) {
  auto field = std::make_shared<CardField>();
  MifareCard card = MifareCard::classic1k({0x11, 0x22, 0x33, 0x44});
  card.block(1).fill(0x01);
  card.block(9).fill(0x09);
  field->insert(card);
  s.attachments.push_back(field);
}

Row::Call read_block(uint8_t sector, int32_t block, uint8_t mode,
                     std::vector<std::string> log = {}) {
  return product<R42MemoryReader>([=](Call& c) {
    return qm_ReadM1Card_hex(kProductHandle, sector, block, "FFFFFFFFFFFF", mode, c.text());
  }, std::move(log));
}
Row::Call write_block(const char* data, std::vector<std::string> log) {
  return product<R42MemoryReader>([=](Call&) {
    return qm_WriteM1Card_hex(kProductHandle, 2, 1, "FFFFFFFFFFFF", 0, data);
  }, std::move(log));
}

Row selected(const char* name, Row::Call call) {
  return Row(name, std::move(call))
      .given(card_in_field)
      .sends("04 33 00 52").sends("04 34 00 93").sends("04 35 00 93 04 11 22 33 44")
      .sends("04 01 00 52");
}

// The key into the reader's key store at `offset`, then authentication
// with it for the sector of trailer block `trailer` (sector 2 by default).
Row keyed(const char* name, Row::Call call, const char* offset = "18", const char* trailer = "0B") {
  return selected(name, std::move(call))
      .sends(std::string("05 01 00 00 00 00 ") + offset + " 00 00 00 06 FF FF FF FF FF FF")
      .sends(std::string("05 00 00 00 00 00 ") + offset + " 00 00 00 06")
      .sends(std::string("04 04 00 60 ") + trailer + " FF FF FF FF FF FF");
}

const char* const k33 = "000102030405060708090A0B0C0D0E0F0";
const Row kMifareRows[] = {
    keyed("sector_2_block_1_is_block_9", read_block(2, 1, 0))
        .sends("04 05 00 09").gives(0).text("09090909090909090909090909090909"),
    keyed("block_address_in_8_bits", read_block(0, 257, 0), "00", "03")
        .sends("04 05 00 01").gives(0).text("01010101010101010101010101010101"),
    keyed("read_refused", read_block(2, 1, 0, {"读取错误\n"}))
        .sends("04 05 00 09").answer("6F 03").gives(-5),
    keyed("wrong_key", read_block(2, 1, 0, {"认证错误\n"})).answer("6F 02").gives(-4),
    // The key store holds sectors 0-39.
    selected("key_store_refuses_sector_40", read_block(40, 0, 0, {"密码错误\n"})).gives(-3),
    Row("no_card", read_block(1, 0, 0, {"无卡\n"})).sends("04 33 00 52").gives(-2),
    keyed("write_short_text_zero_filled", write_block("0102", {"0102"}))
        .sends("04 06 00 09 01 02 00 00 00 00 00 00 00 00 00 00 00 00 00 00").gives(0),
    keyed("write_33_characters", write_block(k33, {k33, "写入错误\n"})).gives(-5),
};
WIRE_TABLE(MifareBlockComposite, R42MemoryReader, kMifareRows);

// A null output is refused before any exchange, and nothing is written.
const std::vector<Row> kNullRows = Row::null_rows({
    {"ef06_birth_date", product<R42MemoryReader>([](Call& c) {
       char* t = c.text();
       return qm_ReadMFEF06(kProductHandle, t, t, t, t, t, t, nullptr);
     })},
    {"health_identification", product<R42MemoryReader>([](Call& c) {
       return qm_ReadQMEF05(kProductHandle, c.text(), c.text(), nullptr);
     })},
    {"id_info_expire", product<R42MemoryReader>([](Call& c) {
       char* t = c.text();
       return qm_GetIDInfo(kProductHandle, t, t, t, t, t, t, t, nullptr, "photo.bmp");
     })},
    {"mifare_data", product<R42MemoryReader>([](Call&) {
       return qm_ReadM1Card_hex(kProductHandle, 1, 0, "FFFFFFFFFFFF", 0, nullptr);
     })},
});
WIRE_TABLE(CardReaderNullOutputs, R42MemoryReader, kNullRows);

}  // namespace
