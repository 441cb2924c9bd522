// The social-security card's files EF05 (card data) and EF06 (holder data),
// read through the contact seat in one call each.
#include <cstring>

#include "kx_core.h"
#include "platform/text_helpers.h"
#include "product_api/apdu_step.h"
#include "product_api/nation_names.h"
#include "product_api/product_trace.h"
#include "qm_reader.h"

namespace {

constexpr uint8_t kUserSeat = 0x0C;
constexpr uint8_t kVoltageFirst = 0, kVoltageSecond = 1;
constexpr int32_t kNoFile = -12;
constexpr int32_t kBadLength = -5;

// DF "sx1.sh.社会保障"; its failure is only written down.
const ApduStepSpec kSelectApplication = {
    "00A404000F7378312E73682EC9E7BBE1B1A3D5CF",
    "\xC9\xE7\xB1\xA3\xBB\xB7\xBE\xB3\xD3\xA6\xD3\xC3\xCA\xA7\xB0\xDC\n"};  // 社保环境应用失败

const ApduStepSpec kSelectEf05 = {
    "00A4020002EF05", "05\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC\n"};  // 05文件打开失败
const ApduStepSpec kEf05Records[] = {
    {"00B2010012", "\xBF\xA8\xCA\xB6\xB1\xF0\xC2\xEB\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n"},  // 卡识别码读取失败
    {"00B2020003", "\xBF\xA8\xC0\xE0\xB1\xF0\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n"},  // 卡类别读取失败
    {"00B2030006", "\xBF\xA8\xB9\xE6\xB7\xB6\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n"},  // 卡规范读取失败
    {"00B204000E", "\xBB\xFA\xB9\xB9\xB1\xE0\xC2\xEB\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n"},  // 机构编码读取失败
    {"00B2050006", "\xB7\xA2\xBF\xA8\xC8\xD5\xC6\xDA\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n"},  // 发卡日期读取失败
    {"00B2060006", "\xD3\xD0\xD0\xA7\xC8\xD5\xC6\xDA\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n"},  // 有效日期读取失败
    {"00B207000E", "\xBF\xA8\xBA\xC5\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n"},  // 卡号读取失败
};

const ApduStepSpec kSelectEf06 = {
    "00A4020002EF06", "06\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC\n"};  // 06文件打开失败
// Records 08 and 09: tag, length, value.
const ApduStepSpec kNumberRecord = {
    "00B2080014",
    "\xC9\xE7\xBB\xE1\xB1\xA3\xD5\xCF\xBA\xC5\xC2\xEB\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n",  // 社会保障号码读取失败
    2};
constexpr char kNumberLength[] =
    "\xC9\xE7\xBB\xE1\xB1\xA3\xD5\xCF\xBA\xC5\xC2\xEB\xB3\xA4\xB6\xC8\xB4\xED\xCE\xF3\n";  // 社会保障号码长度错误
const ApduStepSpec kNameRecord = {
    "00B2090020", "\xD0\xD5\xC3\xFB\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n", 2};  // 姓名读取失败
const ApduStepSpec kNameExtensionRecord = {
    "00B24E0016", " \xD0\xD5\xC3\xFB\xC0\xA9\xD5\xB9\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n"};  // " 姓名扩展读取失败"
// Records 0A and 0B: the code is the value's first byte.
const ApduStepSpec kSexRecord = {
    "00B20A0003", "\xD0\xD4\xB1\xF0\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n", 3};  // 性别读取失败
const ApduStepSpec kNationRecord = {
    "00B20B0003", "\xC3\xF1\xD7\xE5\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n", 3};  // 民族读取失败
const ApduStepSpec kBirthplaceRecord = {
    "00B20C0005", "\xB3\xF6\xC9\xFA\xB5\xD8\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n"};  // 出生地读取失败
const ApduStepSpec kBirthDateRecord = {
    "00B20D0006", "\xB3\xF6\xC9\xFA\xC8\xD5\xC6\xDA\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\n", 2};  // 出生日期读取失败

constexpr char kMale[] = "\xC4\xD0";    // 男
constexpr char kFemale[] = "\xC5\xAE";  // 女

// Powers the card up, at voltage code 0 and then 1, and selects the
// social-security application: 0, or the reset's code.
int32_t start_application(int32_t icdev) {
  uint8_t length = 0;
  char answer[2 * UINT8_MAX + 1];
  kx_SetCpuVoltage(icdev, kVoltageFirst);
  int16_t result = kx_cpureset_hex(icdev, &length, answer);
  if (result != 0) {
    kx_SetCpuVoltage(icdev, kVoltageSecond);
    result = kx_cpureset_hex(icdev, &length, answer);
  }
  if (result != 0) {
    FacadeTrace(kResetFailed);
    return result;
  }
  apdu_step(icdev, CardChannel::kContact, kSelectApplication);
  return 0;
}

template <size_t N>
bool all_present(char* const (&outputs)[N]) {
  for (const char* output : outputs)
    if (output == nullptr) return false;
  return true;
}

// The reply without its status word as hexadecimal text.
void reply_text(const ApduStep& step, char* out) { hex_twin_output(step.data, step.length, out); }

// A cursor at the value of a tag-length-value record.
ByteCursor value_of(const ApduStep& step) {
  ByteCursor cursor = step.cursor();
  cursor.skip(2);
  return cursor;
}

// The value of a tag-length-value record into `out` with a NUL; false,
// with nothing written, for a length byte under `least`, negative (as a
// signed byte) or running past the reply.
bool value_bytes(const ApduStep& step, uint8_t least, char* out) {
  ByteCursor cursor = step.cursor();
  uint8_t length = 0;
  if (!cursor.skip(1) || !cursor.u8(length) || length < least || int8_t(length) < 0 ||
      length > cursor.remaining())
    return false;
  cursor.take(reinterpret_cast<uint8_t*>(out), length);
  out[length] = '\0';
  return true;
}

// The first byte of a record's value (the step made sure there is one).
uint8_t value_code(const ApduStep& step) {
  uint8_t code = 0;
  value_of(step).u8(code);
  return code;
}

}  // namespace

