// The exports that add to, mend or stand in for a core operation.
#include <cstring>
#include <vector>

#include "kx_core.h"
#include "platform/text_helpers.h"
#include "product_api/product_trace.h"
#include "qm_reader.h"

namespace {

constexpr size_t kBlockSize = 16;
// The trace keeps this many characters of a written block's text.
constexpr size_t kTracedTextMax = 255;
// qm_getver writes this over the start of the reader's version text.
constexpr char kProductVersion[] = "QM500-001";
constexpr size_t kVersionSkip = 6;
constexpr size_t kProductVersionLength = sizeof kProductVersion - 1;

}  // namespace

QM_API int16_t qm_write_hex(int32_t icdev, uint8_t address, const char* data) {
  if (data == nullptr) return -1;
  char traced[kTracedTextMax + 1];
  copy_fixed_text(traced, data);
  FacadeTrace(traced);
  // At most one block of text: a longer one, an odd count or a character
  // that is no hex digit writes nothing. A shorter text leaves zeros.
  const size_t length = strnlen(data, 2 * kBlockSize + 1);
  uint8_t block[kBlockSize] = {};
  if (length > 2 * kBlockSize || length % 2 != 0 ||
      hex_twin_input(data, int64_t(length / 2), block) != 0)
    return -1;
  return kx_write(icdev, address, block);
}

QM_API int16_t qm_getver(int32_t icdev, char* version) {
  if (version == nullptr) return -1;
  const int16_t result = kx_getver(icdev, version + kVersionSkip);
  if (result != 0) return result;
  // A reader's text under three characters ends inside the product name:
  // its end moves behind it.
  const bool short_text = strnlen(version + kVersionSkip, 3) < 3;
  std::memcpy(version, kProductVersion, kProductVersionLength);
  if (short_text) version[kProductVersionLength] = '\0';
  return 0;
}

QM_API int16_t qm_GetBankAccountNumber(int32_t icdev, int32_t type, char* number) {
  kx_SetCpuVoltage(icdev, 0);
  return kx_GetBankAccountNumber(icdev, type, number);
}

QM_API int16_t qm_hex_a(const uint8_t* data, char* text, int16_t count) {
  return bytes_to_hex_text(data, text, count);
}

// A text the conversion would stop short in (an odd count, a character
// that is no hex digit) is refused with nothing written.
QM_API int16_t qm_a_hex(const char* text, uint8_t* data, int16_t count) {
  if (text == nullptr || data == nullptr || count < 0 || count % 2 != 0) return -1;
  std::vector<uint8_t> check(size_t(count / 2) + 1);
  if (hex_twin_input(text, count / 2, check.data()) != 0) return -1;
  return hex_text_to_bytes(text, data, count);
}

QM_API int32_t qm_ReadQMEF06(int32_t, void*) { return 0; }

QM_API int16_t qm_IdCardImageBuild(int32_t icdev, int32_t type, int32_t text_len,
                                   const unsigned char* text, int32_t photo_len,
                                   const unsigned char* photo, const char* front_file,
                                   const char* back_file) {
  return kx_IdCardImageBuild(icdev, type, text_len, text, photo_len, photo, front_file,
                             back_file);
}
