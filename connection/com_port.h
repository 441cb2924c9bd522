// A reader on a serial line: any tty, USB adapters and pseudo-terminals
// included. Opens in its constructor, exclusively, raw 8N1.
#pragma once

#include <cstdint>
#include <string>

#include "connection/port_base.h"
#include "platform/text_helpers.h"

class ComPort : public PortBase {
 public:
  // Keys "mode" (only "direct" opens), "name" (COM1..COM256 or a device
  // path) and "baud" (decimal). `opened`, when not null, gets the result.
  ComPort(const ParamMap& params, bool* opened);
  ~ComPort() override;

  void purge() override;
  // Nothing queues received bytes on our side in direct mode: always 0.
  int32_t available() override;
  bool isOpen() override;

  // "COM<n>" exactly, n 1..256 without leading zeros, is /dev/ttyS<n-1>;
  // every other name is a path as it stands.
  static std::string devicePath(const std::string& name);
  // Leading decimal digits (after spaces and a sign); false when the value
  // overflows or is not above 0, which no line can run at.
  static bool parseBaud(const std::string& text, int32_t* baud);

 private:
  bool openDevice() override;
  void closeDevice() override;
  std::string traceText() const override;
  bool mayTransfer(Direction) override { return open_; }
  bool readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  bool writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) override;

  std::string mode_;
  std::string name_;
  std::string baud_text_;
  int32_t baud_ = 0;
  bool open_ = false;
  int fd_ = -1;
};

// Opens the tty at `path` as the ports of this library do: read-write,
// non-blocking, exclusive (TIOCEXCL and a flock), raw 8N1 at `baud` with no
// flow control, DTR and RTS off. The descriptor, or -1 with nothing left
// open. close_raw_tty releases it (and the exclusive hold).
int open_raw_tty(const std::string& path, int32_t baud);
void close_raw_tty(int fd);

// Sets a rate that has no B-constant (the kernel's BOTHER path). Lives apart
// because the kernel's termios header clashes with the C library's.
bool com_port_set_custom_speed(int fd, uint32_t baud);
