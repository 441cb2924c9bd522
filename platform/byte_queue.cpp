#include "platform/byte_queue.h"

#include <cstddef>

void ByteQueue::push(uint8_t byte) {
  MutexLock lock(mutex_);
  bytes_.push_back(byte);
}

bool ByteQueue::front(uint8_t& out) {
  MutexLock lock(mutex_);
  if (bytes_.empty()) return false;
  out = bytes_.front();
  return true;
}

void ByteQueue::pop() {
  MutexLock lock(mutex_);
  if (!bytes_.empty()) bytes_.pop_front();
}

void ByteQueue::clear() {
  MutexLock lock(mutex_);
  bytes_.clear();
}

bool ByteQueue::empty() {
  MutexLock lock(mutex_);
  return bytes_.empty();
}

int32_t ByteQueue::size() {
  MutexLock lock(mutex_);
  constexpr size_t kMax = size_t(INT32_MAX);
  return int32_t(bytes_.size() < kMax ? bytes_.size() : kMax);
}
