#include "product_api/escape_key.h"

#include <fcntl.h>
#include <glob.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>

namespace {

constexpr size_t kKeyBytes = KEY_MAX / 8 + 1;

bool bit_set(const uint8_t* bits, unsigned bit) { return bits[bit / 8] & (1u << (bit % 8)); }

}  // namespace

std::function<bool()>& EscapeKey::hook() {
  static std::function<bool()> test_hook;
  return test_hook;
}

EscapeKey::EscapeKey() {
  if (hook()) return;
  glob_t found{};
  if (glob("/dev/input/event*", 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) {
      const int fd = ::open(found.gl_pathv[i], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) continue;
      uint8_t keys[kKeyBytes] = {};
      if (ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys) >= 0 && bit_set(keys, KEY_ESC)) {
        devices_.push_back(fd);
      } else {
        ::close(fd);
      }
    }
  }
  globfree(&found);
}

EscapeKey::~EscapeKey() {
  for (const int fd : devices_) ::close(fd);
}

bool EscapeKey::pressed() {
  if (const auto& test_hook = hook()) return test_hook();
  bool seen = false;
  for (const int fd : devices_) {
    // The presses queued since the last call, then the key as it is now.
    input_event events[64];
    ssize_t n;
    while ((n = ::read(fd, events, sizeof events)) > 0) {
      for (size_t i = 0; i < size_t(n) / sizeof events[0]; ++i)
        seen |= events[i].type == EV_KEY && events[i].code == KEY_ESC && events[i].value == 1;
    }
    uint8_t down[kKeyBytes] = {};
    seen |= ioctl(fd, EVIOCGKEY(sizeof down), down) >= 0 && bit_set(down, KEY_ESC);
  }
  return seen;
}
