// The reader families the core opens, and the one device manager that opens
// them.
#pragma once

#include <span>

#include "connection/device_manager.h"

// The device makers of families m6 ("m6-") and r42 ("r42-"), by the
// prefix of a profile row's name.
std::span<const DeviceMaker> reader_device_makers();

// How many bytes of an LCD text the device behind `icdev` reads at most
// while looking for its terminator: an m6 reader its first 9 code units,
// any other reader the r42 bound; 0 when no device is behind the handle.
size_t lcd_text_read_limit(int32_t icdev);

// The process-wide manager, built over reader_device_makers(). Defined next
// to the core's api_lock, so that unloading destroys the manager first.
extern DeviceManager device_manager;
