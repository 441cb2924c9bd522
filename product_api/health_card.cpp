// The resident health card's file EF05, read through the contactless
// interface in one call. Its outputs are raw bytes without a terminator.
#include <cstring>
#include <initializer_list>

#include "kx_core.h"
#include "product_api/apdu_step.h"
#include "product_api/product_trace.h"
#include "qm_reader.h"

namespace {

// DDF "WS.SYS.DDF01", then EF05.
const ApduStepSpec kSelectDirectory = {
    "00A404000C57532E5359532E4444463031",
    "\xC4\xBF\xC2\xBC\xBD\xE1\xB9\xB9\xB2\xBB\xB6\xD4\xB7\xC7\xBD\xA1\xBF\xB5\xBF\xA8\n"};  // 目录结构不对非健康卡
const ApduStepSpec kSelectEf05 = {
    "00A4020002EF05",
    "\xCE\xC4\xBC\xFE\xB2\xBB\xB4\xE6\xD4\xDA\xB7\xC7\xBD\xA1\xBF\xB5\xBF\xA8\n"};  // 文件不存在非健康卡
const ApduStepSpec kVersionRecord = {
    "00B2020406", "\xB0\xE6\xB1\xBE\xB6\xC1\xC8\xA1\xB4\xED\xCE\xF3\n"};  // 版本读取错误
const ApduStepSpec kOrganisationRecord = {
    "00B2030420", "\xBB\xFA\xB9\xB9\xB6\xC1\xC8\xA1\xB4\xED\xCE\xF3\n"};  // 机构读取错误
const ApduStepSpec kIdentificationRecord = {
    "00B2070414",
    "\xCA\xB6\xB1\xF0\xD0\xC5\xCF\xA2\xB6\xC1\xC8\xA1\xB4\xED\xCE\xF3\n"};  // 识别信息读取错误

// The version is read only from a record of exactly this many value bytes.
constexpr size_t kVersionSize = 4;

// The value of a tag-length-value record, whatever its length byte says,
// when there is one.
void copy_value(const ApduStep& step, char* out) {
  ByteCursor cursor = step.cursor();
  if (cursor.skip(2) && cursor.remaining() > 0) std::memcpy(out, cursor.here(), cursor.remaining());
}

}  // namespace

QM_API int32_t qm_ReadQMEF05(int32_t icdev, char* version, char* organisation,
                             char* identification) {
  if (version == nullptr || organisation == nullptr || identification == nullptr) return -1;
  uint8_t length = 0;
  char answer[2 * UINT8_MAX + 1];
  if (const int16_t reset = kx_pro_resethex(icdev, &length, answer); reset != 0) {
    FacadeTrace(kResetFailed);
    return reset;
  }
  const auto step = [icdev](const ApduStepSpec& spec) {
    return apdu_step(icdev, CardChannel::kContactless, spec);
  };
  for (const ApduStepSpec* select : {&kSelectDirectory, &kSelectEf05}) {
    if (const ApduStep selected = step(*select); selected.result != 0) return selected.result;
  }
  const ApduStep version_record = step(kVersionRecord);
  if (version_record.result != 0) return version_record.result;
  if (version_record.length == 2 + kVersionSize) copy_value(version_record, version);
  const ApduStep organisation_record = step(kOrganisationRecord);
  if (organisation_record.result != 0) return organisation_record.result;
  copy_value(organisation_record, organisation);
  const ApduStep identification_record = step(kIdentificationRecord);
  if (identification_record.result != 0) return identification_record.result;
  copy_value(identification_record, identification);
  return 0;
}
