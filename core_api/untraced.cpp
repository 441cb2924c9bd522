// Core entries outside the call trace: nothing in the library calls them,
// and they write no trace line at any level.
#include "connection/reader_device.h"
#include "core_api/call_frame.h"
#include "kx_core.h"

QM_API int16_t kx_SetDeviceUid(int32_t icdev, const char* uid) {
  return untraced_call(icdev, [&](ReaderDevice& d) { return d.SetDeviceUid(icdev, uid); });
}

QM_API int16_t kx_SetDeviceTradeNumber(int32_t icdev, const char* number) {
  return untraced_call(icdev,
                       [&](ReaderDevice& d) { return d.SetDeviceTradeNumber(icdev, number); });
}

QM_API int16_t kx_SetDeviceTerminalNumber(int32_t icdev, const char* number) {
  return untraced_call(
      icdev, [&](ReaderDevice& d) { return d.SetDeviceTerminalNumber(icdev, number); });
}

QM_API int16_t kx_ReadEepromRaw(int32_t icdev, int16_t offset, int16_t length,
                                unsigned char* buffer) {
  return untraced_call(
      icdev, [&](ReaderDevice& d) { return d.ReadEepromRaw(icdev, offset, length, buffer); });
}

QM_API int16_t kx_WriteEepromRaw(int32_t icdev, int16_t offset, int16_t length,
                                 const unsigned char* buffer) {
  return untraced_call(
      icdev, [&](ReaderDevice& d) { return d.WriteEepromRaw(icdev, offset, length, buffer); });
}

QM_API int16_t kx_DeviceCommand0F01(int32_t icdev) {
  return untraced_call(icdev, [&](ReaderDevice& d) { return d.DeviceCommand0F01(icdev); });
}

QM_API int16_t kx_DeviceQuery0F13(int32_t icdev, unsigned char* buffer) {
  return untraced_call(icdev, [&](ReaderDevice& d) { return d.DeviceQuery0F13(icdev, buffer); });
}

// Kept for the API's numbering; they reach no device.
QM_API int16_t kx_not_supported_1(int32_t) {
  MutexLock hold(api_lock);
  return -1;
}

QM_API int16_t kx_not_supported_2(int32_t) {
  MutexLock hold(api_lock);
  return -1;
}
