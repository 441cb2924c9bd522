// The POSIX calls behind the os_ facade and the owning classes. Only
// platform/ includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

void posix_sleep(uint32_t ms);
uint32_t posix_ticks();
int posix_local_millis();
std::u16string posix_to_wide(const char* text, size_t count);
std::string posix_to_narrow(const char16_t* text, size_t count);
bool posix_make_dir(const char* path);