QM_API int32_t qm_ReadMFEF05(int32_t icdev, char* identification, char* type, char* version,
                             char* organisation, char* issued, char* expires, char* number) {
  char* const outputs[] = {identification, type, version, organisation, issued, expires, number};
  if (!all_present(outputs)) return -1;
  if (kx_setcpu(icdev, kUserSeat) != 0) return -1;
  if (const int32_t started = start_application(icdev); started != 0) return started;
  if (apdu_step(icdev, CardChannel::kContact, kSelectEf05).result != 0) return kNoFile;
  // Every record is read; the last one's result is the call's.
  int32_t result = 0;
  for (size_t i = 0; i < std::size(kEf05Records); ++i) {
    const ApduStep step = apdu_step(icdev, CardChannel::kContact, kEf05Records[i]);
    result = step.result;
    if (result == 0) reply_text(step, outputs[i]);
  }
  return result;
}

QM_API int32_t qm_ReadMFEF06(int32_t icdev, char* number, char* name, char* name_extension,
                             char* sex, char* nation, char* birthplace, char* birth_date) {
  char* const outputs[] = {number, name, name_extension, sex, nation, birthplace, birth_date};
  if (!all_present(outputs)) return -1;
  if (const int16_t seat = kx_setcpu(icdev, kUserSeat); seat != 0) return seat;
  if (const int32_t started = start_application(icdev); started != 0) return started;
  // The first failing step ends the read.
  const auto step = [icdev](const ApduStepSpec& spec) {
    return apdu_step(icdev, CardChannel::kContact, spec);
  };
  if (const ApduStep file = step(kSelectEf06); file.result != 0) return file.result;

  const ApduStep number_record = step(kNumberRecord);
  if (number_record.result != 0) return number_record.result;
  if (!value_bytes(number_record, 1, number)) {
    FacadeTrace(kNumberLength);
    return kBadLength;
  }
  const ApduStep name_record = step(kNameRecord);
  if (name_record.result != 0) return name_record.result;
  if (!value_bytes(name_record, 0, name)) {
    FacadeTrace(kNameRecord.failure);
    return kBadLength;
  }
  const ApduStep extension = step(kNameExtensionRecord);
  if (extension.result != 0) return extension.result;
  reply_text(extension, name_extension);

  // Sex and nation without a NUL; a sex code other than '1' and '2' leaves
  // the output as it was.
  const ApduStep sex_record = step(kSexRecord);
  if (sex_record.result != 0) return sex_record.result;
  const uint8_t sex_code = value_code(sex_record);
  if (sex_code == '1') std::memcpy(sex, kMale, 2);
  if (sex_code == '2') std::memcpy(sex, kFemale, 2);
  const ApduStep nation_record = step(kNationRecord);
  if (nation_record.result != 0) return nation_record.result;
  const char* nation_text = nation_name(int8_t(value_code(nation_record)));
  std::memcpy(nation, nation_text, std::strlen(nation_text));

  const ApduStep place = step(kBirthplaceRecord);
  if (place.result != 0) return place.result;
  reply_text(place, birthplace);
  // The birth date is the value alone.
  const ApduStep date = step(kBirthDateRecord);
  if (date.result != 0) return date.result;
  const ByteCursor value = value_of(date);
  hex_twin_output(value.here(), value.remaining(), birth_date);
  return 0;
}
