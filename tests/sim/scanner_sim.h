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
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "scanner/transport.h"
#include "sim/fake_hid.h"
#include "sim/pty_pair.h"

// `bytes` as the scanner's 64-byte input reports: 04, the part's length, up
// to 56 bytes, and in byte 63 whether more follow.
std::vector<std::vector<uint8_t>> hid_input_reports(const std::vector<uint8_t>& bytes);

class ScannerMemoryReader : public ScannerTransport {
 public:
  ScannerMemoryReader();
  ~ScannerMemoryReader() override;

  void script(size_t write, std::vector<uint8_t> reply) { replies_[write] = std::move(reply); }
  void failWrite(size_t write) { failing_.insert(write); }
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
  std::set<size_t> failing_;
  std::atomic<int16_t> last_port_{0};
};

class ScannerSim {
 public:
  // `fd` is taken. `hid`: it is a fake HID device end, else a pty master.
  ScannerSim(int fd, bool hid);
  // A serial scanner on a pseudo-terminal of its own.
  ScannerSim();
  const std::string& slavePath() const { return pty_->slavePath(); }
  ~ScannerSim() { unplug(); }
  ScannerSim(const ScannerSim&) = delete;
  ScannerSim& operator=(const ScannerSim&) = delete;

  void scan(const std::string& code);
  // Scans `code` when scanning is next started.
  void scanOnStart(const std::string& code);
  void unplug();
  // Every byte the scanner was sent (HID: the payloads).
  std::vector<uint8_t> received() const;
  int mode() const { return mode_; }

 private:
  void run();
  void take(const uint8_t* data, size_t n);
  void send(const std::vector<uint8_t>& bytes);

  std::unique_ptr<PtyPair> pty_;
  int fd_;
  bool hid_;
  int stop_fd_;
  std::atomic<int> mode_{-1};
  mutable std::mutex mutex_;  // the line and what follows
  std::vector<uint8_t> received_;
  std::vector<uint8_t> pending_;
  std::vector<uint8_t> on_start_;
  std::thread thread_;
};

// The chunks a data callback was given (`user`: the log), as text.
class ScanLog {
 public:
  static int32_t callback(const uint8_t* data, int32_t n, void* user);
  std::vector<std::string> chunks() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> chunks_;
};

// A fake HID stack that the module uses while this lives (closed at the
// end); plug() connects a scanner of the 64-byte row.
struct ScannerHidRig {
  FakeHidBackend backend;
  ScannerHidRig();
  ~ScannerHidRig();
  std::unique_ptr<ScannerSim> plug(const char* path = "hid-0");
};
