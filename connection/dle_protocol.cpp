#include "connection/dle_protocol.h"

#include <cstring>

#include "connection/m6_frame_limits.h"
#include "platform/byte_cursor.h"
#include "platform/byte_helpers.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;
constexpr size_t kMaxData = kM6FrameCommandMax - 1;
// sequence, command/status, length, data, XOR: the bytes that get stuffed.
constexpr size_t kMaxBody = kMaxData + 4;
// Every body byte doubled plus the closing DLE ETX.
constexpr size_t kMaxStuffed = 2 * kMaxBody + 2;

}  // namespace

bool DleProtocol::writeByte(uint8_t byte, int32_t timeout_ms) {
  return port_->write(&byte, 1, timeout_ms);
}

bool DleProtocol::expectByte(uint8_t expected, int32_t timeout_ms) {
  uint8_t byte = 0;
  return port_->read(&byte, 1, timeout_ms) && byte == expected;
}

bool DleProtocol::sendCommand(const uint8_t* command, int32_t length, int32_t timeout_ms) {
  if (!writeByte(kStx, timeout_ms) || !expectByte(kDle, timeout_ms)) return false;

  uint8_t body[kMaxBody];
  size_t d = size_t(length) - 1;
  body[0] = sequence_;
  body[1] = command[0];
  body[2] = uint8_t(d);
  std::memcpy(body + 3, command + 1, d);
  body[d + 3] = xor_checksum(body, int(d) + 3);

  uint8_t stuffed[kMaxStuffed];
  size_t n = 0;
  for (size_t i = 0; i < d + 4; ++i) {
    if (body[i] == kDle) stuffed[n++] = kDle;
    stuffed[n++] = body[i];
  }
  stuffed[n++] = kDle;
  stuffed[n++] = kEtx;
  if (!port_->write(stuffed, int32_t(n), timeout_ms)) return false;
  return expectByte(kDle, timeout_ms) && expectByte(kStx, timeout_ms);
}

int32_t DleProtocol::receiveReply(uint8_t* buffer, int32_t capacity, int32_t timeout_ms) {
  if (!writeByte(kDle, timeout_ms)) return -1;

  // Un-stuff while reading, so a stuffed 10 03 inside the data cannot end
  // the frame and no byte past the closing DLE ETX is ever asked for: each
  // read asks for at most as many raw bytes as the frame still needs.
  uint8_t frame[kMaxBody];
  size_t have = 0;
  size_t body = 4;  // until the length byte is in: the shortest body
  bool pending_dle = false;
  bool ended = false;
  uint8_t raw[kMaxStuffed];
  size_t raw_used = 0;
  while (!ended) {
    size_t still = body - have + 2 - (pending_dle ? 1 : 0);
    if (raw_used + still > sizeof raw) return -1;
    if (!port_->read(raw + raw_used, int32_t(still), timeout_ms)) return -1;
    ByteCursor cursor(raw + raw_used, still);
    raw_used += still;
    uint8_t b = 0;
    while (cursor.u8(b)) {
      if (ended) return -1;
      if (pending_dle) {
        pending_dle = false;
        if (b == kEtx) {
          if (have != body) return -1;
          ended = true;
          continue;
        }
        if (b != kDle) return -1;
      } else if (b == kDle) {
        pending_dle = true;
        continue;
      }
      if (have >= body) return -1;
      frame[have++] = b;
      if (have == 3) body = size_t(frame[2]) + 4;
    }
  }

  ByteCursor reply(frame, have);
  uint8_t sequence = 0, status = 0, d = 0;
  if (!reply.u8(sequence) || !reply.u8(status) || !reply.u8(d)) return -1;
  const uint8_t* data = reply.here();
  if (!reply.skip(d) || !reply.skip(1) || reply.remaining() != 0) return -1;
  if (xor_checksum(frame, int(have)) != 0) return -1;
  int32_t length = int32_t(d) + 1;
  if (length > capacity) return -1;
  if (!writeByte(kDle, timeout_ms)) return -1;

  buffer[0] = status;
  std::memcpy(buffer + 1, data, d);
  ++sequence_;
  return length;
}

int32_t DleProtocol::transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                                int32_t timeout_ms) {
  if (!argumentsFit(buffer, send_length, capacity, kM6FrameCommandMax)) return -1;
  if (send_length > 0 && !sendCommand(buffer, send_length, timeout_ms)) return -1;
  if (capacity < 1) return 0;
  return receiveReply(buffer, capacity, timeout_ms);
}
