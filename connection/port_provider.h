// The application's transport provider: one process-wide copy, written by
// the core's configuration entry and read by the device manager. Both sides
// go through a lock, so an open never sees half of a provider being set.
#pragma once

#include "qm_transport.h"

// Stores a copy of `*provider`; null clears every word.
void set_port_provider(const PortProvider* provider);
// The provider as it is now.
PortProvider port_provider_snapshot();

// A transport together with the provider words it was created under. The
// transport goes back through exactly these hooks, whatever the provider
// has been set to since.
struct ProvidedTransport {
  ExternalTransport* transport = nullptr;
  PortProvider provider{};
};

// Asks the current provider for a transport of the port type `type`. The
// transport is null when either hook is unset or the hook left it null.
ProvidedTransport query_port_provider(const char* type);
