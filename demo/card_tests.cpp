#include "demo/card_tests.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "demo/ss_card_driver/ss_card_driver.h"
#include "demo/text_codec.h"
#include "qm_reader.h"

namespace {

constexpr size_t kKeyCharacters = 12;
constexpr uint8_t kKeyA = 0;
constexpr uint8_t kSector = 1;
constexpr char kBlock5Data[] = "11223344556677889900aabbccddeeff";
constexpr char kTrailerKey[] = "A3C5E7092B4D";
constexpr uint16_t kBeepMs = 10;
constexpr uint8_t kSamSeat = 13;
constexpr char kSelectMasterFile[] = "00A40000023F00";
constexpr char kEf05Error[] = "读取社保卡05错误\r\n";
constexpr char kInsertSam[] = "请插入标准的PSAM卡再试~！";

struct ContactCard {
  int code;
  const char* line;
};
constexpr ContactCard kContactCards[] = {
    {8, "接触卡槽有一张4442卡\r\n"},     {9, "接触卡槽有一张4428卡\r\n"},
    {21, "接触卡槽有一张24C01卡\r\n"},   {22, "接触卡槽有一张24C02卡\r\n"},
    {23, "接触卡槽有一张24C04卡\r\n"},   {24, "接触卡槽有一张24C08卡\r\n"},
    {25, "接触卡槽有一张24C16卡\r\n"},   {26, "接触卡槽有一张24C64卡\r\n"},
    {30, "接触卡槽有一张T=0 CPU卡\r\n"}, {31, "接触卡槽有一张T=1 CPU卡\r\n"},
};

}  // namespace

CardTypeLines card_type_lines(uint8_t f0, uint8_t f1, const std::function<int()>& check_card) {
  CardTypeLines out;
  if ((f1 & 0x08) || (f0 & 0x40)) out.text += "身份证就位\r\n";
  if (f1 & (0x10 | 0x20)) out.text += "Type A CPU卡或Type B CPU卡就位\r\n";
  if ((f1 & 0x40) || (f0 & 0x02)) out.text += "M1卡就位\r\n";
  if (f1 & (0x04 | 0x02)) {
    const int code = check_card();
    if (code < 0) {
      out.text += "接触卡槽卡类型未能识别\r\n";
      out.failed = true;
      return out;
    }
    for (const ContactCard& card : kContactCards) {
      if (card.code == code) out.text += card.line;
    }
  }
  if (f1 == 0 && f0 == 0x10) out.text += "未识别到相关卡\r\n";
  return out;
}

uint32_t parse_timeout_field(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return 0;
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + uint64_t(c - '0');
    if (value > UINT32_MAX) return 0;
  }
  return uint32_t(value);
}

// The common frame: a reader is opened first; a failure message closes it.
bool CardTests::open() {
  handle_ = qm_init(settings_.port, settings_.baud);
  if (handle_ >= 0) return true;
  sink_.append("init error\r\n");
  sink_.scroll();
  return false;
}

void CardTests::fail(std::string_view message) {
  sink_.append(message);
  qm_exit(handle_);
  sink_.scroll();
}

void CardTests::succeed() {
  qm_beep(handle_, kBeepMs);
  qm_exit(handle_);
  sink_.scroll();
}

void CardTests::sectorCard(std::string_view key_field) {
  if (!open()) return;
  char serial[64] = {};
  if (qm_card_double_hex(handle_, 1, serial) != 0) {
    fail("Please put the card on the right position.\r\n");
    return;
  }
  sink_.append("Card sn is " + gbk_to_utf8(serial) + "\r\n");
  char key[kKeyCharacters + 1] = {};
  key_field.copy(key, kKeyCharacters);
  if (qm_load_key_hex(handle_, kKeyA, kSector, key) != 0) {
    fail("load key err\r\n");
    return;
  }
  if (qm_authentication(handle_, kKeyA, kSector) != 0) {
    fail("kx authentication error\r\n");
    return;
  }
  char block4[64] = {};
  if (qm_read_hex(handle_, 4, block4) != 0) {
    fail("read info error\r\n");
    return;
  }
  sink_.append("Read the block4 : " + gbk_to_utf8(block4) + "\r\n");
  if (qm_write_hex(handle_, 5, kBlock5Data) != 0) {
    fail("write data error\r\n");
    return;
  }
  sink_.append(std::string("Write '") + kBlock5Data + "' into blk5\r\n");
  char block5[64] = {};
  if (qm_read_hex(handle_, 5, block5) != 0) {
    fail("read info error\r\n");
    return;
  }
  sink_.append("Read the blk5 is : " + gbk_to_utf8(block5) + "\r\n");
  if (qm_changeb3_hex(handle_, kSector, kTrailerKey, 0, 0, 0, 1, 0, kTrailerKey) != 0) {
    fail("change key error\r\n");
    return;
  }
  sink_.append("Change key ok\r\n");
  succeed();
}

