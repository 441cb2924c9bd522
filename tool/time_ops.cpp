#include "tool/time_ops.h"

#include <climits>

#include "platform/os.h"

namespace {

// Day number of a date, March counting as the year's first month. 64 bits:
// a year past about 5.8 million overflows 32.
int64_t day_number(const TimeRecord& date) {
  const int64_t month = (int64_t(date.month) + 9) % 12;
  const int64_t year = int64_t(date.year) - month / 10;
  return 365 * year + year / 4 - year / 100 + year / 400 + (month * 306 + 5) / 10 +
         (int64_t(date.day) - 1);
}

}  // namespace

TimeRecord local_time_now() {
  int millis = 0;
  const tm local = os_local_time(&millis);
  return TimeRecord{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min,         local.tm_sec,     millis,        local.tm_wday};
}

std::optional<int> days_between(const TimeRecord& from, const TimeRecord& to) {
  const int64_t days = day_number(to) - day_number(from);
  if (days < INT_MIN || days > INT_MAX) return std::nullopt;
  return int(days);
}

void delay_ms(int64_t ms) {
  // os_sleep takes 32 bits; a long delay goes in pieces.
  constexpr int64_t kPiece = 1000L * 1000 * 1000;
  while (ms > 0) {
    const int64_t piece = ms < kPiece ? ms : kPiece;
    os_sleep(uint32_t(piece));
    ms -= piece;
  }
}
