#include "connection/hid_report_protocol.h"

#include <cstring>
#include <vector>

#include "connection/m6_frame_limits.h"
#include "connection/report_blocks.h"
#include "platform/byte_cursor.h"
#include "platform/byte_helpers.h"

namespace {
constexpr uint8_t kHead = 0xAA;
constexpr uint8_t kTail = 0x55;
}  // namespace

int32_t HidReportProtocol::transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                                      int32_t timeout_ms) {
  if (!argumentsFit(buffer, send_length, capacity, kM6ReportPayloadMax)) return -1;

  if (send_length > 0) {
    std::vector<uint8_t> frame(size_t(send_length) + 5);
    frame[0] = kHead;
    frame[1] = uint8_t(send_length >> 8);
    frame[2] = uint8_t(send_length);
    std::memcpy(frame.data() + 3, buffer, size_t(send_length));
    frame[size_t(send_length) + 3] = xor_checksum(frame.data(), send_length + 3);
    frame[size_t(send_length) + 4] = kTail;
    if (!write_report_blocks(port_, frame.data(), frame.size(), timeout_ms)) return -1;
  }
  if (capacity < 1) return 0;

  uint8_t collected[kReportCollectLimit];
  size_t collected_length = 0;
  if (collect_report_blocks(port_, timeout_ms, false, collected, &collected_length) !=
      ReportCollect::kFrame)
    return -1;

  ByteCursor cursor(collected, collected_length);
  uint8_t head = 0, check = 0, tail = 0;
  uint16_t n = 0;
  if (!cursor.u8(head) || head != kHead || !cursor.be16(n)) return -1;
  const uint8_t* payload = cursor.here();
  if (!cursor.skip(n) || !cursor.u8(check) || !cursor.u8(tail)) return -1;
  if (xor_checksum(collected, int(n) + 4) != 0 || tail != kTail) return -1;
  if (int32_t(n) > capacity) return -1;
  std::memcpy(buffer, payload, n);
  return n;
}
