// The one receive ring of the scanner module. The transport's reader thread
// pushes every byte it receives; exchanges and the receive thread take them
// out. Counted, so every one of its bytes is usable: when it is full the
// excess of a push is dropped (and counted), never an unread byte.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/deadline.h"

class ReceiveRing {
 public:
  static constexpr size_t kCapacity = 480000;

  ReceiveRing();

  // Stores what fits; returns how many bytes were stored.
  size_t push(const uint8_t* data, size_t n);
  // The timed read: waits until bytes are held, `deadline` passes, or
  // `stop` (when given) is set and interrupt() called; then takes up to n.
  size_t read(uint8_t* out, size_t n, const Deadline& deadline,
              const std::atomic<bool>* stop = nullptr);
  // Waits as read() does without taking anything: true when bytes are held.
  bool wait(const Deadline& deadline, const std::atomic<bool>* stop);
  // Wakes every waiter to look at its stop flag.
  void interrupt();
  // Drops what is held.
  void reset();

  size_t size() const;
  // Bytes pushed that did not fit, since the start.
  uint64_t dropped() const;

 private:
  bool waitLocked(std::unique_lock<std::mutex>& lock, const Deadline& deadline,
                  const std::atomic<bool>* stop);

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::unique_ptr<uint8_t[]> bytes_;
  size_t head_ = 0;  // the oldest byte held
  size_t count_ = 0;
  uint64_t dropped_ = 0;
};

ReceiveRing& scanner_ring();
