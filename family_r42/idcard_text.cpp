#include "family_r42/idcard_text.h"

#include <cstring>
#include <string>

#include "family_r42/idcard_codes.h"
#include "family_r42/r42_device.h"
#include "platform/os.h"
#include "platform/text_helpers.h"

const IdCardField kResidentCardLayout[10] = {
    {0, 15}, {15, 1}, {16, 2}, {18, 8}, {26, 35}, {61, 18}, {79, 15}, {94, 8}, {102, 8}, {110, 18},
};

const IdCardField kForeignerCardLayout[12] = {
    {0, 60},  {60, 1},  {61, 15}, {76, 3},  {79, 15}, {94, 8},
    {102, 8}, {110, 8}, {118, 2}, {120, 4}, {124, 1}, {125, 3},
};

const IdCardField kHkMoTwCardLayout[14] = {
    {0, 15}, {15, 1},  {16, 2},  {18, 8},  {26, 35}, {61, 18}, {79, 15},
    {94, 8}, {102, 8}, {110, 9}, {119, 2}, {121, 3}, {124, 1}, {125, 3},
};

namespace {

enum Charset : int32_t { kGbk = 0, kUcs2 = 1 };

// Field indexes of the resident layout.
enum ResidentField { kName, kSex, kNation, kBirth, kAddress, kNumber, kDepartment, kStart, kEnd };

// Text and NUL.
void put_narrow(char* out, const std::string& text) {
  std::memcpy(out, text.c_str(), text.size() + 1);
}

// Characters low byte first, then a 16-bit zero: byte by byte, since the
// caller's buffer need not be aligned.
void put_wide(char* out, const std::u16string& text) {
  size_t at = 0;
  for (char16_t c : text) {
    out[at++] = char(c & 0xFF);
    out[at++] = char(c >> 8);
  }
  out[at++] = 0;
  out[at] = 0;
}

// The field's characters, all of them (spaces and U+0000 included), from a
// text of at least kIdCardTextSize bytes.
std::u16string id_field_chars(const uint8_t* text, IdCardField field) {
  std::u16string chars(field.chars, u'\0');
  const uint8_t* at = text + 2 * size_t(field.offset);
  for (size_t i = 0; i < chars.size(); ++i) chars[i] = char16_t(at[2 * i] | at[2 * i + 1] << 8);
  return chars;
}

// The field as GBK text: converted up to its first U+0000, leading and
// trailing spaces removed. n characters give at most 2n bytes.
std::string id_field_narrow(const uint8_t* text, IdCardField field) {
  std::string narrow = os_to_narrow(id_field_chars(text, field));
  trim(narrow);
  return narrow;
}

}  // namespace

void decode_resident_text(const uint8_t* text, IdCardText& out) {
  const auto field = [&](ResidentField f) { return id_field_narrow(text, kResidentCardLayout[f]); };
  copy_fixed_text(out.name, field(kName).c_str());
  copy_fixed_text(out.sex, id_sex_word(field(kSex).c_str()));
  const char* nation = id_nation_name(field(kNation).c_str());
  copy_fixed_text(out.nation, nation ? nation : kIdNoName);
  copy_fixed_text(out.birth_date, field(kBirth).c_str());
  copy_fixed_text(out.address, field(kAddress).c_str());
  copy_fixed_text(out.card_number, field(kNumber).c_str());
  copy_fixed_text(out.department, field(kDepartment).c_str());
  copy_fixed_text(out.start_date, field(kStart).c_str());
  copy_fixed_text(out.end_date, field(kEnd).c_str());
}

int16_t parse_card_text(int32_t charset, int32_t info_len, const uint8_t* info,
                        const IdCardField* layout, char* const* outputs, size_t count) {
  if ((charset != kGbk && charset != kUcs2) || info_len < int32_t(kIdCardTextSize) ||
      info == nullptr) {
    return -1;
  }
  for (size_t i = 0; i < count; ++i) {
    if (outputs[i] == nullptr) return -1;
  }
  for (size_t i = 0; i < count; ++i) {
    if (charset == kGbk) {
      put_narrow(outputs[i], id_field_narrow(info, layout[i]));
    } else {
      std::u16string chars = id_field_chars(info, layout[i]);
      trim_wide(chars);
      put_wide(outputs[i], chars);
    }
  }
  return 0;
}

int16_t R42Device::ParseTextInfo(int32_t, int32_t charset, int32_t info_len,
                                 const unsigned char* info, char* name, char* sex, char* nation,
                                 char* birth_day, char* address, char* id_number, char* department,
                                 char* expire_start_day, char* expire_end_day, char* reserved) {
  char* const outputs[] = {name,      sex,        nation,           birth_day,      address,
                           id_number, department, expire_start_day, expire_end_day, reserved};
  return parse_card_text(charset, info_len, info, kResidentCardLayout, outputs);
}

int16_t R42Device::ParseTextInfoForForeigner(int32_t, int32_t charset, int32_t info_len,
                                             const unsigned char* info, char* english_name,
                                             char* sex, char* id_number, char* citizenship,
                                             char* chinese_name, char* expire_start_day,
                                             char* expire_end_day, char* birth_day,
                                             char* version_number, char* department_code,
                                             char* type_sign, char* reserved) {
  char* const outputs[] = {
      english_name,   sex,       id_number,      citizenship,     chinese_name, expire_start_day,
      expire_end_day, birth_day, version_number, department_code, type_sign,    reserved};
  return parse_card_text(charset, info_len, info, kForeignerCardLayout, outputs);
}

int16_t R42Device::ParseTextInfoForHkMoTw(int32_t, int32_t charset, int32_t info_len,
                                          const unsigned char* info, char* name, char* sex,
                                          char* reserved1, char* birth_day, char* address,
                                          char* id_number, char* department, char* expire_start_day,
                                          char* expire_end_day, char* pass_number, char* sign_count,
                                          char* reserved2, char* type_sign, char* reserved3) {
  char* const outputs[] = {name,       sex,        reserved1,        birth_day,      address,
                           id_number,  department, expire_start_day, expire_end_day, pass_number,
                           sign_count, reserved2,  type_sign,        reserved3};
  return parse_card_text(charset, info_len, info, kHkMoTwCardLayout, outputs);
}

int16_t R42Device::ParseOtherInfo(int32_t, int32_t flag, const char* in_info, char* out_info) {
  if (in_info == nullptr || out_info == nullptr) return -1;
  const char* word = nullptr;
  switch (flag) {
    case 0:
      word = id_sex_word(in_info);
      break;
    case 1:
      word = id_nation_name(in_info);
      break;
    case 2:
      word = id_country_name(in_info);
      break;
    default:
      return -1;
  }
  if (word == nullptr) word = kIdNoName;
  std::memcpy(out_info, word, std::strlen(word) + 1);
  return 0;
}
