#include "platform/deadline.h"

#include <cstdint>

Deadline::Deadline(int32_t ms) : when_(Clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0)) {}

Deadline Deadline::at(Clock::time_point when) { return Deadline(when); }

int32_t Deadline::msLeft() const {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when_ - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT32_MAX ? INT32_MAX : int32_t(left);
}

bool Deadline::expired() const { return Clock::now() >= when_; }
