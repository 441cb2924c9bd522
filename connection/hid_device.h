// The seam between UsbPort and the HID stack. Reports are unnumbered: a
// report buffer handed to the feature and output calls starts with the
// report-ID byte 0; input reports come back without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class HidDevice {
 public:
  virtual ~HidDevice() = default;

  // Fills `report` (report[0] = 0 on entry) with one feature report of at
  // most `length` bytes, ID byte included. Bytes received (ID byte
  // included), or -1 when the request failed.
  virtual int getFeatureReport(uint8_t* report, size_t length) = 0;
  // Sends `report` (ID byte first) as a feature report. Bytes sent or -1.
  virtual int sendFeatureReport(const uint8_t* report, size_t length) = 0;
  // One input report's data (no ID byte), at most `length` bytes, waiting
  // up to `timeout_ms` (0: only what is queued). Bytes read, 0 when none
  // came, -1 on error.
  virtual int readInput(uint8_t* data, size_t length, int timeout_ms) = 0;
  // Sends `report` (ID byte first) as an output report. Bytes sent or -1.
  virtual int writeOutput(const uint8_t* report, size_t length) = 0;
  virtual void close() = 0;

  // Discards queued input reports: reads that do not wait, at most 64.
  virtual void drainInput() {
    uint8_t scratch[4096];
    for (int i = 0; i < 64; ++i) {
      if (readInput(scratch, sizeof scratch, 0) <= 0) break;
    }
  }
};

struct HidDeviceInfo {
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;
  // Every HID device present, in the stack's own order.
  virtual std::vector<HidDeviceInfo> enumerate() = 0;
  // Null when the path does not open.
  virtual std::unique_ptr<HidDevice> open(const std::string& path) = 0;
  // Takes the advisory lock on the node of `path` that UsbPort holds while
  // the device is open; the lock lasts until the returned descriptor is
  // closed. -1 when another process holds it or the node does not open.
  virtual int lockNode(const std::string& path) = 0;
};

// Opens `node` and takes flock(LOCK_EX | LOCK_NB) on it: the descriptor, or
// -1. hidraw cannot open a device exclusively, so processes that use this
// library keep each other out of a reader this way, as the serial port does.
int hid_lock_node(const std::string& node);

// The hidapi (hidraw) stack, one per process.
HidBackend& hidapi_backend();

// Whether a live UsbPort in this process holds `path` open. UsbPort keeps
// this set to stop a second port (or a second profile attempt) from reaching
// a reader already taken, before it asks for the node's lock.
bool hid_path_held(const std::string& path);
