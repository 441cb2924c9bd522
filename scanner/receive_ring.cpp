#include "scanner/receive_ring.h"

#include <algorithm>
#include <cstring>

ReceiveRing::ReceiveRing() : bytes_(new uint8_t[kCapacity]) {}

size_t ReceiveRing::push(const uint8_t* data, size_t n) {
  if (!data || n == 0) return 0;
  size_t stored;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stored = std::min(n, kCapacity - count_);
    dropped_ += n - stored;
    const size_t tail = (head_ + count_) % kCapacity;
    const size_t first = std::min(stored, kCapacity - tail);
    std::memcpy(bytes_.get() + tail, data, first);
    std::memcpy(bytes_.get(), data + first, stored - first);
    count_ += stored;
  }
  if (stored) arrived_.notify_all();
  return stored;
}

bool ReceiveRing::waitLocked(std::unique_lock<std::mutex>& lock, const Deadline& deadline,
                             const std::atomic<bool>* stop) {
  return arrived_.wait_until(lock, deadline.when(),
                             [&] { return count_ > 0 || (stop && stop->load()); }) &&
         count_ > 0;
}

size_t ReceiveRing::read(uint8_t* out, size_t n, const Deadline& deadline,
                         const std::atomic<bool>* stop) {
  if (!out || n == 0) return 0;
  std::unique_lock<std::mutex> lock(mutex_);
  if (!waitLocked(lock, deadline, stop)) return 0;
  const size_t taken = std::min(n, count_);
  const size_t first = std::min(taken, kCapacity - head_);
  std::memcpy(out, bytes_.get() + head_, first);
  std::memcpy(out + first, bytes_.get(), taken - first);
  head_ = (head_ + taken) % kCapacity;
  count_ -= taken;
  return taken;
}

bool ReceiveRing::wait(const Deadline& deadline, const std::atomic<bool>* stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  return waitLocked(lock, deadline, stop);
}

void ReceiveRing::interrupt() {
  // Taken so that a waiter between its check and its sleep cannot miss it.
  std::lock_guard<std::mutex> lock(mutex_);
  arrived_.notify_all();
}

void ReceiveRing::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  head_ = 0;
  count_ = 0;
}

size_t ReceiveRing::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

uint64_t ReceiveRing::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

ReceiveRing& scanner_ring() {
  static ReceiveRing ring;
  return ring;
}
