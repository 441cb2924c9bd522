// Opening, closing and naming readers.
#include "core_api/call_frame.h"
#include "core_api/reader_families.h"
#include "kx_core.h"

namespace {

int32_t open_reader(const char* function, int16_t port, int32_t baud, const char* name,
                    bool by_name) {
  MutexLock hold(api_lock);
  CallTrace trace(function);
  trace.number("  parameter:[port[in]]", port);
  trace.number("  parameter:[baud[in]]", baud);
  if (by_name) trace.text("  parameter:[name[in]]", name);
  const int32_t index = by_name ? device_manager.openByName(port, baud, name)
                                : device_manager.openByPort(port, baud);
  const int32_t result =
      index < 0 || index >= DeviceManager::kEntryCount ? -1 : index + kFirstHandle;
  trace.result(result);
  return result;
}

}  // namespace

QM_API int32_t kx_init(int16_t port, int32_t baud) {
  return open_reader("kx_init", port, baud, nullptr, false);
}

QM_API int32_t kx_init_485(int16_t port, int32_t baud) {
  return open_reader("kx_init_485", port, baud, nullptr, false);
}

QM_API int32_t kx_init_name(int16_t port, int32_t baud, const char* name) {
  return open_reader("kx_init_name", port, baud, name, true);
}

QM_API int16_t kx_exit(int32_t icdev) {
  MutexLock hold(api_lock);
  CallTrace trace("kx_exit");
  trace.handle("  parameter:[icdev[in]]", static_cast<uint32_t>(icdev));
  const int32_t index = handle_index(icdev);
  int16_t result = -1;
  if (index >= 0) {
    device_manager.close(index);
    result = 0;
  }
  trace.result(result);
  return result;
}

QM_API void kx_config_port_name(int16_t port, const char* name) {
  MutexLock hold(api_lock);
  CallTrace trace("kx_config_port_name");
  trace.number("  parameter:[port[in]]", port);
  trace.text("  parameter:[name[in]]", name);
  if (name) device_manager.configPortName(port, name);
}
