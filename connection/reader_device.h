#pragma once

// ReaderDevice: the 697-slot device interface. The class body, its defaults
// and the slot list are generated from connection/device_ops.txt, so names,
// arguments and defaults are written down in that one table only.
#include "connection/generated/reader_device_class.h"  // IWYU pragma: export
