// The Escape key, as the one-shot QR scan watches it: the input devices
// under /dev/input that this process may read and that have an Escape key,
// opened read-only and never grabbed, so the key still reaches everything
// else. Without any such device Escape is never seen.
#pragma once

#include <functional>
#include <vector>

class EscapeKey {
 public:
  // Opens the devices (or uses the hook when one is set).
  EscapeKey();
  ~EscapeKey();
  EscapeKey(const EscapeKey&) = delete;
  EscapeKey& operator=(const EscapeKey&) = delete;

  // Whether Escape is down now or was pressed since the last call.
  bool pressed();

  // Tests: when set, pressed() asks this instead of the devices.
  static std::function<bool()>& hook();

 private:
  std::vector<int> devices_;
};
