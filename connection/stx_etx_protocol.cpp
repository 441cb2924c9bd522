#include "connection/stx_etx_protocol.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/byte_cursor.h"
#include "platform/byte_helpers.h"
#include "platform/deadline.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;

// Reads and drops `count` bytes so the line is clean for the next command.
// Nothing here is sized by the wire's length: a fixed scratch buffer and one
// deadline for the whole discard; the first failed read ends it.
void discard(Port* port, uint64_t count, int32_t timeout_ms) {
  const Deadline deadline(timeout_ms);
  uint8_t scratch[256];
  for (bool first = true; count > 0; first = false) {
    const int32_t left = deadline.msLeft();
    // A peer that keeps streaming must not hold the call past its time-out.
    if (left == 0 && !first) return;
    int32_t piece = count < sizeof scratch ? int32_t(count) : int32_t(sizeof scratch);
    if (!port->read(scratch, piece, left)) return;
    count -= uint64_t(piece);
  }
}

}  // namespace

void StxEtxProtocol::buildFrame(const uint8_t* payload, int32_t n, uint8_t* out) {
  out[0] = kStx;
  out[1] = uint8_t(uint32_t(n) >> 24);
  out[2] = uint8_t(uint32_t(n) >> 16);
  out[3] = uint8_t(uint32_t(n) >> 8);
  out[4] = uint8_t(n);
  if (n > 0) std::memcpy(out + 5, payload, size_t(n));
  out[5 + n] = xor_checksum(out, 5 + n);
  out[6 + n] = kEtx;
}

int32_t StxEtxProtocol::receiveFrame(Port* port, uint8_t* buffer, int32_t capacity,
                                     int32_t timeout_ms) {
  uint8_t head[5];
  if (!port->read(head, 1, timeout_ms) || head[0] != kStx) return -1;
  if (!port->read(head + 1, 4, timeout_ms)) return -1;
  ByteCursor header(head + 1, 4);
  uint32_t n = 0;
  header.be32(n);
  // Checked before anything is sized by n, and so that n + 7 stays in range
  // of the port's lengths.
  const uint32_t limit = uint32_t(capacity < INT32_MAX - kOverhead ? capacity
                                                                  : INT32_MAX - kOverhead);
  if (n > limit) {
    discard(port, uint64_t(n) + 2, timeout_ms);
    return -1;
  }
  const int32_t rest = int32_t(n) + 2;
  std::unique_ptr<uint8_t[]> body(new (std::nothrow) uint8_t[size_t(rest)]);
  if (!body || !port->read(body.get(), rest, timeout_ms)) return -1;

  ByteCursor reply(body.get(), size_t(rest));
  const uint8_t* payload = reply.here();
  uint8_t check = 0, etx = 0;
  if (!reply.skip(n) || !reply.u8(check) || !reply.u8(etx)) return -1;
  if ((xor_checksum(head, 5) ^ xor_checksum(payload, int32_t(n))) != check) return -1;
  if (etx != kEtx) return -1;
  ByteCursor copy(payload, n);
  if (!copy.take(buffer, n)) return -1;
  return int32_t(n);
}

int32_t StxEtxProtocol::transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                                   int32_t timeout_ms) {
  // The frame length must fit the port's signed 32-bit length.
  if (!argumentsFit(buffer, send_length, capacity, INT32_MAX - kOverhead)) return -1;
  if (send_length > 0) {
    const int32_t size = send_length + kOverhead;
    std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[size_t(size)]);
    if (!frame) return -1;
    buildFrame(buffer, send_length, frame.get());
    if (!port_->write(frame.get(), size, timeout_ms)) return -1;
  }
  if (capacity < 1) return 0;
  return receiveFrame(port_, buffer, capacity, timeout_ms);
}
