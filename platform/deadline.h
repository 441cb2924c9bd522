// The end of a wait, on the monotonic clock. A wait with a time-out makes
// one Deadline as it begins and asks it before each poll, sleep or retry how
// long is left, so a loop of several waits keeps to one budget.
#pragma once

#include <chrono>
#include <cstdint>

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  // `ms` milliseconds from now; a budget of 0 or less is due at once.
  explicit Deadline(int32_t ms);
  // Due at `when`.
  static Deadline at(Clock::time_point when);

  // Milliseconds left, rounded up so that a wait of this long never ends
  // before the deadline; 0 once it is due, INT32_MAX at the most.
  int32_t msLeft() const;
  bool expired() const;
  Clock::time_point when() const { return when_; }

 private:
  explicit Deadline(Clock::time_point when) : when_(when) {}
  Clock::time_point when_;
};
