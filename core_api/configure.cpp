// The process-wide configuration entry. It takes no api_lock: each setting
// has its own lock (a long open never holds up a configuration change), and
// readers take a snapshot once per use.
#include <cstring>
#include <mutex>

#include "connection/port_provider.h"
#include "core_api/configuration.h"
#include "kx_core.h"
#include "platform/settings.h"

namespace {

constexpr char kVersionText[] = "10.1.3.14";

std::mutex config_text_mutex;
std::string config_text_value;

// A configuration text, or null when it does not fit its field (a cut
// directory would send files elsewhere, so the old value stays).
const char* fitting_text(const void* data) {
  const char* text = static_cast<const char*>(data);
  return strnlen(text, kMaxConfigText + 1) > kMaxConfigText ? nullptr : text;
}

}  // namespace

std::string config_text() {
  std::lock_guard<std::mutex> hold(config_text_mutex);
  return config_text_value;
}

QM_API void CoreConfigure(int32_t kind, void* data) {
  if (!data) return;
  switch (kind) {
    case KX_CFG_VERSION:
      std::memcpy(data, kVersionText, sizeof kVersionText);
      break;
    case KX_CFG_DIRECTORY:
      if (const char* text = fitting_text(data)) set_library_directory(text);
      break;
    case KX_CFG_TEXT:
      if (const char* text = fitting_text(data)) {
        std::string copy(text);
        std::lock_guard<std::mutex> hold(config_text_mutex);
        config_text_value.swap(copy);
      }
      break;
    case KX_CFG_CALLBACKS:
      set_port_provider(static_cast<const PortProvider*>(data));
      break;
    default:
      break;
  }
}
