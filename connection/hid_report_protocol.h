// m6 long-exchange frames over USB HID reports:
// AA [n, 16-bit big-endian] [payload] [XOR] 55, carried in 32-byte report
// pieces. The payload travels unchanged both ways.
#pragma once

#include "connection/transport_protocol.h"

class HidReportProtocol : public TransportProtocol {
 public:
  explicit HidReportProtocol(Port* port) : TransportProtocol(port) {}

  // A payload above 65535 bytes gives -1 before anything is written.
  int32_t transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                     int32_t timeout_ms) override;
};
