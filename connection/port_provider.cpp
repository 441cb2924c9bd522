#include "connection/port_provider.h"

#include <mutex>

namespace {

std::mutex& provider_mutex() {
  static std::mutex m;
  return m;
}

PortProvider& provider_words() {
  static PortProvider p{};
  return p;
}

}  // namespace

void set_port_provider(const PortProvider* provider) {
  std::lock_guard<std::mutex> lock(provider_mutex());
  provider_words() = provider ? *provider : PortProvider{};
}

PortProvider port_provider_snapshot() {
  std::lock_guard<std::mutex> lock(provider_mutex());
  return provider_words();
}

ProvidedTransport query_port_provider(const char* type) {
  ProvidedTransport result;
  result.provider = port_provider_snapshot();
  if (!result.provider.create || !result.provider.destroy) return result;
  // The hook runs outside the lock: it is the application's code and may
  // itself configure the library.
  ExternalTransport* transport = nullptr;
  result.provider.create(type ? type : "", &transport);
  result.transport = transport;
  return result;
}
