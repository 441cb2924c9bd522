// The scanner on a serial line: opened with a probe that the scanner must
// answer, and read by a thread that pushes what arrives into the receive
// ring. A port found through its USB ids is also watched for the device
// going away.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "scanner/discovery.h"
#include "scanner/serial_port.h"

class SerialTransport {
 public:
  // Baud rate of every port that discovery finds.
  static constexpr int32_t kDetectBaud = 115200;
  // Between presence checks of a port found through its USB ids.
  static constexpr int32_t kPresenceCheckMs = 910;

  ~SerialTransport() { close(); }

  // Port n (1-256: ttyS<n-1>, unless the environment names its tty): 1 when
  // it answered the probe, 0 when not, -1 when it did not open.
  int32_t openPort(int16_t port, uint32_t baud);
  // A negative port: the first listed port that answers. 1 or 0.
  int32_t openFound(int16_t port);
  int32_t write(const uint8_t* data, int32_t length) { return line_.write(data, length); }
  // Stops and joins the read thread, closes the line, empties the ring.
  void close();

 private:
  int32_t openAndProbe(const std::string& path, int32_t baud);
  void readLoop();

  ScannerSerialPort line_;
  std::thread reader_;
  int stop_fd_ = -1;
  std::optional<UsbIds> ids_;  // of a port found through USB, for the presence check
};
