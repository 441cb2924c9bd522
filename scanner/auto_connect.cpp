#include "scanner/auto_connect.h"

#include <cstring>

#include "scanner/transport.h"

namespace {

constexpr size_t kScanCapacity = 2047;
constexpr char kOffline[] = "offline";

}  // namespace

void run_auto_connect(const AutoConnectTarget& target, const std::function<bool(int32_t)>& pause) {
  bool online = false;
  bool reported = false;  // "offline" said since the last loss
  uint8_t scan[kScanCapacity + 1];
  do {
    if (!online) {
      const KOVRA_Config config{target.port, target.baud};
      online = target.port != kNoAutoConnectPort && target.baud >= 1 &&
               KOVRA_Open(&config, nullptr, nullptr) == KOVRA_OK;
      if (online) {
        KOVRA_SetMode(kAutoConnectMode);
        reported = false;
        continue;
      }
      if (!reported && target.callback)
        target.callback(reinterpret_cast<const uint8_t*>(kOffline), int32_t(sizeof kOffline - 1),
                        target.user);
      reported = true;
      if (!pause(kReconnectRetryMs)) return;
      continue;
    }
    int32_t n = 0;
    if (KOVRA_ReadScanData(1, scan, int32_t(kScanCapacity), &n) != KOVRA_OK || n <= 0) continue;
    if (n == sizeof kDeviceGoneMarker && std::memcmp(scan, kDeviceGoneMarker, size_t(n)) == 0) {
      KOVRA_Close();
      online = false;
      continue;
    }
    scan[n] = 0;
    if (target.callback) target.callback(scan, n, target.user);
  } while (pause(0));
}
