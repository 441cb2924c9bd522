// The byte pipe between the library and one reader. A port opens in its
// constructor (reporting through a bool*) and closes in its destructor.
#pragma once

#include <cstdint>

class Port {
 public:
  virtual ~Port() = default;
  // Closes the device if open; the object stays until deleted.
  virtual void close() = 0;
  // Exactly `length` bytes within `timeout_ms`, or false. 0 is true at once,
  // negative false. Bytes received before the call and not purged count.
  virtual bool read(uint8_t* buffer, int32_t length, int32_t timeout_ms) = 0;
  // All `length` bytes within `timeout_ms`, or false. 0 is true.
  virtual bool write(const uint8_t* buffer, int32_t length, int32_t timeout_ms) = 0;
  // Drops every received byte not yet read.
  virtual void purge() = 0;
  // Received bytes waiting to be read.
  virtual int32_t available() = 0;
  virtual bool isOpen() = 0;
  // Closes if open and opens again with the same parameters.
  virtual bool reopen() = 0;
  // Always 0; nothing calls it.
  virtual int32_t reserved(int32_t, int32_t) { return 0; }
};
