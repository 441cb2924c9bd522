// Core entries kept for the API's numbering: they reach no device and write
// no trace line. (The untraced device entries are generated from the
// operation table with the traced ones.)
#include "core_api/call_frame.h"
#include "kx_core.h"

QM_API int16_t kx_not_supported_1(int32_t) {
  MutexLock hold(api_lock);
  return -1;
}

QM_API int16_t kx_not_supported_2(int32_t) {
  MutexLock hold(api_lock);
  return -1;
}
