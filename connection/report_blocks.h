// The 32-byte report pieces shared by the two report-framed m6 protocols.
// Out: the frame cut into 31-byte pieces, each led by 0x82 when more follow
// and 0x02 for the last, written in one port write (the USB port pads the
// last piece). In: 32-byte reports, 31 frame bytes each, read while their
// header is 0x82, at most 2048 frame bytes in all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "connection/port.h"

constexpr int kReportLength = 32;
constexpr int kReportFrameBytes = kReportLength - 1;
constexpr int kReportCollectLimit = 2048;

// Bytes that `frame_length` frame bytes take as pieces.
size_t report_blocks_length(size_t frame_length);

// Cuts the frame into pieces and writes them. False on a failed write or
// an empty frame.
bool write_report_blocks(Port* port, const uint8_t* frame, size_t frame_length,
                         int32_t timeout_ms);

// Outcome of collecting a reply.
enum class ReportCollect {
  kFrame,   // `collected` holds the frame bytes of every report read
  kBusy,    // (only when asked for) a report began 0x81 0x60
  kFailed,  // a read failed, or the reply would pass the limit
};

// Reads reports into `collected` (room for kReportCollectLimit bytes) and
// sets `*collected_length`. With `busy_reply`, a report beginning 0x81 0x60
// ends the exchange at once.
ReportCollect collect_report_blocks(Port* port, int32_t timeout_ms, bool busy_reply,
                                    uint8_t* collected, size_t* collected_length);
