// m6 frames over USB HID reports: 02 [command] [d] [data] [XOR], carried in
// 32-byte report pieces. Replies come back as [status][data].
#pragma once

#include "connection/transport_protocol.h"

class HidStxProtocol : public TransportProtocol {
 public:
  explicit HidStxProtocol(Port* port) : TransportProtocol(port) {}

  // A command is 1 to 256 bytes ([command][data]); a longer one gives -1
  // before anything is written.
  int32_t transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                     int32_t timeout_ms) override;
};
