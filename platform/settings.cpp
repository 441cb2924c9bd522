#include "platform/settings.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

namespace {

int level_from_environment() {
  const char* text = std::getenv("QM_READER_TRACE_LEVEL");
  if (!text || !*text) return 0;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < INT_MIN || value > INT_MAX) return 0;
  return int(value);
}

struct TextSettings {
  std::mutex mutex;
  std::string library_directory;
  std::array<std::string, kPortCount> port_names;
};

// Built on first use, so other libraries' static constructors may read it.
TextSettings& text_settings() {
  static TextSettings settings;
  return settings;
}

}  // namespace

std::atomic<int> trace_level{level_from_environment()};

void set_trace_level(int level) { trace_level.store(level); }

std::string library_directory() {
  TextSettings& s = text_settings();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.library_directory;
}

void set_library_directory(const std::string& directory) {
  TextSettings& s = text_settings();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.library_directory = directory;
}

std::string port_name(int port) {
  if (port < 0 || port >= kPortCount) return {};
  TextSettings& s = text_settings();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.port_names[size_t(port)];
}

void set_port_name(int port, const std::string& name) {
  if (port < 0 || port >= kPortCount) return;
  TextSettings& s = text_settings();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.port_names[size_t(port)] = name;
}
