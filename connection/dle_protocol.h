// m6 frames over a serial line: [sequence][command][d][data][XOR] 10 03
// with every 0x10 before the closing DLE ETX sent twice, wrapped in a
// byte handshake (02/10, frame/10 02, 10/reply, 10). Replies come back as
// [status][data]. The sequence number advances only after a reply passed
// every check and was acknowledged.
#pragma once

#include "connection/transport_protocol.h"

class DleProtocol : public TransportProtocol {
 public:
  explicit DleProtocol(Port* port) : TransportProtocol(port) {}

  // A command is 1 to 256 bytes ([command][data]); a longer one gives -1
  // before anything is written.
  int32_t transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                     int32_t timeout_ms) override;

  uint8_t sequence() const { return sequence_; }

 private:
  bool sendCommand(const uint8_t* command, int32_t length, int32_t timeout_ms);
  int32_t receiveReply(uint8_t* buffer, int32_t capacity, int32_t timeout_ms);
  bool expectByte(uint8_t expected, int32_t timeout_ms);
  bool writeByte(uint8_t byte, int32_t timeout_ms);

  uint8_t sequence_ = 0;
};
