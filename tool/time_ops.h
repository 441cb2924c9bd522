// Local time, day counts and delays behind the Tool_ exports.
#pragma once

#include <cstdint>
#include <optional>

#include "tool.h"

// The local time from one clock reading.
TimeRecord local_time_now();

// N(to) - N(from) over year, month and day, N being the day number of the
// proleptic Gregorian calendar with division truncating toward zero (so any
// month and day values give a count). Nothing when it does not fit an int.
std::optional<int> days_between(const TimeRecord& from, const TimeRecord& to);

// Sleeps `ms` milliseconds; 0 or less returns at once.
void delay_ms(int64_t ms);
