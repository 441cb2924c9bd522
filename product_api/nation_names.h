// The social-security card's nation codes and their names.
#pragma once

#include <cstdint>

// Codes 0 ("错误", unknown) to 57 ("其他", other).
constexpr int kNationCount = 58;
// The longest name, in bytes (five GBK characters).
constexpr int kNationNameMax = 10;

// The GBK name of `code`; a code outside 0-57 names code 0.
const char* nation_name(int8_t code);
