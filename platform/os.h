// Operating-system facade: time, text conversion, directories.
// Everything outside platform/ uses these names; the POSIX calls behind them
// live in posix_*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// Sleeps at least `ms` milliseconds on the monotonic clock, resuming after
// signals. 0 returns at once.
void os_sleep(uint32_t ms);

// Milliseconds of CLOCK_MONOTONIC cut to 32 bits: wraps after 49.7 days.
// Time budgets use Deadline (platform/deadline.h), not differences of ticks.
uint32_t os_ticks();

// The milliseconds field (0-999) of the local time.
int os_local_millis();

// The local calendar time, and its milliseconds field (0-999) in *millis,
// from one CLOCK_REALTIME reading: the two never disagree across a second.
tm os_local_time(int* millis);

// GBK (the library's code page for card and message text) to UTF-16 and back.
// Input stops at `count` units or the first NUL, whichever comes first, so
// fixed-width fields without a terminator are safe. Each invalid or cut-off
// GBK sequence becomes U+FFFD; a UTF-16 unit with no GBK form becomes "?".
std::u16string os_to_wide(const char* text, size_t count);
std::u16string os_to_wide(const std::string& text);
std::string os_to_narrow(const char16_t* text, size_t count);
std::string os_to_narrow(const std::u16string& text);

// Makes that one directory (mode 0700, no parents). False when it exists or
// cannot be made; callers ignore the result.
bool os_make_dir(const char* path);

// Fills `count` bytes from the system's random generator (getrandom).
// False when it fails.
bool os_random_bytes(uint8_t* out, size_t count);
