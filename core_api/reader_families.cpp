#include "core_api/reader_families.h"

#include <memory>

#include "core_api/call_frame.h"
#include "family_m6/m6_device.h"
#include "family_r42/r42_commands.h"
#include "family_r42/r42_device.h"

namespace {

template <typename Device>
std::unique_ptr<ReaderDevice> make(const char* name, Port* port, TransportProtocol* protocol) {
  return std::make_unique<Device>(name, port, protocol);
}

// Constant-initialised, so the manager can take it while the library loads.
constexpr DeviceMaker kMakers[] = {
    {"m6-", &make<M6Device>},
    {"r42-", &make<R42Device>},
};

}  // namespace

std::span<const DeviceMaker> reader_device_makers() { return kMakers; }

size_t lcd_text_read_limit(int32_t icdev) {
  const ReaderDevice* device = device_for_handle(icdev);
  if (device == nullptr) return 0;
  return dynamic_cast<const M6Device*>(device) ? M6Device::kLcdTextReadBytes
                                               : r42_cmd::kLcdCharsetTextRoom;
}
