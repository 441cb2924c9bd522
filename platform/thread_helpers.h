// Pieces of threads that wait in poll(): starting a std::thread without an
// exception escaping, and an eventfd as the stop or wake signal polled
// beside the thread's descriptor.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <thread>

// Starts `thread` on `function`; false when the system refuses a thread.
template <typename Function>
bool start_thread(std::thread& thread, Function function) {
  try {
    thread = std::thread(function);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

// Makes the eventfd `fd` readable; nothing for -1.
inline void signal_event(int fd) {
  if (fd < 0) return;
  const uint64_t one = 1;
  ssize_t r;
  do {
    r = ::write(fd, &one, sizeof one);
  } while (r < 0 && errno == EINTR);
}

// Takes every signal pending on a non-blocking eventfd.
inline void drain_event(int fd) {
  uint64_t count;
  while (::read(fd, &count, sizeof count) > 0) {
  }
}
