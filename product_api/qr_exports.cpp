// The QR exports over the scanner module: open and close with a callback,
// the scanner's serial number, and one scan with or without a time limit.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "product_api/escape_key.h"
#include "product_api/product_trace.h"
#include "qm_reader.h"
#include "scanner/kovra_api.h"
#include "scanner/transport.h"

namespace {

constexpr int16_t kDefaultPort = 1100;
constexpr uint32_t kBaud = 115200;
// The caller's scan buffer.
constexpr int32_t kScanBuffer = 1024;
constexpr uint8_t kSerialQuery[] = {0x04, 0xC5};
// The serial-number reply data: the echo, a status, a count, the number.
constexpr int32_t kSerialReplyMax = 40;
constexpr int32_t kSerialOffset = 4;

constexpr char kDeviceOpenFailed[] =  // 启动设备失败请确认设备版本
    "\xC6\xF4\xB6\xAF\xC9\xE8\xB1\xB8\xCA\xA7\xB0\xDC\xC7\xEB\xC8\xB7\xC8\xCF\xC9\xE8\xB1\xB8"
    "\xB0\xE6\xB1\xBE\n";
constexpr char kScanOpenFailed[] =  // 启动扫码失败请确认设备版本
    "\xC6\xF4\xB6\xAF\xC9\xA8\xC2\xEB\xCA\xA7\xB0\xDC\xC7\xEB\xC8\xB7\xC8\xCF\xC9\xE8\xB1\xB8"
    "\xB0\xE6\xB1\xBE\n";
constexpr char kEscapeQuit[] = "\xC8\xC8\xBC\xFC" "ESC" "\xCD\xCB\xB3\xF6\n";  // 热键ESC退出
constexpr char kScanDone[] = "\xC9\xA8\xC2\xEB\xBD\xE1\xCA\xF8\n";            // 扫码结束

// The serial number of the first successful query.
struct SerialCache {
  std::mutex mutex;
  bool filled = false;
  uint8_t reply[kSerialReplyMax] = {};
  int32_t length = 0;
};
SerialCache& serial_cache() {
  static SerialCache cache;
  return cache;
}

int32_t open_scanner(KOVRA_DataCallback callback, int16_t port) {
  const KOVRA_Config config{port, kBaud};
  const int32_t opened = KOVRA_Open(&config, callback, nullptr);
  if (opened != KOVRA_OK) return opened;
  KOVRA_SetMode(0);
  KOVRA_StartScan();
  return 0;
}

void stop_and_close() {
  KOVRA_StopScan();
  KOVRA_Close();
}

// Exactly the four bytes the module puts in when the scanner went away.
bool device_gone(const char* buffer, int32_t length) {
  return length == int32_t(sizeof kDeviceGoneMarker) &&
         std::memcmp(buffer, kDeviceGoneMarker, sizeof kDeviceGoneMarker) == 0;
}

// One scan within (timeout + 1) x 100 ms on the scanner at `port`.
int32_t scan_once(int16_t port, char* buffer, uint16_t timeout) {
  if (!buffer) return KOVRA_NO_BUFFER;
  const int32_t opened = open_scanner(nullptr, port);
  if (opened != 0) {
    FacadeTrace(kScanOpenFailed);
    return opened;
  }
  int32_t length = 0;
  const int32_t read =
      KOVRA_ReadScanData(timeout, reinterpret_cast<uint8_t*>(buffer), kScanBuffer, &length);
  stop_and_close();
  if (read != KOVRA_OK) return KOVRA_NO_REPLY;
  if (device_gone(buffer, length)) {
    buffer[0] = '\0';
    return KOVRA_TRANSPORT;
  }
  return 0;
}

}  // namespace

QM_API int32_t qm_OpenQrcode(KOVRA_DataCallback callback, int16_t port) {
  return open_scanner(callback, port);
}

QM_API int32_t qm_CloseQrcode(void) {
  KOVRA_StopScan();
  return KOVRA_Close();
}

QM_API int32_t qm_GetSNCode(char* serial) {
  if (!serial) return KOVRA_NO_BUFFER;
  SerialCache& cache = serial_cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.filled) {
    const int32_t count = std::min<int32_t>(cache.reply[3], cache.length - kSerialOffset);
    std::memcpy(serial, cache.reply + kSerialOffset, size_t(count));
    return KOVRA_OK;
  }
  const KOVRA_Config config{kDefaultPort, kBaud};
  if (KOVRA_Open(&config, nullptr, nullptr) != KOVRA_OK) {
    FacadeTrace(kDeviceOpenFailed);
    return -5;
  }
  uint8_t reply[kSerialReplyMax];
  int32_t length = 0;
  int32_t result = KOVRA_Command43(kSerialQuery, sizeof kSerialQuery, reply, sizeof reply, &length);
  if (result == KOVRA_OK && length < kSerialOffset) result = KOVRA_BAD_REPLY;
  if (result != KOVRA_OK) {
    KOVRA_Close();
    return result;
  }
  const size_t count = size_t(length - kSerialOffset);
  char text[kSerialReplyMax + 1] = {};
  std::memcpy(text, reply + kSerialOffset, count);
  FacadeTrace(text);
  std::memcpy(serial, reply + kSerialOffset, count);
  std::memcpy(cache.reply, reply, size_t(length));
  cache.length = length;
  cache.filled = true;
  return KOVRA_Close();
}

QM_API int32_t qm_GetQrcode(char* buffer, int32_t) {
  if (!buffer) return KOVRA_NO_BUFFER;
  const int32_t opened = open_scanner(nullptr, kDefaultPort);
  if (opened != 0) {
    FacadeTrace(kScanOpenFailed);
    return opened;
  }
  EscapeKey escape;
  escape.pressed();  // forgets what was pressed before the scan began
  for (;;) {
    int32_t length = 0;
    const int32_t read =
        KOVRA_ReadScanData(1, reinterpret_cast<uint8_t*>(buffer), kScanBuffer, &length);
    if (escape.pressed()) {
      FacadeTrace(kEscapeQuit);
      stop_and_close();
      return KOVRA_NO_REPLY;
    }
    if (read != KOVRA_OK || length <= 0) continue;
    if (device_gone(buffer, length)) {
      stop_and_close();
      buffer[0] = '\0';
      return KOVRA_TRANSPORT;
    }
    if (buffer[0] != '\0') {
      FacadeTrace(kScanDone);
      stop_and_close();
      return 0;
    }
  }
}

QM_API int32_t qm_GetQrcodetimeout(char* buffer, uint16_t timeout) {
  return scan_once(kDefaultPort, buffer, timeout);
}

QM_API int32_t qm_ComGetQrcodetimeout(int32_t port, char* buffer, uint16_t timeout) {
  return scan_once(int16_t(uint16_t(uint32_t(port) & 0xFFFF)), buffer, timeout);
}
