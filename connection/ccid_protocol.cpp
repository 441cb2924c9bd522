#include "connection/ccid_protocol.h"

#include <memory>
#include <new>

#include "connection/stx_etx_protocol.h"

namespace {

constexpr uint8_t kXfrBlock = 0x6F;
constexpr uint8_t kDataBlock = 0x80;

}  // namespace

int32_t CcidProtocol::transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                                 int32_t timeout_ms) {
  const int32_t overhead = kHeader + StxEtxProtocol::kOverhead;
  if (!argumentsFit(buffer, send_length, capacity, INT32_MAX - overhead)) return -1;
  if (send_length > 0) {
    const int32_t size = send_length + overhead;
    std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[size_t(size)]);
    if (!frame) return -1;
    const uint32_t inner = uint32_t(send_length + StxEtxProtocol::kOverhead);
    uint8_t* out = frame.get();
    out[0] = kXfrBlock;
    out[1] = uint8_t(inner);
    out[2] = uint8_t(inner >> 8);
    out[3] = uint8_t(inner >> 16);
    out[4] = uint8_t(inner >> 24);
    // Slot, sequence, block waiting time and level parameter.
    for (int i = 5; i < kHeader; ++i) out[i] = 0;
    StxEtxProtocol::buildFrame(buffer, send_length, out + kHeader);
    if (!port_->write(out, size, timeout_ms)) return -1;
  }
  if (capacity < 1) return 0;
  // Only the message type of the reader's header is looked at.
  uint8_t header[kHeader];
  if (!port_->read(header, kHeader, timeout_ms) || header[0] != kDataBlock) return -1;
  return StxEtxProtocol::receiveFrame(port_, buffer, capacity, timeout_ms);
}
