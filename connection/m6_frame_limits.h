// What one frame of the m6 framings can carry; the framings refuse more,
// and the device refuses it before it purges the port.
#pragma once

#include <cstdint>

// DleProtocol and HidStxProtocol carry the data length in one byte: a
// command is [command][at most 255 data bytes].
inline constexpr int32_t kM6FrameCommandMax = 256;
// HidReportProtocol carries a 16-bit payload length.
inline constexpr int32_t kM6ReportPayloadMax = 0xFFFF;
