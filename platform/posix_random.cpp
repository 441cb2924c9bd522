#include <sys/random.h>

#include <cerrno>

#include "platform/os.h"

bool os_random_bytes(uint8_t* out, size_t count) {
  if (out == nullptr && count > 0) return false;
  size_t done = 0;
  while (done < count) {
    const ssize_t n = getrandom(out + done, count - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(n);
  }
  return true;
}
