// The frame of the 2.4 GHz card module, carried inside reader requests and
// replies: [02][n BE16][n data bytes][XOR of the data][03].
#pragma once

#include <cstddef>
#include <cstdint>

#include "family_r42/r42_device.h"
#include "platform/byte_cursor.h"

// STX, the length, the XOR and ETX around the data.
inline constexpr size_t kRadio24FrameOverhead = 5;

// Appends the frame of `count` bytes (at most 65535) to `request`.
void append_radio24_frame(R42Request& request, const uint8_t* data, uint16_t count);

// The data of the module frame at the start of `frame`, as far as a reply
// is checked: the length must stay within the bytes there and the data
// match their XOR byte; the STX and ETX bytes are not looked at. False
// otherwise.
bool read_radio24_frame(ByteCursor frame, ByteCursor& data);
