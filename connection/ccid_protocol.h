// r42 framing inside a USB CCID bulk message: requests are PC_to_RDR_XfrBlock
// (6F, inner length LE, five 00, STX frame), replies a 10-byte header that
// starts 80, then the STX frame.
#pragma once

#include <cstdint>

#include "connection/transport_protocol.h"

class CcidProtocol : public TransportProtocol {
 public:
  explicit CcidProtocol(Port* port) : TransportProtocol(port) {}

  int32_t transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                     int32_t timeout_ms) override;

  static constexpr int32_t kHeader = 10;
};
