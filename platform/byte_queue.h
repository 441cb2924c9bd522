// A thread-safe FIFO of bytes. Each operation holds the queue's own lock for
// its duration; a sequence of operations is not atomic, so a consumer tests
// size() and takes only what it tested for. Unbounded: ports purge it before
// each command.
#pragma once

#include <cstdint>
#include <deque>

#include "platform/mutex.h"

class ByteQueue {
 public:
  void push(uint8_t byte);
  // Copies the first byte; false (and `out` untouched) when empty.
  bool front(uint8_t& out);
  // Removes the first byte; does nothing when empty.
  void pop();
  void clear();
  bool empty();
  int32_t size();

 private:
  std::deque<uint8_t> bytes_;
  Mutex mutex_;
};
