// The scanner's serial line: one tty opened as the reader ports open theirs,
// a write that waits while the driver's queue is full, and a line-watch
// thread that notices the line going away (a USB adapter unplugged).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class ScannerSerialPort {
 public:
  // A write gives up when the line takes no byte for this long.
  static constexpr int32_t kWriteStallMs = 2000;

  ScannerSerialPort() = default;
  ~ScannerSerialPort() { close(); }
  ScannerSerialPort(const ScannerSerialPort&) = delete;
  ScannerSerialPort& operator=(const ScannerSerialPort&) = delete;

  // Opens `path` raw 8N1 at `baud`, purges both directions and starts the
  // line watch.
  bool open(const std::string& path, int32_t baud);
  // Stops the line watch and closes the tty; nothing when closed.
  void close();
  // `length` when every byte went out, else 0.
  int32_t write(const uint8_t* data, int32_t length);

  bool isOpen() const { return fd_ >= 0; }
  // The tty, for the transport's read thread; -1 when closed.
  int fd() const { return fd_; }
  // Set by the line watch once the line hung up or failed.
  bool lineError() const { return error_.load(); }

 private:
  void watchLine();

  std::mutex write_mutex_;
  int fd_ = -1;
  int stop_fd_ = -1;
  std::atomic<bool> error_{false};
  std::thread watch_;
};
