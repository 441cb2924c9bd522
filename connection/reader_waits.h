// Time-outs of commands that have a reader of either family wait.
#pragma once

#include <cstdint>

// The time-out of a command that has the reader wait `seconds` (for a
// cardholder, a module): that long and five seconds more. The seconds go
// out in one byte.
constexpr int32_t reader_wait_timeout(uint8_t seconds) { return (int32_t(seconds) + 5) * 1000; }
