#pragma once

#include <thread>

#include "platform/thread.h"

// The thread behind Thread. A start that the system refuses leaves it not
// running instead of throwing out of a constructor.
class PosixThread {
 public:
  PosixThread(Thread::Function function, void* argument);
  ~PosixThread();
  PosixThread(const PosixThread&) = delete;
  PosixThread& operator=(const PosixThread&) = delete;

  bool started() const { return started_; }
  void join();

 private:
  std::thread thread_;
  bool started_ = false;
};
