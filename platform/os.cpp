#include "platform/os.h"

#include "platform/posix.h"

void os_sleep(uint32_t ms) { posix_sleep(ms); }

uint32_t os_ticks() { return posix_ticks(); }

int os_local_millis() { return posix_local_millis(); }

std::u16string os_to_wide(const char* text, size_t count) { return posix_to_wide(text, count); }

std::u16string os_to_wide(const std::string& text) {
  return posix_to_wide(text.data(), text.size());
}

std::string os_to_narrow(const char16_t* text, size_t count) {
  return posix_to_narrow(text, count);
}

std::string os_to_narrow(const std::u16string& text) {
  return posix_to_narrow(text.data(), text.size());
}

bool os_make_dir(const char* path) { return posix_make_dir(path); }
