// The free configuration text: kept for the application, read by nothing
// in the library but tests.
#pragma once

#include <string>

// Longest text a configuration field holds (its 2048th byte is the NUL).
constexpr size_t kMaxConfigText = 2047;

std::string config_text();
