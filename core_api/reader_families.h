// The reader families the core opens, and the one device manager that opens
// them.
#pragma once

#include <span>

#include "connection/device_manager.h"

// The device makers of families m6 ("m6-") and r42 ("r42-"), by the
// prefix of a profile row's name.
std::span<const DeviceMaker> reader_device_makers();

// The process-wide manager, built over reader_device_makers(). Defined next
// to the core's api_lock, so that unloading destroys the manager first.
extern DeviceManager device_manager;