void CardTests::identityCard() {
  if (!open()) return;
  sink_.append("-------- 读取身份证信息 --------\r\n");
  char name[256] = {}, sex[256] = {}, nation[256] = {}, birth[256] = {}, address[256] = {},
       number[256] = {}, authority[256] = {}, expiry[256] = {};
  // Only a photo this read leaves is shown.
  std::remove(settings_.photo_path.c_str());
  if (qm_GetIDInfo(handle_, name, sex, nation, birth, address, number, authority, expiry,
                   settings_.photo_path.c_str()) != 0) {
    sink_.append("请放置好您的身份证！\r\n");
  } else {
    sink_.append("姓名: " + gbk_to_utf8(name) + "\r\n性别: " + gbk_to_utf8(sex) +
                 "\r\n民族: " + gbk_to_utf8(nation) + "\r\n出生日期: " + gbk_to_utf8(birth) +
                 "\r\n住址: " + gbk_to_utf8(address) + "\r\n公民身份号码: " + gbk_to_utf8(number) +
                 "\r\n签发机关: " + gbk_to_utf8(authority) +
                 "\r\n证件签发止日期: " + gbk_to_utf8(expiry) + "\r\n");
    if (!sink_.photo(settings_.photo_path)) sink_.placeholder();
  }
  succeed();
}

void CardTests::bankCard() {
  if (!open()) return;
  char contactless[64] = {}, contact[64] = {};
  const int16_t first = qm_GetBankAccountNumber(handle_, 0, contactless);
  const int16_t second = qm_GetBankAccountNumber(handle_, 1, contact);
  if (first != 0 && second != 0) sink_.append("银行卡号获取失败\r\n");
  if (first == 0) sink_.append(gbk_to_utf8(contactless) + "为非接银行卡卡号\r\n");
  if (second == 0) sink_.append(gbk_to_utf8(contact) + "为接触银行卡卡号\r\n");
  succeed();
}

void CardTests::socialSecurityEf05() {
  if (!open()) return;
  char identification[512] = {}, type[512] = {}, cardVersion[512] = {}, organisation[512] = {},
       issued[512] = {}, expires[512] = {}, number_text[512] = {};
  if (qm_ReadMFEF05(handle_, identification, type, cardVersion, organisation, issued, expires,
                    number_text) != 0) {
    fail(kEf05Error);
    return;
  }
  // The number text: two characters, the length L as two hex characters,
  // then 2 x L hex characters.
  const size_t length = strnlen(number_text, sizeof number_text);
  uint8_t count = 0;
  if (length >= 4) qm_a_hex(number_text + 2, &count, 2);
  if (length < 4 || count == 0 || length < 4 + 2 * size_t(count)) {
    fail(kEf05Error);
    return;
  }
  char number[256] = {};
  qm_a_hex(number_text + 4, reinterpret_cast<uint8_t*>(number), int16_t(2 * count));
  number[count] = '\0';
  sink_.append("卡识别码:" + gbk_to_utf8(identification) + "\r\n卡类型:" + gbk_to_utf8(type) +
               "\r\n卡规范版本:" + gbk_to_utf8(cardVersion) + "\r\n初始化机构编号：" +
               gbk_to_utf8(organisation) + "\r\n发卡日期:" + gbk_to_utf8(issued) +
               " \r\n有效日期：" + gbk_to_utf8(expires) + "\r\n卡号: " + gbk_to_utf8(number) +
               "\r\n");
  succeed();
}

void CardTests::socialSecurityEf06() {
  if (!open()) return;
  char number[512] = {}, name[512] = {}, name_extension[512] = {}, sex[512] = {},
       nation[512] = {}, birthplace[512] = {}, birth_date[512] = {};
  if (qm_ReadMFEF06(handle_, number, name, name_extension, sex, nation, birthplace,
                    birth_date) != 0) {
    fail("读取社保卡06错误\r\n");
    return;
  }
  sink_.append("身份证号：" + gbk_to_utf8(number) + "\r\n姓名：" + gbk_to_utf8(name) +
               "\r\n性别：" + gbk_to_utf8(sex) + "\r\n民族：" + gbk_to_utf8(nation) +
               " \r\n出生日期：" + gbk_to_utf8(birth_date) + "\r\n");
  succeed();
}

