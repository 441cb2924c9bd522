// Wake-up of a reader behind a Bluetooth module that sleeps between uses.
#include "family_r42/r42_device.h"

namespace {
constexpr int32_t kWakeTimeoutsMs[] = {200, 500, 1000};
}  // namespace

int16_t R42Device::WakeDevice(int32_t) {
  for (int32_t timeout_ms : kWakeTimeoutsMs) {
    R42Request request(r42_cmd::kWake);
    request.u8(0x01);
    int32_t received = 0;
    const int16_t result = exchange(request, timeout_ms, r42_cmd::kStatusOnly, nullptr, &received);
    // Only a missing reply is worth another try; anything that arrived is
    // the reader's answer.
    if (received < 0) continue;
    return result;
  }
  return -1;
}
