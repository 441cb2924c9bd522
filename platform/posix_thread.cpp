#include "platform/posix_thread.h"

#include <system_error>

PosixThread::PosixThread(Thread::Function function, void* argument) {
  if (!function) return;
  try {
    thread_ = std::thread(function, argument);
    started_ = true;
  } catch (const std::system_error&) {
    started_ = false;
  }
}

PosixThread::~PosixThread() { join(); }

void PosixThread::join() {
  // Joining twice, joining a thread that never started, or a thread joining
  // itself would throw or deadlock: all of them are skipped.
  if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
  try {
    thread_.join();
  } catch (const std::system_error&) {
  }
}
