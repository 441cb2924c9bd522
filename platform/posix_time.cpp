#include <cerrno>
#include <ctime>

#include "platform/os.h"

namespace {

constexpr long kNanosPerMilli = 1000000L;
constexpr long kNanosPerSecond = 1000000000L;

}  // namespace

void os_sleep(uint32_t ms) {
  if (ms == 0) return;
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += time_t(ms / 1000);
  deadline.tv_nsec += long(ms % 1000) * kNanosPerMilli;
  if (deadline.tv_nsec >= kNanosPerSecond) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= kNanosPerSecond;
  }
  // An absolute deadline makes a signal cost no time: the sleep simply
  // resumes towards the same instant.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

uint32_t os_ticks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec / kNanosPerMilli);
  return uint32_t(ms);
}

int os_local_millis() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return int(now.tv_nsec / kNanosPerMilli);
}

tm os_local_time(int* millis) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  *millis = int(now.tv_nsec / kNanosPerMilli);
  return local;
}
