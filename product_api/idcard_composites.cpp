// The identity card in one call: through the reader's identity-card module
// step by step (qm_GetIDInfo), or through its SAM and the record parsers
// (resident card, and Hong Kong, Macao and Taiwan residence permit).
#include <unistd.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "kx_core.h"
#include "platform/text_helpers.h"
#include "product_api/product_trace.h"
#include "qm_reader.h"

namespace {

constexpr char kFindFailed[] = "kx_find_i_d fail\n";
constexpr char kStartFailed[] = "kx_start_i_d fail\n";
constexpr char kStartPhoto[] = "kx_start photo\n";
// The photo message and its path share one trace text of this many bytes.
constexpr size_t kPhotoTraceSize = 256;

// The SAM's records: the text record and the extra record, zeroed so that
// the foreign-card test never reads what the SAM did not write.
constexpr size_t kTextRecordSize = 256;
constexpr size_t kExtraRecordSize = 76;
constexpr int32_t kReadTextAndPhoto = 1;
constexpr int32_t kGbk = 0;
constexpr int32_t kSexCode = 0, kNationCode = 1;
constexpr size_t kCodeSize = 64;
constexpr int16_t kForeignCard = 1;

// One step-by-step field: its query and the most bytes it gives (the
// reader's field less its NUL; no NUL is written).
struct Field {
  char* (*query)(int32_t);
  size_t cap;
};
constexpr Field kFields[] = {
    {kx_i_d_query_name, 63},       {kx_i_d_query_sex, 31},
    {kx_i_d_query_nation, 31},     {kx_i_d_query_birth, 31},
    {kx_i_d_query_address, 127},   {kx_i_d_query_id_number, 63},
    {kx_i_d_query_department, 63}, {kx_i_d_query_expire_day, 63},
};

struct SamRecord {
  int32_t text_length = 0;
  unsigned char text[kTextRecordSize] = {};
  int32_t extra_length = 0;
  unsigned char extra[kExtraRecordSize] = {};
};

// The SAM read of text, photo and fingerprint: 0, -1 (a null output, or
// the read failed) or 1 (a foreigner's card, whose text record starts with
// a capital letter in UCS-2).
int16_t read_sam(int32_t icdev, std::initializer_list<const void*> outputs, SamRecord& record,
                 int32_t* photo_len, unsigned char* photo, int32_t* fingerprint_len,
                 unsigned char* fingerprint) {
  for (const void* output : outputs)
    if (output == nullptr) return -1;
  if (kx_SamAReadCardInfo(icdev, kReadTextAndPhoto, &record.text_length, record.text, photo_len,
                          photo, fingerprint_len, fingerprint, &record.extra_length,
                          record.extra) != 0)
    return -1;
  const bool foreign = record.text_length >= 2 && record.text_length <= int32_t(kTextRecordSize) &&
                       record.text[0] >= 'A' && record.text[0] <= 'Z' && record.text[1] == 0;
  return foreign ? kForeignCard : 0;
}

}  // namespace

QM_API int16_t qm_GetIDInfo(int32_t icdev, char* name, char* sex, char* nation, char* birth,
                            char* address, char* id_number, char* department, char* expire,
                            const char* photo_file) {
  char* const outputs[] = {name, sex, nation, birth, address, id_number, department, expire};
  for (char* output : outputs)
    if (output == nullptr) return -1;
  if (const int16_t found = kx_find_i_d(icdev); found != 0) {
    FacadeTrace(kFindFailed);
    return found;
  }
  if (kx_start_i_d(icdev) < 0) {
    FacadeTrace(kStartFailed);
    return -2;
  }
  // Each text without its NUL; a query without a text leaves its output.
  for (size_t i = 0; i < std::size(kFields); ++i) {
    if (const char* text = kFields[i].query(icdev))
      std::memcpy(outputs[i], text, strnlen(text, kFields[i].cap));
  }
  char message[kPhotoTraceSize];
  copy_fixed_text(message, (std::string(kStartPhoto) + (photo_file ? photo_file : "")).c_str());
  FacadeTrace(message);
  // No photo of this card: no file of an earlier one stays beside its texts.
  if (kx_i_d_query_photo_file(icdev, photo_file) != 0 && photo_file != nullptr && *photo_file)
    unlink(photo_file);
  kx_end_i_d(icdev);
  return 0;
}

QM_API int16_t qm_ReadIDInfor(int32_t icdev, char* name, char* sex, char* nation,
                              char* birth_day, char* address, char* id_number, char* department,
                              char* expire_start_day, char* expire_end_day, int32_t* photo_len,
                              unsigned char* photo, int32_t* fingerprint_len,
                              unsigned char* fingerprint, char* reserved) {
  SamRecord record;
  if (const int16_t read = read_sam(icdev,
                                    {name, sex, nation, birth_day, address, id_number, department,
                                     expire_start_day, expire_end_day, photo_len, photo,
                                     fingerprint_len, fingerprint, reserved},
                                    record, photo_len, photo, fingerprint_len, fingerprint);
      read != 0)
    return read;
  char sex_code[kCodeSize] = "", nation_code[kCodeSize] = "";
  if (kx_ParseTextInfo(icdev, kGbk, record.text_length, record.text, name, sex_code, nation_code,
                       birth_day, address, id_number, department, expire_start_day,
                       expire_end_day, reserved) != 0)
    return -2;
  kx_ParseOtherInfo(icdev, kSexCode, sex_code, sex);
  kx_ParseOtherInfo(icdev, kNationCode, nation_code, nation);
  return 0;
}

QM_API int16_t qm_ReadIDInforHKMOTW(int32_t icdev, char* name, char* sex, char* reserved1,
                                    char* birth_day, char* address, char* id_number,
                                    char* department, char* expire_start_day,
                                    char* expire_end_day, char* pass_number, char* sign_count,
                                    char* reserved2, char* type_sign, int32_t* photo_len,
                                    unsigned char* photo, int32_t* fingerprint_len,
                                    unsigned char* fingerprint, char* reserved3) {
  SamRecord record;
  if (const int16_t read = read_sam(
          icdev,
          {name, sex, reserved1, birth_day, address, id_number, department, expire_start_day,
           expire_end_day, pass_number, sign_count, reserved2, type_sign, photo_len, photo,
           fingerprint_len, fingerprint, reserved3},
          record, photo_len, photo, fingerprint_len, fingerprint);
      read != 0)
    return read;
  return kx_ParseTextInfoForHkMoTw(icdev, kGbk, record.text_length, record.text, name, sex,
                                   reserved1, birth_day, address, id_number, department,
                                   expire_start_day, expire_end_day, pass_number, sign_count,
                                   reserved2, type_sign, reserved3) == 0
             ? 0
             : -2;
}
