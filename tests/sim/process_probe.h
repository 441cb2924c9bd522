// What a test looks at to see that nothing leaked or spun: the process's
// descriptors and threads, CPU time, elapsed time, time left to a deadline.
#pragma once

#include <dirent.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "platform/deadline.h"

// Entries of a folder, "." and ".." left out; -1 when it cannot be read.
inline int count_dir_entries(const char* path) {
  DIR* dir = opendir(path);
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
  }
  closedir(dir);
  return count;
}

// Descriptors this process holds (the one reading the list not counted).
inline int open_fd_count() { return count_dir_entries("/proc/self/fd") - 1; }
inline int thread_count() { return count_dir_entries("/proc/self/task"); }

// Looks every 2 ms, for up to `timeout_ms`, until `done()` holds; false if
// it never did. For what a thread beside the test brings about in its own
// time, which one early look would miss.
template <typename Condition>
bool wait_until(Condition done, int timeout_ms = 5000) {
  const Deadline deadline(timeout_ms);
  for (;;) {
    if (done()) return true;
    if (deadline.expired()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// One reading of the descriptors or threads can be high while threads
// beside the test run: the undefined-behaviour sanitizer opens a pipe for a
// moment whenever a thread meets a new dynamic type, and a thread that was
// joined may still be listed until the kernel has reaped it. The least of
// the readings over a short window leaves such passing ones out.
inline int least_over(int (*count)(), int window_ms) {
  const Deadline window(window_ms);
  int least = count();
  while (!window.expired()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    least = std::min(least, count());
  }
  return least;
}

// The counts to compare against later.
inline int settled_fd_count() { return least_over(open_fd_count, 50); }
inline int settled_thread_count() { return least_over(thread_count, 50); }

// The settled count once it has come to `expected`, or as it stands after
// `timeout_ms`: what was released may still be closing on another thread
// when the call returns. A leak still shows as the number it leaves.
inline int settling_to(int (*count)(), int expected, int timeout_ms = 5000) {
  const Deadline deadline(timeout_ms);
  int settled = least_over(count, 10);
  while (settled != expected && !deadline.expired()) settled = least_over(count, 10);
  return settled;
}
inline int fd_count_settling_to(int expected) { return settling_to(open_fd_count, expected); }
inline int thread_count_settling_to(int expected) { return settling_to(thread_count, expected); }

inline double cpu_ms(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}
inline double thread_cpu_ms() { return cpu_ms(CLOCK_THREAD_CPUTIME_ID); }
inline double process_cpu_ms() { return cpu_ms(CLOCK_PROCESS_CPUTIME_ID); }

class Stopwatch {
 public:
  int64_t ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now() - start_)
        .count();
  }
  void restart() { start_ = std::chrono::steady_clock::now(); }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Milliseconds from now to `deadline`, rounded up; 0 once it has passed.
inline int ms_left(std::chrono::steady_clock::time_point deadline) {
  return Deadline::at(deadline).msLeft();
}
