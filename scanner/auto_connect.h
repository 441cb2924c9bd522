// The auto-reconnect loop: keeps a scanner open, hands its scans to the
// callback, and reopens it after it went away (the device-gone marker).
// While it is not open the callback hears "offline", once per loss.
#pragma once

#include <cstdint>
#include <functional>

#include "scanner/kovra_api.h"

// No port stored: reconnecting fails.
inline constexpr int16_t kNoAutoConnectPort = -1000;
inline constexpr int32_t kReconnectRetryMs = 600;
// The mode the loop sets after each reopen.
inline constexpr uint8_t kAutoConnectMode = 5;

struct AutoConnectTarget {
  int16_t port;
  uint32_t baud;
  KOVRA_DataCallback callback;
  void* user;
};

// Runs until `pause` (a sleep of that many ms that the stop cuts short)
// returns false.
void run_auto_connect(const AutoConnectTarget& target, const std::function<bool(int32_t)>& pause);
