// Frames one reader command onto a Port and unframes the reply.
#pragma once

#include <cstdint>

#include "connection/port.h"

class TransportProtocol {
 public:
  // The protocol does not own the port: the handle-table entry deletes both.
  explicit TransportProtocol(Port* port) : port_(port) {}
  virtual ~TransportProtocol() = default;
  TransportProtocol(const TransportProtocol&) = delete;
  TransportProtocol& operator=(const TransportProtocol&) = delete;

  // Sends the first `send_length` bytes of `buffer` as one command and puts
  // the reply payload in `buffer` (at most `capacity` bytes). Returns the
  // reply length (0..capacity) or -1.
  virtual int32_t transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                             int32_t timeout_ms) = 0;

  Port* port() const { return port_; }

 protected:
  // The checks every framing makes before any I/O: a port, no negative
  // length, a buffer whenever bytes go or come back, and a command of at
  // most `max_send` bytes.
  bool argumentsFit(const uint8_t* buffer, int32_t send_length, int32_t capacity,
                    int32_t max_send) const {
    if (!port_ || send_length < 0 || capacity < 0 || send_length > max_send) return false;
    return buffer || (send_length == 0 && capacity == 0);
  }

  Port* port_;
};
