// One MIFARE Classic block read or written in one call: select, key load,
// authentication and the block command, each stage with its own code.
#include <cstddef>

#include "kx_core.h"
#include "product_api/product_trace.h"
#include "qm_reader.h"

namespace {

constexpr uint8_t kRequestAll = 1;
// The card's serial number as text, discarded.
constexpr size_t kSerialTextSize = 64;

constexpr char kNoCard[] = "\xCE\xDE\xBF\xA8\n";                    // 无卡
constexpr char kKeyFailed[] = "\xC3\xDC\xC2\xEB\xB4\xED\xCE\xF3\n";  // 密码错误
constexpr char kAuthFailed[] = "\xC8\xCF\xD6\xA4\xB4\xED\xCE\xF3\n";  // 认证错误
constexpr char kReadFailed[] = "\xB6\xC1\xC8\xA1\xB4\xED\xCE\xF3\n";  // 读取错误
constexpr char kWriteFailed[] = "\xD0\xB4\xC8\xEB\xB4\xED\xCE\xF3\n";  // 写入错误

// The first three stages: 0, or -2 (no card), -3 (key refused), -4 (not
// authenticated), each with its message.
int16_t open_sector(int32_t icdev, uint8_t sector, const char* key, uint8_t key_mode) {
  char serial[kSerialTextSize];
  if (kx_card_double_hex(icdev, kRequestAll, serial) != 0) {
    FacadeTrace(kNoCard);
    return -2;
  }
  if (kx_load_key_hex(icdev, key_mode, sector, key) != 0) {
    FacadeTrace(kKeyFailed);
    return -3;
  }
  if (kx_authentication(icdev, key_mode, sector) != 0) {
    FacadeTrace(kAuthFailed);
    return -4;
  }
  return 0;
}

// Four blocks a sector, the address kept in 8 bits.
uint8_t block_address(uint8_t sector, int32_t block) { return uint8_t(sector * 4 + block); }

}  // namespace

QM_API int16_t qm_ReadM1Card_hex(int32_t icdev, uint8_t sector, int32_t block, const char* key,
                                 uint8_t key_mode, char* data) {
  if (key == nullptr || data == nullptr) return -1;
  if (const int16_t opened = open_sector(icdev, sector, key, key_mode); opened != 0) return opened;
  if (kx_read_hex(icdev, block_address(sector, block), data) != 0) {
    FacadeTrace(kReadFailed);
    return -5;
  }
  return 0;
}

QM_API int16_t qm_WriteM1Card_hex(int32_t icdev, uint8_t sector, int32_t block, const char* key,
                                  uint8_t key_mode, const char* data) {
  if (key == nullptr || data == nullptr) return -1;
  if (const int16_t opened = open_sector(icdev, sector, key, key_mode); opened != 0) return opened;
  if (qm_write_hex(icdev, block_address(sector, block), data) != 0) {
    FacadeTrace(kWriteFailed);
    return -5;
  }
  return 0;
}
