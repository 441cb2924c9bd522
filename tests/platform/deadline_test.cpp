#include "platform/deadline.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdint>

using Clock = Deadline::Clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(Deadline, ZeroAndNegativeBudgetsAreDueAtOnce) {
  for (int32_t budget : {0, -1, INT32_MIN}) {
    const Deadline due(budget);
    EXPECT_TRUE(due.expired()) << budget;
    EXPECT_EQ(due.msLeft(), 0) << budget;
  }
  const Deadline past = Deadline::at(Clock::now() - milliseconds(5));
  EXPECT_TRUE(past.expired());
  EXPECT_EQ(past.msLeft(), 0);
}

TEST(Deadline, TimeLeftIsRoundedUpAndCapped) {
  const Deadline one(1);
  const int32_t one_left = one.msLeft();
  // Still before the deadline when asked: not 0 after the first microsecond.
  if (Clock::now() < one.when()) {
    EXPECT_EQ(one_left, 1);
  }
  for (int64_t us : {1, 999, 1001, 10500}) {
    const Deadline d = Deadline::at(Clock::now() + microseconds(us));
    const int32_t left = d.msLeft();
    // A wait of `left` taken at this moment would not end early...
    EXPECT_GE(Clock::now() + milliseconds(left), d.when()) << us;
    // ...nor by more than the rounding.
    EXPECT_LE(left, (us + 999) / 1000) << us;
  }
  EXPECT_EQ(Deadline(INT32_MAX).msLeft(), INT32_MAX);
  EXPECT_EQ(Deadline::at(Clock::now() + std::chrono::hours(24 * 40)).msLeft(), INT32_MAX);
}

TEST(Deadline, OneWaitOfTheTimeLeftReachesTheDeadline) {
  for (int32_t budget : {1, 2, 7}) {
    const Clock::time_point start = Clock::now();
    const Deadline d(budget);
    int waits = 0;
    while (!d.expired()) {
      poll(nullptr, 0, d.msLeft());
      ++waits;
    }
    EXPECT_EQ(waits, 1) << budget;
    EXPECT_GE(Clock::now() - start, milliseconds(budget));
  }
}
