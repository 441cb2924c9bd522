// The scanner's transport, chosen by the port number: 1100 and above the
// USB HID link, 0 to 1099 that serial port, a negative port a serial port
// found by discovery (-1 through the USB ids of the scanner table, others
// through the list of serial ports). Whatever it receives goes into the
// receive ring.
#pragma once

#include <cstdint>

// Pushed into the ring, once, when the transport notices the scanner gone.
inline constexpr uint8_t kDeviceGoneMarker[4] = {0x44, 0x02, 0x44, 0x00};
// The first port number of the HID link.
inline constexpr int32_t kScannerHidPort = 1100;

class ScannerTransport {
 public:
  virtual ~ScannerTransport() = default;
  // 1 when the scanner opened (and answered the serial probe); 0 or -1.
  virtual int32_t open(int16_t port, uint32_t baud) = 0;
  // `length` when every byte went out, else 0.
  virtual int32_t write(const uint8_t* data, int32_t length) = 0;
  virtual void close() = 0;
};

// The environment's transport, or the one of the serial port and HID link.
ScannerTransport& scanner_transport();
