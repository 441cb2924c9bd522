// Scanner modules for the scanner tests.
//
// ScannerMemoryReader: the module over a transport in memory, for command
// rows (StreamRow in wire_table.h). Each write is recorded; a scripted
// answer goes straight into the receive ring, as if the scanner replied at
// once. It opens the module on construction and closes it on destruction.
//
// ScannerSim: a scanner at the far end of a real line, a pseudo-terminal
// master or the device end of a FakeHidBackend device (64-byte reports). It
// answers the probe, "!" settings (keeping the mode), start and stop of
// scanning and the serial-number query, and sends scans when told to.
// Dropping it (or unplug()) closes its end: the line hangs up.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scanner/transport.h"

class ScannerMemoryReader : public ScannerTransport {
 public:
  ScannerMemoryReader();
  ~ScannerMemoryReader() override;

  void script(size_t write, std::vector<uint8_t> reply) { replies_[write] = std::move(reply); }
  void failWrite(size_t write) { failing_.push_back(write); }
  std::vector<std::vector<uint8_t>> sent() const;
  // The port of the last open.
  int16_t lastPort() const { return last_port_; }

  int32_t open(int16_t port, uint32_t baud) override;
  int32_t write(const uint8_t* data, int32_t length) override;
  void close() override {}

 private:
  mutable std::mutex mutex_;
  std::vector<std::vector<uint8_t>> sent_;
  std::map<size_t, std::vector<uint8_t>> replies_;
  std::vector<size_t> failing_;
  std::atomic<int16_t> last_port_{0};
};

class ScannerSim {
 public:
  // `fd` is taken. `hid`: it is a fake HID device end, else a pty master.
  ScannerSim(int fd, bool hid);
  ~ScannerSim();
  ScannerSim(const ScannerSim&) = delete;
  ScannerSim& operator=(const ScannerSim&) = delete;

  // Sends `code` in `pieces` parts, `gap_ms` apart.
  void scan(const std::string& code, int pieces = 1, int gap_ms = 0);
  void unplug();
  // Answers nothing (a line with something else on it).
  void setSilent(bool silent) { silent_ = silent; }
  // Every byte the scanner was sent (HID: the payloads).
  std::vector<uint8_t> received() const;
  int mode() const { return mode_; }

 private:
  void run();
  void take(const uint8_t* data, size_t n);
  void send(const std::vector<uint8_t>& bytes);

  int fd_;
  bool hid_;
  int stop_fd_;
  std::atomic<bool> silent_{false};
  std::atomic<int> mode_{-1};
  mutable std::mutex mutex_;  // received_, pending_ and the line
  std::vector<uint8_t> received_;
  std::vector<uint8_t> pending_;
  std::thread thread_;
};