void CardTests::healthCardEf05() {
  if (!open()) return;
  char version[512] = {}, organisation[512] = {}, identification[512] = {};
  if (qm_ReadQMEF05(handle_, version, organisation, identification) != 0) {
    fail("读取健康卡05错误\r\n");
    return;
  }
  sink_.append("版本：" + gbk_to_utf8(version) + "\r\n机构：" + gbk_to_utf8(organisation) +
               "\r\nID：" + gbk_to_utf8(identification) + "\r\n");
  succeed();
}

void CardTests::healthCardEf06() {
  sink_.append(kInsertSam);
  sink_.scroll();
}

void CardTests::clearPane() { sink_.clear(); }

void CardTests::sle4442Card() {
  if (!open()) return;
  char data[1024] = {};
  if (qm_read_4442_hex(handle_, 0, 256, data) != 0) {
    fail("4442卡读取错误，请确认卡类型\r\n");
    return;
  }
  sink_.append("4442数据：\r\n" + gbk_to_utf8(data) + "\r\n");
  succeed();
}

void CardTests::eepromCard() {
  if (!open()) return;
  char data[1024] = {};
  if (qm_read_24c_hex(handle_, 0, 256, data) != 0) {
    fail("24Cxx系列卡读取错误，请确认卡类型\r\n");
    return;
  }
  sink_.append("24Cxx数据：\r\n" + gbk_to_utf8(data) + "\r\n");
  succeed();
}

void CardTests::cardType() {
  if (!open()) return;
  qm_reset(handle_, 0);
  uint16_t flags = 0;
  if (qm_card_exist(handle_, &flags) != 0) {
    fail("无卡或卡类型错误\r\n");
    return;
  }
  uint8_t f[2];  // F0, F1: the flag's bytes in memory order
  std::memcpy(f, &flags, sizeof f);
  const CardTypeLines lines = card_type_lines(f[0], f[1], [this] { return qm_CheckCard(handle_); });
  if (lines.failed) {
    fail(lines.text);
    return;
  }
  sink_.append(lines.text);
  succeed();
}

void CardTests::fm11rf005Card() {
  if (!open()) return;
  uint32_t serial = 0;
  const int16_t found = qm_card_fm11rf005(handle_, 1, &serial);
  if (found < 0 || found == 1) {
    sink_.append("请放正确类型的卡片\r\n");
  } else if (found == 0) {
    char line[64];
    std::snprintf(line, sizeof line, "该卡卡号是%09" PRIu32 "\r\n", serial);
    sink_.append(line);
    uint32_t block2 = 0, block3 = 0;
    qm_read_fm11rf005(handle_, 2, reinterpret_cast<unsigned char*>(&block2));
    qm_read_fm11rf005(handle_, 3, reinterpret_cast<unsigned char*>(&block3));
    char patient[10] = {};
    std::memcpy(patient, &block2, sizeof block2);
    std::memcpy(patient + 4, &block3, sizeof block3);
    sink_.append("该卡PatientID是 " + gbk_to_utf8(patient) + "\r\n");
  }
  succeed();
}

void CardTests::samCard() {
  if (!open()) return;
  uint8_t length = 0;
  char answer[1024] = {};
  if (qm_setcpu(handle_, kSamSeat) != 0 || qm_cpureset_hex(handle_, &length, answer) != 0) {
    sink_.append(std::string(kInsertSam) + "\r\n");
    succeed();
    return;
  }
  sink_.append(gbk_to_utf8(answer) + "\r\n指令：\r\n");
  char reply[1024] = {};
  qm_cpuapdu_hex(handle_, 7, kSelectMasterFile, &length, reply);
  sink_.append(gbk_to_utf8(reply));
  succeed();
}

void CardTests::socialSecurityDriver() {
  char text[1000] = {};
  iReadCardBas(1, text);
  text[sizeof text - 1] = '\0';  // whatever the driver left
  sink_.append(gbk_to_utf8(text));
}

void CardTests::magneticStripe(std::string_view timeout_field) {
  if (!open()) return;
  const uint8_t seconds = uint8_t(parse_timeout_field(timeout_field));
  char track1[256] = {}, track2[256] = {}, track3[256] = {};
  int32_t length1 = 0, length2 = 0, length3 = 0;
  if (qm_readmagcardall(handle_, seconds, track1, &length1, track2, &length2, track3,
                        &length3) == 0) {
    sink_.append(gbk_to_utf8(track1) + gbk_to_utf8(track2) + gbk_to_utf8(track3));
    qm_beep(handle_, kBeepMs);
  }
  qm_exit(handle_);
}
