#pragma once

#include <mutex>

// The recursive lock behind Mutex.
class PosixMutex {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};
