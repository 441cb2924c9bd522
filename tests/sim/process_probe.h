// What a test looks at to see that nothing leaked or spun: the process's
// descriptors and threads, CPU time, elapsed time, time left to a deadline.
#pragma once

#include <dirent.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstring>

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
