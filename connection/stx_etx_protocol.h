// r42 reader framing: 02, n (u32 BE), payload, XOR of all before, 03.
#pragma once

#include <cstdint>

#include "connection/transport_protocol.h"

class StxEtxProtocol : public TransportProtocol {
 public:
  explicit StxEtxProtocol(Port* port) : TransportProtocol(port) {}

  int32_t transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                     int32_t timeout_ms) override;

  static constexpr int32_t kOverhead = 7;

  // Writes the frame of `payload` (n bytes) to `out`, which holds n + 7.
  static void buildFrame(const uint8_t* payload, int32_t n, uint8_t* out);
  // Reads one reply frame from `port` and puts its payload at `buffer`
  // (at most `capacity` bytes). The payload length, or -1.
  static int32_t receiveFrame(Port* port, uint8_t* buffer, int32_t capacity, int32_t timeout_ms);
};
