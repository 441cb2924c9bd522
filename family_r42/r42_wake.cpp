// Wake-up of a reader behind a Bluetooth module that sleeps between uses.
#include "family_r42/r42_device.h"

namespace {
constexpr uint16_t kWakeCode = 0x200E;
constexpr int32_t kWakeTimeoutsMs[] = {200, 500, 1000};
}  // namespace

int16_t R42Device::WakeDevice(int32_t) {
  if (port_ == nullptr || protocol_ == nullptr) return -1;
  for (int32_t timeout_ms : kWakeTimeoutsMs) {
    R42Request request(kWakeCode);
    request.u8(0x01);
    port_->purge();
    const int32_t n = protocol_->transceive(request.buffer(), int32_t(request.size()),
                                            int32_t(kR42BufferSize), timeout_ms);
    // Only a missing reply is worth another try; anything that arrived is
    // the reader's answer.
    if (n < 0) continue;
    if (n < 2 || size_t(n) > kR42BufferSize) return -1;
    ByteCursor reply(request.buffer(), size_t(n));
    uint16_t status = 0;
    reply.be16(status);
    last_status_ = status;
    return status == 0 ? 0 : -2;
  }
  return -1;
}
