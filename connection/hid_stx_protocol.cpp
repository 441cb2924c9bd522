#include "connection/hid_stx_protocol.h"

#include <cstring>

#include "connection/m6_frame_limits.h"
#include "connection/report_blocks.h"
#include "platform/byte_cursor.h"
#include "platform/byte_helpers.h"

namespace {
constexpr uint8_t kStx = 0x02;
}  // namespace

int32_t HidStxProtocol::transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                                   int32_t timeout_ms) {
  if (!argumentsFit(buffer, send_length, capacity, kM6FrameCommandMax)) return -1;

  if (send_length > 0) {
    uint8_t frame[kM6FrameCommandMax + 3];
    frame[0] = kStx;
    frame[1] = buffer[0];
    frame[2] = uint8_t(send_length - 1);
    std::memcpy(frame + 3, buffer + 1, size_t(send_length - 1));
    frame[send_length + 2] = xor_checksum(frame, send_length + 2);
    if (!write_report_blocks(port_, frame, size_t(send_length) + 3, timeout_ms)) return -1;
  }
  if (capacity < 1) return 0;

  uint8_t collected[kReportCollectLimit];
  size_t collected_length = 0;
  switch (collect_report_blocks(port_, timeout_ms, true, collected, &collected_length)) {
    case ReportCollect::kBusy:
      buffer[0] = 0x60;
      return 1;
    case ReportCollect::kFailed:
      return -1;
    case ReportCollect::kFrame:
      break;
  }

  ByteCursor cursor(collected, collected_length);
  uint8_t stx = 0, status = 0, d = 0;
  if (!cursor.u8(stx) || !cursor.u8(status) || !cursor.u8(d) || stx != kStx) return -1;
  const uint8_t* data = cursor.here();
  // STX, status, length, data and the check byte must all have arrived.
  if (!cursor.skip(size_t(d) + 1)) return -1;
  if (xor_checksum(collected, d + 4) != 0) return -1;
  if (int32_t(d) + 1 > capacity) return -1;
  buffer[0] = status;
  std::memcpy(buffer + 1, data, d);
  return int32_t(d) + 1;
}
