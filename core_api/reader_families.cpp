#include "core_api/reader_families.h"

#include <memory>

#include "family_m6/m6_device.h"
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
