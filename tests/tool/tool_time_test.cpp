#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <ctime>
#include <thread>

#include <gtest/gtest.h>

#include "tool.h"
#include "tool_test_support.h"

namespace {

TimeRecord date(int32_t year, int32_t month, int32_t day) {
  // Time of day and weekday play no part: fill them with noise.
  return TimeRecord{year, month, day, 23, 59, 59, 999, 6};
}

struct DaysCase {
  TimeRecord from;
  TimeRecord to;
  int result;
  int days;
};

class ToolTimeDays : public ::testing::TestWithParam<DaysCase> {};

TEST_P(ToolTimeDays, CountsDays) {
  const DaysCase& c = GetParam();
  int days = -12345;
  EXPECT_EQ(c.result, Tool_TimeGetDays(c.from, c.to, &days));
  EXPECT_EQ(c.result == 0 ? c.days : -12345, days);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolTimeDays,
    ::testing::Values(DaysCase{date(2020, 2, 28), date(2020, 3, 1), 0, 2},
                      DaysCase{date(2000, 2, 28), date(2000, 3, 1), 0, 2},
                      DaysCase{date(1900, 2, 28), date(1900, 3, 1), 0, 1},
                      DaysCase{date(2019, 12, 31), date(2020, 1, 1), 0, 1},
                      DaysCase{date(2020, 3, 1), date(2020, 2, 28), 0, -2},
                      DaysCase{date(1970, 1, 1), date(2000, 1, 1), 0, 10957},
                      // Counts of about 5.8 million years no longer wrap.
                      DaysCase{date(0, 3, 1), date(5000000, 3, 1), 0, 1826212500},
                      DaysCase{date(5000000, 3, 1), date(0, 3, 1), 0, -1826212500},
                      DaysCase{date(0, 3, 1), date(6000000, 3, 1), -1, 0},
                      DaysCase{date(INT_MIN, INT_MIN, INT_MIN), date(INT_MAX, INT_MAX, INT_MAX), -1,
                               0},
                      DaysCase{date(2020, INT_MAX, 1), date(2020, INT_MAX, 1), 0, 0}),
    RowName());

TEST(ToolTime, TimeGetReadsTheLocalClock) {
  const time_t before = time(nullptr);
  TimeRecord now{};
  ASSERT_EQ(0, Tool_TimeGet(&now));
  const time_t after = time(nullptr);
  tm local{};
  localtime_r(&before, &local);
  // Unless the second turned over between the readings, every field agrees.
  if (before == after) {
    EXPECT_EQ(local.tm_year + 1900, now.year);
    EXPECT_EQ(local.tm_mon + 1, now.month);
    EXPECT_EQ(local.tm_mday, now.day);
    EXPECT_EQ(local.tm_hour, now.hour);
    EXPECT_EQ(local.tm_min, now.minute);
    EXPECT_EQ(local.tm_sec, now.second);
    EXPECT_EQ(local.tm_wday, now.weekday);
  }
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
  EXPECT_EQ(-1, Tool_TimeGet(nullptr));
  EXPECT_EQ(-1, Tool_TimeGetDays(date(2020, 1, 1), date(2020, 1, 2), nullptr));
}

TEST(ToolTime, DelaysSleepTheirTimeAndNothingWhenNotPositive) {
  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  EXPECT_EQ(0, Tool_DelayMs(0));
  EXPECT_EQ(0, Tool_DelayMs(-1000));
  EXPECT_EQ(0, Tool_DelayS(INT_MIN));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
  start = Clock::now();
  EXPECT_EQ(0, Tool_DelayMs(30));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
}

TEST(ToolTime, SecondsPastInt32MillisecondsStillSleep) {
  // 2147484 s is past INT_MAX ms: a 32-bit product would turn negative and
  // return at once. The child must still be asleep when it is stopped.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Tool_DelayS(2147484);
    _exit(0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = 0;
  EXPECT_EQ(0, waitpid(child, &status, WNOHANG));
  kill(child, SIGKILL);
  EXPECT_EQ(child, waitpid(child, &status, 0));
}

}  // namespace
